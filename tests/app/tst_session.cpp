#include "intervaltimer.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mapfile.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "testfiles.h"
#include "windowrig.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QProgressDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QLineEdit>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
    void waitersForConfirmedValuesShareTheChecks();
    void connectFailures_data();
    void connectFailures();
    void disconnectSendsNothing();
    void disconnectDuringSlowConnect_data();
    void disconnectDuringSlowConnect();
    void unwritableConfigDoesNotFailConnect();
    void lostPortWhileConnected_data();
    void lostPortWhileConnected();
    void lostPortDuringConnectReads();
    void unreadParameterStaysOutOfReach();
    void lostReadBackLeavesParameterUnknown_data();
    void lostReadBackLeavesParameterUnknown();
    void silentControllerShownAsSuch();
    void controllerKnownAfreshAfterSilence_data();
    void controllerKnownAfreshAfterSilence();
    void boxFromNotificationHandler_data();
    void boxFromNotificationHandler();
    void accessibleTexts_data();
    void accessibleTexts();
    void resetAsksFirst_data();
    void resetAsksFirst();
    void resetGivenUpUnderSavesDialog();
    void resetAcknowledged();
    void resetNotAcknowledged();
    void statusReplyShown_data();
    void statusReplyShown();
    void readApplied_data();
    void readApplied();
    void closingDuringWaitEndsIt();
    void portMarksAndUsbAdapterOffer();
    void cancelledSearchSendsNothingMore();
    void connectFailureWaitsForAnOpenBox();
};

void TestSession::connectReadsParametersThenPolls()
{
    Rig rig;
    rig.controller.params[7] = 200; // the multiplier's cap; above it a read cannot be right
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.connect());
    QCOMPARE(rig.port->comPort(), 7);
    QList<QByteArray> expected{kVersionFrame};
    expected += readFrames();
    QCOMPARE(rig.port->writtenBytes(), expected);
    QCOMPARE(rig.w().connection().Label9->text(), QString("Ver. 1.2.3"));
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(6));
    QCOMPARE(readFile(rig.dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ITA\r\n"));
    QVERIFY(!rig.w().connection().COMM_Combo->isEnabled());
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.w().maps().cmdLoadMap->isEnabled());
    QVERIFY(rig.w().maps().cmdSaveMap->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
    QCOMPARE(rig.w().sliders().PumpMaxSlider->value(), 15);
    QCOMPARE(rig.w().sliders().PumpMaxLabel->text(), QString("0.3 s"));
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("9000"));
    QCOMPARE(rig.w().sliders().PausaMinLabel->text(), QString("4 s"));
    QCOMPARE(rig.w().session().Parameters.RpmMultiplier, 200);
    QCOMPARE(rig.w().sliders().RpmMultiplierSlider->value(), 20);
    QCOMPARE(rig.w().sliders().RpmMultiplierLabel->text(), QString("200%"));
    for (QSlider *slider : rig.w().findChildren<QSlider *>())
        QVERIFY2(slider->isEnabled(), qPrintable(slider->objectName()));

    // The poll's first reply shows (its rhythm is the session's: tests/session/tst_sessiontime).
    QTRY_COMPARE_WITH_TIMEOUT(rig.w().readings().RpmLabel->text(), QString("1500"), 3000);
    QCOMPARE(rig.w().readings().PauseLabel->text(), QString("2 s"));

    // ApplyCaptions follows the session.
    rig.w().ApplyCaptions();
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(6));
}

void TestSession::waitersForConfirmedValuesShareTheChecks()
{
    // A Save waiting for confirmed values and a compare opened meanwhile: each first answer is checked
    // by one read, not one per waiter.
    Rig rig;
    QVERIFY(rig.connect());
    rig.port->clearWritten();
    int done = 0;
    for (int waiter = 0; waiter < 2; ++waiter) {
        QVERIFY(rig.w().session().verifiedValues([&done](const VerifiedValues &values) {
            ++done;
            for (bool known : values.known)
                QVERIFY(known);
        }));
    }
    QTRY_COMPARE_WITH_TIMEOUT(done, 2, 15000);
    QList<QByteArray> reads;
    for (const auto &frame : rig.port->written())
        if (frame.bytes != kStatusFrame)
            reads.append(frame.bytes);
    QCOMPARE(reads, readFrames());
}

void TestSession::connectFailures_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("openError");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<int>("framesSent");
    QTest::addColumn<ConnectFailure::Kind>("kind");
    QTest::addColumn<PortOpenError>("reason");
    QTest::addColumn<QString>("device");   // "dialout" (660), "dialout 640", "600": a file of that group and mode stands for it
    QTest::addColumn<int>("textEntry");    // the box's main text
    QTest::addColumn<int>("detailsEntry"); // its informative text; %1 the port, %2 the device, %3 its owner
    QTest::addColumn<bool>("noise");       // the controller's side sends only line noise
    using Kind = ConnectFailure::Kind;
    QTest::newRow("no port selected") << QByteArray("COM=\r\nLanguage=ITA\r\n") << QString() << false << 0
                                      << Kind::PortNotOpened << PortOpenError::NotFound << QString() << 106 << 181
                                      << false;
    QTest::newRow("port cannot open") << QByteArray("COM=04\r\nLanguage=ITA\r\n") << "no such port" << false << 0
                                      << Kind::PortNotOpened << PortOpenError::InUse << "fake:COM4" << 180 << 101
                                      << false;
    QTest::newRow("no permission, a dialout device")
        << QByteArray("COM=04\r\nLanguage=ENG\r\n") << "denied" << false << 0 << Kind::PortNotOpened
        << PortOpenError::NoPermission << "dialout" << 180 << 102 << false;
    QTest::newRow("no permission, a dialout device closed to its group")
        << QByteArray("COM=04\r\nLanguage=ENG\r\n") << "denied" << false << 0 << Kind::PortNotOpened
        << PortOpenError::NoPermission << "dialout 640" << 180 << 182 << false;
    QTest::newRow("no permission, another user's device")
        << QByteArray("COM=04\r\nLanguage=ITA\r\n") << "denied" << false << 0 << Kind::PortNotOpened
        << PortOpenError::NoPermission << "600" << 180 << 182 << false;
    QTest::newRow("silent controller") << QByteArray("COM=04\r\nLanguage=ENG\r\n") << QString() << true << 3
                                       << Kind::NoAnswer << PortOpenError::None << "fake:COM4" << 26 << 105 << false;
    QTest::newRow("only noise") << QByteArray("COM=04\r\nLanguage=ENG\r\n") << QString() << true << 3
                                << Kind::NoAnswer << PortOpenError::None << "fake:COM4" << 26 << 91 << true;
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
    QFETCH(int, textEntry);
    QFETCH(int, detailsEntry);
    QFETCH(bool, noise);
    Rig rig(config);
    rig.port->setOpenError(openError, reason);
    QString owner;
    QString mode = "600";
    if (device.startsWith("dialout") || device == "600") {
#ifdef Q_OS_UNIX
        const QString path = rig.dir.filePath("ttyTEST");
        writeFile(path, "");
        const QByteArray native = QFile::encodeName(path);
        const group *dialout = ::getgrnam("dialout");
        if (device.startsWith("dialout") && (!dialout || ::chown(native.constData(), uid_t(-1), dialout->gr_gid) != 0))
            QSKIP("cannot give a file to the dialout group here (needs root)");
        mode = device == "dialout" ? "660" : device == "dialout 640" ? "640" : "600";
        QVERIFY(::chmod(native.constData(), mode.toUInt(nullptr, 8)) == 0);
        owner = QFileInfo(path).owner() + ':' + QFileInfo(path).group();
        device = path;
        rig.port->setDevice(device);
#else
        QSKIP("device owners and modes are a Unix matter");
#endif
    }
    rig.controller.silent = silent;
    if (noise)
        rig.port->setResponder([](const QByteArray &) { return hex("a54355ff0043"); });
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!rig.connect());
    QCOMPARE(rig.port->written().size(), framesSent);
    for (const auto &frame : rig.port->written())
        QCOMPARE(frame.bytes, kVersionFrame);
    if (!silent)
        QVERIFY(clock.elapsed() < 250); // reported at once
    // From the event loop, never from inside the call or a receive event.
    QTRY_COMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(textEntry));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const ConnectFailure &failure = rig.w().session().lastConnectFailure();
    QCOMPARE(failure.kind, kind);
    QCOMPARE(failure.openError, reason);
    QCOMPARE(failure.device, device);
    QCOMPARE(failure.systemText, openError);
    QCOMPARE(failure.bytesReceived, noise);
    QVERIFY(!rig.entry(detailsEntry).isEmpty());
    QCOMPARE(rig.dialogs.shown[0].details, QString(rig.entry(detailsEntry))
                                               .replace("%1", "COM4 (" + device + ")")
                                               .replace("%2", device)
                                               .replace("%3", owner)
                                               .replace("%4", mode));
    QCOMPARE(rig.dialogs.shown[0].action, QString()); // no other port exists to search
    QVERIFY(!rig.port->isOpen());
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.w().connection().COMM_Combo->isEnabled());
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
    rig.w().connection().btnConnect->click();
    QVERIFY(!rig.w().isConnected());
    QVERIFY(!rig.port->isOpen());
    QCOMPARE(rig.port->written().size(), 0);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
    for (const char *name : {"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"})
        QVERIFY2(!rig.timer(name)->enabled(), name);
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.w().connection().COMM_Combo->isEnabled());
    QCOMPARE(rig.w().connection().COMM_Combo->currentText(), QString("COM7"));
    QVERIFY(!rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(!rig.w().sliders().PumpMinSlider->isEnabled());
    QVERIFY(rig.w().connection().Label9->text().isEmpty());
    QVERIFY(rig.w().readings().RpmLabel->text().isEmpty());
    QCOMPARE(rig.w().session().Parameters.TinjMax, 9000); // the view changed, not the values
    QTest::qWait(700);
    QCOMPARE(rig.port->written().size(), 0);
    QVERIFY(rig.dialogs.shown.isEmpty());
}

void TestSession::disconnectDuringSlowConnect_data()
{
    QTest::addColumn<int>("framesSent"); // the click comes while this frame waits for its reply
    QTest::newRow("during the identification") << 1;
    QTest::newRow("during the reads") << 3;
}

// A slow controller holds a connect for seconds; DISCONNECT ends it at once, without a message, and
// the port list stays locked while the connect runs.
void TestSession::disconnectDuringSlowConnect()
{
    QFETCH(int, framesSent);
    Rig rig;
    rig.port->setReplyDelay(std::chrono::milliseconds(150));
    bool listLocked = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (rig.port->written().size() == framesSent) {
            QTimer::singleShot(20, rig.window.get(), [&] {
                listLocked = !rig.w().connection().COMM_Combo->isEnabled();
                rig.w().connection().btnConnect->click();
            });
        }
        return rig.controller.respond(request);
    });
    QVERIFY(!rig.connect());
    QVERIFY(listLocked);
    QTest::qWait(600);
    QCOMPARE(rig.port->written().size(), framesSent);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
    QVERIFY(!rig.port->isOpen());
    QVERIFY(rig.dialogs.shown.isEmpty());
    QCOMPARE(rig.w().session().state(), Session::State::Idle);
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));
    QVERIFY(rig.w().connection().COMM_Combo->isEnabled());
    QVERIFY(!rig.w().sliders().TinjMinSlider->isEnabled());
}

void TestSession::unwritableConfigDoesNotFailConnect()
{
    Rig rig;
    QFile::remove(rig.dir.filePath("config.ini"));
    QVERIFY(QDir(rig.dir.path()).mkdir("config.ini"));
    QVERIFY(rig.connect());
    QVERIFY(rig.port->isOpen());
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    // The user hears once a run that the port will not be remembered, where and why.
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(42) + '\n' + QDir::toNativeSeparators(rig.dir.filePath("config.ini"))
                                              + '\n' + rig.entry(77)});
    rig.w().connection().btnConnect->click();
    QVERIFY(rig.connect());
    QCOMPARE(rig.dialogs.shown.size(), 1);
}

void TestSession::lostPortWhileConnected_data()
{
    QTest::addColumn<bool>("comesBack"); // else DISCONNECT stops the waiting
    QTest::newRow("the port comes back") << true;
    QTest::newRow("DISCONNECT stops the waiting") << false;
}

// A pulled cable: the box says what stopped (with a value typed and not sent) and what to do; the
// window waits for the same port, sending nothing meanwhile, and connects again by itself when it is
// back (the controller identified and every value read afresh), or stops waiting at DISCONNECT.
void TestSession::lostPortWhileConnected()
{
    QFETCH(bool, comesBack);
    Rig rig;
    bool portThere = true;
    rig.w().setSystemPortLister([&portThere] {
        return portThere ? QList<SystemPort>{{"/dev/ttyS6", "UART", false}} : QList<SystemPort>{};
    });
    QVERIFY(rig.connect());
    QVERIFY(rig.w().sliders().openValueEditor(ParameterIndex::RpmMin));
    QTest::keyClicks(rig.w().sliders().valueEditor(), "750");
    portThere = false;
    rig.port->clearWritten();
    rig.port->loseConnection();
    QTRY_COMPARE(rig.dialogs.shown.size(), 1);
    const QString box = rig.dialogs.shown[0].text;
    QVERIFY(box.startsWith(rig.entry(39)));
    QVERIFY(box.contains(rig.entry(Caption::PortLostPoll)));
    QVERIFY(box.contains(rig.w().sliders().parameterCaption(ParameterIndex::RpmMin) + " 750"));
    QVERIFY(box.contains(QString(rig.entry(Caption::PortLostWhatToDo)).replace("%1", "COM7").replace("%2", "3")));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    QCOMPARE(rig.dialogs.shown[0].action, rig.entry(Caption::ReconnectNow));
    QVERIFY(!rig.w().isConnected());
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(6)); // DISCONNECT stops the waiting
    QVERIFY(!rig.w().readings().LinkStateLabel->isHidden());
    QCOMPARE(rig.w().readings().LinkStateLabel->text(), rig.entry(Caption::ReconnectWaiting).replace("%1", "COM7"));
    QVERIFY(!rig.w().sliders().PumpMinSlider->isEnabled());
    QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
    QTest::qWait(1500);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
    QCOMPARE(rig.port->written().size(), 0);
    if (!comesBack) {
        rig.w().connection().btnConnect->click();
        QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(5));
        QCOMPARE(rig.w().readings().LinkStateLabel->text(), rig.entry(Caption::ReconnectStopped).replace("%1", "COM7"));
        portThere = true;
        QTest::qWait(1500);
        QVERIFY(!rig.w().isConnected());
        QCOMPARE(rig.port->written().size(), 0);
        return;
    }
    rig.controller.params[2] = 700; // values are read afresh, not kept from before
    portThere = true;
    QTRY_VERIFY_WITH_TIMEOUT(rig.w().isConnected(), 5000);
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.w().sliders().RpmMinLabel->text(), QString("700"));
    QCOMPARE(int(rig.port->writtenBytes().first()[2]), 4); // it identifies itself first
    QCOMPARE(rig.w().readings().LinkStateLabel->text(), rig.entry(Caption::Reconnected).replace("%1", "COM7"));
    QCOMPARE(rig.w().connection().btnConnect->text(), rig.entry(6));
    QCOMPARE(rig.dialogs.shown.size(), 1);
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
    rig.w().connection().btnConnect->click();
    QVERIFY(rig.waitQuiet());
    QVERIFY(lost);
    QVERIFY(!rig.w().isConnected());
    QCOMPARE(rig.port->written().size(), 4); // version and reads 0 to 2, nothing after the loss
    QTRY_COMPARE(rig.dialogs.texts().size(), 1);
    QVERIFY(rig.dialogs.texts()[0].startsWith(rig.entry(39)));
    // The controller did identify itself: its port is remembered all the same.
    QCOMPARE(readFile(rig.dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ITA\r\n"));
    QVERIFY(!rig.w().maps().cmdLoadMap->isEnabled());
    QVERIFY(!rig.w().connection().ResetCmd->isEnabled());
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
    QVERIFY(!rig.w().sliders().TinjMaxSlider->isEnabled());
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("---"));
    QVERIFY(rig.w().sliders().TinjMinSlider->isEnabled());
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    answerRead4 = true;
    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.waitQuiet());
    QVERIFY(rig.w().sliders().TinjMaxSlider->isEnabled());
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("9000"));
}

void TestSession::lostReadBackLeavesParameterUnknown_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::newRow("map load") << "map";
}

// The map's value is not what the window showed before: a read that goes unanswered leaves the
// parameter unknown, not at its old value, and no map can be saved. (The reset's read-back, and the
// session's side of both, in tests/session/tst_sessiontime.)
void TestSession::lostReadBackLeavesParameterUnknown()
{
    QFETCH(QString, sequence);
    Rig rig;
    QVERIFY(rig.connect());
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("9000"));
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == 4)
            return QByteArray();
        return rig.controller.respond(request);
    });
    rig.controller.params[4] = 5000;
    if (sequence == "reset") {
        rig.w().connection().ResetCmd->click();
    } else {
        rig.dialogs.openAnswers << rig.dir.filePath("m.map");
        writeFile(rig.dialogs.openAnswers[0], "a=5\r\nb=15\r\nc=600\r\nd=1500\r\ne=5000\r\nf=160\r\ng=80\r\nh=100\r\n");
        rig.w().maps().cmdLoadMap->click();
    }
    QVERIFY(rig.waitQuiet());
    QVERIFY(!rig.w().session().parameterKnown(ParameterIndex::TinjMax));
    QVERIFY(!rig.w().sliders().TinjMaxSlider->isEnabled());
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("---"));
    QVERIFY(rig.w().sliders().TinjMinSlider->isEnabled());
    if (sequence == "map")
        QVERIFY(rig.dialogs.shown.last().text.section("\n\n", 0, -2).endsWith("Tinj Max: 5000 → ---"));

    rig.dialogs.shown.clear();
    rig.dialogs.saveAnswers << rig.dir.filePath("saved.map");
    rig.w().maps().cmdSaveMap->click(); // reads Tinj Max once more, unanswered
    QTRY_COMPARE_WITH_TIMEOUT(rig.dialogs.texts(), QStringList{rig.entry(62) + "\nTinj Max"}, 5000);
    QVERIFY(!QFile::exists(rig.dir.filePath("saved.map")));
    QVERIFY(rig.dialogs.fileDialogFolders.size() == (sequence == "map" ? 1 : 0)); // no save dialog
}

// Two status requests in a row without an answer: the readings and the parameters show "---", the lamp
// stops and a line says so, without a box and without moving a control; the first answer brings
// everything back.
void TestSession::silentControllerShownAsSuch()
{
    Rig rig;
    QVERIFY(rig.connect());
    QTRY_COMPARE(rig.w().readings().RpmLabel->text(), QString("1500"));
    QLabel *line = rig.w().findChild<QLabel *>("LinkStateLabel");
    QVERIFY(line);
    QVERIFY(line->isHidden());
    QList<QRect> geometries;
    for (QWidget *widget : rig.w().centralWidget()->findChildren<QWidget *>())
        geometries << widget->geometry();
    QSignalSpy answering(&rig.w().session(), &Session::controllerAnsweringChanged);
    rig.controller.silent = true;
    QTRY_COMPARE_WITH_TIMEOUT(answering.count(), 1, 8000);
    QVERIFY(!line->isHidden());
    // Whoever answers next may be another controller: no value counts until it is read again.
    QCOMPARE(line->text(), rig.entry(61) + "\n" + rig.entry(141));
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("---"));
    for (QLabel *label : {rig.w().readings().RpmLabel, rig.w().readings().TinjLabel, rig.w().readings().PumpLabel, rig.w().readings().PauseLabel})
        QCOMPARE(label->text(), QString("---"));
    QVERIFY(!rig.timer("TimerPausaLampeggio")->enabled());
    QVERIFY(!rig.timer("TimerLampeggio")->enabled());
    QVERIFY(rig.w().isConnected());
    QVERIFY(rig.dialogs.shown.isEmpty());
    QList<QRect> now;
    for (QWidget *widget : rig.w().centralWidget()->findChildren<QWidget *>())
        now << widget->geometry();
    QCOMPARE(now, geometries);
    // A read the silence left unanswered: "---", and the line says it will be read again.
    bool readEnded = false;
    rig.w().session().ReadParameter(4, [&readEnded](bool) { readEnded = true; });
    QTRY_VERIFY_WITH_TIMEOUT(readEnded, 4000);
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("---"));
    QCOMPARE(line->text(), rig.entry(61) + "\n" + rig.entry(141));

    rig.controller.silent = false;
    QTRY_COMPARE_WITH_TIMEOUT(answering.count(), 2, 4000);
    // The first answer brings the readings back, and the value read again by itself (its verification
    // and the line's quality are the session's: tests/session/tst_sessiontime).
    QTRY_COMPARE_WITH_TIMEOUT(rig.w().sliders().TinjMaxLabel->text(), QString("9000"), 10000);
    // The line goes once the controller identified itself and all eight are confirmed again.
    QTRY_VERIFY_WITH_TIMEOUT(line->isHidden(), 8000);
    QCOMPARE(rig.w().readings().RpmLabel->text(), QString("1500"));
    QVERIFY(rig.timer("TimerPausaLampeggio")->enabled());
    QVERIFY(rig.dialogs.shown.isEmpty());
}

// The cable goes to another engine while the controller is silent: once one answers again it
// identifies itself and all eight are confirmed afresh before any is shown; another firmware or other
// values are told in the line over the logo. Confirmed and untouched since, nothing is read for a Save.
void TestSession::controllerKnownAfreshAfterSilence_data()
{
    QTest::addColumn<bool>("otherFirmware");
    QTest::addColumn<bool>("otherValues");
    QTest::newRow("the same controller") << false << false;
    QTest::newRow("other values") << false << true;
    QTest::newRow("other firmware") << true << false;
}

void TestSession::controllerKnownAfreshAfterSilence()
{
    QFETCH(bool, otherFirmware);
    QFETCH(bool, otherValues);
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    Session &session = rig.w().session();
    QSignalSpy answering(&session, &Session::controllerAnsweringChanged);
    QSignalSpy notices(&session, &Session::notice);
    rig.controller.silent = true;
    QTRY_COMPARE_WITH_TIMEOUT(answering.count(), 1, 8000);
    for (int i = 0; i < 8; ++i)
        QVERIFY(!session.parameterKnown(ParameterIndex(i)));
    if (otherValues)
        rig.controller.params = {2, 10, 1000, 1500, 12000, 800, 200, 100};
    if (otherFirmware)
        rig.controller.version = {2, 0, 1};
    const std::array<quint16, 8> held = rig.controller.params;
    rig.port->clearWritten();
    rig.controller.silent = false;
    QTRY_COMPARE_WITH_TIMEOUT(answering.count(), 2, 4000);
    QTRY_VERIFY_WITH_TIMEOUT(session.allParametersKnown(), 10000);
    QVERIFY(rig.waitQuiet());
    // Asked who it is, and each of the eight told twice.
    QList<int> reads(8, 0);
    bool asked = false;
    for (const QByteArray &frame : rig.port->writtenBytes()) {
        asked |= frame[2] == 4;
        if (frame[2] == 1)
            ++reads[quint8(frame[3])];
    }
    QVERIFY(asked);
    QCOMPARE(reads, QList<int>(8, 2));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(session.controllerValue(ParameterIndex(i)), std::optional<qint32>(held[size_t(i)]));
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString::number(held[4]));
    QCOMPARE(rig.w().connection().Label9->text(), otherFirmware ? QString("Ver. 2.0.1") : QString("Ver. 1.2.3"));
    const bool another = otherFirmware || otherValues;
    QCOMPARE(notices.count(), another ? 1 : 0);
    QLabel *line = rig.w().findChild<QLabel *>("LinkStateLabel");
    QCOMPARE(!line->isHidden() && line->text() == rig.entry(142), another);
    QVERIFY(rig.dialogs.shown.isEmpty());
    // All eight confirmed: a Save sends nothing.
    rig.port->clearWritten();
    session.holdPoll(true);
    std::optional<VerifiedValues> values;
    QVERIFY(session.verifiedValues([&values](const VerifiedValues &v) { values = v; }));
    QTRY_VERIFY(values.has_value());
    QVERIFY(values->complete());
    QCOMPARE(rig.port->written().size(), 0);
}

// A handler of what the session tells opens a box (a recording's full disk from the live readings, the
// map load's notice): its nested event loop runs while the poll and a read go on, and nothing of the
// request in flight is lost or taken for another's answer.
void TestSession::boxFromNotificationHandler_data()
{
    QTest::addColumn<bool>("mapLoad");
    QTest::newRow("live readings") << false;
    QTest::newRow("map loaded") << true;
}

void TestSession::boxFromNotificationHandler()
{
    QFETCH(bool, mapLoad);
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    Session &session = rig.w().session();
    int opened = 0;
    bool insideReceive = false;
    std::optional<bool> readAnswered;
    const auto box = [&] {
        if (opened++)
            return;
        insideReceive = rig.port->inReceiveEvent();
        // A late status reply comes in while the box is open, then a read is asked for.
        QTimer::singleShot(50, &session, [&] { rig.port->deliver(hex("435503 05DC 0064 0019 0050")); });
        QTimer::singleShot(100, &session, [&] { session.ReadParameter(4, [&](bool ok) { readAnswered = ok; }); });
        QEventLoop modal;
        QTimer::singleShot(1500, &modal, &QEventLoop::quit);
        modal.exec();
    };
    // Every answer the session learns is the controller's: none taken from another request's reply.
    QList<qint32> tinjMaxReads;
    QObject::connect(&session, &Session::parameterRead, &session, [&](ParameterIndex index, qint32 value) {
        if (index == ParameterIndex::TinjMax)
            tinjMaxReads << value;
    });
    if (mapLoad) {
        QObject::connect(&session, &Session::mapLoaded, &session, box);
        ParameterSet values = session.controllerValues();
        values[ParameterIndex::RpmMin] = 700;
        QVERIFY(session.loadMap(values));
    } else {
        QObject::connect(&session, &Session::liveReadingsChanged, &session, box);
    }
    QTRY_VERIFY_WITH_TIMEOUT(opened > 0 && readAnswered.has_value(), 8000);
    QVERIFY(!insideReceive);
    QVERIFY(*readAnswered);
    QVERIFY(rig.waitQuiet());
    QTRY_VERIFY_WITH_TIMEOUT(session.parameterConfirmed(ParameterIndex::TinjMax), 5000);
    QCOMPARE(session.controllerValue(ParameterIndex::TinjMax), std::optional<qint32>(9000));
    QCOMPARE(session.controllerValue(ParameterIndex::RpmMin), std::optional<qint32>(mapLoad ? 700 : 600));
    QCOMPARE(rig.w().sliders().TinjMaxLabel->text(), QString("9000"));
    QVERIFY(!tinjMaxReads.isEmpty());
    QCOMPARE(tinjMaxReads, QList<qint32>(tinjMaxReads.size(), 9000));
    QVERIFY(!tinjMaxReads.isEmpty());
    QCOMPARE(tinjMaxReads, QList<qint32>(tinjMaxReads.size(), 9000));
}

void TestSession::accessibleTexts_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::newRow("ITA") << QByteArray("ITA");
    QTest::newRow("ENG") << QByteArray("ENG");
}

// What assistive technology reads, asked as it asks: every control, value and reading has a name and a
// description in the language in use; the lamp says whether the pump is on, and the line over the
// logo is a status.
void TestSession::accessibleTexts()
{
    QFETCH(QByteArray, language);
    Rig rig("COM=07\r\nLanguage=" + language + "\r\n");
    QVERIFY(rig.connect());
    ReadingsPanel &readings = rig.w().readings();
    QTRY_COMPARE(readings.RpmLabel->text(), QString("1500"));
    const QString ride = rig.dir.filePath("Recordings/ride.csv");
    rig.dialogs.saveAnswers << ride;
    rig.w().findChild<QAction *>("menuTools_1")->trigger();
    readings.stopTimers();
    const auto e = [&](int entry) { return rig.entry(entry); };
    const SliderPanel &sliders = rig.w().sliders();
    const ConnectionPanel &connection = rig.w().connection();
    const bool lampLit = readings.Label3->palette().color(QPalette::Window) == QColor(255, 0, 0);
    const QList<std::tuple<QWidget *, QString, QString>> expected{
        // On Linux Qt names a list by its current item (screen readers there take the name from a
        // relation); elsewhere by the name the window gives it.
#ifdef Q_OS_UNIX
        {connection.COMM_Combo, "COM7", e(199)},
#else
        {connection.COMM_Combo, e(194), e(199)},
#endif
        {connection.btnConnect, e(6), e(190)},
        {connection.ResetCmd, e(17), e(191)},
        {rig.w().maps().cmdLoadMap, e(32), e(192)},
        {rig.w().maps().cmdSaveMap, e(33), e(193)},
        {connection.Label9, e(196), "Ver. 1.2.3"},
        {readings.RpmLabel, e(0), e(187).arg("1500")},
        {readings.TinjLabel, e(1), e(188).arg("100")},
        {readings.PumpLabel, e(2), "0.5 s"},
        {readings.PauseLabel, e(3), "2 s"},
        {readings.Label3, e(lampLit ? 185 : 186), e(198)},
        {readings.RecordingMark, e(197).arg("ride.csv"), QDir::toNativeSeparators(ride)},
        {sliders.RpmMultiplierSlider, e(31), e(183).arg("100%", "50%", "200%")},
        {sliders.PumpMinSlider, e(9) + " – " + e(13), e(183).arg("0.1 s", "0.02 s", "1 s")},
        {sliders.TinjMaxLabel, e(12), e(183).arg("9000", "50", "30000")},
    };
    for (const auto &[widget, name, description] : expected) {
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
        QVERIFY2(control, qPrintable(widget->objectName()));
        QCOMPARE(control->text(QAccessible::Name), name);
        QCOMPARE(control->text(QAccessible::Description), description);
    }
    for (int i = 0; i < kParameterCount; ++i) {
        for (QWidget *widget : {static_cast<QWidget *>(sliders.sliderFor(ParameterIndex(i))),
                                static_cast<QWidget *>(sliders.labelFor(ParameterIndex(i)))}) {
            QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
            QCOMPARE(control->text(QAccessible::Name), sliders.parameterCaption(ParameterIndex(i)));
            QVERIFY2(control->text(QAccessible::Description).startsWith(e(183).section(u'%', 0, 0)),
                     qPrintable(widget->objectName()));
        }
        // A slider's value is read as the window shows it, not as its knob's position.
        QAccessibleInterface *slider = QAccessible::queryAccessibleInterface(sliders.sliderFor(ParameterIndex(i)));
        QCOMPARE(slider->text(QAccessible::Value), sliders.labelFor(ParameterIndex(i))->text());
    }
    QCOMPARE(connection.COMM_Combo->accessibleName(), e(194));
    QAccessibleInterface *line = QAccessible::queryAccessibleInterface(readings.LinkStateLabel);
    QCOMPARE(line->role(), QAccessible::StatusBar);
    QCOMPARE(line->text(QAccessible::Name), e(195));
}

void TestSession::resetAsksFirst_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("Cancel") << false;
    QTest::newRow("OK") << true;
}

// RESET asks first, naming the restore point that holds the controller's values; nothing goes out
// while the question is open, and Cancel sends nothing at all and leaves no restore point.
void TestSession::resetAsksFirst()
{
    QFETCH(bool, ok);
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    rig.w().session().holdPoll(true); // keep polls out of the frame count
    rig.port->clearWritten();
    rig.dialogs.confirmAnswers << ok;
    qsizetype sentMeanwhile = -1;
    bool buttonOffMeanwhile = false;
    rig.dialogs.onConfirm = [&] {
        QTest::qWait(50);
        sentMeanwhile = rig.port->written().size();
        buttonOffMeanwhile = !rig.w().connection().ResetCmd->isEnabled();
    };
    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    QCOMPARE(rig.dialogs.confirms.size(), 1);
    const QStringList points = restorePoints(rig.dir.path());
    QCOMPARE(points.size(), ok ? 1 : 0);
    const QString pointLine = rig.entry(250).arg(ok ? points[0] : QString());
    if (ok) {
        QVERIFY2(points[0].contains("-before-reset-COM"), qPrintable(points[0]));
        QVERIFY(readFile(rig.dir.path() + "/Maps/Backups/" + points[0])
                    .startsWith("MinPumpCycles=5\r\nMaxPumpCycles=15\r\nRpmMin=600\r\nTinjMin=1500\r\nTinjMax=9000\r\n"
                                "MinLoadPumpPause=160\r\nMaxLoadPumpPause=80\r\nRpmMultiplier=100\r\nFirmware=1.2.3\r\n"));
        QCOMPARE(rig.dialogs.confirms[0].text, rig.entry(72) + "\n\n" + pointLine);
    }
    QCOMPARE(rig.dialogs.confirms[0].title, rig.entry(27));
    QCOMPARE(sentMeanwhile, 0);
    QVERIFY(buttonOffMeanwhile);
    QList<QByteArray> expected;
    if (ok)
        expected = QList<QByteArray>{kResetFrame} + readFrames();
    QCOMPARE(rig.port->writtenBytes(), expected);
    QCOMPARE(rig.dialogs.texts(), ok ? QStringList{rig.entry(38) + "\n\n" + pointLine} : QStringList{});
    if (ok)
        QCOMPARE(rig.dialogs.shown[0].action, rig.entry(253)); // Undo
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
}

// Save and RESET clicked at once while the connect's values are being verified: Save's dialog opens
// first, and the reset's question does not open over it; the reset is given up, its button back.
void TestSession::resetGivenUpUnderSavesDialog()
{
    Rig rig;
    QVERIFY(rig.connect());
    rig.dialogs.onFileDialog = [&] { QTest::qWait(300); }; // the restore point is through meanwhile
    rig.w().maps().cmdSaveMap->click();
    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    QCOMPARE(rig.dialogs.fileDialogFolders.size(), 1);
    QVERIFY(rig.dialogs.confirms.isEmpty());
    QCOMPARE(restorePoints(rig.dir.path()), QStringList());
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
}

void TestSession::resetAcknowledged()
{
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    rig.timer("Timer_StatusRequest")->setEnabled(false); // keep polls out of the frame count
    rig.port->clearWritten();
    bool buttonDisabledDuringMessage = false;
    rig.dialogs.onMessage = [&] {
        buttonDisabledDuringMessage = !rig.w().connection().ResetCmd->isEnabled()
                                      && !rig.timer("Timer_StatusRequest")->enabled()
                                      && rig.w().sliders().PumpMinLabel->text() == "---"; // the old value is gone
    };
    rig.controller.params[0] = 9;
    rig.w().connection().ResetCmd->click();
    QVERIFY(!rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.settled());
    QList<QByteArray> expected{kResetFrame};
    expected += readFrames();
    QCOMPARE(rig.port->writtenBytes(), expected);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.heads(), QStringList{rig.entry(38)});
    QVERIFY(rig.dialogs.shown[0].title.isEmpty()); // the program's own name
    QVERIFY(buttonDisabledDuringMessage);
    QCOMPARE(rig.w().sliders().PumpMinSlider->value(), 9);
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestSession::resetNotAcknowledged()
{
    Rig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.verify());
    rig.timer("Timer_StatusRequest")->setEnabled(false);
    rig.port->clearWritten();
    rig.controller.ackReset = false;
    rig.w().connection().ResetCmd->click();
    QVERIFY(rig.settled());
    QCOMPARE(rig.dialogs.heads(), (QStringList{rig.entry(28), rig.entry(38)}));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    const auto frames = rig.port->written();
    QCOMPARE(frames.size(), 3 + 8);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(frames[i].bytes, kResetFrame);
    const qint64 spacing = frames[2].atMs - frames[1].atMs;
    QVERIFY2(spacing >= 950 && spacing < 1600, qPrintable(QString::number(spacing)));
    QVERIFY(rig.w().connection().ResetCmd->isEnabled());
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
    QCOMPARE(rig.w().readings().RpmLabel->text(), labels[0]);
    QCOMPARE(rig.w().readings().TinjLabel->text(), labels[1]);
    QCOMPARE(rig.w().readings().PumpLabel->text(), labels[2]);
    QCOMPARE(rig.w().readings().PauseLabel->text(), labels[3]);
    QVERIFY(rig.timer("TimerPausaLampeggio")->enabled());
    QCOMPARE(rig.timer("TimerPausaLampeggio")->interval(), interval);
}

void TestSession::readApplied_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("first"); // the first read's answer, a bit flipped on the line (-1: value)
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label");
    QTest::newRow("multiplier 200") << 7 << 200 << -1 << 20 << "200%";
    QTest::newRow("multiplier 155") << 7 << 155 << -1 << 15 << "155%";
    QTest::newRow("pause 90") << 5 << 90 << -1 << 90 << "2.25 s";
    QTest::newRow("tinj 1234 unchanged") << 3 << 1234 << -1 << 1234 << "1234";
    // Beyond the slider: known once read twice, shown as held, the slider at its end and usable.
    QTest::newRow("multiplier 250") << 7 << 250 << -1 << 20 << "250%";
    QTest::newRow("erased tinj max") << 4 << 65535 << -1 << 30000 << "65535";
    // The verification's verdict is what the window shows and a saved map holds.
    QTest::newRow("first read flipped") << 3 << 450 << 2498 << 450 << "450";
}

void TestSession::readApplied()
{
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(int, first);
    QFETCH(int, position);
    QFETCH(QString, label);
    Rig rig;
    rig.controller.params[size_t(index)] = quint16(value);
    bool flipped = first < 0;
    rig.port->setResponder([&](const QByteArray &request) {
        QByteArray reply = rig.controller.respond(request);
        if (request[2] == 1 && request[3] == index && !std::exchange(flipped, true)) {
            reply[4] = char(first >> 8);
            reply[5] = char(first & 0xFF);
        }
        return reply;
    });
    QVERIFY(rig.connect());
    // Save at once, while the first answers are still being verified: it waits for the verdicts,
    // busy meanwhile, and the map holds what the controller confirmed.
    const QString path = rig.dir.filePath("Maps/held.map");
    rig.dialogs.saveAnswers << path;
    rig.w().maps().cmdSaveMap->click();
    QVERIFY(!rig.w().maps().cmdSaveMap->isEnabled());
    QVERIFY(rig.dialogs.fileDialogFolders.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 10000);
    QVERIFY2(readFile(path).contains(mapFileKey(index).toLatin1() + '=' + QByteArray::number(value) + "\r\n"),
             readFile(path).constData());
    QVERIFY(rig.w().maps().cmdSaveMap->isEnabled());
    const auto pi = ParameterIndex(index);
    QCOMPARE(rig.w().session().book().state(pi), ParameterBook::State::Known);
    QCOMPARE(rig.w().session().Parameters[pi], value);
    QCOMPARE(rig.w().sliders().sliderFor(pi)->value(), position);
    QCOMPARE(rig.w().sliders().labelFor(pi)->text(), label);
    QVERIFY(rig.w().sliders().sliderFor(pi)->isEnabled());
    const bool beyond = value == 250 || value == 65535;
    QCOMPARE(rig.w().sliders().labelFor(pi)->toolTip().isEmpty(), !beyond);
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
    rig.w().connection().ResetCmd->click(); // would wait three seconds and then read eight times
    QVERIFY(rig.waitQuiet());
    QVERIFY2(clock.elapsed() < 900, qPrintable(QString::number(clock.elapsed())));
    QTest::qWait(1200);
    QCOMPARE(rig.port->written().size(), 1);
    QVERIFY(rig.dialogs.shown.isEmpty());
    for (const char *name : {"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"})
        QVERIFY2(!rig.timer(name)->enabled(), name);
}

void TestSession::portMarksAndUsbAdapterOffer()
{
#ifdef Q_OS_WIN
    QSKIP("ports/ links name devices on Linux only; Windows has no file called COMn");
#endif
    Rig rig("COM=01\r\nLanguage=ENG\r\n");
    QDir(rig.dir.path()).mkpath("ports");
    const QString adapter = QDir(rig.dir.path()).absoluteFilePath("ttyUSB0"); // stands in for the device
    QFile(adapter).open(QIODevice::WriteOnly);
    QVERIFY(QFile::link("/dev/null", rig.dir.filePath("ports/COM3")));
    QVERIFY(QFile::link(rig.dir.filePath("gone"), rig.dir.filePath("ports/COM4")));
    bool plugged = true;
    rig.w().setSystemPortLister([&] {
        QList<SystemPort> ports{{"/dev/ttyS1", "16550A", false}};
        if (plugged)
            ports.append({adapter, "FT232R USB UART", true});
        return ports;
    });
    QComboBox *combo = rig.w().connection().COMM_Combo;
    const auto open = [&] {
        combo->showPopup();
        combo->hidePopup();
    };
    const QString offer = QString(rig.entry(111)).replace("%1", adapter).replace("%2", "FT232R USB UART")
                              .replace("%3", "COM5"); // COM3 is linked, COM4's link dangles: neither is free

    rig.dialogs.questionAnswers = {false};
    open();
    open(); // a no is remembered
    QCOMPARE(rig.dialogs.texts(), QStringList{offer});
    QVERIFY(!QFileInfo(rig.dir.filePath("ports/COM5")).isSymLink());
    plugged = false;
    open();
    plugged = true; // unplugged and back: offered again
    open();
    QCOMPARE(rig.dialogs.texts(), (QStringList{offer, offer}));
    QCOMPARE(QFileInfo(rig.dir.filePath("ports/COM5")).symLinkTarget(), adapter);
    QCOMPARE(combo->currentIndex(), 4);
    QCOMPARE(rig.w().ComPort(), 5);
    open(); // linked now: nothing more to offer
    QCOMPARE(rig.dialogs.shown.size(), 2);

    // Texts stay COM1 to COM15; what leads somewhere is bold and says where.
    const QStringList tips{QString(), "/dev/ttyS1 — 16550A", "/dev/null",
                           QString(rig.entry(113)).replace("%1", rig.dir.filePath("gone"))
                               .replace("%2", "ports/COM4"),
                           adapter + " — FT232R USB UART"};
    for (int i = 0; i < 15; ++i) {
        QCOMPARE(combo->itemText(i), QString("COM%1").arg(i + 1));
        QCOMPARE(combo->itemData(i, Qt::ToolTipRole).toString(), tips.value(i));
        const bool bold = i == 1 || i == 2 || i == 4;
        QCOMPARE(combo->itemData(i, Qt::FontRole).value<QFont>().bold(), bold);
    }
}

void TestSession::cancelledSearchSendsNothingMore()
{
#ifdef Q_OS_WIN
    QSKIP("ports/ links name devices on Linux only; Windows has no file called COMn");
#endif
    Rig rig("COM=07\r\nLanguage=ENG\r\n");
    QDir(rig.dir.path()).mkpath("ports");
    for (const char *port : {"ports/COM2", "ports/COM3", "ports/COM9"})
        QVERIFY(QFile::link("/dev/null", rig.dir.filePath(port))); // ports that lead somewhere
    rig.controller.silent = true;
    rig.dialogs.actionAnswers = {true};
    rig.w().connection().btnConnect->click();
    QProgressDialog *progress = nullptr;
    QTRY_VERIFY((progress = rig.w().findChild<QProgressDialog *>("searchProgress")));
    QTRY_COMPARE(rig.port->written().size(), 4); // three tries on COM7, then COM2's one
    QCOMPARE(rig.port->comPort(), 2);
    QVERIFY(!rig.w().connection().btnConnect->isEnabled());
    QVERIFY(!rig.w().connection().COMM_Combo->isEnabled());
    rig.w().connection().btnConnect->click(); // refused: the search holds the port
    QPushButton *cancel = progress->findChild<QPushButton *>();
    QVERIFY(cancel);
    cancel->click();
    QTest::qWait(1200);
    QCOMPARE(rig.port->written().size(), 4);
    QCOMPARE(rig.port->comPort(), 2);
    QVERIFY(!rig.port->isOpen());
    QCOMPARE(rig.dialogs.shown.size(), 1); // the failure box; a cancelled search reports nothing
    QVERIFY(rig.w().connection().btnConnect->isEnabled());
    QVERIFY(rig.w().connection().COMM_Combo->isEnabled());
    QCOMPARE(rig.w().session().state(), Session::State::Idle);
}

// The About box is open when the connect fails: the failure's box, search and all, follows it.
void TestSession::connectFailureWaitsForAnOpenBox()
{
#ifdef Q_OS_WIN
    QSKIP("ports/ links name devices on Linux only; Windows has no file called COMn");
#endif
    Rig rig("COM=07\r\nLanguage=ENG\r\n");
    QDir(rig.dir.path()).mkpath("ports");
    QVERIFY(QFile::link("/dev/null", rig.dir.filePath("ports/COM2")));
    rig.controller.silent = true;
    bool waited = false;
    qsizetype shownOverAbout = -1;
    rig.dialogs.onMessage = [&] {
        if (std::exchange(waited, true))
            return;
        QTRY_VERIFY_WITH_TIMEOUT(rig.w().session().state() == Session::State::Idle, 5000);
        shownOverAbout = rig.dialogs.shown.size() - 1;
    };
    rig.w().connection().btnConnect->click();
    rig.w().findChild<QAction *>("menuInfo_1")->trigger();
    QCOMPARE(shownOverAbout, 0);
    QCOMPARE(rig.dialogs.shown.size(), 2);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(30));
    QCOMPARE(rig.dialogs.shown[1].text, rig.entry(26));
    QCOMPARE(rig.dialogs.shown[1].details, rig.entry(105).replace("%1", "COM7 (fake:COM7)"));
    QCOMPARE(rig.dialogs.shown[1].action, rig.entry(107));
}

QTEST_MAIN(TestSession)
#include "tst_session.moc"
