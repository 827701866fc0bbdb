#include "datafolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace oe {

bool folderWritable(const QString &folder)
{
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".oe-write-test-XXXXXX")));
    return probe.open(); // removed again when the probe goes
}

QString chooseDataFolder(const QString &programFolder, const QString &fallback)
{
    if (fallback.isEmpty() || folderWritable(programFolder))
        return programFolder;
    if (!QDir().mkpath(fallback))
        return programFolder;
    seedDataFolder(programFolder, fallback);
    return fallback;
}

namespace {

// A copy keeps the original's permissions (on Windows its read-only attribute); one from a read-only
// folder must still take the program's writes.
void copyWritable(const QString &from, const QString &to)
{
    if (QFile::copy(from, to))
        QFile::setPermissions(to, QFile::permissions(to) | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

void seedDataFolder(const QString &programFolder, const QString &dataFolder)
{
    const QDir from(programFolder);
    const QDir to(dataFolder);
    const QString config = QStringLiteral("config.ini");
    if (!to.exists(config) && from.exists(config))
        copyWritable(from.filePath(config), to.filePath(config));
    const QString maps = QStringLiteral("Maps");
    if (to.exists(maps) || !from.exists(maps) || !to.mkpath(maps))
        return;
    const QDir mapsFrom(from.filePath(maps));
    const QDir mapsTo(to.filePath(maps));
    for (const QFileInfo &map : mapsFrom.entryInfoList({QStringLiteral("*.map")}, QDir::Files))
        copyWritable(map.filePath(), mapsTo.filePath(map.fileName()));
}

QString userDataFallback()
{
#ifdef Q_OS_WIN
    // The local, not the roaming, folder: maps and recordings belong to this PC's cable and controller.
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return base.isEmpty() ? QString() : QDir(base).filePath(QStringLiteral("OE Setup"));
#else
    return {};
#endif
}

QString dataFolderFor(const QString &programFolder)
{
    return chooseDataFolder(programFolder, userDataFallback());
}

} // namespace oe
