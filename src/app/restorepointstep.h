#pragma once

#include "filefault.h"
#include "parameterset.h"
#include "restorepoints.h"

#include <QList>
#include <QString>

#include <functional>

class QObject;

namespace oe {

class CaptionTable;
class Session;

// What became of the restore point taken before a reset or a map load overwrites the controller's
// values.
struct RestorePointOutcome {
    QString path;                  // the file written; empty when none could be made
    QList<ParameterIndex> unknown; // values the controller did not tell, even when asked again
    FileProblem problem{};         // why the file could not be written
    QString folder;                // where it was to go
    bool written() const { return !path.isEmpty(); }
};

// Saves the eight values in the backup folder of mapsFolder once each is confirmed (see
// Session::verifiedValues: unknown ones read, the first answers verified). done runs from the event
// loop once that is over (at once, with nothing known, when the session is not connected), unless
// the session ends first or context is gone.
void takeRestorePoint(Session *session, const QString &mapsFolder, RestoreCause cause, const RestorePointOrigin &origin,
                      QObject *context, std::function<void(const RestorePointOutcome &)> done);

// One line for a question or a notice: the restore point's file name, or why there is none.
QString restorePointText(const RestorePointOutcome &outcome, const CaptionTable &captions,
                         const std::function<QString(ParameterIndex)> &parameterName);

// The firmware the session's controller identified itself with ("1.3.7"), empty while not connected:
// the origin every map written from the controller's values carries.
QString controllerFirmwareText(const Session &session);

// The session's values of a map, by index.
MapValues toMapValues(const ParameterSet &set);
ParameterSet fromMapValues(const MapValues &values);

} // namespace oe
