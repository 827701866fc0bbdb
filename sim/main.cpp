// oe-sim: a simulated controller on a pseudo-terminal, linked as <program folder>/ports/COMn so that the
// program finds it like a serial port.

#include "configfile.h"
#include "portlink.h"
#include "ptyserver.h"
#include "simlink.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTime>
#include <QTimer>

#include <csignal>
#include <memory>
#include <optional>
#include <random>
#include <vector>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace oe;

namespace {

constexpr int kReopenAfterHangUpMs = 1000;
// Exit code when another simulator already serves the port: scripts can use that one.
constexpr int kExitAlreadyServed = 3;
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Standard output and error from here on go to the file, replacing what it held.
bool redirectOutput(const QString &path, QString *why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = QStringLiteral("cannot write the log %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    out().flush();
    err().flush();
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    return true;
}

QString stamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
}

// "1.3.7": three numbers 0 to 255.
std::optional<ControllerSim::Version> parseVersion(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    ControllerSim::Version version{};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint n = parts[i].toUInt(&ok);
        if (!ok || n > 255)
            return std::nullopt;
        version[size_t(i)] = quint8(n);
    }
    return version;
}

const char *const kParameterNames[] = {"MinPumpCycles", "MaxPumpCycles", "RpmMin", "TinjMin",
                                       "TinjMax", "MinLoadPumpPause", "MaxLoadPumpPause", "RpmMultiplier"};

int parameterNamed(const QString &name)
{
    for (int i = 0; i < simparam::Count; ++i) {
        if (name.compare(QLatin1String(kParameterNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

// One served port: its pty, its controller, its link.
struct SimPort {
    int comPort = 0;
    PtyServer server;
    QString linkPath;
    QString linkedTarget;
    std::mt19937 random;
};

QString parameterList(const ControllerSim &sim)
{
    QStringList parts;
    for (int i = 0; i < simparam::Count; ++i)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(kParameterNames[i])).arg(sim.parameter(i));
    return parts.join(QLatin1Char(' '));
}

QString helpText()
{
    QString text = QStringLiteral(
        "Simulated valve-oiler controller on a pseudo-terminal.\n"
        "\n"
        "Creates a pty and links it as <folder>/ports/COMn, where the program looks for port COMn before\n"
        "any real device, with a record of this simulator beside it (ports/COMn.sim). Serves until\n"
        "interrupted (Ctrl+C, SIGTERM), then removes both. Links left by simulators that are gone are\n"
        "removed at start; any other link (a device, even one not plugged in) is never touched.\n"
        "\n"
        "Fault modes (--fault, several allowed, or comma-separated):\n");
    for (const QString &line : SimFaults::helpLines())
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    text += QStringLiteral(
        "\n"
        "Commands on standard input while running:\n"
        "  fault SPEC       set fault modes as with --fault (\"fault none\" clears them)\n"
        "  engine on|off    start or stop the engine (stopped: engine speed 0)\n"
        "  params           print the eight parameters\n"
        "  hangup           close the line now (it comes back after a second)\n"
        "  unplug           the controller leaves the line: nothing is answered (the pty stays)\n"
        "  plug [NAME=VALUE...] [firmware=A.B.C]\n"
        "                   a new controller on the line: other values (drawn at random, or as given)\n"
        "  quit             stop\n"
        "With several --port, a command may start with the port it is for (\"COM4 unplug\"); without\n"
        "one it is for every port.\n");
    return text;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oe-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(helpText());
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("Port to serve, COM1 to COM15 (default: the port in <folder>/config.ini, else COM1). "
                       "Repeat it to serve several ports, each with a controller of its own."),
        QStringLiteral("COMn"));
    const QCommandLineOption folderOption(QStringLiteral("folder"),
        QStringLiteral("Program folder (default: the folder of this executable, beside the program)."),
        QStringLiteral("DIR"));
    const QCommandLineOption faultOption(QStringLiteral("fault"),
        QStringLiteral("Fault modes to start with, e.g. delay=200 or drop=2,split (see the list above)."),
        QStringLiteral("SPEC"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"),
        QStringLiteral("Log every request and reply in hex with a time stamp on standard error."));
    const QCommandLineOption engineOffOption(QStringLiteral("engine-off"),
        QStringLiteral("Start with the engine stopped (engine speed 0)."));
    const QCommandLineOption firmwareOption(QStringLiteral("firmware"),
        QStringLiteral("Firmware version to report (default 1.3.7)."), QStringLiteral("A.B.C"));
    const QCommandLineOption paceOption(QStringLiteral("pace"),
        QStringLiteral("Pace the line like a wire at BAUD, 8N1 (e.g. 9600: 1.042 ms a byte): replies go out "
                       "byte by byte and requests are taken in no faster. Default: bytes pass at once."),
        QStringLiteral("BAUD"));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Write all output to FILE, from the moment the port is ours: a simulator refused for a port "
                       "never touches the log of the one serving it."),
        QStringLiteral("FILE"));
    const QCommandLineOption showPortOption(QStringLiteral("show-port"),
        QStringLiteral("Print the port that would be served (COMn) and stop."));
    const QCommandLineOption tidyOption(QStringLiteral("tidy"),
        QStringLiteral("Remove the links of simulators that have stopped, and stop."));
    parser.addOptions({portOption, folderOption, faultOption, verboseOption, engineOffOption, firmwareOption,
                       paceOption, logOption, showPortOption, tidyOption});
    parser.process(app);

    const auto usageError = [](const QString &why) {
        err() << "oe-sim: " << why << Qt::endl;
        return 2;
    };

    const QString folder = QDir(parser.isSet(folderOption) ? parser.value(folderOption)
                                                           : QCoreApplication::applicationDirPath())
                               .absolutePath();
    if (!QDir(folder).exists())
        return usageError(QStringLiteral("program folder %1 does not exist").arg(folder));

    QList<int> comPorts;
    for (const QString &text : parser.values(portOption)) {
        const std::optional<int> parsed = parseComPort(text);
        if (!parsed)
            return usageError(QStringLiteral("--port wants COM1 to COM15, not \"%1\"").arg(text));
        if (comPorts.contains(*parsed))
            return usageError(QStringLiteral("--port COM%1 is given twice").arg(*parsed));
        comPorts << *parsed;
    }
    if (comPorts.isEmpty()) {
        int comPort = kFirstComPort;
        const ConfigReadResult config = readConfigFile(QDir(folder).filePath(QStringLiteral("config.ini")));
        if (config.linesRead > 0 && portFromLine(config.lines[0]) >= kFirstComPort)
            comPort = portFromLine(config.lines[0]);
        comPorts << comPort;
    }

    if (parser.isSet(showPortOption)) {
        out() << "COM" << comPorts.first() << Qt::endl;
        return 0;
    }

    SimFaults faults;
    for (const QString &spec : parser.values(faultOption)) {
        QString why;
        if (!faults.apply(spec, &why))
            return usageError(QStringLiteral("--fault %1: %2").arg(spec, why));
    }
    std::optional<ControllerSim::Version> firmware;
    if (parser.isSet(firmwareOption)) {
        firmware = parseVersion(parser.value(firmwareOption));
        if (!firmware)
            return usageError(QStringLiteral("--firmware wants three numbers 0 to 255, as 1.3.7"));
    }
    int paceBaud = 0;
    if (parser.isSet(paceOption)) {
        bool ok = false;
        paceBaud = parser.value(paceOption).toInt(&ok);
        if (!ok || paceBaud < PtyServer::kMinPaceBaud || paceBaud > PtyServer::kMaxPaceBaud)
            return usageError(QStringLiteral("--pace wants a baud rate from %1 to %2, not \"%3\"")
                                  .arg(PtyServer::kMinPaceBaud).arg(PtyServer::kMaxPaceBaud)
                                  .arg(parser.value(paceOption)));
    }

    // One controller per port, each on its own pty (and its own pacing thread).
    std::vector<std::unique_ptr<SimPort>> ports;
    for (const int comPort : std::as_const(comPorts)) {
        auto port = std::make_unique<SimPort>();
        port->comPort = comPort;
        port->random.seed(20261207u + quint32(comPort));
        ControllerSim &sim = port->server.sim();
        sim.setFaults(faults);
        sim.setEngineRunning(!parser.isSet(engineOffOption));
        if (firmware)
            sim.setVersion(*firmware);
        if (paceBaud > 0)
            port->server.setPace(paceBaud);
        ports.push_back(std::move(port));
    }
    const bool several = ports.size() > 1;
    const auto prefix = [several](const SimPort &port) {
        return several ? QStringLiteral("COM%1 ").arg(port.comPort) : QString();
    };

    // A gone simulator's link leads to a pty name that anyone may have been given since.
    for (const QString &removed : removeStaleSimLinks(folder))
        out() << "oe-sim: removed the link of a simulator that has stopped: " << removed << Qt::endl;
    if (parser.isSet(tidyOption))
        return 0;

    for (auto &port : ports) {
        port->linkPath = portLinkPath(folder, port->comPort);
        SimLinkRecord running;
        if (simLinkState(port->linkPath, &running) == SimLinkState::Live) {
            err() << "oe-sim: COM" << port->comPort << " -> " << running.pty
                  << ": served by the simulator running as process " << running.pid << Qt::endl;
            return kExitAlreadyServed;
        }
    }
    bool redirected = false;
    const auto bringUp = [&](SimPort &port) {
        QString why;
        if (!port.server.open(&why)) {
            err() << "oe-sim: " << why << Qt::endl;
            return false;
        }
        if (!createPortLink(port.linkPath, port.server.slavePath(), &why, port.linkedTarget)) {
            err() << "oe-sim: " << why << Qt::endl;
            port.server.hangUp();
            return false;
        }
        if (!redirected && parser.isSet(logOption)) {
            if (!redirectOutput(parser.value(logOption), &why)) {
                err() << "oe-sim: " << why << Qt::endl;
                removePortLink(port.linkPath, port.server.slavePath());
                port.server.hangUp();
                return false;
            }
            redirected = true;
        }
        port.linkedTarget = port.server.slavePath();
        out() << "oe-sim: COM" << port.comPort << " = " << port.linkPath << " -> " << port.server.slavePath() << Qt::endl;
        return true;
    };
    const auto removeLinks = [&ports] {
        bool removedAll = true;
        for (auto &port : ports) {
            QObject::disconnect(&port->server, nullptr, nullptr, nullptr);
            removedAll = removePortLink(port->linkPath, port->linkedTarget) && removedAll;
            port->server.hangUp();
        }
        return removedAll;
    };
    for (auto &port : ports) {
        if (!bringUp(*port)) {
            removeLinks();
            return 1;
        }
    }
    {
        const ControllerSim &sim = ports.front()->server.sim();
        out() << "oe-sim: firmware " << sim.version()[0] << '.' << sim.version()[1] << '.' << sim.version()[2]
              << ", engine " << (sim.engineRunning() ? "running" : "stopped") << ", faults " << faults.describe()
              << ", line " << (paceBaud > 0 ? QStringLiteral("paced at %1 baud").arg(paceBaud)
                                            : QStringLiteral("unpaced"))
              << Qt::endl;
    }

    for (auto &owned : ports) {
        SimPort &port = *owned;
        PtyServer &server = port.server;
        if (parser.isSet(verboseOption)) {
            const QString who = prefix(port);
            QObject::connect(&server, &PtyServer::requestReceived, [who](const QByteArray &frame, qint64) {
                err() << stamp() << "  " << who << "<- " << hexBytes(frame) << Qt::endl;
            });
            QObject::connect(&server, &PtyServer::bytesWritten, [who](const QByteArray &bytes, qint64) {
                err() << stamp() << "  " << who << "-> " << hexBytes(bytes) << Qt::endl;
            });
            QObject::connect(&server, &PtyServer::clientClosed, [who] {
                err() << stamp() << "  " << who << "the program closed the line" << Qt::endl;
            });
        }
        // After a hang-up the line comes back on a new pty, so the program can connect again.
        QObject::connect(&server, &PtyServer::hungUp, [&, who = prefix(port)]() {
            out() << "oe-sim: " << who << "line hung up" << Qt::endl;
            QTimer::singleShot(kReopenAfterHangUpMs, &server, [&]() {
                if (!server.isOpen() && !bringUp(port))
                    QCoreApplication::exit(1);
            });
        });
    }

    // Signals end the event loop through a pipe, so the link is removed on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return usageError(QStringLiteral("cannot set up signal handling"));
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);

    const auto runCommand = [&](SimPort &port, const QString &command, const QString &argument) {
        ControllerSim &sim = port.server.sim();
        const QString who = prefix(port);
        if (command == u"fault") {
            SimFaults changed = sim.faults();
            QString why;
            if (changed.apply(argument, &why)) {
                sim.setFaults(changed);
                out() << "oe-sim: " << who << "faults " << changed.describe() << Qt::endl;
            } else {
                out() << "oe-sim: " << why << Qt::endl;
            }
        } else if (command == u"engine" && (argument == u"on" || argument == u"off")) {
            sim.setEngineRunning(argument == u"on");
            out() << "oe-sim: " << who << "engine " << (sim.engineRunning() ? "running" : "stopped") << Qt::endl;
        } else if (command == u"params") {
            out() << "oe-sim: " << who << (sim.present() ? parameterList(sim) : QStringLiteral("no controller")) << Qt::endl;
        } else if (command == u"hangup") {
            port.server.hangUp();
        } else if (command == u"unplug") {
            sim.unplug();
            out() << "oe-sim: " << who << "controller unplugged" << Qt::endl;
        } else if (command == u"plug") {
            SimParameters values = randomSimParameters(port.random);
            ControllerSim::Version version = sim.version();
            for (const QString &pair : argument.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                const QString name = pair.section(QLatin1Char('='), 0, 0);
                const QString value = pair.section(QLatin1Char('='), 1);
                if (name.compare(QLatin1String("firmware"), Qt::CaseInsensitive) == 0) {
                    const std::optional<ControllerSim::Version> given = parseVersion(value);
                    if (!given) {
                        out() << "oe-sim: firmware=A.B.C, three numbers 0 to 255" << Qt::endl;
                        return;
                    }
                    version = *given;
                    continue;
                }
                const int index = parameterNamed(name);
                bool ok = false;
                const uint number = value.toUInt(&ok);
                if (index < 0 || !ok || number > 65535) {
                    out() << "oe-sim: plug wants NAME=VALUE (a parameter's name, 0 to 65535), not \"" << pair << '"' << Qt::endl;
                    return;
                }
                values[size_t(index)] = quint16(number);
            }
            sim.plugIn(values, version);
            out() << "oe-sim: " << who << "controller plugged in: firmware " << version[0] << '.' << version[1] << '.'
                  << version[2] << ", " << parameterList(sim) << Qt::endl;
        } else {
            out() << "oe-sim: commands: [COMn] fault SPEC | engine on|off | params | hangup | unplug | "
                     "plug [NAME=VALUE...] [firmware=A.B.C] | quit"
                  << Qt::endl;
        }
    };

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pendingInput;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&]() {
        char chunk[512];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            input.setEnabled(false);  // no terminal (started in the background): nothing to read
            return;
        }
        pendingInput.append(chunk, n);
        qsizetype end;
        while ((end = pendingInput.indexOf('\n')) >= 0) {
            QString line = QString::fromLocal8Bit(pendingInput.left(end)).trimmed();
            pendingInput.remove(0, end + 1);
            // "COM4 unplug": for that port only.
            SimPort *target = nullptr;
            if (const std::optional<int> named = parseComPort(line.section(QLatin1Char(' '), 0, 0))) {
                for (auto &port : ports) {
                    if (port->comPort == *named)
                        target = port.get();
                }
                if (!target) {
                    out() << "oe-sim: COM" << *named << " is not served here" << Qt::endl;
                    continue;
                }
                line = line.section(QLatin1Char(' '), 1).trimmed();
            }
            const QString command = line.section(QLatin1Char(' '), 0, 0).toLower();
            const QString argument = line.section(QLatin1Char(' '), 1).trimmed();
            if (command.isEmpty())
                continue;
            if (command == u"quit" || command == u"exit") {
                QCoreApplication::quit();
                continue;
            }
            for (auto &port : ports) {
                if (!target || target == port.get())
                    runCommand(*port, command, argument);
            }
        }
    });

    const int code = app.exec();
    QStringList links;
    for (const auto &port : ports)
        links << port->linkPath;
    const bool removed = removeLinks();
    out() << "oe-sim: stopped" << (removed ? QStringLiteral(", %1 removed").arg(links.join(QStringLiteral(", "))) : QString())
          << Qt::endl;
    return code;
}
