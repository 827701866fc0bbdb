#pragma once

#include "parameterset.h"

#include <QString>

namespace oe {

// What the device link needs from the window: captions and message boxes, and the places where
// decoded replies are shown.
class LinkHost
{
public:
    virtual ~LinkHost() = default;

    virtual QString caption(int entry) const = 0;
    // A modal message with an OK button; returns once the user closed it.
    virtual void showMessage(const QString &text, const QString &title) = 0;
    // Live readings of a status reply: status labels, "Err!" at engine speed 0, the pause lamp timer.
    virtual void statusDecoded(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause) = 0;
    // "Ver. a.b.c" of an identification reply.
    virtual void versionDecoded(const QString &text) = 0;
    // A value read from the controller, for the field, its slider and its label.
    virtual void applyParameter(ParameterIndex index, qint32 value) = 0;
};

} // namespace oe
