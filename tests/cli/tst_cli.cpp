// oe-cli as a script runs it, against the simulated controller on a pty.
#include "mapfile.h"
#include "simfaults.h"
#include "simfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>

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
    Cli(SimFixture &fx, const QStringList &arguments)
    {
        m_process.setProgram(QStringLiteral(OE_CLI_EXE));
        m_process.setArguments(QStringList{QStringLiteral("-p"), fx.portPath(), QStringLiteral("--lang"),
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
    void watchSaysWhenTheControllerFallsSilent();
    void interruptReportsWhatWentOut();
};

void TestCli::saveThenLoadEditedFile()
{
    SimFixture fx;
    QVERIFY2(fx.isReady(), qPrintable(fx.errorString()));
    const QString saved = fx.programFolder() + QStringLiteral("/bench.map");
    const Run save = runCli(fx, {QStringLiteral("save"), saved});
    QVERIFY2(save.exitCode == 0, qPrintable(save.err));
    MapReadResult map = readMapFile(saved);
    QVERIFY(map.ok);
    for (int i = 0; i < kMapValueCount; ++i)
        QCOMPARE(map.values[size_t(i)], qint32(fx.sim().parameter(i)));

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
    QVERIFY2(load.err.contains(QLatin1String("load 16/16")), qPrintable(load.err)); // progress on stderr
}

void TestCli::invalidFileSendsNothing()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    const QString path = fx.programFolder() + QStringLiteral("/bad.map");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("MinPumpCycles=5\r\nMaxPumpCycles=15\r\nRpmMin=600\r\nTinjMin=abc\r\nTinjMax=9000\r\n"
               "MinLoadPumpPause=160\r\nMaxLoadPumpPause=80\r\nRpmMultiplier=100\r\n");
    file.close();
    const Run run = runCli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes")});
    QCOMPARE(run.exitCode, 4);
    QVERIFY2(run.err.contains(QLatin1String("4")), qPrintable(run.err)); // the line is named
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
    const Run run = runCli(fx, {QStringLiteral("load"), path, QStringLiteral("--yes")});
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
    const Run run = runCli(fx, {QStringLiteral("info"), QStringLiteral("-p"), fx.programFolder() + QStringLiteral("/no-tty")});
    QCOMPARE(run.exitCode, 2); // not 3: the controller was never asked
    QVERIFY2(run.err.contains(QLatin1String("the device does not exist")), qPrintable(run.err));
    QVERIFY2(run.err.startsWith(QLatin1String("connecting to ")), qPrintable(run.err));
    // oe-cli's own words follow the language like the captions.
    const Run italian = runCli(fx, {QStringLiteral("--lang"), QStringLiteral("ITA"), QStringLiteral("info"),
                                    QStringLiteral("-p"), fx.programFolder() + QStringLiteral("/no-tty")});
    QCOMPARE(italian.exitCode, 2);
    QVERIFY2(italian.err.startsWith(QStringLiteral("connessione a ")), qPrintable(italian.err));
    QVERIFY2(italian.err.contains(QStringLiteral("non esiste")), qPrintable(italian.err));
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
    QVERIFY2(out.contains("\nRPM 1500  TINJ 5250  PUMP "), out.constData());
    QVERIFY2(lines.last().startsWith("--- The controller does not answer"), out.constData());
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
    QString err;
    QVERIFY(QTest::qWaitFor([&] {
        err += QString::fromUtf8(cli.process().readAllStandardError());
        return err.contains(QLatin1String("load 4/16")) || cli.process().state() == QProcess::NotRunning;
    }, 30000));
    ::kill(pid_t(cli.process().processId()), SIGINT);
    const Run run = cli.finish();
    err += run.err;
    QCOMPARE(run.exitCode, 6);
    // The three writes before the one on the wire went through; the last four never left.
    QVERIFY2(err.contains(QLatin1String("  sent: write MinPumpCycles=6, write MaxPumpCycles=16, write RpmMin=650")),
             qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("sent, its answer not awaited: write ")), qPrintable(err));
    QVERIFY2(err.contains(QLatin1String("read RpmMultiplier")), qPrintable(err)); // among the not sent
    QCOMPARE(fx.sim().parameter(0), quint16(6));
    QCOMPARE(fx.sim().parameter(7), quint16(100)); // never written
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
