#pragma once

#include "filefault.h"

#include <QString>

#include <array>

namespace oe {

// config.ini: the port line and the language line, by position only.
using ConfigLineArray = std::array<QString, 2>;

struct ConfigReadResult {
    ConfigLineArray lines;  // what was found; a missing line stays empty
    int linesRead = 0;      // 0, 1 or 2
    QString error;          // why the file could not be read at all; empty when it could
    // False when the contents hold a control character other than tab and the line ends (NUL bytes,
    // binary data): nobody wrote that as settings, so the lines mean nothing.
    bool isText = true;
};

ConfigReadResult readConfigFile(const QString &path);

// The same over the file's contents already in memory.
ConfigReadResult parseConfig(const QByteArray &contents);

// Writes both lines, each ended by CR LF, replacing the whole file atomically. On failure error gets an
// English line with the path, problem what went wrong (see writeFileAtomically).
bool writeConfigFile(const QString &path, const ConfigLineArray &lines, QString *error,
                     FileProblem *problem = nullptr);

// The port line for a port number: always two digits ("COM=07", "COM=12").
QString portLine(int comPort);

// The port number a port line names: the number at the start of its last two characters, 15 at most.
// Anything that does not read as a number, and a negative number, gives 0 (no port).
int portFromLine(const QString &line);

// The language code a language line names: its last three characters (the whole line if shorter).
QString languageFromLine(const QString &line);

} // namespace oe
