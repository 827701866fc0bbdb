#pragma once

#include "session.h"

#include <QDateTime>
#include <QString>

#include <array>

// Texts oe-cli's commands share.
namespace oe {

// The parameter's name as map files and oe-cli's arguments spell it.
QString paramKey(ParameterIndex index);
// The window's caption for why a port did not open, or for a silent controller.
int connectFailureEntry(const ConnectFailure &failure);
// The caption that tells a session's notice.
int noticeEntry(Session::Notice notice);
const char *openErrorName(PortOpenError error);
QString versionText(const std::array<quint8, 3> &v);
// A moment for a JSON line: ISO 8601 with milliseconds and the offset from UTC.
QString isoTime(const QDateTime &when);
// The run's language, ITA or ENG: --lang's, else config.ini's, else English.
QString cliLanguageCode(const QString &given, const QString &programFolder);
// A moment for a text line: HH:mm:ss.zzz.
QString clockTime(const QDateTime &when);

} // namespace oe
