#pragma once

#include "filefault.h"
#include "mapfile.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace oe {

// Why the controller's values were saved before they were overwritten: the window's and oe-cli's
// load and reset, or one controller of oe-cli's program.
enum class RestoreCause { Load, Reset, Program };

// How many restore points of a load or a reset the backup folder keeps (pruneRestorePoints). A
// program run's backups are kept with its log, and a backup the user asked for is the user's.
inline constexpr int kRestorePointsKept = 200;

// Which controller the values came from: the port and its firmware, as far as known.
struct RestorePointOrigin {
    QString port;
    QString firmware;
};

// <mapsFolder>/Backups
QString restorePointFolder(const QString &mapsFolder);

struct RestorePointWrite {
    bool ok = false;
    QString path;  // the file written, when ok
    QString error; // an English line with the path, when not ok
    FileProblem problem{};
};

// Saves values as an ordinary map file
// <folder>/<yyyyMMdd-HHmmss>-before-<load|reset|program>-<port>-<firmware>.map (port and firmware as
// backupFileName keeps them), with the firmware and the time in its origin lines, creating the folder. A name already taken is never overwritten: -2,
// -3 … go before ".map". Deletes nothing: the caller prunes once its action went through.
RestorePointWrite writeRestorePoint(const QString &mapsFolder, RestoreCause cause, const MapValues &values,
                                    const QDateTime &when, const RestorePointOrigin &origin = {});

// Removes the oldest restore points of loads and resets beyond kRestorePointsKept; keep (the one just
// written) stays even when a clock set back makes it look the oldest. A program run's backups, a
// backup the user asked for and any file of another name are never touched.
void pruneRestorePoints(const QString &mapsFolder, const QString &keep = {});

// The default name of a backup taken on request: <yyyyMMdd-HHmmss>-<port>-<firmware>.map. Port and
// firmware keep letters, digits, '.' and '_'; anything else (path separators, blanks, '-') becomes '_',
// and an empty one "unknown", so the name stays one file in the folder and reads back unambiguously.
QString backupFileName(const QDateTime &when, const QString &port, const QString &firmware);

struct RestorePointInfo {
    QString path;
    QDateTime when;                     // from the name, local time
    std::optional<RestoreCause> cause;  // none for a backup taken on request
    RestorePointOrigin origin;          // from the name; empty in names of earlier versions
};

// The program's own files in the backup folder (restore points and backups), newest first; files of
// any other name are left out.
QList<RestorePointInfo> listRestorePoints(const QString &mapsFolder);

} // namespace oe
