#include "filefault.h"

#include <QFileInfo>
#include <QStorageInfo>

namespace oe {

FileFault readFault(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return FileFault::NotFound;
    if (!info.isFile())
        return FileFault::NotAFile;
    if (!info.isReadable())
        return FileFault::NoPermission;
    return FileFault::Other;
}

FileFault folderFault(const QString &folder)
{
    QFileInfo blocker(folder);
    while (!blocker.exists() && blocker.absoluteFilePath() != blocker.absolutePath())
        blocker = QFileInfo(blocker.absolutePath());
    if (!blocker.exists())
        return FileFault::NotFound;
    if (!blocker.isDir())
        return FileFault::NotAFile;
    if (!blocker.isWritable())
        return FileFault::NoPermission;
    return FileFault::Other;
}

FileFault writeFault(const QString &path, bool shortWrite, qint64 dataSize)
{
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        return FileFault::NotFound;
    if (info.exists() && !info.isFile())
        return FileFault::NotAFile;
    // The file is replaced through a temporary one beside it, so the folder must take new files too.
    if (!folder.isWritable() || (info.exists() && !info.isWritable()))
        return FileFault::NoPermission;
    if (shortWrite) {
        // A short write on a disk with room left is an I/O error or a size limit, not a full disk.
        const QStorageInfo storage(folder.absoluteFilePath());
        if (storage.isValid() && storage.bytesAvailable() < dataSize + 4096)
            return FileFault::DiskFull;
    }
    return FileFault::Other;
}

} // namespace oe
