#pragma once

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
};
}

QString cliWordFallback(int entry);

// A result row: the label in its column, then the value.
QString cliRow(const QString &label, const QString &value);

} // namespace oe
