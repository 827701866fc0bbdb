#include "clioptions.h"
#include "clirunner.h"
#include "consoledevice.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTextStream>

#include <atomic>
#include <optional>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_interrupted{false};

#ifdef Q_OS_WIN
QPointer<oe::CliRunner> g_runner;

// Runs on a thread of the console's: it may only post to the runner.
BOOL WINAPI onConsoleControl(DWORD)
{
    g_interrupted = true;
    if (g_runner)
        QMetaObject::invokeMethod(g_runner.data(), &oe::CliRunner::interrupt, Qt::QueuedConnection);
    return TRUE;
}

QByteArray readAnswer()
{
    char line[256] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return {};
    return QByteArray(line);
}
#else
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    g_interrupted = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Byte by byte from the descriptor, so that Ctrl+C (no SA_RESTART) breaks the wait.
QByteArray readAnswer()
{
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR && !g_interrupted)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    return line;
}
#endif

// The question goes to stderr, the answer comes from stdin as typed (the runner judges it in the
// language of the run); nothing when Ctrl+C came while waiting.
std::optional<QByteArray> ask(const QString &prompt)
{
    oe::ConsoleDevice console(oe::ConsoleDevice::Stream::Err);
    QTextStream(&console) << prompt << ' ' << Qt::flush;
    const QByteArray answer = readAnswer();
    if (g_interrupted)
        return std::nullopt;
    return answer;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oe-cli"));

    const oe::CliParseResult parsed = oe::parseCliArguments(app.arguments().mid(1));
    if (!parsed.ok) {
        oe::printError(QStringLiteral("oe-cli: %1\nTry oe-cli --help.").arg(parsed.error));
        return int(oe::CliExit::Usage);
    }
    if (parsed.options.command == oe::CliOptions::Command::Help) {
        oe::ConsoleDevice console(oe::ConsoleDevice::Stream::Out);
        QTextStream(&console) << oe::cliUsage() << Qt::flush;
        return 0;
    }

    oe::CliOptions options = parsed.options;
    const QString folder = options.folder.isEmpty() ? QCoreApplication::applicationDirPath() : options.folder;
    QString error;
    if (!QFileInfo(folder).isDir())
        error = QStringLiteral("--folder %1: no such folder").arg(folder);
    if (!error.isEmpty() || !oe::applyConfiguredPort(&options, folder, &error)) {
        oe::printError(QStringLiteral("oe-cli: %1\nTry oe-cli --help.").arg(error));
        return int(oe::CliExit::Usage);
    }
    oe::CliRunner runner(options, folder, ask);
#ifdef Q_OS_WIN
    g_runner = &runner;
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
#else
    // Ctrl+C reaches the event loop through a socket pair; without SA_RESTART it also breaks a
    // waiting read of the answer to a question.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        std::perror("oe-cli: socketpair");
        return int(oe::CliExit::Usage);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &runner, [&runner] {
        char sink[16];
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], sink, sizeof sink);
        runner.interrupt();
    });
#endif
    QObject::connect(&runner, &oe::CliRunner::finished, &app, [](int code) { QCoreApplication::exit(code); });
    QMetaObject::invokeMethod(&runner, &oe::CliRunner::start, Qt::QueuedConnection);
    return app.exec();
}
