#include "cliwords.h"

namespace oe {

QString cliWordFallback(int entry)
{
    switch (entry) {
    case CliWord::ConnectingTo: return QStringLiteral("connecting to %1");
    case CliWord::PortLabel: return QStringLiteral("port");
    case CliWord::FirmwareLabel: return QStringLiteral("firmware");
    case CliWord::StatusLabel: return QStringLiteral("status");
    case CliWord::SavedLabel: return QStringLiteral("saved");
    case CliWord::ResetReadBackUnanswered: return QStringLiteral("the read-back after the reset went unanswered");
    case CliWord::CannotOpen: return QStringLiteral("cannot open %1: %2");
    case CliWord::StoppedAnswering: return QStringLiteral("the controller stopped answering");
    case CliWord::Interrupted: return QStringLiteral("interrupted");
    case CliWord::NotRead: return QStringLiteral("not read: %1");
    case CliWord::StatusUnanswered: return QStringLiteral("the status request went unanswered");
    case CliWord::Declined: return QStringLiteral("declined; nothing sent");
    case CliWord::ReadBackUnanswered: return QStringLiteral("read-back unanswered: %1");
    case CliWord::HoldsOtherValues: return QStringLiteral("the controller holds other values: %1");
    case CliWord::BackupLabel: return QStringLiteral("backup");
    default: return {};
    }
}

QString cliRow(const QString &label, const QString &value)
{
    return QStringLiteral("%1 %2").arg(label, -9).arg(value);
}

} // namespace oe
