#include "portlink.h"

#include "simlink.h"

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
        SimLinkRecord record;
        const SimLinkState state = simLinkState(linkPath, &record);
        const bool ours = current == target || (!replaceable.isEmpty() && current == replaceable);
        // "COM3 -> /dev/ttyUSB0": how the technician made the link, and how we name it back.
        const QString named = QStringLiteral("%1 -> %2").arg(info.fileName(), current);
        if (!ours && state == SimLinkState::Live)
            return fail(QStringLiteral("%1: served by the simulator running as process %2; use it, or stop it first")
                            .arg(named).arg(record.pid));
        if (!ours && state == SimLinkState::NotSimulators) {
            struct stat targetSt {};
            if (::stat(path.constData(), &targetSt) != 0)
                return fail(QStringLiteral("%1: the device is not present. The link is not the simulator's, so it "
                                           "stays; plug the device in, or remove %2 to use the simulator")
                                .arg(named, linkPath));
            return fail(QStringLiteral("%1: a device is linked there; remove %2 to use the simulator on that port")
                            .arg(named, linkPath));
        }
        // Ours or a gone simulator's: away before the record changes, so the old pty is never
        // reached through a link that now seems to be described by the new record.
        if (current != target)
            ::unlink(path.constData());
    }
    // The record first: a simulator's link never exists without it.
    QString recordError;
    if (!writeSimRecord(linkPath, ownSimRecord(target), &recordError))
        return fail(recordError);
    const auto failLink = [&](const QString &why) {
        QFile::remove(simRecordPath(linkPath));
        return fail(QStringLiteral("cannot create the link %1: %2").arg(linkPath, why));
    };
    // Made beside the final name and renamed over it, so the program never sees a half-made port.
    const QByteArray temporary = path + ".new" + QByteArray::number(qint64(::getpid()));
    ::unlink(temporary.constData());
    if (::symlink(QFile::encodeName(target).constData(), temporary.constData()) != 0)
        return failLink(errnoText());
    if (::rename(temporary.constData(), path.constData()) != 0) {
        const QString why = errnoText();
        ::unlink(temporary.constData());
        return failLink(why);
    }
    return true;
}

bool removePortLink(const QString &linkPath, const QString &target)
{
    const QByteArray path = QFile::encodeName(linkPath);
    if (target.isEmpty() || linkTarget(path) != target)
        return false;
    if (::unlink(path.constData()) != 0)
        return false;
    QFile::remove(simRecordPath(linkPath));
    return true;
}

} // namespace oe
