#pragma once

#include "mapfile.h"
#include "parameterset.h"
#include "valuerule.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace oe {

class BoxQueue;
class CaptionTable;

// The map file dialogs of the window, the map frame and the tool windows: one filter, one way to
// read a chosen file, one way to name the file a map is saved to.

// A map file read and judged by the value rule.
struct CheckedMap {
    ParameterSet values;
    MapCheck check;
    QStringList notes; // lines named otherwise than we name them, read by position
    MapOrigin origin;  // where the file says it came from
};

// Reads and checks path; a file that is no map, or one whose pairs cross, is told through tell:
// heading (the caption saying the file is no usable map), then why.
std::optional<CheckedMap> readCheckedMap(const QString &path, const CaptionTable &captions, const QString &heading,
                                         const std::function<void(const QString &)> &tell);

// Asks for a map file to open, the box queue held meanwhile; empty when cancelled.
QString askMapToOpen(BoxQueue &boxes, QWidget *parent, const QString &folder);

// Asks where to save a map. A bare name gets ".map", and a file of that name is asked about (the
// dialog asked about the name as typed, not about the file written). stillWanted is asked between
// the dialog and that question: false ends it with nothing asked. Empty when cancelled.
QString askMapToSave(BoxQueue &boxes, QWidget *parent, const QString &folder, const QString &replaceQuestion,
                     const QString &title, const std::function<bool()> &stillWanted = {});

} // namespace oe
