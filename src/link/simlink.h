#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace oe {

// A simulator that links its pty as ports/COMn leaves a record beside the link, ports/COMn.sim, naming
// itself and the pty. A pty's name is handed out again as soon as it is free, so a link whose
// simulator has gone may lead into someone else's terminal; the record is how we tell.
struct SimLinkRecord
{
    qint64 pid = 0;
    qint64 started = 0;  // the process's start time (clock ticks after boot), so a reused pid is told apart
    QString pty;         // the link's target when it was made
};

QString simRecordPath(const QString &linkPath);

// The record of this process for a link to pty.
SimLinkRecord ownSimRecord(const QString &pty);

std::optional<SimLinkRecord> readSimRecord(const QString &linkPath);
bool writeSimRecord(const QString &linkPath, const SimLinkRecord &record, QString *error);

// Whether the process the record names still runs.
bool simulatorRunning(const SimLinkRecord &record);

enum class SimLinkState {
    NotSimulators,  // no link, or a link without a record for its present target: someone else's
    Live,           // made by a simulator that still runs
    Stale,          // made by a simulator that has gone: never to be followed
};
SimLinkState simLinkState(const QString &linkPath, SimLinkRecord *record = nullptr);

// Why the port at devicePath must not be opened (a stale simulator link); empty when it may be.
QString simLinkRefusal(const QString &devicePath);

// Removes the stale simulator links among <programFolder>/ports/COM1..COM15 with their records;
// returns what was removed, as "COMn -> /dev/pts/N".
QStringList removeStaleSimLinks(const QString &programFolder);

} // namespace oe
