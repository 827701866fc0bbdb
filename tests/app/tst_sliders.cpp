#include "intervaltimer.h"
#include "numbertexts.h"
#include "testfiles.h"
#include "sliderknob.h"
#include "windowrig.h"

#include <QLineEdit>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

namespace {
QByteArray writeFrame(int index, int value)
{
    QByteArray frame = QByteArray::fromHex("504302000000000000");
    frame[3] = char(index);
    frame[4] = char(value >> 8);
    frame[5] = char(value & 0xFF);
    return frame;
}

QList<QByteArray> writesOnly(const QList<QByteArray> &frames)
{
    QList<QByteArray> writes;
    for (const QByteArray &frame : frames)
        if (frame.size() == 9 && frame[2] == 2)
            writes.append(frame);
    return writes;
}

const QColor kLampOff(192, 192, 0);
const QColor kLampOn(255, 0, 0);
QColor lamp(MainWindow &w)
{
    return w.readings().Label3->palette().color(QPalette::Window);
}
} // namespace

// A connected window, shown so mouse input reaches it, with the status poll held off so frame
// counts only see what the sliders send.
struct SliderRig : Rig {
    using Rig::Rig;
    bool start()
    {
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        if (!connect())
            return false;
        window->session().holdPoll(true);
        port->clearWritten();
        return true;
    }
    QSlider *slider(int index) { return window->sliders().sliderFor(ParameterIndex(index)); }
    QLabel *label(int index) { return window->sliders().labelFor(ParameterIndex(index)); }
    // The knob is put at a position as a drag would leave it and the mouse moves on it with the button
    // held (the preview); release() then ends the drag (the commit).
    void dragTo(int index, int position)
    {
        slider(index)->setValue(position);
        const QPointF at = knobCentre(slider(index));
        QMouseEvent move(QEvent::MouseMove, at, slider(index)->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(slider(index), &move);
    }
    void hover(int index) { QTest::mouseMove(slider(index), knobCentre(slider(index))); }
    void key(int index, QEvent::Type type, int key, bool autoRepeat = false)
    {
        QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
        QApplication::sendEvent(slider(index), &event);
        QVERIFY(QTest::qWaitFor([this] { return !w().sliders().keyGestureEnding(); })); // a release's commit starts
    }
    // Releases a button on the knob and waits until the write it started has ended.
    void release(int index, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(slider(index), button, {}, knobCentre(slider(index)));
        QTest::mouseRelease(slider(index), button, {}, knobCentre(slider(index)));
        waitQuiet();
    }
    QList<QByteArray> writes() const { return writesOnly(port->writtenBytes()); }
    // Opens the value editor, by Enter on the focused slider or a double-click on its label, types
    // text over its value and ends with the given key.
    bool typeValue(int index, bool byKey, const QString &text, Qt::Key end)
    {
        if (byKey) {
            slider(index)->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(slider(index), Qt::Key_Return);
        } else {
            QTest::mouseDClick(label(index), Qt::LeftButton);
        }
        QLineEdit *editor = window->findChild<QLineEdit *>("ValueEditor");
        if (!editor || !editor->isVisible())
            return false;
        QTest::keyClicks(editor, text);
        QTest::keyClick(editor, end);
        return true;
    }
};

class TestSliders : public QObject
{
    Q_OBJECT
private slots:
    void previewSendsNothing_data();
    void previewSendsNothing();
    void commitWithInterlock_data();
    void commitWithInterlock();
    void pairHeldToTheController_data();
    void pairHeldToTheController();
    void unknownPartnerReadBeforeCommit_data();
    void unknownPartnerReadBeforeCommit();
    void unconfirmedWriteReadsBack_data();
    void unconfirmedWriteReadsBack();
    void realDragCommitsWhatItPreviewed();
    void rightButtonReleaseWritesOnce();
    void clickWithoutMoveWrites();
    void releaseWritesWhatTheKnobShows_data();
    void releaseWritesWhatTheKnobShows();
    void inputBesideDrags_data();
    void inputBesideDrags();
    void valueEditorCancels_data();
    void valueEditorCancels();
    void valueEditorSays_data();
    void valueEditorSays();
    void controllerValueShownUntilNextMove();
    void italianDecimalComma();
    void editorTakesTheInterfacesSeparator_data();
    void editorTakesTheInterfacesSeparator();
    void releasedSliderBusyDuringWrite();
    void focusStaysAcrossPolls();
    void focusReturnsAfterEveryDialog_data();
    void focusReturnsAfterEveryDialog();
    void actionsWhileControllerAnswersLate_data();
    void actionsWhileControllerAnswersLate();
    void sessionEndingDuringWriteLeavesSliderDisabled();
    void lampFlashesAboveThreshold_data();
    void lampFlashesAboveThreshold();
    void lampFollowsTheControllersThreshold();
    void lampFollowsPauseRhythm_data();
    void lampFollowsPauseRhythm();
    void disconnectStopsLamp();
};

void TestSliders::previewSendsNothing_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("label");
    QTest::newRow("pump min 25") << 0 << 25 << 25 << "0.5 s";
    QTest::newRow("pump max 50") << 1 << 50 << 50 << "1 s";
    QTest::newRow("rpm min 49") << 2 << 49 << 0 << "0";
    QTest::newRow("rpm min 6000") << 2 << 6000 << 6000 << "6000";
    QTest::newRow("tinj min 1249") << 3 << 1249 << 1200 << "1200";
    QTest::newRow("tinj max 30000") << 4 << 30000 << 30000 << "30000";
    QTest::newRow("pause min 81") << 5 << 81 << 81 << "2.02 s";
    QTest::newRow("pause max 2400") << 6 << 2400 << 2400 << "60 s";
    QTest::newRow("multiplier 5") << 7 << 5 << 50 << "50%";
    QTest::newRow("multiplier 20") << 7 << 20 << 200 << "200%";
}

void TestSliders::previewSendsNothing()
{
    QFETCH(int, index);
    QFETCH(int, position);
    QFETCH(int, field);
    QFETCH(QString, label);
    SliderRig rig;
    QVERIFY(rig.start());
    rig.dragTo(index, position);
    QCOMPARE(rig.w().session().Parameters[ParameterIndex(index)], field);
    QCOMPARE(rig.label(index)->text(), label);
    QCOMPARE(rig.slider(index)->value(), position); // the knob itself is not rounded
    QCoreApplication::processEvents();
    QCOMPARE(rig.port->written().size(), 0);
}

void TestSliders::commitWithInterlock_data()
{
    QTest::addColumn<int>("partner");       // -1: none
    QTest::addColumn<int>("partnerPosition");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("position");      // where the drag left the released slider
    QTest::addColumn<int>("finalPosition");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("written");
    QTest::addColumn<QString>("editor"); // "": a drag; "click": a double-click on the label; "key": Enter
    QTest::addColumn<QString>("typed");
    QTest::newRow("pump max below min") << 0 << 30 << 1 << 20 << 30 << "0.6 s" << 30 << "" << "";
    QTest::newRow("pump min above max") << 1 << 20 << 0 << 35 << 20 << "0.4 s" << 20 << "" << "";
    QTest::newRow("pump equal") << 0 << 30 << 1 << 30 << 30 << "0.6 s" << 30 << "" << "";
    QTest::newRow("pause max above min") << 5 << 400 << 6 << 500 << 400 << "10 s" << 400 << "" << "";
    QTest::newRow("pause min below max") << 6 << 400 << 5 << 300 << 400 << "10 s" << 400 << "" << "";
    QTest::newRow("pause in order") << 6 << 100 << 5 << 300 << 300 << "7.5 s" << 300 << "" << "";
    QTest::newRow("tinj min above max") << 4 << 3000 << 3 << 5000 << 3000 << "3000" << 3000 << "" << "";
    QTest::newRow("tinj max below min") << 3 << 4000 << 4 << 2000 << 4000 << "4000" << 4000 << "" << "";
    QTest::newRow("tinj min 1249 in order") << 4 << 1249 << 3 << 1249 << 1249 << "1200" << 1200 << "" << "";
    // Held at the partner's own value: the step's 1200 below it would cross the pair.
    QTest::newRow("tinj max partner unrounded") << 3 << 1249 << 4 << 1000 << 1249 << "1249" << 1249 << "" << "";
    QTest::newRow("rpm min") << -1 << 0 << 2 << 1525 << 1525 << "1500" << 1500 << "" << "";
    QTest::newRow("multiplier 5") << -1 << 0 << 7 << 5 << 5 << "50%" << 50 << "" << "";
    // The same commit from the exact-value editor: the typed value stands for a slider position,
    // rounded as the slider rounds it, and the interlock holds it as it holds a drag.
    QTest::newRow("typed pump max below min") << 0 << 30 << 1 << 0 << 30 << "0.6 s" << 30 << "click" << "0.4";
    QTest::newRow("typed tinj min above max") << 4 << 3000 << 3 << 0 << 3000 << "3000" << 3000 << "key" << "5000";
    QTest::newRow("typed tinj off the 50s") << 4 << 30000 << 3 << 0 << 1200 << "1200" << 1200 << "click" << "1249";
    QTest::newRow("typed pause off its step") << 5 << 400 << 6 << 0 << 81 << "2.02 s" << 81 << "key" << "2.03";
    QTest::newRow("typed pause exact odd step") << 5 << 400 << 6 << 0 << 83 << "2.08 s" << 83 << "click" << "2.075";
    QTest::newRow("typed multiplier between tens") << -1 << 0 << 7 << 0 << 15 << "150%" << 150 << "click" << "156";
    QTest::newRow("typed rpm min") << -1 << 0 << 2 << 0 << 1500 << "1500" << 1500 << "key" << "1525";
}

void TestSliders::commitWithInterlock()
{
    QFETCH(int, partner);
    QFETCH(int, partnerPosition);
    QFETCH(int, index);
    QFETCH(int, position);
    QFETCH(int, finalPosition);
    QFETCH(QString, label);
    QFETCH(int, written);
    QFETCH(QString, editor);
    QFETCH(QString, typed);
    SliderRig rig;
    // The pair rule holds a value to what the controller told for the partner.
    if (partner >= 0)
        rig.controller.params[size_t(partner)] = quint16(partnerPosition); // no pair holds the multiplier
    QVERIFY(rig.start());
    if (editor.isEmpty()) {
        rig.dragTo(index, position);
        rig.release(index);
    } else {
        QVERIFY(rig.typeValue(index, editor == "key", typed, Qt::Key_Return));
        rig.waitQuiet();
    }
    QCOMPARE(rig.slider(index)->value(), finalPosition);
    QCOMPARE(rig.label(index)->text(), label);
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(index, written)});
    QCOMPARE(rig.controller.params[size_t(index)], quint16(written));
    QCOMPARE(rig.w().session().Parameters[ParameterIndex(index)], written);
    if (partner >= 0)
        QCOMPARE(rig.slider(partner)->value(), partnerPosition); // the partner never moves
    QVERIFY(rig.slider(index)->isEnabled());
    QVERIFY(rig.dialogs.shown.isEmpty());
    // A drag the pair moved back says so over the logo.
    if (editor.isEmpty()) {
        QLabel *line = rig.w().findChild<QLabel *>("LinkStateLabel");
        QCOMPARE(line->isVisible(), finalPosition != position);
        if (finalPosition != position)
            QVERIFY2(line->text().startsWith(label + ": "), qPrintable(line->text()));
    }
}

// The controller holds Pump Min 40 and Pump Max 45. Pump Min is moved to 10, which the controller
// does not take as sent; then Pump Max is moved below it. Max is held to the Min the controller
// confirmed, not to the Min knob: after a refused write (the echo carries the value held), and while
// Min's write is still on its way (the commit waits for its end; the controller clamps it to 20).
void TestSliders::pairHeldToTheController_data()
{
    QTest::addColumn<bool>("waitBetween");
    QTest::addColumn<int>("maxTo");
    QTest::addColumn<int>("minHeld"); // what the controller makes of a Min write of 10
    QTest::newRow("partner write refused") << true << 20 << 40;
    QTest::newRow("partner write in flight") << false << 5 << 20;
}

void TestSliders::pairHeldToTheController()
{
    QFETCH(bool, waitBetween);
    QFETCH(int, maxTo);
    QFETCH(int, minHeld);
    SliderRig rig;
    rig.controller.params[0] = 40;
    rig.controller.params[1] = 45;
    QVERIFY(rig.start());
    rig.port->setResponder([&](QByteArray request) {
        if (request[2] == 2 && request[3] == 0)
            request[5] = char(minHeld); // the controller keeps or clamps: its echo says what it holds
        return rig.controller.respond(request);
    });
    rig.dragTo(0, 10);
    QTest::mousePress(rig.slider(0), Qt::LeftButton, {}, knobCentre(rig.slider(0)));
    QTest::mouseRelease(rig.slider(0), Qt::LeftButton, {}, knobCentre(rig.slider(0)));
    if (waitBetween)
        QVERIFY(rig.waitQuiet());
    rig.dragTo(1, maxTo);
    rig.release(1);
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.controller.params[0], quint16(minHeld));
    QCOMPARE(rig.controller.params[1], quint16(minHeld));
    QCOMPARE(rig.writes().last(), writeFrame(1, minHeld));
    QCOMPARE(rig.label(0)->text(), displayText(ParameterIndex::MinPumpCycles, minHeld));
    QCOMPARE(rig.label(1)->text(), displayText(ParameterIndex::MaxPumpCycles, minHeld));
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(29)});
}

// The partner's read went unanswered at connect; its slider shows nothing the interlock could use.
void TestSliders::unknownPartnerReadBeforeCommit_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("partner");
    QTest::addColumn<bool>("partnerAnswersLater");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("label"); // after the commit
    QTest::addColumn<int>("written");   // -1: nothing
    QTest::addColumn<QString>("typed");  // else a drag to position
    QTest::newRow("tinj min, partner answers") << 3 << 4 << true << 3000 << "3000" << 3000 << "";
    QTest::newRow("tinj min, partner silent") << 3 << 4 << false << 3000 << "1500" << -1 << "";
    QTest::newRow("pump max, partner answers") << 1 << 0 << true << 3 << "0.1 s" << 5 << "";
    QTest::newRow("pause max, partner silent") << 6 << 5 << false << 100 << "2 s" << -1 << "";
    QTest::newRow("typed pump max, partner answers") << 1 << 0 << true << 0 << "0.1 s" << 5 << "0.06";
    QTest::newRow("typed tinj min, partner silent") << 3 << 4 << false << 0 << "1500" << -1 << "3000";
}

void TestSliders::unknownPartnerReadBeforeCommit()
{
    QFETCH(int, index);
    QFETCH(int, partner);
    QFETCH(bool, partnerAnswersLater);
    QFETCH(int, position);
    QFETCH(QString, label);
    QFETCH(int, written);
    QFETCH(QString, typed);
    SliderRig rig;
    bool connected = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == partner && !(connected && partnerAnswersLater))
            return QByteArray();
        return rig.controller.respond(request);
    });
    QVERIFY(rig.start());
    connected = true;
    QCOMPARE(rig.label(partner)->text(), QString("---"));
    if (typed.isEmpty()) {
        rig.dragTo(index, position);
        rig.release(index);
    } else {
        QVERIFY(rig.typeValue(index, false, typed, Qt::Key_Return));
        rig.waitQuiet();
    }
    QCOMPARE(rig.writes(), written < 0 ? QList<QByteArray>{} : QList<QByteArray>{writeFrame(index, written)});
    QCOMPARE(rig.label(index)->text(), label);
    QVERIFY(rig.slider(index)->isEnabled());
    QCOMPARE(rig.slider(partner)->isEnabled(), partnerAnswersLater);
    if (partnerAnswersLater) {
        QVERIFY(rig.dialogs.shown.isEmpty());
        QCOMPARE(rig.label(partner)->text(), displayText(ParameterIndex(partner), rig.controller.params[size_t(partner)]));
    } else {
        QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(60).arg(partner == 4 ? QString("Tinj Max") : QString("Pausa Iniezione lubrif. – Carico Min"))});
        QCOMPARE(rig.w().session().Parameters[ParameterIndex(index)], qint32(rig.controller.params[size_t(index)]));
    }
}

// A write without its echo: the window shows what a read then finds, or "---" when that read fails too.
void TestSliders::unconfirmedWriteReadsBack_data()
{
    QTest::addColumn<bool>("clamping"); // else silent from the write on
    QTest::addColumn<QString>("label");
    QTest::newRow("controller clamps to 20000") << true << "20000";
    QTest::newRow("controller falls silent") << false << "---";
}

void TestSliders::unconfirmedWriteReadsBack()
{
    QFETCH(bool, clamping);
    QFETCH(QString, label);
    SliderRig rig;
    QVERIFY(rig.start());
    bool silent = false;
    rig.port->setResponder([&](QByteArray request) {
        // Silent from the write on: the pair's partner is still checked before it.
        silent = silent || (!clamping && request[2] == 2);
        if (silent)
            return QByteArray();
        if (request[2] == 2 && quint8(request[4]) * 256 + quint8(request[5]) > 20000) {
            request[4] = char(20000 >> 8);
            request[5] = char(20000 & 0xFF);
        }
        return rig.controller.respond(request);
    });
    rig.dragTo(4, 25000);
    rig.release(4);
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(29)});
    QCOMPARE(rig.label(4)->text(), label);
    QCOMPARE(rig.slider(4)->isEnabled(), clamping);
    QCOMPARE(rig.w().session().parameterKnown(ParameterIndex::TinjMax), clamping);
    if (clamping)
        QCOMPARE(rig.slider(4)->value(), 20000);
}

void TestSliders::realDragCommitsWhatItPreviewed()
{
    SliderRig rig;
    QVERIFY(rig.start());
    QSlider *slider = rig.slider(2);
    const QPoint from = knobCentre(slider);
    QTest::mousePress(slider, Qt::LeftButton, {}, from);
    QTest::mouseMove(slider, from + QPoint(60, 0));
    QTest::mouseMove(slider, from + QPoint(90, 0));
    QVERIFY(slider->value() > 0);
    const QString previewed = rig.label(2)->text();
    QTest::mouseRelease(slider, Qt::LeftButton, {}, from + QPoint(90, 0));
    QVERIFY(rig.waitQuiet());
    const int field = rig.w().session().Parameters.RpmMin;
    QCOMPARE(previewed, QString::number(field));
    QCOMPARE(field % 50, 0);
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(2, field)});
}

void TestSliders::rightButtonReleaseWritesOnce()
{
    SliderRig rig;
    QVERIFY(rig.start());
    const int before = rig.slider(1)->value();
    rig.release(1, Qt::RightButton);
    QCOMPARE(rig.slider(1)->value(), before);
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(1, before)});
}

void TestSliders::clickWithoutMoveWrites()
{
    SliderRig rig;
    QVERIFY(rig.start());
    rig.release(6);
    rig.release(6);
    QCOMPARE(rig.writes(), (QList<QByteArray>{writeFrame(6, 80), writeFrame(6, 80)}));
}

void TestSliders::releaseWritesWhatTheKnobShows_data()
{
    QTest::addColumn<QString>("gesture");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("read");      // the controller answers a read of the threshold (as 4800) meanwhile
    QTest::addColumn<int>("expected");   // the threshold written and shown; -1: wherever the knob stopped
    QTest::newRow("drag") << "drag" << 0 << false << -1;
    QTest::newRow("click on the track after the knob") << "track after" << 0 << false << 3500;
    QTest::newRow("click on the track before the knob") << "track before" << 0 << false << 2500;
    QTest::newRow("track held: the knob pages on") << "track held" << 0 << false << -1;
    QTest::newRow("Right") << "key" << int(Qt::Key_Right) << false << 3050;
    QTest::newRow("Left") << "key" << int(Qt::Key_Left) << false << 2950;
    QTest::newRow("Page Up") << "key" << int(Qt::Key_PageUp) << false << 3500;
    QTest::newRow("Page Down") << "key" << int(Qt::Key_PageDown) << false << 2500;
    QTest::newRow("Home") << "key" << int(Qt::Key_Home) << false << 0;
    QTest::newRow("End") << "key" << int(Qt::Key_End) << false << 6000;
    QTest::newRow("a read lands mid-drag") << "drag" << 0 << true << -1;
    QTest::newRow("a read lands on a held track") << "track after" << 0 << true << 3500;
    QTest::newRow("a read lands while a key is held") << "key" << int(Qt::Key_Right) << true << 3050;
}

// Every gesture that moves a knob writes, when it ends, exactly what its knob and label show then; a
// read answered meanwhile moves neither.
void TestSliders::releaseWritesWhatTheKnobShows()
{
    QFETCH(QString, gesture);
    QFETCH(int, key);
    QFETCH(bool, read);
    QFETCH(int, expected);
    SliderRig rig;
    rig.controller.params[2] = 3000;
    QVERIFY(rig.start());
    QSlider *slider = rig.slider(2);
    const QPoint knob = knobCentre(slider);
    const QPoint at = gesture == "drag"           ? knob + QPoint(30, 0)
                      : gesture == "track before" ? QPoint(4, knob.y())
                      : gesture == "key"          ? knob
                                                  : QPoint(slider->width() - 4, knob.y());
    if (gesture == "key") {
        slider->setFocus(Qt::MouseFocusReason);
        QTest::keyPress(slider, Qt::Key(key));
    } else {
        QTest::mousePress(slider, Qt::LeftButton, {}, gesture == "drag" ? knob : at);
        if (gesture == "drag")
            QTest::mouseMove(slider, at);
        if (gesture == "track held")
            QTest::qWait(700); // past the slider's repeat delay
    }
    const QString shown = rig.label(2)->text();
    const int knobShown = slider->sliderPosition();
    if (read) {
        rig.controller.params[2] = 4800;
        bool answered = false;
        rig.w().session().ReadParameter(2, [&answered](bool) { answered = true; });
        QVERIFY(QTest::qWaitFor([&answered] { return answered; }));
        QCOMPARE(rig.w().session().controllerValue(ParameterIndex::RpmMin), std::optional<qint32>(4800));
        QCOMPARE(slider->sliderPosition(), knobShown);
        QCOMPARE(rig.label(2)->text(), shown);
    }
    if (gesture == "key") {
        QTest::keyRelease(slider, Qt::Key(key));
    } else {
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at);
    }
    QVERIFY(QTest::qWaitFor([&] { return !rig.w().sliders().keyGestureEnding(); }));
    QVERIFY(rig.waitQuiet());
    const int written = expected >= 0 ? expected : shown.toInt();
    QCOMPARE(shown, QString::number(written));
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(2, written)});
    QCOMPARE(rig.label(2)->text(), QString::number(written));
    QCOMPARE(fieldFromPosition(ParameterIndex::RpmMin, slider->sliderPosition()), written);
    // The next step goes from there, not from a value the knob never showed.
    QTest::keyClick(slider, Qt::Key_Left);
    QVERIFY(QTest::qWaitFor([&] { return !rig.w().sliders().keyGestureEnding(); }));
    QVERIFY(rig.waitQuiet());
    if (written > 0)
        QCOMPARE(rig.writes().last(), writeFrame(2, written - 50));
}

void TestSliders::inputBesideDrags_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("label");  // of the multiplier, read as 100 %, after the input
    QTest::addColumn<int>("written");    // -1: nothing
    QTest::newRow("knob moved, then the mouse passes over it") << "hover" << "100%" << -1;
    QTest::newRow("wheel") << "wheel" << "100%" << -1;
    QTest::newRow("keys, one held with auto-repeat") << "keys" << "140%" << 140;
    QTest::newRow("key held while the focus goes") << "focus" << "120%" << 120;
    QTest::newRow("key held, then a click") << "click" << "110%" << 110;
}

// Only a drag or the slider's keys move what the window holds, and only their end writes; a map saved
// afterwards holds what the controller confirmed.
void TestSliders::inputBesideDrags()
{
    QFETCH(QString, input);
    QFETCH(QString, label);
    QFETCH(int, written);
    SliderRig rig;
    QVERIFY(rig.start());
    QSlider *slider = rig.slider(7);
    if (input == "hover") {
        slider->setValue(11);
        rig.hover(7);
    } else if (input == "wheel") {
        QWheelEvent wheel(knobCentre(slider), slider->mapToGlobal(knobCentre(slider)), {}, {0, 120},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
        QCOMPARE(slider->value(), 10);
    } else {
        slider->setFocus(Qt::MouseFocusReason);
        rig.key(7, QEvent::KeyPress, Qt::Key_Right);
        QCOMPARE(rig.label(7)->text(), QString("110%")); // previewed at once
        if (input == "click") {
            rig.release(7);
            rig.key(7, QEvent::KeyRelease, Qt::Key_Right);
        } else if (input == "focus") {
            rig.key(7, QEvent::KeyPress, Qt::Key_Right, true);
            rig.w().connection().btnConnect->setFocus();
            QCOMPARE(rig.label(7)->text(), QString("120%"));
        } else {
            rig.key(7, QEvent::KeyRelease, Qt::Key_Right); // one short press
            QVERIFY(rig.waitQuiet());
            slider->setFocus(Qt::MouseFocusReason);
            for (int i = 0; i < 3; ++i) {
                rig.key(7, QEvent::KeyPress, Qt::Key_Right, i > 0);
                if (i < 2)
                    rig.key(7, QEvent::KeyRelease, Qt::Key_Right, true);
            }
            QCOMPARE(rig.port->written().size(), 1); // the short press's write only
            rig.key(7, QEvent::KeyRelease, Qt::Key_Right);
        }
    }
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.label(7)->text(), label);
    QList<QByteArray> expected;
    if (input == "keys")
        expected << writeFrame(7, 110);
    if (written >= 0)
        expected << writeFrame(7, written);
    QCOMPARE(rig.writes(), expected);

    rig.dialogs.saveAnswers << rig.dir.filePath("after.map");
    rig.w().maps().cmdSaveMap->click();
    QTRY_VERIFY(QFile::exists(rig.dir.filePath("after.map")));
    QVERIFY(readFile(rig.dir.filePath("after.map")).contains("\r\nRpmMultiplier=" + QByteArray::number(written < 0 ? 100 : written) + "\r\n"));
}

void TestSliders::valueEditorCancels_data()
{
    QTest::addColumn<bool>("focusLost"); // by Tab; else Escape
    QTest::newRow("escape") << false;
    QTest::newRow("tab moves the focus away") << true;
}

void TestSliders::valueEditorCancels()
{
    QFETCH(bool, focusLost);
    SliderRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.typeValue(4, false, "20000", focusLost ? Qt::Key_Tab : Qt::Key_Escape));
    QCoreApplication::processEvents();
    QVERIFY(!rig.w().sliders().valueEditor());
    QCOMPARE(rig.label(4)->text(), QString("9000"));
    QCOMPARE(rig.w().session().Parameters.TinjMax, 9000);
    QCOMPARE(rig.port->written().size(), 0);
}

// Every digit is taken; what the rule makes of the text is said, and Enter writes that or nothing.
void TestSliders::valueEditorSays_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("entry");     // the caption that explains
    QTest::addColumn<QString>("first"); // its %1; %2 and %3 follow from the row
    QTest::addColumn<int>("written");   // -1: refused, the editor stays open
    QTest::newRow("beyond the slider") << 4 << "40000" << 162 << "40000" << -1;
    QTest::newRow("letter O") << 2 << "8OO" << 160 << "8OO" << -1;
    QTest::newRow("held by the pair") << 3 << "12000" << 166 << "9000" << 9000;
    QTest::newRow("off the step") << 4 << "9234" << 165 << "9200" << 9200;
}

void TestSliders::valueEditorSays()
{
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(int, entry);
    QFETCH(QString, first);
    QFETCH(int, written);
    SliderRig rig;
    QVERIFY(rig.start());
    SliderPanel &panel = rig.w().sliders();
    const auto name = [&](int i) { return panel.parameterCaption(ParameterIndex(i)); };
    QString expected = rig.entry(entry).replace("%1", first);
    if (entry == 162)
        expected.replace("%2", "30000");
    else if (entry == 166)
        expected.replace("%2", name(3)).replace("%3", name(4));
    else if (entry == 165)
        expected.replace("%2", name(index)).replace("%3", "50");
    QVERIFY(rig.typeValue(index, false, typed, Qt::Key_Return));
    rig.waitQuiet();
    if (written < 0) {
        QVERIFY(panel.valueEditor() && panel.valueEditor()->text() == typed);
        QCOMPARE(panel.valueEditorNote()->text(), expected);
        QVERIFY(rig.writes().isEmpty());
        return;
    }
    QVERIFY(!panel.valueEditor());
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(index, written)});
    QLabel *line = rig.w().findChild<QLabel *>("LinkStateLabel");
    QVERIFY(line->isVisible());
    QCOMPARE(line->text(), expected);
}

void TestSliders::controllerValueShownUntilNextMove()
{
    SliderRig rig;
    rig.controller.params[3] = 1234;
    QVERIFY(rig.start());
    QCOMPARE(rig.label(3)->text(), QString("1234"));
    QCOMPARE(rig.slider(3)->value(), 1234);
    rig.dragTo(3, 1234);
    QCOMPARE(rig.label(3)->text(), QString("1200"));
    QCOMPARE(rig.w().session().Parameters.TinjMin, 1200);
}

void TestSliders::italianDecimalComma()
{
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    SliderRig rig;
    QVERIFY(rig.start());
    rig.dragTo(0, 25);
    QCOMPARE(rig.label(0)->text(), QString("0,5 s"));
    rig.dragTo(5, 90);
    QCOMPARE(rig.label(5)->text(), QString("2,25 s"));
    QVERIFY(rig.typeValue(1, false, "0,62", Qt::Key_Return)); // the editor reads the same comma
    rig.waitQuiet();
    QCOMPARE(rig.label(1)->text(), QString("0,62 s"));
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(1, 31)});
}

void TestSliders::editorTakesTheInterfacesSeparator_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("written"); // -1: refused, nothing written
    QTest::newRow("Italian 2,5 s") << QByteArray("ITA") << 5 << "2,5" << 100;
    QTest::newRow("Italian 2.5 s: a time has no thousands") << QByteArray("ITA") << 5 << "2.5" << 100;
    QTest::newRow("English 2.5 s") << QByteArray("ENG") << 5 << "2.5" << 100;
    QTest::newRow("English 2,5 s") << QByteArray("ENG") << 5 << "2,5" << 100;
    QTest::newRow("Italian 1.500 rpm: thousands or a slip") << QByteArray("ITA") << 2 << "1.500" << -1;
    QTest::newRow("English 1,500 rpm") << QByteArray("ENG") << 2 << "1,500" << -1;
}

// The editor reads the decimal separator of the interface's language, whatever the desktop's; the
// other one only where it cannot mean thousands.
void TestSliders::editorTakesTheInterfacesSeparator()
{
    QFETCH(QByteArray, language);
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(int, written);
    SliderRig rig("COM=07\r\nLanguage=" + language + "\r\n");
    QVERIFY(rig.start());
    QVERIFY(rig.typeValue(index, false, typed, Qt::Key_Return));
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.writes(), written < 0 ? QList<QByteArray>{} : QList<QByteArray>{writeFrame(index, written)});
    QCOMPARE(rig.w().sliders().valueEditor() != nullptr, written < 0); // a refused value keeps it open
}

// While its write is on its way a released slider takes no input, but stays enabled and keeps the
// focus; the others stay live.
void TestSliders::releasedSliderBusyDuringWrite()
{
    SliderRig rig;
    QVERIFY(rig.start());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    rig.port->setReplyDelay(std::chrono::milliseconds(150));
    rig.slider(4)->setFocus(Qt::MouseFocusReason);
    QString labelMeanwhile;
    bool othersLive = false, focusKept = false;
    QTimer::singleShot(60, rig.window.get(), [&] {
        rig.key(4, QEvent::KeyPress, Qt::Key_Right);
        rig.key(4, QEvent::KeyRelease, Qt::Key_Right);
        labelMeanwhile = rig.label(4)->text();
        othersLive = rig.slider(3)->isEnabled();
        focusKept = rig.slider(4)->hasFocus() && rig.slider(4)->isEnabled();
    });
    rig.release(4);
    QCOMPARE(labelMeanwhile, QString("9000"));
    QVERIFY(othersLive);
    QVERIFY(focusKept);
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(4, 9000)});
}

// The keyboard alone, at a human pace, with the status poll running: Tab goes through the controls in
// the order they are used, the focus stays where it was put across polls, a key held over several
// polls commits once at its release, Space reaches DISCONNECT only when it has the focus, and a click
// on a knob gives its slider the focus.
void TestSliders::focusStaysAcrossPolls()
{
    SliderRig rig;
    QVERIFY(rig.start());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    rig.w().session().holdPoll(false);
    QSignalSpy polls(rig.w().session().statusTimer(), &IntervalTimer::tick);
    const auto pollsPass = [&](int count) {
        const qsizetype until = polls.count() + count;
        return QTest::qWaitFor([&] { return polls.count() >= until; }, 5000);
    };
    const auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };

    rig.w().connection().btnConnect->setFocus();
    QStringList order;
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << focused();
    }
    QCOMPARE(order, (QStringList{"ResetCmd", "cmdLoadMap", "cmdSaveMap", "RpmMultiplierSlider", "RpmMinSlider",
                                 "TinjMinSlider", "TinjMaxSlider", "PumpMinSlider", "PumpMaxSlider",
                                 "SliderPausaAlMinimo", "SliderPausaAlMassimo", "btnConnect"}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(focused(), QString("SliderPausaAlMinimo"));
    QVERIFY(pollsPass(3));
    QCOMPARE(focused(), QString("SliderPausaAlMinimo"));
    // Held over two polls, with the auto-repeat a held key sends: one write, at the release. X11 sends
    // the repeat as a release and a press together, often not marked as auto-repeat.
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Right);
    QCOMPARE(rig.label(5)->text(), QString("4.02 s")); // previewed at once
    QVERIFY(pollsPass(1));
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(QApplication::focusWidget(), &repeat);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Right);
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Right);
    QVERIFY(pollsPass(1));
    QCOMPARE(rig.writes().size(), 0);
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Right);
    QVERIFY(pollsPass(1));
    QCOMPARE(rig.writes(), QList<QByteArray>{writeFrame(5, 163)});
    QCOMPARE(focused(), QString("SliderPausaAlMinimo"));
    // A stray Space on a slider does nothing; on the focused button it disconnects.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(pollsPass(1));
    QVERIFY(rig.w().isConnected());
    QTest::mouseClick(rig.slider(2), Qt::LeftButton, {}, knobCentre(rig.slider(2)));
    QCOMPARE(focused(), QString("RpmMinSlider"));
    rig.w().connection().btnConnect->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(!rig.w().isConnected());
}

void TestSliders::focusReturnsAfterEveryDialog_data()
{
    QTest::addColumn<QString>("opener"); // the control the technician chose before the path
    QTest::addColumn<QString>("path");
    QTest::newRow("Save Map, its file dialog cancelled") << "cmdSaveMap" << "save cancelled";
    QTest::newRow("Save Map written") << "cmdSaveMap" << "save";
    QTest::newRow("Load Map, its file dialog cancelled") << "cmdLoadMap" << "load cancelled";
    QTest::newRow("a map loaded, and its notice") << "cmdLoadMap" << "load";
    QTest::newRow("RESET, its question cancelled") << "ResetCmd" << "reset cancelled";
    QTest::newRow("RESET, and the notice after it") << "ResetCmd" << "reset";
    QTest::newRow("About from the menu") << "cmdSaveMap" << "menuInfo_1";
    QTest::newRow("the language switched") << "cmdSaveMap" << "menuLingua_1";
    QTest::newRow("the restore list") << "cmdLoadMap" << "menuTools_3";
    QTest::newRow("the map editor") << "ResetCmd" << "menuTools_4";
    QTest::newRow("the compare") << "btnConnect" << "menuTools_5";
}

// After every box, dialog and tool window the focus is back on the control the technician chose, and
// no key reaches a slider they did not choose (a control disabled while its step ran hands Qt's
// focus on to the next in the Tab order: a slider after Save Map).
void TestSliders::focusReturnsAfterEveryDialog()
{
    QFETCH(QString, opener);
    QFETCH(QString, path);
    SliderRig rig;
    QVERIFY(rig.start());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QVERIFY(rig.verify());
    const QString map = rig.dir.filePath("focus.map");
    if (path == "load" || path == "menuTools_5") {
        rig.dialogs.saveAnswers << map;
        rig.w().maps().cmdSaveMap->click();
        QVERIFY(rig.settled());
        rig.dialogs.openAnswers << map;
    }
    if (path == "save")
        rig.dialogs.saveAnswers << map;
    if (path == "reset cancelled")
        rig.dialogs.confirmAnswers << false;
    rig.port->clearWritten();
    auto *control = rig.window->findChild<QWidget *>(opener);
    control->setFocus(Qt::MouseFocusReason);
    if (path.startsWith("menu")) {
        rig.window->findChild<QAction *>(path)->trigger();
        QTest::qWait(50);
        for (QWidget *tool : QApplication::topLevelWidgets())
            if (tool != rig.window.get() && tool->isVisible() && tool->windowType() == Qt::Window)
                tool->close();
        rig.window->activateWindow();
    } else {
        QTest::keyClick(control, Qt::Key_Space);
    }
    QVERIFY(rig.settled());
    QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
    QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(), opener);
    const qsizetype before = rig.writes().size();
    QTest::keyClick(rig.window.get(), Qt::Key_Down);
    for (int i = 0; i < kParameterCount; ++i) {
        QTest::keyClick(rig.slider(i), Qt::Key_Down);
        QTest::keyClick(rig.slider(i), Qt::Key_End);
    }
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.writes().size(), before);
}

// A controller that answers every request 150 ms late, and a user who does not wait for it: a click
// on a slider during the connect's reads, a release during a status request, RESET during a status
// request. Every request goes out once, and the window ends up showing what the controller holds.
void TestSliders::actionsWhileControllerAnswersLate_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QList<int>>("codes"); // command codes sent from the action on
    QTest::newRow("slider click during the connect") << "connect" << QList<int>{4, 1, 1, 1, 1, 1, 1, 1, 1};
    QTest::newRow("slider release during a status") << "release" << QList<int>{3, 2};
    QTest::newRow("reset during a status") << "reset" << QList<int>{3, 10, 1, 1, 1, 1, 1, 1, 1, 1};
}

void TestSliders::actionsWhileControllerAnswersLate()
{
    QFETCH(QString, action);
    QFETCH(QList<int>, codes);
    SliderRig rig;
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    rig.port->setReplyDelay(std::chrono::milliseconds(150));
    if (action == "connect") {
        rig.w().connection().btnConnect->click();
        QTest::qWait(400); // identification done, reads under way
        rig.dragTo(4, 25000);
        rig.release(4);
    } else {
        QVERIFY(rig.connect());
        QVERIFY(rig.verify());
        rig.w().session().holdPoll(true);
        rig.port->clearWritten();
        rig.w().session().RequestStatus();
        QTest::qWait(40);
        if (action == "release") {
            rig.dragTo(4, 20000);
            rig.release(4);
        } else {
            rig.w().connection().ResetCmd->click();
        }
    }
    QVERIFY(rig.settled());
    QList<int> sent;
    for (const QByteArray &frame : rig.port->writtenBytes())
        sent.append(quint8(frame[2]));
    QCOMPARE(sent, codes);
    for (int i = 0; i < kParameterCount; ++i) {
        QCOMPARE(rig.w().session().Parameters[ParameterIndex(i)], qint32(rig.controller.params[size_t(i)]));
        QCOMPARE(rig.label(i)->text(), displayText(ParameterIndex(i), rig.controller.params[size_t(i)]));
    }
    QCOMPARE(rig.controller.params[4], quint16(action == "release" ? 20000 : 9000));
}

void TestSliders::sessionEndingDuringWriteLeavesSliderDisabled()
{
    SliderRig rig;
    QVERIFY(rig.start());
    rig.port->setReplyDelay(std::chrono::milliseconds(200));
    QTimer::singleShot(50, rig.window.get(), [&] { rig.w().connection().btnConnect->click(); }); // disconnect
    rig.release(1);
    QVERIFY(!rig.w().isConnected());
    for (QSlider *slider : rig.w().findChildren<QSlider *>())
        QVERIFY2(!slider->isEnabled(), qPrintable(slider->objectName()));
    QCOMPARE(rig.port->written().size(), 1);
    QVERIFY(rig.dialogs.shown.isEmpty()); // an ended session is not an unconfirmed write
}

void TestSliders::lampFlashesAboveThreshold_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<int>("rpmMin");
    QTest::addColumn<bool>("flash");
    QTest::newRow("equal") << 600 << 600 << false;
    QTest::newRow("one above") << 601 << 600 << true;
    QTest::newRow("engine stopped") << 0 << 0 << false;
}

void TestSliders::lampFlashesAboveThreshold()
{
    QFETCH(int, rpm);
    QFETCH(int, rpmMin);
    QFETCH(bool, flash);
    SliderRig rig;
    rig.controller.params[2] = quint16(rpmMin);
    rig.controller.rpm = quint16(rpm);
    QVERIFY(rig.start());
    rig.w().session().RequestStatus();
    QVERIFY(rig.waitQuiet());
    IntervalTimer *pause = rig.timer("TimerPausaLampeggio");
    IntervalTimer *flashTimer = rig.timer("TimerLampeggio");
    QCOMPARE(pause->interval(), 2000);
    emit pause->tick();
    QCOMPARE(lamp(rig.w()), flash ? kLampOn : kLampOff);
    QVERIFY(flashTimer->enabled()); // armed either way
    QCOMPARE(flashTimer->interval(), 500);
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY(!flashTimer->enabled());
    QVERIFY(clock.elapsed() >= 450);
    QCOMPARE(lamp(rig.w()), kLampOff);
}

void TestSliders::lampFollowsTheControllersThreshold()
{
    SliderRig rig;
    QVERIFY(rig.start());
    rig.w().session().RequestStatus();
    QVERIFY(rig.waitQuiet()); // 1500 rpm against a threshold of 600
    IntervalTimer *pause = rig.timer("TimerPausaLampeggio");
    emit pause->tick();
    QCOMPARE(lamp(rig.w()), kLampOn);
    emit rig.timer("TimerLampeggio")->tick();
    QCOMPARE(lamp(rig.w()), kLampOff);
    // A preview is a wish: the lamp follows the controller's RpmMin, until the commit makes it so.
    rig.dragTo(2, 1500);
    emit pause->tick();
    QCOMPARE(lamp(rig.w()), kLampOn);
    QCOMPARE(rig.port->written().size(), 1); // only the status request
    emit rig.timer("TimerLampeggio")->tick();
    rig.release(2);
    emit pause->tick();
    QCOMPARE(lamp(rig.w()), kLampOff);
}

// Status replies re-arm the pause timer twice or more per pause; the lamp must still flash once per
// reported pause (about 2 s here), not never, also when the pause moves at every reply.
void TestSliders::lampFollowsPauseRhythm_data()
{
    QTest::addColumn<bool>("moving");
    QTest::newRow("steady pause") << false;
    QTest::newRow("pause moving at every reply") << true;
}

void TestSliders::lampFollowsPauseRhythm()
{
    QFETCH(bool, moving);
    SliderRig rig;
    if (moving) {
        rig.port->setResponder([&rig](const QByteArray &request) {
            if (request.size() > 2 && request[2] == 3)
                rig.controller.pause = rig.controller.pause == 80 ? 81 : 80;
            return rig.controller.respond(request);
        });
    }
    QVERIFY(rig.start());
    rig.w().session().holdPoll(false);
    QSignalSpy pauseTicks(rig.timer("TimerPausaLampeggio"), &IntervalTimer::tick);
    int flashes = 0;
    bool wasOn = false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 4700) {
        QTest::qWait(20);
        const bool on = lamp(rig.w()) == kLampOn;
        flashes += on && !wasOn;
        wasOn = on;
    }
    QVERIFY2(pauseTicks.count() >= 1 && pauseTicks.count() <= 3, qPrintable(QString::number(pauseTicks.count())));
    QCOMPARE(flashes, int(pauseTicks.count()));
}

void TestSliders::disconnectStopsLamp()
{
    SliderRig rig;
    QVERIFY(rig.start());
    rig.w().session().RequestStatus();
    QVERIFY(rig.waitQuiet());
    emit rig.timer("TimerPausaLampeggio")->tick();
    QCOMPARE(lamp(rig.w()), kLampOn);
    rig.w().connection().btnConnect->click();
    QCOMPARE(lamp(rig.w()), kLampOff);
    QVERIFY(!rig.timer("TimerPausaLampeggio")->enabled());
    QVERIFY(!rig.timer("TimerLampeggio")->enabled());
    QVERIFY(!rig.timer("TimerLampeggio")->ticking());
}

QTEST_MAIN(TestSliders)
#include "tst_sliders.moc"
