#pragma once

#include "filefault.h"
#include "mapfile.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace oe {

// Why the controller's values were saved before they were overwritten.
enum class RestoreCause { Load, Reset };

// How many of the program's own files the backup folder keeps; older ones go when a new one comes.
inline constexpr int kRestorePointsKept = 200;

// <mapsFolder>/Backups
QString restorePointFolder(const QString &mapsFolder);

struct RestorePointWrite {
    bool ok = false;
    QString path;  // the file written, when ok
    QString error; // an English line with the path, when not ok
    FileProblem problem{};
};

// Saves values as an ordinary map file <folder>/<yyyyMMdd-HHmmss>-before-<load|reset>.map, with the
// firmware they came from and the time as its origin, creating the folder. A name already taken is never overwritten: -2, -3 … go before ".map". Then removes the
// oldest of the program's own files beyond kRestorePointsKept; a file whose name the program does
// not give is never touched.
RestorePointWrite writeRestorePoint(const QString &mapsFolder, RestoreCause cause, const MapValues &values,
                                    const QDateTime &when, const QString &firmware = {});

// The default name of a backup taken on request: <yyyyMMdd-HHmmss>-<port>-<firmware>.map. Port and
// firmware keep letters, digits, '.' and '_'; anything else (path separators, blanks, '-') becomes '_',
// and an empty one "unknown", so the name stays one file in the folder and reads back unambiguously.
QString backupFileName(const QDateTime &when, const QString &port, const QString &firmware);

struct RestorePointInfo {
    QString path;
    QDateTime when;                     // from the name, local time
    std::optional<RestoreCause> cause;  // none for a backup taken on request
};

// The program's own files in the backup folder (restore points and backups), newest first; files of
// any other name are left out.
QList<RestorePointInfo> listRestorePoints(const QString &mapsFolder);

} // namespace oe
