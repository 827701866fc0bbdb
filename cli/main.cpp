#include "clioptions.h"
#include "clirunner.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_interrupted = 0;

void onSignal(int)
{
    g_interrupted = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// The question goes to stderr, the answer comes from stdin. Ctrl+C while waiting, the end of the
// input and anything but yes all answer no.
bool ask(const QString &question)
{
    std::fprintf(stderr, "%s [y/N] ", question.toLocal8Bit().constData());
    std::fflush(stderr);
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
    if (g_interrupted)
        return false;
    const QByteArray answer = line.trimmed().toLower();
    return answer == "y" || answer == "yes" || answer == "s" || answer == "si";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("oe-cli"));

    const oe::CliParseResult parsed = oe::parseCliArguments(app.arguments().mid(1));
    if (!parsed.ok) {
        std::fprintf(stderr, "oe-cli: %s\nTry oe-cli --help.\n", parsed.error.toLocal8Bit().constData());
        return int(oe::CliExit::Usage);
    }
    if (parsed.options.command == oe::CliOptions::Command::Help) {
        std::fputs(oe::cliUsage().toLocal8Bit().constData(), stdout);
        return 0;
    }

    // Ctrl+C reaches the event loop through a pipe; without SA_RESTART it also breaks a waiting read.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return int(oe::CliExit::Usage);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    oe::CliRunner runner(parsed.options, QCoreApplication::applicationDirPath(), ask);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &runner, [&runner] {
        char sink[16];
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], sink, sizeof sink);
        runner.interrupt();
    });
    QObject::connect(&runner, &oe::CliRunner::finished, &app, [](int code) { QCoreApplication::exit(code); });
    QMetaObject::invokeMethod(&runner, &oe::CliRunner::start, Qt::QueuedConnection);
    return app.exec();
}
