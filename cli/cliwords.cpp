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
    case CliWord::ValuesDiffer: return QStringLiteral("%1 of 8 values differ from %2");
    case CliWord::Written: return QStringLiteral("written");
    case CliWord::Refused: return QStringLiteral("refused");
    case CliWord::Unanswered: return QStringLiteral("unanswered");
    case CliWord::NotSent: return QStringLiteral("not sent");
    case CliWord::RefusedStop: return QStringLiteral("the controller refused a write; the run stopped there");
    case CliWord::UnansweredStop: return QStringLiteral("a write was not answered; the run stopped there");
    case CliWord::WriteStep: return QStringLiteral("write %1=%2");
    case CliWord::ReadingBack: return QStringLiteral("reading back %1 values");
    case CliWord::YesNo: return QStringLiteral("[y/N]");
    case CliWord::Holds: return QStringLiteral("holds %1");
    case CliWord::NothingSent: return QStringLiteral("nothing sent");
    case CliWord::PartnerNotRead: return QStringLiteral("%1 was not read, so %2 cannot be checked against it");
    case CliWord::UnitIdentified: return QStringLiteral("%1: controller %2 identified");
    case CliWord::UnitWriting: return QStringLiteral("%1: writing %2 of 8 values");
    case CliWord::UnitNext: return QStringLiteral("%1: unplug this controller and plug in the next");
    case CliWord::UnitGone: return QStringLiteral("%1: the controller is gone (no answer for %2 s); waiting for the next");
    case CliWord::UnitSame: return QStringLiteral("%1: the same controller answers again (firmware %2, the same values); "
                                                  "waiting for the next");
    case CliWord::UnitWaiting: return QStringLiteral("%1: waiting for a controller (%2)");
    case CliWord::ProgramOn: return QStringLiteral("program %1 on %2");
    case CliWord::OneAfterAnother: return QStringLiteral("one controller after another until Ctrl+C");
    case CliWord::ProgramCounts: return QStringLiteral("programmed %1, failed %2, interrupted %3");
    case CliWord::NoBackupUnknown: return QStringLiteral("no backup: the controller did not tell %1; nothing sent (--no-backup writes without one)");
    case CliWord::NoBackupIn: return QStringLiteral("no backup in %1: %2; nothing sent (--no-backup writes without one)");
    case CliWord::UnitNoBackupIn: return QStringLiteral("no backup in %1: %2; nothing written");
    case CliWord::UnitNotRead: return QStringLiteral("not read: %1; nothing written");
    case CliWord::NoIdentification: return QStringLiteral("firmware: no two identification answers agree");
    case CliWord::PairNoOrder: return QStringLiteral("%1 and %2 cannot be written in an order that keeps them a pair; nothing written");
    case CliWord::UnitFinishing: return QStringLiteral("%1: finishing the write and its read-back");
    case CliWord::InterruptedReading: return QStringLiteral("interrupted while reading the controller's values; nothing written");
    case CliWord::InterruptedWaiting: return QStringLiteral("interrupted while waiting for a controller");
    case CliWord::InterruptedConnected: return QStringLiteral("interrupted with its last controller still connected");
    case CliWord::InterruptedWriting: return QStringLiteral("interrupted while writing: the controller may hold part of the map");
    case CliWord::ValuesBeforeIn: return QStringLiteral("its values before are in %1");
    case CliWord::StoppedAfter: return QStringLiteral("stopped after its controller was %1");
    case CliWord::CannotWriteLog: return QStringLiteral("cannot write the log %1: %2");
    case CliWord::InterruptedCounts: return QStringLiteral("interrupted: %1");
    case CliWord::VerdictProgrammed: return QStringLiteral("programmed");
    case CliWord::VerdictRefused: return QStringLiteral("refused");
    case CliWord::VerdictDiffers: return QStringLiteral("differs");
    case CliWord::VerdictUnanswered: return QStringLiteral("unanswered");
    case CliWord::VerdictNoAnswer: return QStringLiteral("no-answer");
    case CliWord::VerdictPortNotOpened: return QStringLiteral("port-not-opened");
    case CliWord::VerdictPortLost: return QStringLiteral("port-lost");
    case CliWord::VerdictNotRead: return QStringLiteral("not-read");
    case CliWord::VerdictNoBackup: return QStringLiteral("no-backup");
    case CliWord::VerdictInterrupted: return QStringLiteral("interrupted");
    case CliWord::OutsideRange: return QStringLiteral("%1; nothing sent (--allow-outside-range sends such values)");
    case CliWord::ByPosition: return QStringLiteral("%1 Nothing sent (--by-position takes the lines by their place).");
    case CliWord::UnitNotInLog: return QStringLiteral("%1: #%2 is not in the log %3: %4");
    case CliWord::PortsHeadPort: return QStringLiteral("PORT");
    case CliWord::PortsHeadDevice: return QStringLiteral("DEVICE");
    case CliWord::PortsHeadPresent: return QStringLiteral("PRESENT");
    case CliWord::PortsHeadAccess: return QStringLiteral("ACCESS");
    case CliWord::PortsHeadDescription: return QStringLiteral("DESCRIPTION");
    case CliWord::PortPresent: return QStringLiteral("yes");
    case CliWord::PortAbsent: return QStringLiteral("no");
    case CliWord::PortLinkGone: return QStringLiteral("no (the link's target is gone)");
    case CliWord::PortMayOpen: return QStringLiteral("ok");
    case CliWord::PortNoPermission: return QStringLiteral("no permission");
    case CliWord::PortsJoinGroup: return QStringLiteral("no permission: add your user to the port's group (on Debian: sudo adduser $USER dialout), then log in again");
    case CliWord::PortsBeyondGroup: return QStringLiteral("no permission on COM%1: %2 belongs to %3, mode %4; joining the dialout group does not help, only its owner or an administrator can give access");
    case CliWord::PortsUnlinkedAdapter: return QStringLiteral("USB adapter without a ports/ link: %1 %2");
    default: return {};
    }
}

int cliVerdictEntry(const QString &verdict)
{
    for (int entry = CliWord::VerdictProgrammed; entry <= CliWord::VerdictInterrupted; ++entry) {
        if (verdict == cliWordFallback(entry))
            return entry;
    }
    return 0;
}

bool cliAnswerIsYes(QByteArrayView answer, bool italian)
{
    const QByteArray a = answer.trimmed().toByteArray().toLower();
    if (!italian)
        return a == "y" || a == "yes";
    // "sì": UTF-8, code page 850 (ì is 0x8D) and code page 1252 or Latin-1 (0xEC); "SÌ" lowered
    // byte by byte leaves the accented letter as it is typed in capitals.
    return a == "s" || a == "si" || a == "s\xc3\xac" || a == "s\xc3\x8c" || a == "s\x8d" || a == "s\xde"
           || a == "s\xec" || a == "s\xcc";
}

QString cliRow(const QString &label, const QString &value)
{
    return QStringLiteral("%1 %2").arg(label, -9).arg(value);
}

} // namespace oe
