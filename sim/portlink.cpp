#include "portlink.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace oe {

namespace {

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The target of a symbolic link as written in it; empty when path is not a link.
QString linkTarget(const QByteArray &path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer - 1);
    return n < 0 ? QString() : QString::fromLocal8Bit(buffer, n);
}

} // namespace

std::optional<int> parseComPort(const QString &text)
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        t = t.mid(3);
    bool ok = false;
    const int n = t.toInt(&ok);
    if (!ok || n < kFirstComPort || n > kLastComPort || t.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return n;
}

QString portLinkPath(const QString &programFolder, int comPort)
{
    return QDir(QDir(programFolder).absolutePath())
        .absoluteFilePath(QStringLiteral("ports/COM%1").arg(comPort));
}

bool createPortLink(const QString &linkPath, const QString &target, QString *error,
                    const QString &replaceable)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo info(linkPath);
    if (!QDir().mkpath(info.absolutePath()))
        return fail(QStringLiteral("cannot create the folder %1").arg(info.absolutePath()));

    const QByteArray path = QFile::encodeName(linkPath);
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return fail(QStringLiteral("%1 exists and is not a link; remove it or choose another port").arg(linkPath));
        const QString current = linkTarget(path);
        struct stat targetSt {};
        const bool dangling = ::stat(path.constData(), &targetSt) != 0;
        if (!dangling && current != target && (replaceable.isEmpty() || current != replaceable))
            return fail(QStringLiteral("%1 already points at %2; remove the link or choose another port")
                            .arg(linkPath, current));
    }
    // Made beside the final name and renamed over it, so the program never sees a half-made port.
    const QByteArray temporary = path + ".new" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0)
        return fail(QStringLiteral("cannot create the link %1: %2").arg(linkPath, errnoText()));
    if (::rename(temporary.constData(), path.constData()) != 0) {
        const QString why = errnoText();
        ::unlink(temporary.constData());
        return fail(QStringLiteral("cannot create the link %1: %2").arg(linkPath, why));
    }
    return true;
}

bool removePortLink(const QString &linkPath, const QString &target)
{
    const QByteArray path = QFile::encodeName(linkPath);
    if (target.isEmpty() || linkTarget(path) != target)
        return false;
    return ::unlink(path.constData()) == 0;
}

} // namespace oe
