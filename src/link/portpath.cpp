#include "portpath.h"

#include <QDir>
#include <QFileInfo>

namespace oe {

QString resolvePortDevice(int comPort, const QString &programFolder)
{
    const QString name = QStringLiteral("COM%1").arg(comPort);
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    // The device namespace reaches every COM number; the bare name only COM1 to COM9.
    return QStringLiteral("\\\\.\\") + name;
#else
    // A link whose target is gone still counts: opening it then fails with a clear error instead
    // of silently opening an unrelated built-in port.
    const QFileInfo link(QDir(programFolder).filePath(QStringLiteral("ports/") + name));
    if (link.exists() || link.isSymLink())
        return link.absoluteFilePath();
    return QStringLiteral("/dev/ttyS%1").arg(comPort - 1);
#endif
}

} // namespace oe
