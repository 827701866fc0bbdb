#pragma once

#include <QByteArrayView>
#include <QString>

namespace oe {

// oe-cli's own words, from the caption table like the window's, so they follow the language in use.
// The English texts below stand in when Language.ini lacks them.
namespace CliWord {
enum Entry : int {
    ConnectingTo = 200,        // progress: %1 the port
    PortLabel = 201,           // result rows: the labels, padded to one column
    FirmwareLabel = 202,
    StatusLabel = 203,
    SavedLabel = 204,
    ResetReadBackUnanswered = 205,
    CannotOpen = 206,          // %1 the device, %2 the system's words
    StoppedAnswering = 207,
    Interrupted = 208,
    NotRead = 209,             // %1 the parameters
    StatusUnanswered = 210,
    Declined = 211,
    ReadBackUnanswered = 212,  // %1 the parameters
    HoldsOtherValues = 213,    // %1 the parameters and their values
    BackupLabel = 214,
    ValuesDiffer = 216,        // %1 how many, %2 the file
    Written = 217,             // what a write came to (the JSON keeps writeOutcomeName's words)
    Refused = 218,
    Unanswered = 219,
    NotSent = 220,
    RefusedStop = 221,
    UnansweredStop = 222,
    WriteStep = 223,           // %1 the parameter, %2 the value
    ReadingBack = 224,         // %1 how many
    YesNo = 225,               // after a question: the answer that says yes first
    Holds = 226,               // a refused write: %1 the value the controller holds
    NothingSent = 227,
    PartnerNotRead = 228,      // %1 the partner, %2 the value judged
    UnitIdentified = 229,      // program: %1 the port, %2 the firmware
    UnitWriting = 230,         // %1 the port, %2 how many
    UnitNext = 231,            // %1 the port
    UnitGone = 232,            // %1 the port, %2 seconds
    UnitSame = 233,            // %1 the port, %2 the firmware
    UnitWaiting = 234,         // %1 the port, %2 why none answers
    ProgramOn = 235,           // %1 the map, %2 the ports
    OneAfterAnother = 236,
    ProgramCounts = 237,       // %1 programmed, %2 failed, %3 interrupted
    NoBackupUnknown = 238,    // %1 the parameters
    NoBackupIn = 239,         // %1 the folder, %2 why
    UnitNoBackupIn = 240,     // program: %1 the folder, %2 why
    UnitNotRead = 241,        // %1 the parameters
    NoIdentification = 242,
    PairNoOrder = 243,        // %1, %2 the parameters
    UnitFinishing = 244,      // %1 the port
    InterruptedReading = 245,
    InterruptedWaiting = 246,
    InterruptedConnected = 247,
    InterruptedWriting = 248,
    ValuesBeforeIn = 249,     // %1 the backup
    StoppedAfter = 280,       // %1 the verdict's word
    CannotWriteLog = 281,     // %1 the file, %2 why
    InterruptedCounts = 282,  // %1 the counts
    VerdictProgrammed = 283,  // program's verdicts in text (the JSON keeps its own words)
    VerdictRefused = 284,
    VerdictDiffers = 285,
    VerdictUnanswered = 286,
    VerdictNoAnswer = 287,
    VerdictPortNotOpened = 288,
    VerdictPortLost = 289,
    VerdictNotRead = 290,
    VerdictNoBackup = 291,
    VerdictInterrupted = 292,
    OutsideRange = 293,       // %1 the values and why
    ByPosition = 294,         // %1 the lines and why
    UnitNotInLog = 295,       // %1 the port, %2 the unit, %3 the file, %4 why
    PortsHeadPort = 330,      // ports: the list's heading
    PortsHeadDevice = 331,
    PortsHeadPresent = 332,
    PortsHeadAccess = 333,
    PortsHeadDescription = 334,
    PortPresent = 335,        // ports: whether the device is there
    PortAbsent = 336,
    PortLinkGone = 337,
    PortMayOpen = 338,        // ports: whether this user may open it
    PortNoPermission = 339,
    PortsJoinGroup = 340,
    PortsBeyondGroup = 341,   // %1 the COM number, %2 the device, %3 its owner and group, %4 its mode
    PortsUnlinkedAdapter = 342, // %1 the device, %2 its description
};
}

QString cliWordFallback(int entry);

// The entry of program's word for a unit's verdict ("programmed", "refused"…) in text lines;
// 0 for none.
int cliVerdictEntry(const QString &verdict);

// The answer to a question, as typed: yes in the language of the run ("y", "yes"; in Italian "s",
// "si", "sì", the last also as a Windows console in code page 850 or 1252 sends it). Anything else
// is no.
bool cliAnswerIsYes(QByteArrayView answer, bool italian);

// A result row: the label in its column, then the value.
QString cliRow(const QString &label, const QString &value);

} // namespace oe
