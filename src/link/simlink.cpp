#include "simlink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <unistd.h>
#endif

namespace oe {

namespace {

const QByteArray kRecordHeader = "oe-sim port link";
constexpr qint64 kMaxRecordSize = 4096;

#ifndef Q_OS_WIN
// Field 22 of /proc/<pid>/stat; 0 when the process does not exist or the system has no /proc.
qint64 processStartTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.read(kMaxRecordSize);
    // The command name in parentheses may hold blanks; the fields after it do not.
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = line.mid(close + 1).simplified().split(' ');
    constexpr int kStartTimeAfterName = 19;  // field 22, counting the pid and the name as 1 and 2
    return fields.size() > kStartTimeAfterName ? fields[kStartTimeAfterName].toLongLong() : 0;
}
#endif

QString linkTargetOf(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : QString();
}

} // namespace

QString simRecordPath(const QString &linkPath)
{
    return linkPath + QStringLiteral(".sim");
}

SimLinkRecord ownSimRecord(const QString &pty)
{
#ifdef Q_OS_WIN
    return {0, 0, pty};
#else
    const qint64 pid = ::getpid();
    return {pid, processStartTime(pid), pty};
#endif
}

std::optional<SimLinkRecord> readSimRecord(const QString &linkPath)
{
    QFile file(simRecordPath(linkPath));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = file.read(kMaxRecordSize).split('\n');
    if (lines.value(0).trimmed() != kRecordHeader)
        return std::nullopt;
    SimLinkRecord record;
    for (const QByteArray &line : lines) {
        const qsizetype eq = line.indexOf('=');
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (eq < 0)
            continue;
        if (key == "pid")
            record.pid = value.toLongLong();
        else if (key == "started")
            record.started = value.toLongLong();
        else if (key == "pty")
            record.pty = QFile::decodeName(value);
    }
    if (record.pid <= 0 || record.pty.isEmpty())
        return std::nullopt;
    return record;
}

bool writeSimRecord(const QString &linkPath, const SimLinkRecord &record, QString *error)
{
    QSaveFile file(simRecordPath(linkPath));
    const QByteArray text = kRecordHeader + "\npid=" + QByteArray::number(record.pid) + "\nstarted="
                            + QByteArray::number(record.started) + "\npty=" + QFile::encodeName(record.pty) + "\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    return true;
}

bool simulatorRunning(const SimLinkRecord &record)
{
#ifdef Q_OS_WIN
    Q_UNUSED(record);
    return false;
#else
    if (record.pid <= 0 || (::kill(pid_t(record.pid), 0) != 0 && errno != EPERM))
        return false;
    // Where /proc tells the start time, a different one means the pid was handed out again.
    const qint64 started = processStartTime(record.pid);
    return started == 0 || record.started == 0 || started == record.started;
#endif
}

SimLinkState simLinkState(const QString &linkPath, SimLinkRecord *recordOut)
{
    const QString target = linkTargetOf(linkPath);
    if (target.isEmpty())
        return SimLinkState::NotSimulators;
    const std::optional<SimLinkRecord> record = readSimRecord(linkPath);
    // A record for another target is left over from an earlier link; the link there now is not its.
    if (!record || QFileInfo(record->pty).absoluteFilePath() != target)
        return SimLinkState::NotSimulators;
    if (recordOut)
        *recordOut = *record;
    return simulatorRunning(*record) ? SimLinkState::Live : SimLinkState::Stale;
}

QString simLinkRefusal(const QString &devicePath)
{
    SimLinkRecord record;
    if (simLinkState(devicePath, &record) != SimLinkState::Stale)
        return QString();
    return QStringLiteral("%1 was made by a simulator that has stopped (process %2); it is not opened, because "
                          "%3 may now belong to another program. Start the simulator again, or remove the link.")
        .arg(devicePath).arg(record.pid).arg(record.pty);
}

QStringList removeStaleSimLinks(const QString &programFolder)
{
    QStringList removed;
    const QDir ports(QDir(programFolder).filePath(QStringLiteral("ports")));
    for (int n = 1; n <= 15; ++n) {
        const QString link = ports.absoluteFilePath(QStringLiteral("COM%1").arg(n));
        SimLinkRecord record;
        if (simLinkState(link, &record) != SimLinkState::Stale)
            continue;
        if (QFile::remove(link)) {
            QFile::remove(simRecordPath(link));
            removed << QStringLiteral("COM%1 -> %2").arg(n).arg(record.pty);
        }
    }
    return removed;
}

} // namespace oe
