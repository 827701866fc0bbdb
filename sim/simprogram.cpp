// oe-sim's options and the life of its ports: bring-up, the verbose log, the return after a hang-up,
// signals, standard input, and the removal of the links on the way out.

#include "simprogram.h"

#include "configfile.h"
#include "portlink.h"
#include "simlink.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTime>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace oe {

namespace {

constexpr int kReopenAfterHangUpMs = 1000;
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Standard output and error from here on go to the file, replacing what it held.
bool redirectOutput(const QString &path, QString *why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        *why = QStringLiteral("cannot write the log %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    simOut().flush();
    simErr().flush();
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    return true;
}

QString stamp()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz"));
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
    return text + QLatin1Char('\n') + SimProgram::commandHelp();
}

std::optional<int> usageError(const QString &why)
{
    simErr() << "oe-sim: " << why << Qt::endl;
    return 2;
}

// The ports given, or the one in config.ini, else COM1.
std::optional<int> readPorts(const QStringList &given, SimOptions *options)
{
    for (const QString &text : given) {
        const std::optional<int> parsed = parseComPort(text);
        if (!parsed)
            return usageError(QStringLiteral("--port wants COM1 to COM15, not \"%1\"").arg(text));
        if (options->comPorts.contains(*parsed))
            return usageError(QStringLiteral("--port COM%1 is given twice").arg(*parsed));
        options->comPorts << *parsed;
    }
    if (options->comPorts.isEmpty()) {
        int comPort = kFirstComPort;
        const ConfigReadResult config = readConfigFile(QDir(options->folder).filePath(QStringLiteral("config.ini")));
        if (config.linesRead > 0 && portFromLine(config.lines[0]) >= kFirstComPort)
            comPort = portFromLine(config.lines[0]);
        options->comPorts << comPort;
    }
    return std::nullopt;
}

} // namespace

QTextStream &simOut()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &simErr()
{
    static QTextStream stream(stderr);
    return stream;
}

std::optional<int> parseSimOptions(const QCoreApplication &app, SimOptions *options)
{
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

    options->folder = QDir(parser.isSet(folderOption) ? parser.value(folderOption)
                                                      : QCoreApplication::applicationDirPath())
                          .absolutePath();
    if (!QDir(options->folder).exists())
        return usageError(QStringLiteral("program folder %1 does not exist").arg(options->folder));
    if (const std::optional<int> stop = readPorts(parser.values(portOption), options))
        return stop;
    for (const QString &spec : parser.values(faultOption)) {
        QString why;
        if (!options->faults.apply(spec, &why))
            return usageError(QStringLiteral("--fault %1: %2").arg(spec, why));
    }
    if (parser.isSet(firmwareOption)) {
        options->firmware = parseSimVersion(parser.value(firmwareOption));
        if (!options->firmware)
            return usageError(QStringLiteral("--firmware wants three numbers 0 to 255, as 1.3.7"));
    }
    if (parser.isSet(paceOption)) {
        bool ok = false;
        options->paceBaud = parser.value(paceOption).toInt(&ok);
        if (!ok || options->paceBaud < PtyServer::kMinPaceBaud || options->paceBaud > PtyServer::kMaxPaceBaud)
            return usageError(QStringLiteral("--pace wants a baud rate from %1 to %2, not \"%3\"")
                                  .arg(PtyServer::kMinPaceBaud).arg(PtyServer::kMaxPaceBaud)
                                  .arg(parser.value(paceOption)));
    }
    options->verbose = parser.isSet(verboseOption);
    options->engineOff = parser.isSet(engineOffOption);
    options->showPort = parser.isSet(showPortOption);
    options->tidy = parser.isSet(tidyOption);
    options->logPath = parser.value(logOption);
    return std::nullopt;
}

SimProgram::SimProgram(const SimOptions &options) : m_options(options)
{
    // One controller per port, each on its own pty (and its own pacing thread).
    for (const int comPort : std::as_const(m_options.comPorts)) {
        auto port = std::make_unique<SimPort>();
        port->comPort = comPort;
        port->random.seed(20261207u + quint32(comPort));
        ControllerSim &sim = port->server.sim();
        sim.setFaults(m_options.faults);
        sim.setEngineRunning(!m_options.engineOff);
        if (m_options.firmware)
            sim.setVersion(*m_options.firmware);
        if (m_options.paceBaud > 0)
            port->server.setPace(m_options.paceBaud);
        m_ports.push_back(std::move(port));
    }
}

QString SimProgram::prefix(const SimPort &port) const
{
    return m_ports.size() > 1 ? QStringLiteral("COM%1 ").arg(port.comPort) : QString();
}

void SimProgram::removeStaleLinks()
{
    // A gone simulator's link leads to a pty name that anyone may have been given since.
    for (const QString &removed : removeStaleSimLinks(m_options.folder))
        simOut() << "oe-sim: removed the link of a simulator that has stopped: " << removed << Qt::endl;
}

bool SimProgram::portsFree()
{
    for (auto &port : m_ports) {
        port->linkPath = portLinkPath(m_options.folder, port->comPort);
        SimLinkRecord running;
        if (simLinkState(port->linkPath, &running) == SimLinkState::Live) {
            simErr() << "oe-sim: COM" << port->comPort << " -> " << running.pty
                     << ": served by the simulator running as process " << running.pid << Qt::endl;
            return false;
        }
    }
    return true;
}

bool SimProgram::bringUp(SimPort &port)
{
    QString why;
    if (!port.server.open(&why)) {
        simErr() << "oe-sim: " << why << Qt::endl;
        return false;
    }
    if (!createPortLink(port.linkPath, port.server.slavePath(), &why, port.linkedTarget)) {
        simErr() << "oe-sim: " << why << Qt::endl;
        port.server.hangUp();
        return false;
    }
    if (!m_redirected && !m_options.logPath.isEmpty()) {
        if (!redirectOutput(m_options.logPath, &why)) {
            simErr() << "oe-sim: " << why << Qt::endl;
            removePortLink(port.linkPath, port.server.slavePath());
            port.server.hangUp();
            return false;
        }
        m_redirected = true;
    }
    port.linkedTarget = port.server.slavePath();
    simOut() << "oe-sim: COM" << port.comPort << " = " << port.linkPath << " -> " << port.server.slavePath() << Qt::endl;
    return true;
}

bool SimProgram::removeLinks()
{
    bool removedAll = true;
    for (auto &port : m_ports) {
        QObject::disconnect(&port->server, nullptr, nullptr, nullptr);
        removedAll = removePortLink(port->linkPath, port->linkedTarget) && removedAll;
        port->server.hangUp();
    }
    return removedAll;
}

bool SimProgram::bringUpAll()
{
    for (auto &port : m_ports) {
        if (!bringUp(*port)) {
            removeLinks();
            return false;
        }
    }
    return true;
}

void SimProgram::printBanner()
{
    const ControllerSim &sim = m_ports.front()->server.sim();
    const int baud = m_options.paceBaud;
    simOut() << "oe-sim: firmware " << sim.version()[0] << '.' << sim.version()[1] << '.' << sim.version()[2]
             << ", engine " << (sim.engineRunning() ? "running" : "stopped") << ", faults "
             << m_options.faults.describe() << ", line "
             << (baud > 0 ? QStringLiteral("paced at %1 baud").arg(baud) : QStringLiteral("unpaced")) << Qt::endl;
}

void SimProgram::watchPorts()
{
    for (auto &owned : m_ports) {
        SimPort &port = *owned;
        PtyServer &server = port.server;
        const QString who = prefix(port);
        if (m_options.verbose) {
            QObject::connect(&server, &PtyServer::requestReceived, [who](const QByteArray &frame, qint64) {
                simErr() << stamp() << "  " << who << "<- " << hexBytes(frame) << Qt::endl;
            });
            QObject::connect(&server, &PtyServer::bytesWritten, [who](const QByteArray &bytes, qint64) {
                simErr() << stamp() << "  " << who << "-> " << hexBytes(bytes) << Qt::endl;
            });
            QObject::connect(&server, &PtyServer::clientClosed, [who] {
                simErr() << stamp() << "  " << who << "the program closed the line" << Qt::endl;
            });
        }
        // After a hang-up the line comes back on a new pty, so the program can connect again.
        QObject::connect(&server, &PtyServer::hungUp, [this, &port, &server, who] {
            simOut() << "oe-sim: " << who << "line hung up" << Qt::endl;
            QTimer::singleShot(kReopenAfterHangUpMs, &server, [this, &port, &server] {
                if (!server.isOpen() && !bringUp(port))
                    QCoreApplication::exit(1);
            });
        });
    }
}

bool SimProgram::catchSignals()
{
    // A signal handler may only write to a pipe; the event loop reads it and quits.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        simErr() << "oe-sim: cannot set up signal handling" << Qt::endl;
        return false;
    }
    m_signals = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_signals.get(), &QSocketNotifier::activated, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    return true;
}

void SimProgram::readCommands()
{
    m_input = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(m_input.get(), &QSocketNotifier::activated, [this] {
        char chunk[512];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            m_input->setEnabled(false); // no terminal (started in the background): nothing to read
            return;
        }
        m_pendingInput.append(chunk, n);
        qsizetype end;
        while ((end = m_pendingInput.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(m_pendingInput.left(end)).trimmed();
            m_pendingInput.remove(0, end + 1);
            runLine(line);
        }
    });
}

int SimProgram::finish(int code)
{
    QStringList links;
    for (const auto &port : m_ports)
        links << port->linkPath;
    const bool removed = removeLinks();
    simOut() << "oe-sim: stopped" << (removed ? QStringLiteral(", %1 removed").arg(links.join(QStringLiteral(", "))) : QString())
             << Qt::endl;
    return code;
}

} // namespace oe
