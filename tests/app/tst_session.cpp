#include "intervaltimer.h"
#include "mainwindow.h"
#include "testfiles.h"
#include "windowrig.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QtTest>

using namespace oe;

namespace {
QList<QByteArray> readFrames()
{
    QList<QByteArray> frames;
    for (int i = 0; i < 8; ++i)
        frames.append(QByteArray("\x50\x43\x01", 3) + char(i) + QByteArray(3, '\0'));
    return frames;
}

const QByteArray kVersionFrame = QByteArray::fromHex("50430400000000");
const QByteArray kStatusFrame = QByteArray::fromHex("50430300000000");
const QByteArray kResetFrame = QByteArray::fromHex("50430a00000000");
} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void connectReadsParametersThenPolls();
    void connectFailures_data();
    void connectFailures();
    void disconnectSendsNothing();
    void clickDuringConnectIsIgnored();
    void unwritableConfigDoesNotFailConnect();
    void lostPortWhileConnected();
    void lostPortDuringConnectReads();
    void unreadParameterStaysOutOfReach();
    void resetAcknowledged();
    void resetNotAcknowledged();
    void statusReplyShown_data();
    void statusReplyShown();
    void readApplied_data();
    void readApplied();
    void closingDuringWaitEndsIt();
};

void TestSession::connectReadsParametersThenPolls()
{
    Rig rig;
    rig.controller.params[7] = 250; // capped to 200 % on the way in
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.connect());
    QCOMPARE(rig.port->comPort(), 7);
    QList<QByteArray> expected{kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.port->writtenBytes(), expected);
    QCOMPARE(rig.w().Label9->text(), QString("Ver. 1.2.3"));
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(6));
    QCOMPARE(readFile(rig.dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ITA\r\n"));
    QVERIFY(!rig.w().COMM_Combo->isEnabled());
    QVERIFY(rig.w().ResetCmd->isEnabled());
    QVERIFY(rig.w().cmdLoadMap->isEnabled());
    QVERIFY(rig.w().cmdSaveMap->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
    QCOMPARE(rig.w().PumpMaxSlider->value(), 15);
    QCOMPARE(rig.w().PumpMaxLabel->text(), QString("0.3 s"));
    QCOMPARE(rig.w().TinjMaxLabel->text(), QString("9000"));
    QCOMPARE(rig.w().PausaMinLabel->text(), QString("4 s"));
    QCOMPARE(rig.w().session().Parameters.RpmMultiplier, 200);
    QCOMPARE(rig.w().RpmMultiplierSlider->value(), 20);
    QCOMPARE(rig.w().RpmMultiplierLabel->text(), QString("200%"));
    for (QSlider *slider : rig.w().findChildren<QSlider *>())
        QVERIFY2(slider->isEnabled(), qPrintable(slider->objectName()));

    // The poll: a status request 500 ms after the previous request ended, again and again.
    rig.port->clearWritten();
    QTRY_VERIFY_WITH_TIMEOUT(rig.port->written().size() >= 3, 5000);
    for (const auto &frame : rig.port->written())
        QCOMPARE(frame.bytes, kStatusFrame);
    const qint64 gap = rig.port->written()[2].atMs - rig.port->written()[1].atMs;
    QVERIFY2(gap >= 540 && gap < 1500, qPrintable(QString::number(gap))); // 500 + reply + 50 ms pause
    QCOMPARE(rig.w().RpmLabel->text(), QString("1500"));
    QCOMPARE(rig.w().PauseLabel->text(), QString("2 s"));

    // ApplyCaptions follows the session.
    rig.w().ApplyCaptions();
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(6));
}

void TestSession::connectFailures_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("openError");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<ConnectFailure::Kind>("kind");
    QTest::addColumn<PortOpenError>("reason");
    QTest::addColumn<QString>("device");
    using Kind = ConnectFailure::Kind;
    QTest::newRow("no port selected") << QByteArray("COM=\r\nLanguage=ITA\r\n") << QString() << false << 0
                                      << Kind::PortNotOpened << PortOpenError::NotFound << QString();
    QTest::newRow("port cannot open") << QByteArray("COM=04\r\nLanguage=ITA\r\n") << "no such port" << false << 0
                                      << Kind::PortNotOpened << PortOpenError::InUse << "fake:COM4";
    QTest::newRow("silent controller") << QByteArray("COM=04\r\nLanguage=ITA\r\n") << QString() << true << 3
                                       << Kind::NoAnswer << PortOpenError::None << "fake:COM4";
}

void TestSession::connectFailures()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, openError);
    QFETCH(bool, silent);
    QFETCH(int, framesSent);
    QFETCH(ConnectFailure::Kind, kind);
    QFETCH(PortOpenError, reason);
    QFETCH(QString, device);
    Rig rig(config);
    rig.port->setOpenError(openError, PortOpenError::InUse);
    rig.controller.silent = silent;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!rig.connect());
    QCOMPARE(rig.port->written().size(), framesSent);
    for (const auto &frame : rig.port->written())
        QCOMPARE(frame.bytes, kVersionFrame);
    if (!silent)
        QVERIFY(clock.elapsed() < 250); // reported at once
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(26));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const ConnectFailure &failure = rig.w().session().lastConnectFailure();
    QCOMPARE(failure.kind, kind);
    QCOMPARE(failure.openError, reason);
    QCOMPARE(failure.device, device);
    QCOMPARE(failure.systemText, openError);
    QVERIFY(!rig.port->isOpen());
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.w().COMM_Combo->isEnabled());
    QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
    QVERIFY(!rig.timer("MSComm1_Timer")->enabled());
    QCOMPARE(readFile(rig.dir.filePath("config.ini")), config);
    if (config.startsWith("COM=\r"))
        QCOMPARE(rig.port->openCount(), 0);
}

void TestSession::disconnectSendsNothing()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.timer("TimerLampeggio")->setInterval(500);
    rig.timer("TimerLampeggio")->setEnabled(true);
    QTRY_VERIFY(rig.timer("TimerPausaLampeggio")->enabled()); // a status reply came in
    rig.port->clearWritten();
    rig.w().btnConnect->click();
    QVERIFY(!rig.w().isConnected());
    QVERIFY(!rig.port->isOpen());
    QCOMPARE(rig.port->written().size(), 0);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
    for (const char *name : {"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"})
        QVERIFY2(!rig.timer(name)->enabled(), name);
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.w().COMM_Combo->isEnabled());
    QCOMPARE(rig.w().COMM_Combo->currentText(), QString("COM7"));
    QVERIFY(!rig.w().ResetCmd->isEnabled());
    QVERIFY(!rig.w().PumpMinSlider->isEnabled());
    QVERIFY(rig.w().Label9->text().isEmpty());
    QVERIFY(rig.w().RpmLabel->text().isEmpty());
    QCOMPARE(rig.w().session().Parameters.TinjMax, 9000); // the view changed, not the values
    QTest::qWait(700);
    QCOMPARE(rig.port->written().size(), 0);
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestSession::clickDuringConnectIsIgnored()
{
    Rig rig;
    rig.port->setReplyDelay(std::chrono::milliseconds(100));
    int clicks = 0;
    QTimer::singleShot(50, rig.window.get(), [&] { rig.w().btnConnect->click(); ++clicks; });
    QTimer::singleShot(400, rig.window.get(), [&] {
        rig.w().btnConnect->click();
        ++clicks;
        // Captions applied meanwhile (a language change) keep the connect's caption.
        rig.w().ApplyCaptions();
        QCOMPARE(rig.w().btnConnect->text(), rig.entry(6));
    });
    QVERIFY(rig.connect());
    QCOMPARE(clicks, 2);
    QCOMPARE(rig.port->openCount(), 1);
    QCOMPARE(rig.port->written().size(), 9);
    QVERIFY(rig.port->isOpen());
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestSession::unwritableConfigDoesNotFailConnect()
{
    Rig rig;
    QFile::remove(rig.dir.filePath("config.ini"));
    QVERIFY(QDir(rig.dir.path()).mkdir("config.ini"));
    QVERIFY(rig.connect());
    QVERIFY(rig.port->isOpen());
    QVERIFY(rig.dialogs.shown.isEmpty());
    QVERIFY(rig.w().ResetCmd->isEnabled());
}

void TestSession::lostPortWhileConnected()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.port->loseConnection();
    QTRY_COMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(39));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    QVERIFY(!rig.w().isConnected());
    QCOMPARE(rig.w().btnConnect->text(), rig.entry(5));
    QVERIFY(!rig.w().PumpMinSlider->isEnabled());
    QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
    QTest::qWait(800);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
}

void TestSession::lostPortDuringConnectReads()
{
    Rig rig("COM=07\r\nLanguage=ITA\r\nthird line, gone once the file is written\r\n");
    bool lost = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == 2 && !lost) {
            lost = true;
            QTimer::singleShot(20, rig.port, [&] { rig.port->loseConnection(); });
            return QByteArray();
        }
        return rig.controller.respond(request);
    });
    rig.w().btnConnect->click();
    QVERIFY(rig.waitQuiet());
    QVERIFY(lost);
    QVERIFY(!rig.w().isConnected());
    QCOMPARE(rig.port->written().size(), 4); // version and reads 0 to 2, nothing after the loss
    QTRY_COMPARE(rig.dialogs.texts(), QStringList{rig.entry(39)});
    // The controller did identify itself: its port is remembered all the same.
    QCOMPARE(readFile(rig.dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ITA\r\n"));
    QVERIFY(!rig.w().cmdLoadMap->isEnabled());
    QVERIFY(!rig.w().ResetCmd->isEnabled());
    QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
}

// A read that never got its answer leaves its slider disabled: showing the idle lower bound, a
// release would write it. A later read (here the reset's) brings it in.
void TestSession::unreadParameterStaysOutOfReach()
{
    Rig rig;
    bool answerRead4 = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == 4 && !answerRead4)
            return QByteArray();
        return rig.controller.respond(request);
    });
    QVERIFY(rig.connect());
    QVERIFY(!rig.w().TinjMaxSlider->isEnabled());
    QVERIFY(rig.w().TinjMaxLabel->text().isEmpty());
    QVERIFY(rig.w().TinjMinSlider->isEnabled());
    QVERIFY(rig.w().ResetCmd->isEnabled());
    answerRead4 = true;
    rig.w().ResetCmd->click();
    QVERIFY(rig.waitQuiet());
    QVERIFY(rig.w().TinjMaxSlider->isEnabled());
    QCOMPARE(rig.w().TinjMaxLabel->text(), QString("9000"));
}

void TestSession::resetAcknowledged()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.timer("Timer_StatusRequest")->setEnabled(false); // keep polls out of the frame count
    rig.port->clearWritten();
    bool buttonDisabledDuringMessage = false;
    rig.dialogs.onMessage = [&] {
        buttonDisabledDuringMessage = !rig.w().ResetCmd->isEnabled()
                                      && !rig.timer("Timer_StatusRequest")->enabled();
    };
    rig.controller.params[0] = 9;
    rig.w().ResetCmd->click();
    QVERIFY(!rig.w().ResetCmd->isEnabled());
    QVERIFY(rig.waitQuiet());
    QList<QByteArray> expected{kResetFrame};
    expected += readFrames();
    QCOMPARE(rig.port->writtenBytes(), expected);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(38));
    QVERIFY(rig.dialogs.shown[0].title.isEmpty()); // the program's own name
    QVERIFY(buttonDisabledDuringMessage);
    QCOMPARE(rig.w().PumpMinSlider->value(), 9);
    QVERIFY(rig.w().ResetCmd->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestSession::resetNotAcknowledged()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.timer("Timer_StatusRequest")->setEnabled(false);
    rig.port->clearWritten();
    rig.controller.ackReset = false;
    rig.w().ResetCmd->click();
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.dialogs.texts(), (QStringList{rig.entry(28), rig.entry(38)}));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const auto frames = rig.port->written();
    QCOMPARE(frames.size(), 3 + 8);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(frames[i].bytes, kResetFrame);
    const qint64 spacing = frames[2].atMs - frames[1].atMs;
    QVERIFY2(spacing >= 950 && spacing < 1600, qPrintable(QString::number(spacing)));
    QVERIFY(rig.w().ResetCmd->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestSession::statusReplyShown_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("labels"); // rpm, tinj, pump, pause
    QTest::addColumn<int>("interval");
    QTest::newRow("running") << hex("435503 05DC 0064 0019 0050") << QStringList{"1500", "100", "0.5 s", "2 s"} << 2000;
    QTest::newRow("engine stopped") << hex("435503 0000 0064 0019 0050") << QStringList{"0", "100", "0.5 s", "Err!"} << 2000;
    QTest::newRow("pause 0") << hex("435503 05DC 0064 0019 0000") << QStringList{"1500", "100", "0.5 s", "0 s"} << 0;
}

void TestSession::statusReplyShown()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, labels);
    QFETCH(int, interval);
    Rig rig;
    QVERIFY(rig.connect());
    rig.timer("Timer_StatusRequest")->setEnabled(false);
    rig.port->setResponder([&](const QByteArray &) { return reply; });
    rig.w().session().RequestStatus();
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.w().RpmLabel->text(), labels[0]);
    QCOMPARE(rig.w().TinjLabel->text(), labels[1]);
    QCOMPARE(rig.w().PumpLabel->text(), labels[2]);
    QCOMPARE(rig.w().PauseLabel->text(), labels[3]);
    QVERIFY(rig.timer("TimerPausaLampeggio")->enabled());
    QCOMPARE(rig.timer("TimerPausaLampeggio")->interval(), interval);
}

void TestSession::readApplied_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("field");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::newRow("multiplier 250") << 7 << 250 << 200 << 20 << "200%";
    QTest::newRow("multiplier 155") << 7 << 155 << 155 << 15 << "155%";
    QTest::newRow("pause 90") << 5 << 90 << 90 << 90 << "2.25 s";
    QTest::newRow("tinj 1234 unchanged") << 3 << 1234 << 1234 << 1234 << "1234";
}

void TestSession::readApplied()
{
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(int, field);
    QFETCH(int, position);
    QFETCH(QString, label);
    Rig rig;
    rig.controller.params[size_t(index)] = quint16(value);
    QVERIFY(rig.connect());
    const auto pi = ParameterIndex(index);
    QCOMPARE(rig.w().session().Parameters[pi], field);
    QCOMPARE(rig.w().sliderFor(pi)->value(), position);
    QCOMPARE(rig.w().labelFor(pi)->text(), label);
}

void TestSession::closingDuringWaitEndsIt()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.timer("Timer_StatusRequest")->setEnabled(false);
    rig.controller.silent = true;
    QTimer::singleShot(100, rig.window.get(), [&] { rig.w().close(); });
    QElapsedTimer clock;
    clock.start();
    rig.port->clearWritten();
    rig.w().ResetCmd->click(); // would wait three seconds and then read eight times
    QVERIFY(rig.waitQuiet());
    QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(1200);
    QCOMPARE(rig.port->written().size(), 1);
    QVERIFY(rig.dialogs.shown.isEmpty());
    for (const char *name : {"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"})
        QVERIFY2(!rig.timer(name)->enabled(), name);
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
