#include "datafolder.h"

#include <QDir>
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
    return fallback;
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
