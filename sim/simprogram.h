#pragma once

// The oe-sim program's parts: its options, the ports it serves, and the commands it takes on standard
// input. main.cpp runs them in order.

#include "controllersim.h"
#include "ptyserver.h"
#include "simfaults.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <memory>
#include <optional>
#include <random>
#include <vector>

namespace oe {

QTextStream &simOut();
QTextStream &simErr();

struct SimOptions {
    QString folder;
    QList<int> comPorts;
    SimFaults faults;
    std::optional<ControllerSim::Version> firmware;
    int paceBaud = 0; // 0: unpaced
    bool verbose = false;
    bool engineOff = false;
    bool showPort = false;
    bool tidy = false;
    QString logPath;
};

// "1.3.7": three numbers 0 to 255.
std::optional<ControllerSim::Version> parseSimVersion(const QString &text);

// Reads the command line. Returns the exit code to stop with (help, a usage error), or nothing to go on.
std::optional<int> parseSimOptions(const QCoreApplication &app, SimOptions *options);

// One served port: its pty, its controller, its link.
struct SimPort {
    int comPort = 0;
    PtyServer server;
    QString linkPath;
    QString linkedTarget;
    std::mt19937 random;
};

class SimProgram;

// A command on standard input; quit has no handler. run returns false when it did not understand its
// argument.
struct SimCommand {
    const char *name;
    const char *usage;
    const char *help;
    bool (SimProgram::*run)(SimPort &, const QString &);
};

class SimProgram
{
public:
    explicit SimProgram(const SimOptions &options);

    // Removes the links of simulators that have gone, saying which.
    void removeStaleLinks();
    // False (and says which) when a running simulator serves one of the ports.
    bool portsFree();
    // Opens every pty and links it; on a failure removes what was made and returns false.
    bool bringUpAll();
    void printBanner();
    // The verbose log and the line's return after a hang-up.
    void watchPorts();
    // SIGINT, SIGTERM and SIGHUP end the event loop, so the links are removed on the way out.
    bool catchSignals();
    // Commands from standard input (the table in simcommands.cpp).
    void readCommands();
    // Removes the links and says so; returns code.
    int finish(int code);

    // One line of input: "[COMn] command [argument]".
    void runLine(QString line);

    // The commands, in the order the help lists them (simcommands.cpp).
    static const std::vector<SimCommand> &commands();
    // The commands' part of --help.
    static QString commandHelp();

private:
    bool fault(SimPort &port, const QString &argument);
    bool engine(SimPort &port, const QString &argument);
    bool params(SimPort &port, const QString &argument);
    bool hangup(SimPort &port, const QString &argument);
    bool unplug(SimPort &port, const QString &argument);
    bool plug(SimPort &port, const QString &argument);

    bool bringUp(SimPort &port);
    bool removeLinks();
    QString prefix(const SimPort &port) const;

    SimOptions m_options;
    std::vector<std::unique_ptr<SimPort>> m_ports;
    bool m_redirected = false;
    std::unique_ptr<QSocketNotifier> m_signals;
    std::unique_ptr<QSocketNotifier> m_input;
    QByteArray m_pendingInput;
};

} // namespace oe
