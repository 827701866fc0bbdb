// The session over a real serial line: connect, the poll, disconnect, failed connects and parameter
// writes, with the simulated controller at the other end of a pty.

#include "e2erig.h"
#include "sliderknob.h"
#include "enginemodel.h"
#include "numbertexts.h"

#include <QAction>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProgressDialog>
#include <QPointer>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace oe;
using namespace e2e;

namespace {
// Values off the simulator's defaults, so a shown value must have come over the line.
const SimParameters kCustomParameters = {7, 20, 1750, 2000, 8000, 200, 100, 150};

// A line with nothing behind it: a pty whose other side never answers, only records what came.
struct SilentLine {
    int master = -1;
    QString device;
    SilentLine()
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        device = QString::fromLocal8Bit(name);
    }
    ~SilentLine()
    {
        if (master >= 0)
            ::close(master);
    }
    QByteArray received() const
    {
        QByteArray bytes;
        char buffer[256];
        ssize_t n = 0;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, n);
        return bytes;
    }
};
} // namespace

class TestE2eSession : public QObject
{
    Q_OBJECT
private slots:
    void connectShowsVersionValuesThenPolls();
    void pollPeriod();
    void liveReadingsFollowTheEngine();
    void disconnectSendsNothingAndFreesThePort();
    void disconnectDuringSlowConnect();
    void silentController();
    void portThatCannotOpen_data();
    void portThatCannotOpen();
    void staleRepliesOfAFailedConnectAreDropped();
    void writeParameter_data();
    void writeParameter();
    void sliderReleaseWritesOverTheLine();
    void interlockedReleaseWritesPartnerValue();
    void lateControllerHurriedUser();
    void searchFindsTheControllerOnAnotherPort();
    void recordingOfARideWithATypedValue();
};

void TestE2eSession::connectShowsVersionValuesThenPolls()
{
    Rig rig("COM=03\r\nLanguage=ENG"); // rewritten in full by a successful connect
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameters(kCustomParameters);
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(rig.connect());
    qInfo("connect to a prompt controller took %lld ms", clock.elapsed());

    QCOMPARE(rig.connectedViewProblem(), QString());
    QList<QByteArray> expected{kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames()), rig.hex(expected)); // no retry, no extra request
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.w().maps().cmdLoadMap->isEnabled());
    QVERIFY(rig.w().session().statusTimer()->enabled());
    QCOMPARE(fileBytes(rig.path("config.ini")), QByteArray("COM=03\r\nLanguage=ENG\r\n"));

    const ParameterSet &p = rig.w().session().Parameters;
    for (int i = 0; i < 8; ++i)
        QCOMPARE(p[ParameterIndex(i)], qint32(kCustomParameters[size_t(i)]));
    QCOMPARE(rig.w().sliders().PumpMinLabel->text(), QString("0.14 s"));
    QCOMPARE(rig.w().sliders().PumpMaxLabel->text(), QString("0.4 s"));
    QCOMPARE(rig.w().sliders().RpmMinLabel->text(), QString("1750"));
    QCOMPARE(rig.w().sliders().TinjMinLabel->text(), QString("2000"));
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("8000"));
    QCOMPARE(rig.w().sliders().PausaMinLabel->text(), QString("5 s"));
    QCOMPARE(rig.w().sliders().PausaMaxLabel->text(), QString("2.5 s"));
    QCOMPARE(rig.w().sliders().RpmMultiplierLabel->text(), QString("150%"));
    QCOMPARE(rig.w().sliders().RpmMultiplierSlider->value(), 15);
    QCOMPARE(rig.w().sliders().RpmMinSlider->value(), 1750);
    QCOMPARE(rig.w().sliders().SliderPausaAlMassimo->value(), 100);

    // Then the poll, with the verification pass reading one parameter again after each status.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frames().size() >= 13, kPatienceMs);
    const QList<QByteArray> reads = readFrames();
    const QList<QByteArray> after = rig.frames().mid(9, 4);
    QCOMPARE(rig.hex(after), rig.hex({kStatusFrame, reads[0], kStatusFrame, reads[1]}));
    QVERIFY(!rig.w().readings().RpmLabel->text().isEmpty());
    QVERIFY(!rig.w().readings().PauseLabel->text().isEmpty());
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestE2eSession::pollPeriod()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    QVERIFY(rig.connect());
    QTRY_VERIFY_WITH_TIMEOUT(rig.fx.requests().size() >= 9 + 8, kPatienceMs);
    const auto &log = rig.fx.requests();
    // Each poll comes 500 ms after the previous request ended (its reply took the 50 ms read pause at
    // least): never sooner, and not a whole period late either. Between two polls the verification
    // pass reads a parameter.
    for (qsizetype i = 9; i < 17; i += 2) {
        QCOMPARE(oe::hexBytes(log[i].frame), oe::hexBytes(kStatusFrame));
        QCOMPARE(oe::hexBytes(log[i + 1].frame), oe::hexBytes(readFrames()[(i - 9) / 2]));
        const qint64 gap = log[i].atMs - log[i - 1].atMs;
        QVERIFY2(gap >= 500 && gap < 1500, qPrintable(QStringLiteral("request %1: %2 ms").arg(i).arg(gap)));
    }
}

void TestE2eSession::liveReadingsFollowTheEngine()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameter(simparam::RpmMultiplier, 150);
    rig.sim().setEngineOverride(EngineReading{2000, 5000});
    QVERIFY(rig.connect());
    QTRY_COMPARE_WITH_TIMEOUT(rig.w().readings().RpmLabel->text(), QString("3000"), kPatienceMs); // 2000 at 150 %
    QCOMPARE(rig.w().readings().TinjLabel->text(), QString("5000"));
    const PumpTiming pump = pumpTiming(rig.sim().parameters(), 3000, 5000);
    QVERIFY(pump.pause > 0);
    QCOMPARE(rig.w().session().LivePump, qint32(pump.pump));
    QCOMPARE(rig.w().session().LivePause, qint32(pump.pause));
    QCOMPARE(rig.w().readings().PauseLabel->text(), secondsText(pump.pause, SecondsUnit::Steps25ms));
    QCOMPARE(rig.w().readings().TimerPausaLampeggio->interval(), pump.pause * 25);

    // The engine stops: speed 0 shows "Err!" for the pause.
    rig.sim().setEngineRunning(false);
    QTRY_COMPARE_WITH_TIMEOUT(rig.w().readings().RpmLabel->text(), QString("0"), kPatienceMs);
    QCOMPARE(rig.w().readings().PauseLabel->text(), QString("Err!"));
    rig.sim().setEngineRunning(true);
    rig.sim().setEngineOverride(EngineReading{1000, 1200});
    QTRY_COMPARE_WITH_TIMEOUT(rig.w().readings().RpmLabel->text(), QString("1500"), kPatienceMs);
    QCOMPARE(rig.w().readings().TinjLabel->text(), QString("1200"));
}

void TestE2eSession::disconnectSendsNothingAndFreesThePort()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameters(kCustomParameters);
    QVERIFY(rig.connect());
    QTRY_VERIFY_WITH_TIMEOUT(rig.w().readings().TimerPausaLampeggio->enabled(), kPatienceMs); // a poll came back
    QVERIFY(!portFree(rig.fx.portPath()));

    rig.w().connection().btnConnect->click();
    const qint64 sent = rig.sim().requestCount();
    QCOMPARE(rig.idleViewProblem(), QString());
    QVERIFY(rig.w().readings().RpmLabel->text().isEmpty());
    QCOMPARE(rig.w().connection().COMM_Combo->currentText(), QString("COM3"));
    QCOMPARE(rig.w().session().Parameters.TinjMax, 8000); // the view changed, not the values
    QTest::qWait(1500);                                 // three poll periods
    QCOMPARE(rig.sim().requestCount(), sent);
    QVERIFY(rig.dialogs.shown.isEmpty());
    QVERIFY(portFree(rig.fx.portPath()));

    // The same port connects again and shows what the controller holds now.
    rig.sim().setParameter(simparam::TinjMax, 7000);
    rig.sim().clearRequests();
    QVERIFY(rig.connect());
    QCOMPARE(rig.connectedViewProblem(), QString());
    QCOMPARE(rig.frames().size(), 9);
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("7000"));
}

// DISCONNECT while a slow controller is still answering the connect's reads ends it at once.
void TestE2eSession::disconnectDuringSlowConnect()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    SimFaults faults;
    faults.replyDelayMs = 100; // a connect of about 1.4 s, with the click inside it
    rig.sim().setFaults(faults);
    qsizetype framesAtClick = -1;
    QTimer::singleShot(600, rig.window.get(), [&] {
        framesAtClick = rig.frames().size();
        rig.w().connection().btnConnect->click();
    });
    QVERIFY(!rig.connect());
    QTest::qWait(300);
    const qsizetype sent = rig.frames().size();
    QTest::qWait(500);
    QVERIFY(framesAtClick > 1 && sent < 9);
    QCOMPARE(rig.frames().size(), sent); // nothing more after the click
    QCOMPARE(rig.w().session().state(), Session::State::Idle);
    QVERIFY(rig.w().connection().COMM_Combo->isEnabled());
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestE2eSession::silentController()
{
    const QByteArray config("COM=03\r\nLanguage=ENG"); // a successful connect would rewrite it
    Rig rig(config);
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    SimFaults faults;
    faults.silent = true;
    rig.sim().setFaults(faults);
    QVERIFY(!rig.connect());
    QCOMPARE(rig.hex(rig.frames()), rig.hex({kVersionFrame, kVersionFrame, kVersionFrame}));
    // The failure's box comes from the event loop a turn after the connect ended.
    QTRY_VERIFY(!rig.dialogs.shown.isEmpty());
    QCOMPARE(rig.dialogs.shown[0].details,
             rig.entry(105).replace("%1", "COM3 (" + QFileInfo(rig.fx.portPath()).symLinkTarget() + ")"));
    const auto &log = rig.fx.requests();
    for (int i = 1; i < 3; ++i) {
        const qint64 gap = log[i].atMs - log[i - 1].atMs;
        QVERIFY2(gap >= 280 && gap < 1000, qPrintable(QString::number(gap)));
    }
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(26)});
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    QCOMPARE(rig.idleViewProblem(), QString());
    QCOMPARE(fileBytes(rig.path("config.ini")), config);
    QVERIFY(portFree(rig.fx.portPath()));
    QTest::qWait(700);
    QCOMPARE(rig.frames().size(), 3);
    QCOMPARE(rig.dialogs.shown.size(), 1);
}

void TestE2eSession::portThatCannotOpen_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("portEntry"); // what ports/COM5 becomes: "dangling" or "file"
    QTest::addColumn<int>("textEntry");     // the message
    QTest::addColumn<int>("detailsEntry");  // why, below the message; %1 is the device
    QTest::newRow("link to a device that is gone") << QByteArray("COM=05\r\nLanguage=ENG\r\n") << "dangling" << 180
                                                   << 100;
    QTest::newRow("not a terminal") << QByteArray("COM=05\r\nLanguage=ENG\r\n") << "file" << 180 << 103;
    QTest::newRow("no port chosen") << QByteArray("COM=\r\nLanguage=ENG\r\n") << "" << 106 << 181;
}

void TestE2eSession::portThatCannotOpen()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, portEntry);
    QFETCH(int, textEntry);
    QFETCH(int, detailsEntry);
    Rig rig(config);
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    const QString com5 = rig.path("ports/COM5");
    if (portEntry == "dangling")
        QVERIFY(QFile::link(rig.path("ports/no-such-device"), com5));
    else if (portEntry == "file")
        QVERIFY(writeFile(com5, "not a serial line"));

    QElapsedTimer clock;
    clock.start();
    QVERIFY(!rig.connect());
    // At once: no identification request goes out, so no 3 x 300 ms of time-outs either.
    QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(rig.sim().requestCount(), 0);
    QTRY_COMPARE(rig.dialogs.texts(), QStringList{rig.entry(textEntry)}); // from the event loop
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const QString device = portEntry == "dangling" ? rig.path("ports/no-such-device") : QFileInfo(com5).absoluteFilePath();
    QCOMPARE(rig.dialogs.shown[0].details, rig.entry(detailsEntry).replace("%1", "COM5 (" + device + ")"));
    QCOMPARE(rig.dialogs.shown[0].action, rig.entry(107)); // the controller's port, COM3, is there to search
    QCOMPARE(rig.idleViewProblem(), QString());
    QCOMPARE(fileBytes(rig.path("config.ini")), config);
    if (portEntry == "file")
        QCOMPARE(fileBytes(com5), QByteArray("not a serial line"));
}

void TestE2eSession::staleRepliesOfAFailedConnectAreDropped()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    SimFaults faults;
    faults.lateMs = SimFaults::kDefaultLateMs; // every reply after the last try gave up
    rig.sim().setFaults(faults);
    QVERIFY(!rig.connect());
    QTRY_COMPARE(rig.dialogs.texts(), QStringList{rig.entry(26)}); // from the event loop
    // The three late version replies reach the line while the program's side is closed.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frames().size() == 3, kPatienceMs);
    QTest::qWait(SimFaults::kDefaultLateMs + 900);

    rig.sim().setFaults(SimFaults());
    rig.sim().setParameter(simparam::RpmMin, 2500);
    rig.sim().clearRequests();
    QVERIFY(rig.connect());
    QCOMPARE(rig.connectedViewProblem(), QString());
    QList<QByteArray> expected{kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames()), rig.hex(expected));
    QCOMPARE(rig.w().sliders().RpmMinLabel->text(), QString("2500"));
    QCOMPARE(rig.dialogs.shown.size(), 1);
}

void TestE2eSession::writeParameter_data()
{
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("confirmed");
    QTest::addColumn<int>("stored"); // what the controller holds afterwards; -1: what it held
    QTest::addColumn<int>("frames"); // write frames on the line
    QTest::addColumn<bool>("notConfirmedShown");
    QTest::newRow("prompt") << "none" << 2 << 1500 << true << 1500 << 1 << false;
    QTest::newRow("high byte") << "none" << 4 << 25600 << true << 25600 << 1 << false;
    QTest::newRow("third try") << "drop=2" << 3 << 2500 << true << 2500 << 3 << false;
    QTest::newRow("echo differs") << "echo-clamp" << 3 << 1260 << false << 1250 << 3 << true;
    QTest::newRow("echo same") << "echo-clamp" << 3 << 1250 << true << 1250 << 1 << false;
    QTest::newRow("silent") << "silent" << 2 << 1500 << false << -1 << 3 << true;
    QTest::newRow("out of range") << "none" << 2 << 70000 << false << -1 << 0 << false;
}

void TestE2eSession::writeParameter()
{
    QFETCH(QString, faults);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(bool, confirmed);
    QFETCH(int, stored);
    QFETCH(int, frames);
    QFETCH(bool, notConfirmedShown);
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    QVERIFY(rig.connect());
    const int before = rig.sim().parameter(index);
    SimFaults f;
    QString why;
    QVERIFY2(f.apply(faults, &why), qPrintable(why));
    rig.sim().setFaults(f);
    rig.sim().clearRequests();

    std::optional<bool> result;
    rig.w().session().WriteParameter(quint8(index), value, [&result](bool ok) { result = ok; });
    QVERIFY(rig.waitQuiet());
    QCOMPARE(result, std::optional<bool>(confirmed));
    QCOMPARE(int(rig.sim().parameter(index)), stored < 0 ? before : stored);
    QList<QByteArray> writes;
    for (const QByteArray &frame : rig.frames()) {
        if (frame[2] == 2) {
            writes.append(frame);
            QCOMPARE(frame.size(), 9);
            QCOMPARE(quint8(frame[3]), quint8(index));
            QCOMPARE(quint8(frame[4]) * 256 + quint8(frame[5]), value);
        }
    }
    QCOMPARE(writes.size(), frames);
    QCOMPARE(rig.frames().size(), frames); // no poll ran inside the write
    QCOMPARE(rig.dialogs.texts(), notConfirmedShown ? QStringList{rig.entry(29)} : QStringList{});
    if (notConfirmedShown)
        QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    QVERIFY(rig.w().isConnected());
    QVERIFY(rig.w().session().statusTimer()->enabled());
}

void TestE2eSession::sliderReleaseWritesOverTheLine()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.connect());
    rig.w().session().statusTimer()->setEnabled(false); // only the write on the line
    rig.sim().clearRequests();
    QSlider *slider = rig.w().sliders().RpmMinSlider;
    const int before = slider->value();
    QCOMPARE(before, 600);

    // A drag of the knob to the right; the release commits what the drag left.
    const QPoint knob = knobCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, knob);
    QTest::mouseMove(slider, knob + QPoint(40, 0));
    QTest::mouseMove(slider, knob + QPoint(70, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, knob + QPoint(70, 0));
    QTRY_VERIFY_WITH_TIMEOUT(rig.frames().size() >= 1, kPatienceMs);
    QVERIFY(rig.waitQuiet()); // the write ended
    const int field = rig.w().session().Parameters.RpmMin;
    QVERIFY2(field > before && slider->value() > before, qPrintable(QString::number(field)));
    QCOMPARE(field % 50, 0); // the controller's step
    QCOMPARE(rig.w().sliders().RpmMinLabel->text(), QString::number(field));
    QCOMPARE(int(rig.sim().parameter(simparam::RpmMin)), field);
    QCOMPARE(rig.frames().size(), 1);
    QCOMPARE(oe::hexBytes(rig.frames()[0]), oe::hexBytes(QByteArray::fromHex("50430202") + char(field >> 8)
                                                          + char(field & 0xFF) + QByteArray(3, '\0')));
    QVERIFY(rig.dialogs.shown.isEmpty());
}

// The pump maximum dragged below the minimum yields to it on release, and the controller stores the
// minimum's value as the maximum.
void TestE2eSession::interlockedReleaseWritesPartnerValue()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.connect());
    rig.w().session().statusTimer()->setEnabled(false);
    rig.sim().clearRequests();
    QSlider *slider = rig.w().sliders().PumpMaxSlider;
    const int minimum = rig.w().sliders().PumpMinSlider->value();
    QVERIFY(slider->value() > minimum + 3);
    // A minimum read once (its check waits for the poll) is checked before the pair holds to it.
    const bool minimumChecked = !rig.w().session().verifying(ParameterIndex::MinPumpCycles);

    const QPoint knob = knobCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, knob);
    QTest::mouseMove(slider, knob - QPoint(80, 0));
    QTest::mouseMove(slider, knob - QPoint(200, 0));
    QVERIFY(slider->value() < minimum);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, knob - QPoint(200, 0));
    QVERIFY(rig.waitQuiet()); // the write ended
    QVERIFY(slider->isEnabled());
    QCOMPARE(slider->value(), minimum);
    QCOMPARE(rig.w().session().Parameters.MaxPumpCycles, minimum);
    QCOMPARE(int(rig.sim().parameter(simparam::MaxPumpCycles)), minimum);
    const QList<QByteArray> frames = rig.frames();
    QCOMPARE(frames.size() == 1, minimumChecked); // the write, after the minimum's reads
    for (qsizetype i = 0; i + 1 < frames.size(); ++i)
        QCOMPARE(oe::hexBytes(frames[i]), oe::hexBytes(QByteArray::fromHex("50430100000000")));
    QCOMPARE(rig.w().sliders().PumpMinSlider->value(), minimum);
}

// A controller that answers 150 ms late and a user who does not wait: a click on a slider while the
// connect still reads, then RESET while a status request is out. Every request goes out once and the
// window ends up showing exactly what the controller holds.
void TestE2eSession::lateControllerHurriedUser()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.sim().setParameters(kCustomParameters);
    SimFaults faults;
    faults.replyDelayMs = 150;
    rig.sim().setFaults(faults);
    rig.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));

    rig.w().connection().btnConnect->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.frames().size() >= 3, kPatienceMs); // identified, reads under way
    QSlider *slider = rig.w().sliders().TinjMaxSlider;
    const QPoint knob = knobCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, knob - QPoint(60, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, knob - QPoint(60, 0));
    QVERIFY(rig.waitQuiet());
    QList<QByteArray> expected{kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames()), rig.hex(expected));
    QCOMPARE(rig.connectedViewProblem(), QString());

    // RESET while the poll waits for its reply.
    QTRY_VERIFY_WITH_TIMEOUT(rig.w().session().engine()->busy(), kPatienceMs);
    QCOMPARE(oe::hexBytes(rig.frames().last()), oe::hexBytes(kStatusFrame));
    rig.sim().clearRequests();
    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    // The restore point first has the values the connect read confirmed (reads), then the reset.
    const QList<QByteArray> sent = rig.frames();
    const qsizetype reset = sent.indexOf(kResetFrame);
    QVERIFY(reset >= 0);
    for (qsizetype i = 0; i < reset; ++i)
        QCOMPARE(quint8(sent[i][2]), quint8(1));
    expected = {kResetFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(sent.mid(reset, 9)), rig.hex(expected));
    QCOMPARE(rig.dialogs.heads(), QStringList{rig.entry(38)});
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 held = rig.sim().parameter(i);
        QCOMPARE(rig.w().session().Parameters[index], held);
        QCOMPARE(rig.w().sliders().labelFor(index)->text(), displayText(index, held));
    }
    QCOMPARE(rig.connectedViewProblem(), QString());
}

// The controller sits on COM5; COM3 (configured) and COM4 lead to lines that stay silent. Two
// clicks: the failure box's search, then yes to the port that answered.
void TestE2eSession::searchFindsTheControllerOnAnotherPort()
{
    const QByteArray config("COM=03\r\nLanguage=ENG\r\n");
    Rig rig(config, 5);
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    SilentLine com3, com4;
    QVERIFY(!com3.device.isEmpty() && !com4.device.isEmpty());
    QVERIFY(QFile::link(com3.device, rig.path("ports/COM3")));
    QVERIFY(QFile::link(com4.device, rig.path("ports/COM4")));
    rig.dialogs.actionAnswers = {true};

    rig.w().connection().btnConnect->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.w().isConnected(), kPatienceMs);
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.connectedViewProblem(), QString());
    QCOMPARE(rig.w().ComPort(), 5);
    QCOMPARE(rig.w().connection().COMM_Combo->currentText(), QString("COM5"));
    QCOMPARE(rig.dialogs.shown.size(), 2);
    QCOMPARE(rig.dialogs.shown[0].action, rig.entry(107));
    QCOMPARE(rig.dialogs.shown[1].text,
             rig.entry(109).replace("%1", "COM5").replace("%2", QFileInfo(rig.fx.portPath()).symLinkTarget()));
    QVERIFY(!rig.w().findChild<QProgressDialog *>("searchProgress"));

    // Identification requests only: three on COM3 (the connect), one on COM4 and one on COM5 (the
    // search, which skips the port that just failed), then the connect on COM5.
    const QByteArray version = kVersionFrame;
    QCOMPARE(com3.received(), version + version + version);
    QCOMPARE(com4.received(), version);
    QList<QByteArray> expected{kVersionFrame, kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.hex(rig.frames().mid(0, expected.size())), rig.hex(expected));
    QCOMPARE(fileBytes(rig.path("config.ini")), QByteArray("COM=05\r\nLanguage=ENG\r\n"));
}

QTEST_MAIN(TestE2eSession)
#include "tst_e2e_session.moc"

// A ride recorded from the menu with a value typed from a workshop sheet in the middle: the file
// holds the readings of the simulated engine and the change, in the order they happened, and the
// controller holds the exact value.
void TestE2eSession::recordingOfARideWithATypedValue()
{
    Rig rig;
    QVERIFY2(rig.ready(), qPrintable(rig.fx.errorString()));
    rig.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(rig.connect());
    const QString path = rig.path("Recordings/ride.csv");
    rig.dialogs.saveAnswers << path;
    QAction *record = rig.w().findChild<QAction *>("menuTools_1");
    record->trigger();
    QVERIFY(record->isChecked());
    QTest::qWait(2500);

    const QByteArray before = rig.w().sliders().TinjMaxLabel->text().toLatin1();
    QTest::mouseDClick(rig.w().sliders().TinjMaxLabel, Qt::LeftButton);
    QPointer<QLineEdit> editor = rig.w().findChild<QLineEdit *>("ValueEditor");
    QVERIFY(editor && editor->isVisible());
    QTest::qWait(1500); // polls come and go while the user reads the sheet
    QVERIFY2(editor && editor->hasFocus(), "the poll took the focus out of the editor");
    QTest::keyClicks(editor, "12345");
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(rig.waitQuiet());
    QTRY_COMPARE_WITH_TIMEOUT(int(rig.sim().parameter(simparam::TinjMax)), 12300, kPatienceMs);
    QTest::qWait(2500);
    record->trigger();
    QVERIFY(!record->isChecked());

    const QList<QByteArray> lines = fileBytes(path).split('\n');
    QCOMPARE(lines[0], "sep=,\r");
    QVERIFY(lines[1].startsWith("time,event,rpm,"));
    QStringList events;
    QDateTime previous;
    QSet<QByteArray> speeds;
    QByteArray change;
    for (const QByteArray &line : lines.mid(2)) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> cells = line.split(',');
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(cells[0]), Qt::ISODateWithMs);
        QVERIFY2(time.isValid() && (!previous.isValid() || time >= previous), line.constData());
        previous = time;
        events << QString::fromLatin1(cells[1]);
        if (cells[1] == "reading")
            speeds.insert(cells[2]);
        else if (cells[1] == "change")
            change = line;
    }
    QCOMPARE(events.last(), QString("end")); // stopped from the menu
    const int at = events.indexOf("change");
    QVERIFY2(at >= 2 && events.lastIndexOf("change") == at && events.size() - at >= 3, qPrintable(events.join(' ')));
    QVERIFY2(events.size() >= 7, qPrintable(events.join(' ')));
    QVERIFY2(change.contains(",TinjMax," + before + ",12300,,typed,yes"), change.constData());
    QVERIFY2(speeds.size() >= 2, "the engine's speed did not move in the recording");
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("12300"));
    QVERIFY(rig.dialogs.shown.isEmpty());
}
