#pragma once

#include <QString>

namespace oe {

// A window program on Windows has no console: Qt's warnings (and ours) go to a log file instead.
// The file is appended to; one over kMessageLogLimit bytes at start is moved to <path>.old first, so
// the log never grows without end. Returns false when the file cannot be opened (messages then go
// where they went before).
bool installMessageLog(const QString &path);

inline constexpr qint64 kMessageLogLimit = 1024 * 1024;

} // namespace oe
