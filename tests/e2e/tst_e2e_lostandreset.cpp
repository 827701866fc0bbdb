// A line that goes away while connected, the reset with and without the controller's
// acknowledgement, a map load (whole, and cut by a hang-up), and closing the window during a wait,
// over a real pty.

#include "e2erig.h"
#include "mapfile.h"
#include "writeplan.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace oe;
using namespace e2e;

class TestE2eLostAndReset : public QObject
{
    Q_OBJECT
private slots:
    void hangUpWhileConnected();
    void resetAcknowledged();
    void resetNotAcknowledged();
    void closingDuringResetWaitEndsIt();
    void mapLoad_data();
    void mapLoad();
};

void TestE2eLostAndReset::hangUpWhileConnected()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    QVERIFY(rig.connect());
    QTRY_VERIFY_WITH_TIMEOUT(rig.w().readings().TimerPausaLampeggio->enabled(), kPatienceMs); // polling

    // The other end goes away. The port reports it in a tight loop unless the program closes it:
    // a second of the event loop after the hang-up must cost far less than a second of CPU.
    const double cpuBefore = cpuSeconds();
    rig.fx.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.shown.size(), 1, kPatienceMs);
    QTest::qWait(1000);
    const double cpu = cpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.5, qPrintable(QStringLiteral("%1 s of CPU").arg(cpu)));

    QCOMPARE(rig.dialogs.texts().size(), 1);
    QVERIFY(rig.dialogs.texts()[0].startsWith(rig.entry(39)));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    // The window waits for the port to come back, and DISCONNECT stops that.
    rig.w().connection().btnConnect->click();
    QCOMPARE(rig.idleViewProblem(), QString());
    QVERIFY(rig.w().readings().RpmLabel->text().isEmpty());
    QTest::qWait(600);
    QCOMPARE(rig.dialogs.shown.size(), 1);

    // A new line on the same COM port: the program connects again.
    QVERIFY2(rig.fx.reopen(), qPrintable(rig.fx.errorString()));
    rig.sim().clearRequests();
    QVERIFY(rig.connect());
    QCOMPARE(rig.connectedViewProblem(), QString());
    QCOMPARE(rig.frames().size(), 9);
    QCOMPARE(rig.dialogs.shown.size(), 1);
}

void TestE2eLostAndReset::resetAcknowledged()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameter(simparam::MinPumpCycles, 9); // the reset brings back the default 5
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    QCOMPARE(rig.w().sliders().PumpMinSlider->value(), 9);
    rig.w().session().statusTimer()->setEnabled(false); // keep polls out of the frame count
    rig.sim().clearRequests();
    bool quietDuringMessage = false;
    rig.dialogs.onMessage = [&] {
        quietDuringMessage = !rig.w().connection().ResetCmd->isEnabled() && !rig.w().session().statusTimer()->enabled();
    };

    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    QList<QByteArray> expected{kResetFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames()), rig.hex(expected));
    QCOMPARE(rig.dialogs.heads(), QStringList{rig.entry(38)});
    QVERIFY(quietDuringMessage);
    QCOMPARE(rig.w().sliders().PumpMinSlider->value(), 5);
    QCOMPARE(rig.w().sliders().PumpMinLabel->text(), QString("0.1 s"));
    QCOMPARE(rig.w().session().Parameters.MinPumpCycles, 5);
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.w().session().statusTimer()->enabled());
    QCOMPARE(rig.connectedViewProblem(), QString());
    // The poll comes back.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frames().size() > 9, kPatienceMs);
    QCOMPARE(oe::hexBytes(rig.frames()[9]), oe::hexBytes(kStatusFrame));
}

void TestE2eLostAndReset::resetNotAcknowledged()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameter(simparam::MinPumpCycles, 9);
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    rig.w().session().statusTimer()->setEnabled(false);
    SimFaults faults;
    faults.dropFirst = 3; // the three reset frames go unheard; the reads after them are answered
    rig.sim().setFaults(faults);
    rig.sim().clearRequests();

    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    QCOMPARE(rig.dialogs.heads(), (QStringList{rig.entry(28), rig.entry(38)}));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const auto &log = rig.fx.requests();
    QList<QByteArray> expected{kResetFrame, kResetFrame, kResetFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames()), rig.hex(expected));
    for (int i = 1; i < 3; ++i) {
        const qint64 gap = log[i].atMs - log[i - 1].atMs;
        QVERIFY2(gap >= 950 && gap < 2000, qPrintable(QString::number(gap)));
    }
    QCOMPARE(rig.w().sliders().PumpMinSlider->value(), 9); // the controller never reset
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.w().session().statusTimer()->enabled());
    QCOMPARE(rig.connectedViewProblem(), QString());
}

void TestE2eLostAndReset::closingDuringResetWaitEndsIt()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    rig.w().session().statusTimer()->setEnabled(false);
    SimFaults faults;
    faults.silent = true;
    rig.sim().setFaults(faults);
    rig.sim().clearRequests();
    QTimer::singleShot(150, rig.window.get(), [&] { rig.w().close(); });
    QElapsedTimer clock;
    clock.start();
    rig.w().connection().ResetCmd->click(); // would wait 3 x 1 s, then read eight times
    QVERIFY(rig.settled());
    QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.hex(rig.frames()), rig.hex({kResetFrame}));
    QVERIFY(rig.dialogs.shown.isEmpty());
    QTest::qWait(1200);
    QCOMPARE(rig.frames().size(), 1);
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestE2eLostAndReset::mapLoad_data()
{
    QTest::addColumn<int>("hangUpAfter"); // 0: the line stays up
    QTest::newRow("whole load") << 0;
    QTest::newRow("line gone after five writes") << 5;
}

void TestE2eLostAndReset::mapLoad()
{
    QFETCH(int, hangUpAfter);
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    const MapValues file = {6, 30, 2500, 14, 1000, 300, 120, 150};
    const QString path = rig.path("edited.map");
    QVERIFY(writeFile(path, formatMap(file)));
    rig.dialogs.openAnswers << path;
    SimFaults faults;
    faults.hangUpAfter = hangUpAfter;
    rig.sim().setFaults(faults);
    QVERIFY(rig.waitQuiet());
    rig.sim().clearRequests();
    // The writes go in the order that keeps every pair in order after each one.
    KnownValues held;
    ParameterSet wanted;
    for (int i = 0; i < kParameterCount; ++i) {
        held[size_t(i)] = rig.sim().parameter(i);
        wanted[ParameterIndex(i)] = file[size_t(i)];
    }
    const WritePlan plan = planWrites(held, wanted);
    QCOMPARE(plan.writes.size(), 8);

    rig.w().maps().cmdLoadMap->click();
    QVERIFY(rig.settled());

    const QList<QByteArray> frames = rig.frames();
    const int writes = hangUpAfter ? hangUpAfter : 8;
    for (int i = 0; i < writes; ++i) {
        QCOMPARE(frames[i].size(), 9);
        QCOMPARE(int(frames[i][3]), int(plan.writes[i].index));
        QCOMPARE(quint8(frames[i][4]) * 256 + quint8(frames[i][5]), plan.writes[i].value);
    }
    QCOMPARE(rig.dialogs.shown[0].kind, QString("question"));
    QVERIFY(rig.dialogs.shown[0].details.contains(QStringLiteral("Tinj Max: ")));
    if (hangUpAfter) {
        QCOMPARE(frames.size(), hangUpAfter);
        QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.shown.size(), 2, kPatienceMs);
        QVERIFY(rig.dialogs.shown[1].text.startsWith(rig.entry(39))); // no notice: the load did not end
        QCOMPARE(rig.idleViewProblem(), QString());
        return;
    }
    QList<QByteArray> expected = readFrames();
    QCOMPARE(rig.hex(frames.mid(8, 8)), rig.hex(expected));
    for (int i = 0; i < 8; ++i) {
        QCOMPARE(qint32(rig.sim().parameter(i)), file[size_t(i)]);
        QCOMPARE(rig.w().session().Parameters[ParameterIndex(i)], file[size_t(i)]);
    }
    QCOMPARE(rig.dialogs.shown.size(), 2);
    // The notice ends with the restore point of the tune from before.
    QCOMPARE(rig.dialogs.shown[1].text.section("\n\n", 0, -2), rig.entry(37) + "\n\n" + rig.entry(53));
    QCOMPARE(rig.connectedViewProblem(), QString());
    QVERIFY(rig.w().session().statusTimer()->enabled());
}

QTEST_MAIN(TestE2eLostAndReset)
#include "tst_e2e_lostandreset.moc"
