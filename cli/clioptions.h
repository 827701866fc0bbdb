#pragma once

#include "parameterset.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace oe {

// What oe-cli tells its caller by its exit status.
enum class CliExit : int {
    Done = 0,           // done and, where something was written, verified
    Usage = 1,          // the command line is wrong
    PortNotOpened = 2,  // the port cannot be opened
    NoAnswer = 3,       // the controller does not answer (or not to everything)
    InvalidInput = 4,   // the file or the values are refused, or the file cannot be written; nothing sent
    ReadBackDiffers = 5, // the controller holds other values than were written
    Interrupted = 6,    // Ctrl+C, or the question was declined
};

struct CliOptions {
    enum class Command { Help, Ports, Info, Save, Load, Set, Reset, Watch };
    Command command = Command::Help;
    // As given: "COM3" or a device path.
    QString port;
    int comPort = 0;    // 1 to 15 when port names a COM port
    QString device;     // when port is a device path
    QString file;
    // set: the values as given; the value rule judges them (a bad one is refused with status 4).
    QList<std::pair<ParameterIndex, QString>> values;
    bool yes = false;
    bool allowOutsideRange = false; // load, set: values beyond a slider's range may be sent
    bool byPosition = false;        // load: lines named otherwise than their place are taken by place
    bool json = false;
    QString language;   // "ITA" or "ENG"; empty: config.ini's, else English
    int seconds = 0;    // watch: 0 runs until Ctrl+C
};

struct CliParseResult {
    bool ok = false;
    CliOptions options;
    QString error; // one line for the user when !ok
};

// The command line without the program's name.
CliParseResult parseCliArguments(const QStringList &arguments);

// The --help text, exit codes included.
QString cliUsage();

// The parameter a name stands for (the map file's keys, in any case); false when none does.
bool parameterFromName(const QString &name, ParameterIndex *index);

} // namespace oe
