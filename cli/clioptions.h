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
    LogFailed = 7,      // program: values were sent, but a unit's log line could not be written
};

// A port as -p names it.
struct CliPort {
    QString text;    // as given: "COM3" or a device path
    int comPort = 0; // 1 to 15 when text names a COM port
    QString device;  // when text is a device path
};

// Reads "COM1" to "COM15" (any case) or a device path; false with a one-line reason otherwise.
bool parseCliPort(const QString &text, CliPort *port, QString *error);

struct CliOptions {
    enum class Command { Help, Ports, Info, Save, Load, Set, Reset, Watch, Verify, Backup, Program, Version };
    Command command = Command::Help;
    // The port of a one-port command (the first for program). Empty when -p was not given: the caller
    // takes config.ini's (applyConfiguredPort).
    QString port;
    int comPort = 0;    // 1 to 15 when port names a COM port
    QString device;     // when port is a device path
    QList<CliPort> ports; // every -p in order; program serves them all
    QString file;       // save, load, verify, program: the map; backup: a file or a folder, or empty
    // set: the values as given; the value rule judges them (a bad one is refused with status 4).
    QList<std::pair<ParameterIndex, QString>> values;
    bool yes = false;
    bool allowOutsideRange = false; // load, program, set: values beyond a slider's range may be sent
    bool byPosition = false;        // load, program: lines named otherwise than their place go by place
    bool json = false;
    QString language;   // "ITA" or "ENG"; empty: config.ini's, else English
    int seconds = 0;    // watch: 0 runs until Ctrl+C
    bool wait = false;  // program: one controller after another on each port
    QString logFile;    // program: a JSON line per controller is appended here
    bool noBackup = false; // load, reset, program: no backup of the values first
    QString folder;     // the program folder instead of the executable's
    QString note;       // save, backup: one line kept in the map (vehicle, customer)
};

struct CliParseResult {
    bool ok = false;
    CliOptions options;
    QString error; // one line for the user when !ok
};

// The command line without the program's name.
CliParseResult parseCliArguments(const QStringList &arguments);

// Without -p, the port config.ini names (the window's last successful connection). False when the
// command needs a port and config.ini names none.
bool applyConfiguredPort(CliOptions *options, const QString &programFolder, QString *error);

// The --help text, exit codes included.
QString cliUsage();

// The parameter a name stands for (the map file's keys, in any case); false when none does.
bool parameterFromName(const QString &name, ParameterIndex *index);

} // namespace oe
