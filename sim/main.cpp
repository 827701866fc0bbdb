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

const char *const kNames[] = {"MinPumpCycles", "MaxPumpCycles", "RpmMin", "TinjMin",
                              "TinjMax", "MinLoadPumpPause", "MaxLoadPumpPause", "RpmMultiplier"};

QString parameterList(const ControllerSim &sim)
{
    QStringList parts;
    for (int i = 0; i < simparam::Count; ++i)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(kNames[i])).arg(sim.parameter(i));
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
        "  set NAME=VALUE   store a value as the controller's own (0 to 65535; NAME as in params)\n"
        "  hangup           close the line now (it comes back after a second)\n"
        "  quit             stop\n");
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
        QStringLiteral("Port to serve, COM1 to COM15 (default: the port in <folder>/config.ini, else COM1)."),
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

    int comPort = kFirstComPort;
    if (parser.isSet(portOption)) {
        const std::optional<int> parsed = parseComPort(parser.value(portOption));
        if (!parsed)
            return usageError(QStringLiteral("--port wants COM1 to COM15, not \"%1\"").arg(parser.value(portOption)));
        comPort = *parsed;
    } else {
        const ConfigReadResult config = readConfigFile(QDir(folder).filePath(QStringLiteral("config.ini")));
        if (config.linesRead > 0 && portFromLine(config.lines[0]) >= kFirstComPort)
            comPort = portFromLine(config.lines[0]);
    }

    if (parser.isSet(showPortOption)) {
        out() << "COM" << comPort << Qt::endl;
        return 0;
    }

    PtyServer server;
    ControllerSim &sim = server.sim();
    SimFaults faults;
    for (const QString &spec : parser.values(faultOption)) {
        QString why;
        if (!faults.apply(spec, &why))
            return usageError(QStringLiteral("--fault %1: %2").arg(spec, why));
    }
    sim.setFaults(faults);
    sim.setEngineRunning(!parser.isSet(engineOffOption));
    if (parser.isSet(firmwareOption)) {
        const QStringList parts = parser.value(firmwareOption).split(QLatin1Char('.'));
        ControllerSim::Version version{};
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i) {
            const uint n = parts[i].toUInt(&ok);
            ok = ok && n <= 255;
            version[size_t(i)] = quint8(n);
        }
        if (!ok)
            return usageError(QStringLiteral("--firmware wants three numbers 0 to 255, as 1.3.7"));
        sim.setVersion(version);
    }

    if (parser.isSet(paceOption)) {
        bool ok = false;
        const int baud = parser.value(paceOption).toInt(&ok);
        if (!ok || baud < PtyServer::kMinPaceBaud || baud > PtyServer::kMaxPaceBaud)
            return usageError(QStringLiteral("--pace wants a baud rate from %1 to %2, not \"%3\"")
                                  .arg(PtyServer::kMinPaceBaud).arg(PtyServer::kMaxPaceBaud)
                                  .arg(parser.value(paceOption)));
        server.setPace(baud);
    }

    // A gone simulator's link leads to a pty name that anyone may have been given since.
    for (const QString &removed : removeStaleSimLinks(folder))
        out() << "oe-sim: removed the link of a simulator that has stopped: " << removed << Qt::endl;
    if (parser.isSet(tidyOption))
        return 0;

    const QString linkPath = portLinkPath(folder, comPort);
    SimLinkRecord running;
    if (simLinkState(linkPath, &running) == SimLinkState::Live) {
        err() << "oe-sim: COM" << comPort << " -> " << running.pty << ": served by the simulator running as process "
              << running.pid << Qt::endl;
        return kExitAlreadyServed;
    }
    QString linkedTarget;
    const auto bringUp = [&]() {
        QString why;
        if (!server.open(&why)) {
            err() << "oe-sim: " << why << Qt::endl;
            return false;
        }
        if (!createPortLink(linkPath, server.slavePath(), &why, linkedTarget)) {
            err() << "oe-sim: " << why << Qt::endl;
            server.hangUp();
            return false;
        }
        if (linkedTarget.isEmpty() && parser.isSet(logOption) && !redirectOutput(parser.value(logOption), &why)) {
            err() << "oe-sim: " << why << Qt::endl;
            removePortLink(linkPath, server.slavePath());
            server.hangUp();
            return false;
        }
        linkedTarget = server.slavePath();
        out() << "oe-sim: COM" << comPort << " = " << linkPath << " -> " << server.slavePath() << Qt::endl;
        return true;
    };
    if (!bringUp())
        return 1;
    out() << "oe-sim: firmware " << sim.version()[0] << '.' << sim.version()[1] << '.' << sim.version()[2]
          << ", engine " << (sim.engineRunning() ? "running" : "stopped") << ", faults " << faults.describe()
          << ", line " << (server.pace() > 0 ? QStringLiteral("paced at %1 baud").arg(server.pace())
                                              : QStringLiteral("unpaced"))
          << Qt::endl;

    if (parser.isSet(verboseOption)) {
        QObject::connect(&server, &PtyServer::requestReceived, [](const QByteArray &frame, qint64) {
            err() << stamp() << "  <- " << hexBytes(frame) << Qt::endl;
        });
        QObject::connect(&server, &PtyServer::bytesWritten, [](const QByteArray &bytes, qint64) {
            err() << stamp() << "  -> " << hexBytes(bytes) << Qt::endl;
        });
        QObject::connect(&server, &PtyServer::clientClosed, [] {
            err() << stamp() << "  the program closed the line" << Qt::endl;
        });
    }
    // After a hang-up the line comes back on a new pty, so the program can connect again.
    QObject::connect(&server, &PtyServer::hungUp, [&]() {
        out() << "oe-sim: line hung up" << Qt::endl;
        QTimer::singleShot(kReopenAfterHangUpMs, &server, [&]() {
            if (!server.isOpen() && !bringUp())
                QCoreApplication::exit(1);
        });
    });

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
            const QString line = QString::fromLocal8Bit(pendingInput.left(end)).trimmed();
            pendingInput.remove(0, end + 1);
            const QString command = line.section(QLatin1Char(' '), 0, 0).toLower();
            const QString argument = line.section(QLatin1Char(' '), 1).trimmed();
            if (command.isEmpty()) {
                continue;
            } else if (command == u"fault") {
                SimFaults changed = sim.faults();
                QString why;
                if (changed.apply(argument, &why)) {
                    sim.setFaults(changed);
                    out() << "oe-sim: faults " << changed.describe() << Qt::endl;
                } else {
                    out() << "oe-sim: " << why << Qt::endl;
                }
            } else if (command == u"engine" && (argument == u"on" || argument == u"off")) {
                sim.setEngineRunning(argument == u"on");
                out() << "oe-sim: engine " << (sim.engineRunning() ? "running" : "stopped") << Qt::endl;
            } else if (command == u"params") {
                out() << "oe-sim: " << parameterList(sim) << Qt::endl;
            } else if (command == u"set") {
                const QString name = argument.section(QLatin1Char('='), 0, 0).trimmed();
                bool ok = false;
                const uint value = argument.section(QLatin1Char('='), 1).trimmed().toUInt(&ok);
                int code = -1;
                for (int i = 0; i < simparam::Count; ++i)
                    if (name.compare(QLatin1String(kNames[i]), Qt::CaseInsensitive) == 0)
                        code = i;
                if (code >= 0 && ok && value <= 65535)
                    sim.setParameter(code, quint16(value));
                else
                    out() << "oe-sim: set NAME=VALUE, NAME one of the eight in params, VALUE 0 to 65535" << Qt::endl;
                out() << "oe-sim: " << parameterList(sim) << Qt::endl;
            } else if (command == u"hangup") {
                server.hangUp();
            } else if (command == u"quit" || command == u"exit") {
                QCoreApplication::quit();
            } else {
                out() << "oe-sim: commands: fault SPEC | engine on|off | params | set NAME=VALUE | hangup | quit" << Qt::endl;
            }
        }
    });

    const int code = app.exec();
    QObject::disconnect(&server, nullptr, nullptr, nullptr);
    const bool removed = removePortLink(linkPath, linkedTarget);
    server.hangUp();
    out() << "oe-sim: stopped" << (removed ? QStringLiteral(", %1 removed").arg(linkPath) : QString())
          << Qt::endl;
    return code;
}
