// The oe-sim program as a user runs it: a link in the program folder, replies over it, and the link
// gone after SIGTERM.

#include "ptyclient.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kPatienceMs = 10000;

bool waitForLink(const QString &path, QProcess &process)
{
    QDeadlineTimer deadline(kPatienceMs);
    while (!deadline.hasExpired()) {
        if (QFileInfo(path).exists())
            return true;
        if (process.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(20);
    }
    return false;
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void servesPortAndRemovesLink();
    void portFromConfig();
    void refusesLiveLink();
    void servesAgainAfterClientKilled();
    void rejectsBadFault();
    void helpListsFaults();
};

void TestSimProgram::servesPortAndRemovesLink()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--folder"), dir.path(), QStringLiteral("--port"),
                                           QStringLiteral("COM3"), QStringLiteral("--verbose")});
    const QString link = dir.path() + QStringLiteral("/ports/COM3");
    QVERIFY2(waitForLink(link, sim), sim.readAllStandardError().constData());
    {
        PtyClient client(link);
        QVERIFY(client.isOpen());
        QVERIFY(client.write(QByteArray::fromHex("50430400000000")));
        QCOMPARE(client.read(kPatienceMs, 6).toHex(' '), QByteArray("43 55 04 01 03 07"));
    }
    sim.terminate();
    QVERIFY(sim.waitForFinished(kPatienceMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    const QString out = QString::fromLocal8Bit(sim.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral("/dev/pts/")), qPrintable(out));
    const QString log = QString::fromLocal8Bit(sim.readAllStandardError());
    QVERIFY2(log.contains(QStringLiteral("<- 50 43 04 00 00 00 00")), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral("-> 43 55 04 01 03 07")), qPrintable(log));
}

void TestSimProgram::portFromConfig()
{
    QTemporaryDir dir;
    writeFile(dir.filePath(QStringLiteral("config.ini")), "COM=07\r\nLanguage=ENG\r\n");
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--folder"), dir.path()});
    QVERIFY(waitForLink(dir.path() + QStringLiteral("/ports/COM7"), sim));
    QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/ports/COM1")));
    sim.terminate();
    QVERIFY(sim.waitForFinished(kPatienceMs));
    QVERIFY(!QFileInfo(dir.path() + QStringLiteral("/ports/COM7")).isSymLink());
}

void TestSimProgram::refusesLiveLink()
{
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("ports"))));
    const QString link = dir.filePath(QStringLiteral("ports/COM2"));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));  // stands for a real adapter
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--folder"), dir.path(), QStringLiteral("--port"),
                                           QStringLiteral("2")});
    QVERIFY(sim.waitForFinished(kPatienceMs));
    QCOMPARE(sim.exitCode(), 1);
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
}

void TestSimProgram::servesAgainAfterClientKilled()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--folder"), dir.path(), QStringLiteral("--port"),
                                           QStringLiteral("COM5")});
    const QString link = dir.path() + QStringLiteral("/ports/COM5");
    QVERIFY(waitForLink(link, sim));
    // A client that marks the line for exclusive use, as the program's serial port does, and dies
    // without unmarking it.
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t client = ::fork();
    if (client == 0) {
        const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY);
        ::ioctl(fd, TIOCEXCL);
        [[maybe_unused]] const ssize_t n = ::write(ready[1], "x", 1);
        ::pause();
        ::_exit(0);
    }
    char byte;
    QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(client, SIGKILL);
    QCOMPARE(::waitpid(client, nullptr, 0), client);

    // Root may open a marked line anyway, so ask the line itself whether the mark is gone.
    const auto marked = [&link] {
        const int fd = ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int exclusive = -1;
        if (fd >= 0) {
            ::ioctl(fd, TIOCGEXCL, &exclusive);
            ::close(fd);
        }
        return exclusive;
    };
    QTRY_COMPARE_WITH_TIMEOUT(marked(), 0, kPatienceMs);
    PtyClient again(link);
    QVERIFY(again.isOpen());
    QVERIFY(again.write(QByteArray::fromHex("50430400000000")));
    QCOMPARE(again.read(kPatienceMs, 6).toHex(' '), QByteArray("43 55 04 01 03 07"));
    sim.terminate();
    QVERIFY(sim.waitForFinished(kPatienceMs));
}

void TestSimProgram::rejectsBadFault()
{
    QTemporaryDir dir;
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--folder"), dir.path(), QStringLiteral("--fault"),
                                           QStringLiteral("delay=soon")});
    QVERIFY(sim.waitForFinished(kPatienceMs));
    QCOMPARE(sim.exitCode(), 2);
    QVERIFY(sim.readAllStandardError().contains("delay"));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("ports"))));
}

void TestSimProgram::helpListsFaults()
{
    QProcess sim;
    sim.start(QStringLiteral(OE_SIM_EXE), {QStringLiteral("--help")});
    QVERIFY(sim.waitForFinished(kPatienceMs));
    const QString help = QString::fromLocal8Bit(sim.readAllStandardOutput());
    for (const char *name : {"silent", "delay=", "drop=", "wrong-header", "short", "unknown-code",
                             "garbage-before", "garbage-after", "echo-clamp", "split", "late", "hangup=",
                             "--port", "--folder", "--verbose", "--fault", "--pace"})
        QVERIFY2(help.contains(QLatin1String(name)), name);
}

QTEST_GUILESS_MAIN(TestSimProgram)
#include "tst_simprogram.moc"
