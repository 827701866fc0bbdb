// oe-cli as a script runs it, against the simulated controller on a pty.
#include "mapfile.h"
#include "simfaults.h"
#include "simfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace oe;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// Starts oe-cli on the fixture's pty; the controller answers only while this thread spins its event
// loop, so the wait must not block it.
class Cli
{
public:
    // The fixture's folder is the program folder: backups and logs stay in it.
    Cli(SimFixture &fx, const QStringList &arguments)
        : Cli(fx.programFolder(), QStringList{QStringLiteral("-p"), fx.portPath()} + arguments)
    {
    }
    Cli(const QString &folder, const QStringList &arguments)
    {
        m_process.setProgram(QStringLiteral(OE_CLI_EXE));
        m_process.setArguments(QStringList{QStringLiteral("--folder"), folder, QStringLiteral("--lang"),
                                           QStringLiteral("ENG")} + arguments);
        m_process.start();
    }
    QProcess &process() { return m_process; }
    Run finish()
    {
        Run run;
        if (!QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 60000))
            return run;
        run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
        run.out = m_process.readAllStandardOutput();
        run.err = QString::fromUtf8(m_process.readAllStandardError());
        return run;
    }

private:
    QProcess m_process;
};

Run runCli(SimFixture &fx, const QStringList &arguments)
{
    Cli cli(fx, arguments);
    return cli.finish();
}

QString writeMap(const QString &folder, const QString &name, const MapValues &values)
{
    const QString path = folder + QLatin1Char('/') + name;
    QString error;
    return writeMapFile(path, values, &error) ? path : QString();
}

MapValues simValues(SimFixture &fx)
{
    MapValues values{};
    for (int i = 0; i < kMapValueCount; ++i)
        values[size_t(i)] = fx.sim().parameter(i);
    return values;
}

int writeFrames(SimFixture &fx)
{
    int writes = 0;
    for (const SimRequest &request : fx.requests())
        writes += request.frame.size() > 2 && quint8(request.frame[2]) == 2 ? 1 : 0;
    return writes;
}

// Reads the process's output as it comes, until the text holds the piece or the process ends.
bool waitFor(QProcess &process, QByteArray *out, QString *err, const QString &piece)
{
    return QTest::qWaitFor([&] {
        *out += process.readAllStandardOutput();
        *err += QString::fromUtf8(process.readAllStandardError());
        return QString::fromUtf8(*out).contains(piece) || err->contains(piece) || process.state() == QProcess::NotRunning;
    }, 30000) && process.state() != QProcess::NotRunning;
}

QList<QJsonObject> jsonLines(const QByteArray &bytes)
{
    QList<QJsonObject> lines;
    for (const QByteArray &line : bytes.trimmed().split('\n'))
        lines << QJsonDocument::fromJson(line).object();
    return lines;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void saveThenLoadEditedFile();
    void invalidFileSendsNothing();
    void clampingControllerFailsReadBack();
    void silentController();
    void portThatCannotBeOpened();
    void permissionAdvice_data();
    void permissionAdvice();
    void watchSaysWhenTheControllerFallsSilent();
    void interruptReportsWhatWentOut();
    void verifyWritesNothing_data();
    void verifyWritesNothing();
    void backupThenLoadRestores();
    void setStopsAtARefusedPartner();
    void programCountsWhatWasEchoed_data();
    void programCountsWhatWasEchoed();
    void programLogFailures();
    void programWaitOutlastsAHiccup();
    void programOnTwoPorts();
    void programWaitsForTheNextController();
    void interruptTwoPortProgram();
};

void TestCli::saveThenLoadEditedFile()
{
    SimFixture fx;
    QVERIFY2(fx.isReady(), qPrintable(fx.errorString()));
    // Values beyond the sliders are what the controller holds: saved as held.
    fx.sim().setParameter(7, 250);
    fx.sim().setParameter(4, 65535);
    const QString saved = fx.programFolder() + QStringLiteral("/bench.map");
    const Run save = runCli(fx, {QStringLiteral("save"), saved, QStringLiteral("--note"), QStringLiteral("Monster 900, Rossi")});
    QVERIFY2(save.exitCode == 0, qPrintable(save.err));
    MapReadResult map = readMapFile(saved);
    QVERIFY(map.ok);
    // Where it came from: the firmware the controller told, and the note as given.
    QVERIFY2(!map.origin.firmware.isEmpty() && !map.origin.saved.isEmpty(), qPrintable(map.origin.firmware));
    QCOMPARE(map.origin.note, QStringLiteral("Monster 900, Rossi"));
    for (int i = 0; i < kMapValueCount; ++i)
        QCOMPARE(map.values[size_t(i)], qint32(fx.sim().parameter(i)));
    QCOMPARE(map.values[7], 250);
    // Every value printed or saved was told twice alike, and so was the identification.
    QCOMPARE(fx.requests().size(), 2 + 8 + 8);

    // The controller holds the file already: nothing is asked, nothing written.
    const qsizetype before = fx.requests().size();
    const Run same = runCli(fx, {QStringLiteral("load"), saved});
    QVERIFY2(same.exitCode == 0 && same.out.contains("already matches"), qPrintable(same.out + same.err));
    QVERIFY(std::none_of(fx.requests().cbegin() + before, fx.requests().cend(),
                         [](const SimRequest &r) { return r.frame.startsWith(QByteArray("PC\x02", 3)); }));

    map.values[3] = 2000; // TinjMin
    map.values[4] = 12000; // TinjMax
    const QString edited = fx.programFolder() + QStringLiteral("/edited.map");
    QString error;
    QVERIFY2(writeMapFile(edited, map.values, &error), qPrintable(error));
    const Run load = runCli(fx, {QStringLiteral("load"), edited, QStringLiteral("--yes"), QStringLiteral("--json")});
    QVERIFY2(load.exitCode == 0, qPrintable(load.err));
    for (int i = 0; i < kMapValueCount; ++i)
        QCOMPARE(qint32(fx.sim().parameter(i)), map.values[size_t(i)]);

    QJsonParseError parseError;
    const QJsonObject doc = QJsonDocument::fromJson(load.out, &parseError).object();
    QVERIFY2(parseError.error == QJsonParseError::NoError, qPrintable(parseError.errorString()));
    QCOMPARE(doc.value(QLatin1String("exitCode")).toInt(-1), 0);
    const QJsonArray changes = doc.value(QLatin1String("changes")).toArray();
    QCOMPARE(changes.size(), 2);
    QCOMPARE(changes[1].toObject().value(QLatin1String("name")).toString(), QStringLiteral("TinjMax"));
    QCOMPARE(changes[1].toObject().value(QLatin1String("to")).toInt(), 12000);
    // Only the two values that differ are written, each echoed with its value, then read back.
    QVERIFY2(load.err.contains(QLatin1String("load 2/2: write TinjMax=12000")), qPrintable(load.err)); // progress on stderr
    QCOMPARE(doc.value(QLatin1String("written")).toInt(), 2);
    QCOMPARE(doc.value(QLatin1String("notSent")).toInt(), 0);
    const auto writes = std::count_if(fx.requests().cbegin(), fx.requests().cend(),
                                      [](const SimRequest &r) { return r.frame.startsWith(QByteArray("PC\x02", 3)); });
    QCOMPARE(writes, 2);
}

void TestCli::invalidFileSendsNothing()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    const QString path = fx.programFolder() + QStringLiteral("/bad.map");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("MinPumpCycles=5\r\nMaxPumpCycles=15\r\nRpmMin=600\r\nTinjMin=8OO\r\nTinjMax=9000\r\n"
               "MinLoadPumpPause=160\r\nMaxLoadPumpPause=80\r\nRpmMultiplier=100\r\n");
    file.close();
    const Run run = runCli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes")});
    QCOMPARE(run.exitCode, 4);
    QVERIFY2(run.err.contains(QLatin1String("4")) && run.err.contains(QLatin1String("8OO")), qPrintable(run.err)); // the line and the text
    QCOMPARE(fx.requests().size(), 0);
    // The same rule and status for set.
    const Run set = runCli(fx, {QStringLiteral("set"), QStringLiteral("RpmMin=7OO")});
    QCOMPARE(set.exitCode, 4);
    QVERIFY2(set.err.contains(QLatin1String("'7OO' is not a number")), qPrintable(set.err));
    QCOMPARE(fx.requests().size(), 0);
}

void TestCli::clampingControllerFailsReadBack()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    SimFaults faults;
    faults.echoClamp = true;
    fx.sim().setFaults(faults);
    MapValues values{5, 15, 600, 1500, 31000, 160, 80, 100}; // TinjMax past the slider's 30000
    const QString path = fx.programFolder() + QStringLiteral("/wide.map");
    QString error;
    QVERIFY(writeMapFile(path, values, &error));
    const Run refused = runCli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes")});
    QCOMPARE(refused.exitCode, 4); // beyond the slider: refused unless allowed
    QVERIFY2(refused.err.contains(QLatin1String("TinjMax 31000: beyond the slider's 30000")), qPrintable(refused.err));
    const Run run = runCli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes"), QStringLiteral("--allow-outside-range")});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains(QLatin1String("TinjMax")), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("TinjMin:")), qPrintable(run.err)); // only the one that differs
    QCOMPARE(fx.sim().parameter(4), quint16(30000));
}

void TestCli::silentController()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    SimFaults faults;
    faults.silent = true;
    fx.sim().setFaults(faults);
    const Run run = runCli(fx, {QStringLiteral("info")});
    QCOMPARE(run.exitCode, 3);
    QCOMPARE(run.out, QByteArray()); // nothing on stdout but results
    QCOMPARE(fx.requests().size(), 3); // the identification, tried three times, once each
}

void TestCli::portThatCannotBeOpened()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    Cli cli(fx.programFolder(), {QStringLiteral("info"), QStringLiteral("-p"), fx.programFolder() + QStringLiteral("/no-tty")});
    const Run run = cli.finish();
    QCOMPARE(run.exitCode, 2); // not 3: the controller was never asked
    QVERIFY2(run.err.contains(QLatin1String("the device does not exist")), qPrintable(run.err));
    QVERIFY2(run.err.startsWith(QLatin1String("connecting to ")), qPrintable(run.err));
    // oe-cli's own words follow the language like the captions.
    const Run italian = Cli(fx.programFolder(), {QStringLiteral("--lang"), QStringLiteral("ITA"), QStringLiteral("info"),
                                                 QStringLiteral("-p"), fx.programFolder() + QStringLiteral("/no-tty")})
                            .finish();
    QCOMPARE(italian.exitCode, 2);
    QVERIFY2(italian.err.startsWith(QStringLiteral("connessione a ")), qPrintable(italian.err));
    QVERIFY2(italian.err.contains(QStringLiteral("non esiste")), qPrintable(italian.err));
}

void TestCli::permissionAdvice_data()
{
    // FILE is a file this user may not open, also linked as ports/COM3.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("unsaid");
    QTest::newRow("connect") << QStringList{QStringLiteral("-p"), QStringLiteral("COM3"), QStringLiteral("info")} << 2
                             << "could not be opened: no permission. Its device" << "dialout $USER";
    // The list may hold other devices the group opens: only what it says of COM3 is asked.
    QTest::newRow("ports") << QStringList{QStringLiteral("ports")} << 0 << "no permission on COM3: " << QString();
    QTest::newRow("map file") << QStringList{QStringLiteral("-p"), QStringLiteral("COM3"), QStringLiteral("load"), QStringLiteral("FILE")}
                              << 4 << "ttyTEST: Access to the file or its folder is denied." << "dialout";
}

// The dialout group's advice is given only where joining the group opens the device; a device of
// another user says whose it is, a file says what it is.
void TestCli::permissionAdvice()
{
#ifdef Q_OS_UNIX
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QFETCH(QString, unsaid);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("ports")));
    const QString device = dir.filePath(QStringLiteral("ttyTEST"));
    QFile file(device);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    // As root the run drops to nobody, for whom root's mode-600 file is closed; anyone else is refused
    // a file of their own with mode 000.
    const bool root = ::geteuid() == 0;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    QVERIFY(::chmod(QFile::encodeName(device).constData(), root ? 0600 : 0) == 0);
    QVERIFY(QFile::link(device, dir.filePath(QStringLiteral("ports/COM3"))));
    QProcess process;
    process.setProgram(QStringLiteral(OE_CLI_EXE));
    arguments.replaceInStrings(QStringLiteral("FILE"), device);
    process.setArguments(QStringList{QStringLiteral("--folder"), dir.path(), QStringLiteral("--lang"), QStringLiteral("ENG")}
                         + arguments);
    if (root) {
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(99);
        });
    }
    process.start();
    QVERIFY(process.waitForFinished(30000));
    const QString output = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(output.contains(said), qPrintable(output));
    QVERIFY2(unsaid.isEmpty() || !output.contains(unsaid), qPrintable(output));
#else
    QSKIP("device owners and modes are a Unix matter");
#endif
}

void TestCli::watchSaysWhenTheControllerFallsSilent()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setEngineOverride(EngineReading{1500, 5250});
    Cli cli(fx, {QStringLiteral("watch"), QStringLiteral("--seconds"), QStringLiteral("6")});
    QByteArray out;
    QVERIFY(QTest::qWaitFor([&] {
        out += cli.process().readAllStandardOutput();
        return out.contains("PUMP") || cli.process().state() == QProcess::NotRunning;
    }, 30000));
    SimFaults faults;
    faults.silent = true;
    fx.sim().setFaults(faults);
    const Run run = cli.finish();
    out += run.out;
    QCOMPARE(run.exitCode, 3);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    // The readings as the window shows them, then one "---" for the silence, said once.
    // Each line starts with its time.
    QVERIFY2(QRegularExpression(QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  RPM 1500  TINJ 5250  PUMP "))
                 .match(QString::fromUtf8(out)).hasMatch(), out.constData());
    QVERIFY2(lines.last().mid(12).startsWith("  --- The controller does not answer"), out.constData());
    QCOMPARE(out.count("---"), 1);
}

void TestCli::interruptReportsWhatWentOut()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.setPace(9600);
    MapValues values{6, 16, 650, 1550, 9050, 170, 90, 110};
    const QString path = fx.programFolder() + QStringLiteral("/next.map");
    QString error;
    QVERIFY(writeMapFile(path, values, &error));
    Cli cli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes")});
    QByteArray out;
    QString err;
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("load 4/8")), qPrintable(err));
    ::kill(pid_t(cli.process().processId()), SIGINT);
    const Run run = cli.finish();
    err += run.err;
    QCOMPARE(run.exitCode, 6);
    // The three writes before the one on the wire were echoed; the one out is unanswered, the last
    // never left.
    QVERIFY2(err.contains(QLatin1String("  written: MinPumpCycles=6, MaxPumpCycles=16, RpmMin=650")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("; unanswered: ")), qPrintable(err));
    QVERIFY2(err.section(QLatin1String("not sent: "), 1).contains(QLatin1String("RpmMultiplier=110")), qPrintable(err));
    QCOMPARE(fx.sim().parameter(0), quint16(6));
    QCOMPARE(fx.sim().parameter(7), quint16(100)); // never written
}

void TestCli::verifyWritesNothing_data()
{
    QTest::addColumn<int>("changed"); // the index the file holds another value for; -1 none
    QTest::addColumn<int>("exitCode");
    QTest::newRow("match") << -1 << 0;
    QTest::newRow("differ") << 4 << 5;
}

void TestCli::verifyWritesNothing()
{
    QFETCH(int, changed);
    QFETCH(int, exitCode);
    SimFixture fx;
    QVERIFY(fx.isReady());
    MapValues values = simValues(fx);
    if (changed >= 0)
        values[size_t(changed)] += 50;
    const QString path = writeMap(fx.programFolder(), QStringLiteral("check.map"), values);
    const Run run = runCli(fx, {QStringLiteral("verify"), path, QStringLiteral("--json")});
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(writeFrames(fx), 0);
    const QJsonArray differences = QJsonDocument::fromJson(run.out).object().value(QLatin1String("differences")).toArray();
    QCOMPARE(differences.size(), changed >= 0 ? 1 : 0);
    if (changed >= 0) {
        QCOMPARE(differences[0].toObject().value(QLatin1String("name")).toString(), mapFileKey(changed));
        QCOMPARE(differences[0].toObject().value(QLatin1String("file")).toInt(), values[size_t(changed)]);
    }
}

void TestCli::backupThenLoadRestores()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    const MapValues original = simValues(fx);
    const Run backup = runCli(fx, {QStringLiteral("backup"), QStringLiteral("--json")});
    QCOMPARE(backup.exitCode, 0);
    const QString backupPath = QJsonDocument::fromJson(backup.out).object().value(QLatin1String("file")).toString();
    QVERIFY2(backupPath.startsWith(fx.programFolder() + QStringLiteral("/Maps/Backups/")) &&
                 backupPath.endsWith(QLatin1String("-1.3.7.map")), qPrintable(backupPath));

    const MapValues other{6, 16, 650, 1550, 9050, 170, 90, 110};
    const Run load = runCli(fx, {QStringLiteral("load"), writeMap(fx.programFolder(), QStringLiteral("other.map"), other),
                                 QStringLiteral("--yes")});
    QCOMPARE(load.exitCode, 0);
    QCOMPARE(simValues(fx), other);
    // The load backed up what it overwrote, and said where.
    const QString restorePoint = QString::fromUtf8(load.out).section(QStringLiteral("backup    "), 1).section(QLatin1Char('\n'), 0, 0);
    QVERIFY2(restorePoint.contains(QLatin1String("-before-load-")) && restorePoint.endsWith(QLatin1String("-1.3.7.map")),
             load.out.constData()); // the port and the firmware in its name
    const MapReadResult saved = readMapFile(restorePoint);
    QVERIFY(saved.ok);
    QCOMPARE(saved.values, original);

    const Run restore = runCli(fx, {QStringLiteral("load"), backupPath, QStringLiteral("--yes"), QStringLiteral("--no-backup")});
    QCOMPARE(restore.exitCode, 0);
    QCOMPARE(simValues(fx), original);
    QVERIFY(!restore.out.contains("backup "));
}

// The pair's order keeps it in order after each write: a refused upper bound stops the run before its
// lower bound is sent, so nothing is held to a value nobody named.
void TestCli::setStopsAtARefusedPartner()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setParameter(3, 1000);
    fx.sim().setParameter(4, 5000);
    SimFaults faults;
    faults.refuseWriteMask = 1 << 4; // TinjMax
    fx.sim().setFaults(faults);
    const Run run = runCli(fx, {QStringLiteral("set"), QStringLiteral("TinjMin=8000"), QStringLiteral("TinjMax=9000"),
                                QStringLiteral("--json")});
    QCOMPARE(run.exitCode, 5);
    QCOMPARE(fx.sim().parameter(3), quint16(1000));
    QCOMPARE(fx.sim().parameter(4), quint16(5000));
    for (const SimRequest &request : fx.requests())
        QVERIFY(!request.frame.startsWith(QByteArray("PC\x02\x03", 4))); // TinjMin never written
    QVERIFY2(run.err.contains(QLatin1String("refused: TinjMax=9000 (holds 5000); not sent: TinjMin=8000")), qPrintable(run.err));
    const QJsonObject doc = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(doc.value(QLatin1String("written")).toInt(), 0);
    QCOMPARE(doc.value(QLatin1String("refused")).toInt(), 1);
    QCOMPARE(doc.value(QLatin1String("notSent")).toInt(), 1);
    // Judged together with what the controller holds: a pair that would cross is refused unsent.
    const int writesBefore = writeFrames(fx);
    const Run crossed = runCli(fx, {QStringLiteral("set"), QStringLiteral("TinjMin=6000")});
    QCOMPARE(crossed.exitCode, 4);
    QVERIFY2(crossed.err.contains(QLatin1String("TinjMin=6000, TinjMax=5000 (held)")), qPrintable(crossed.err));
    QCOMPARE(writeFrames(fx), writesBefore);
}

void TestCli::programCountsWhatWasEchoed_data()
{
    QTest::addColumn<bool>("unplugAfterThree"); // else the controller refuses every write
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QList<int>>("counts"); // written, refused, unanswered, not sent
    QTest::newRow("refusing writes") << false << 5 << "refused" << QList<int>{0, 1, 0, 7};
    QTest::newRow("unplugged mid-run") << true << 3 << "unanswered" << QList<int>{3, 0, 1, 4};
}

// written means echoed with the value sent; the summary, the log and the exit status follow.
void TestCli::programCountsWhatWasEchoed()
{
    QFETCH(bool, unplugAfterThree);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    QFETCH(QList<int>, counts);
    SimFixture fx;
    QVERIFY(fx.isReady());
    SimFaults faults;
    faults.refuseWriteMask = unplugAfterThree ? 0 : 255;
    fx.sim().setFaults(faults);
    const QString log = fx.programFolder() + QStringLiteral("/line.log");
    Cli cli(fx, {QStringLiteral("program"),
                 writeMap(fx.programFolder(), QStringLiteral("line.map"), {6, 16, 650, 1550, 9050, 170, 90, 110}),
                 QStringLiteral("--log"), log});
    if (unplugAfterThree) {
        QVERIFY(QTest::qWaitFor([&] { return writeFrames(fx) >= 3 || cli.process().state() == QProcess::NotRunning; }, 30000));
        fx.sim().unplug();
    }
    const Run run = cli.finish();
    QCOMPARE(run.exitCode, exitCode);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QJsonObject> lines = jsonLines(file.readAll());
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines[0].value(QLatin1String("verdict")).toString(), verdict);
    const QStringList keys{"written", "refused", "unanswered", "notSent"};
    for (int i = 0; i < keys.size(); ++i)
        QCOMPARE(lines[0].value(keys[i]).toArray().size(), counts[i]);
    QVERIFY2(run.out.contains(QStringLiteral("written %1/8").arg(counts[0]).toUtf8()), run.out.constData());
}

// A unit programmed without its record fails with a code of its own; a cut line does not swallow the
// next one.
void TestCli::programLogFailures()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    const QString map = writeMap(fx.programFolder(), QStringLiteral("line.map"), {6, 16, 650, 1550, 9050, 170, 90, 110});
    const Run full = runCli(fx, {QStringLiteral("program"), map, QStringLiteral("--log"), QStringLiteral("/dev/full"),
                                 QStringLiteral("--json")});
    QCOMPARE(full.exitCode, 7);
    QVERIFY2(full.err.contains(QLatin1String("#1 is not in the log /dev/full")), qPrintable(full.err));
    QVERIFY(jsonLines(full.out).last().value(QLatin1String("log_error")).toString().contains(QLatin1String("/dev/full")));

    // A line a full disk cut short: the next starts on its own line.
    const QString log = fx.programFolder() + QStringLiteral("/line.log");
    QFile cut(log);
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write("{\"time\":\"2026");
    cut.close();
    fx.sim().setParameter(0, 5);
    const Run next = runCli(fx, {QStringLiteral("program"), map, QStringLiteral("--log"), log});
    QCOMPARE(next.exitCode, 0);
    QVERIFY(cut.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = cut.readAll().split('\n');
    QCOMPARE(lines.size(), 3); // the cut line, the unit's, and nothing after the last newline
    QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value(QLatin1String("verdict")).toString(), QStringLiteral("programmed"));
}

// One status unanswered in its tries is a hiccup, not an unplugged unit: the same controller is not
// counted twice.
void TestCli::programWaitOutlastsAHiccup()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    Cli cli(fx, {QStringLiteral("program"), writeMap(fx.programFolder(), QStringLiteral("line.map"), {6, 16, 650, 1550, 9050, 170, 90, 110}),
                 QStringLiteral("--wait"), QStringLiteral("--json")});
    QByteArray out;
    QString err;
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("unplug this controller")), qPrintable(err));
    SimFaults faults;
    faults.silent = true;
    fx.sim().setFaults(faults);
    QTest::qWait(2000);
    fx.sim().setFaults(SimFaults{});
    QTest::qWait(2500);
    QVERIFY(cli.process().state() == QProcess::Running);
    ::kill(pid_t(cli.process().processId()), SIGINT);
    const Run run = cli.finish();
    out += run.out;
    err += run.err;
    QVERIFY2(!err.contains(QLatin1String("gone")), qPrintable(err));
    const QList<QJsonObject> lines = jsonLines(out);
    QCOMPARE(lines.size(), 2); // one controller, then the run's own line
    QCOMPARE(lines[1].value(QLatin1String("programmed")).toInt(), 1);
}

void TestCli::programOnTwoPorts()
{
    SimFixture com3(3), com4(4);
    QVERIFY(com3.isReady() && com4.isReady());
    com4.sim().setParameter(2, 700); // a controller holding another RpmMin
    const MapValues map{6, 16, 650, 1550, 9050, 170, 90, 110};
    const QString folder = com3.programFolder();
    const QString log = folder + QStringLiteral("/line.log");
    Cli cli(folder, {QStringLiteral("program"), writeMap(folder, QStringLiteral("line.map"), map), QStringLiteral("-p"),
                     com3.portPath(), QStringLiteral("-p"), com4.portPath(), QStringLiteral("--log"), log});
    const Run run = cli.finish();
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(simValues(com3), map);
    QCOMPARE(simValues(com4), map);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<QJsonObject> lines = jsonLines(file.readAll());
    QCOMPARE(lines.size(), 2);
    std::sort(lines.begin(), lines.end(), [](const QJsonObject &a, const QJsonObject &b) {
        return a.value(QLatin1String("port")).toString().right(4) < b.value(QLatin1String("port")).toString().right(4);
    });
    for (int i = 0; i < 2; ++i) {
        const QJsonObject &line = lines[i];
        QCOMPARE(line.value(QLatin1String("port")).toString(), (i == 0 ? com3 : com4).portPath());
        QCOMPARE(line.value(QLatin1String("verdict")).toString(), QStringLiteral("programmed"));
        QCOMPARE(line.value(QLatin1String("firmware")).toString(), QStringLiteral("1.3.7"));
        QCOMPARE(line.value(QLatin1String("after")).toObject().value(QLatin1String("RpmMin")).toInt(), 650);
        const QJsonObject confirmed = line.value(QLatin1String("confirmed")).toObject();
        QCOMPARE(confirmed.size(), kMapValueCount);
        for (auto it = confirmed.begin(); it != confirmed.end(); ++it)
            QVERIFY2(it.value().toBool(), qPrintable(it.key()));
        QVERIFY(QFile::exists(line.value(QLatin1String("backup")).toString()));
    }
    QCOMPARE(lines[1].value(QLatin1String("before")).toObject().value(QLatin1String("RpmMin")).toInt(), 700);
}

void TestCli::programWaitsForTheNextController()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    const MapValues map{6, 16, 650, 1550, 9050, 170, 90, 110};
    Cli cli(fx, {QStringLiteral("program"), writeMap(fx.programFolder(), QStringLiteral("line.map"), map),
                 QStringLiteral("--wait"), QStringLiteral("--json")});
    QByteArray out;
    QString err;
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("unplug this controller")), qPrintable(err));
    QCOMPARE(simValues(fx), map);

    fx.sim().unplug();
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("the controller is gone")), qPrintable(err));
    SimParameters next = defaultSimParameters();
    next[simparam::TinjMax] = 20000;
    fx.sim().plugIn(next, {2, 0, 1});
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("#2 programmed")), qPrintable(err));
    ::kill(pid_t(cli.process().processId()), SIGINT);
    const Run run = cli.finish();
    out += run.out;
    QCOMPARE(run.exitCode, 6);
    QCOMPARE(simValues(fx), map);
    const QList<QJsonObject> lines = jsonLines(out);
    QCOMPARE(lines.size(), 3); // two controllers, then the run's own line
    QCOMPARE(lines[1].value(QLatin1String("unit")).toInt(), 2);
    QCOMPARE(lines[1].value(QLatin1String("firmware")).toString(), QStringLiteral("2.0.1"));
    QCOMPARE(lines[1].value(QLatin1String("before")).toObject().value(QLatin1String("TinjMax")).toInt(), 20000);
    QCOMPARE(lines[2].value(QLatin1String("programmed")).toInt(), 2);
    QCOMPARE(lines[2].value(QLatin1String("exitCode")).toInt(), 6);
}

void TestCli::interruptTwoPortProgram()
{
    SimFixture com3(3), com4(4);
    QVERIFY(com3.isReady() && com4.isReady());
    com3.setPace(9600);
    com4.setPace(9600);
    const MapValues map{6, 16, 650, 1550, 9050, 170, 90, 110};
    const QString folder = com3.programFolder();
    Cli cli(folder, {QStringLiteral("program"), writeMap(folder, QStringLiteral("line.map"), map), QStringLiteral("-p"),
                     com3.portPath(), QStringLiteral("-p"), com4.portPath()});
    QByteArray out;
    QString err;
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("COM4: writing")), qPrintable(err));
    QVERIFY2(waitFor(cli.process(), &out, &err, QStringLiteral("COM3: writing")), qPrintable(err));
    ::kill(pid_t(cli.process().processId()), SIGINT);
    const Run run = cli.finish();
    err += run.err;
    QCOMPARE(run.exitCode, 6);
    // Both finished the write they were in, read back and compared: no controller is left half written.
    QCOMPARE(simValues(com3), map);
    QCOMPARE(simValues(com4), map);
    QVERIFY2(err.contains(QLatin1String("COM3: stopped after its controller was programmed")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("COM4: stopped after its controller was programmed")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("programmed 2, failed 0, interrupted 0")), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
