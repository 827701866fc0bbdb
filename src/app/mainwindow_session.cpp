// The window's side of the session with the controller: what the user's clicks and slider moves ask
// of it, and how what it reports reaches the controls.

#include "chartwindow.h"
#include "dialogs.h"
#include "intervaltimer.h"
#include "mainwindow.h"
#include "numbertexts.h"
#include "valuerule.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <utility>

namespace oe {

namespace {
// A pause tick lights the lamp for this long.
constexpr int kFlashMs = 500;
// The controller counts the pump pause in 25 ms steps.
constexpr int kPauseStepMs = 25;
// Shown where the window does not know what the controller holds or reads.
const QString kUnknownText = QStringLiteral("---");
} // namespace

void MainWindow::bindSession()
{
    connect(m_session, &Session::stateChanged, this, &MainWindow::onSessionState);
    connect(m_session, &Session::identified, this, &MainWindow::onIdentified);
    connect(m_session, &Session::parameterRead, this, &MainWindow::onParameterRead);
    connect(m_session, &Session::parameterKnownChanged, this, &MainWindow::onParameterKnownChanged);
    connect(m_session, &Session::liveReadingsChanged, this, &MainWindow::onLiveReadings);
    connect(m_session, &Session::controllerAnsweringChanged, this, &MainWindow::onControllerAnswering);
    connect(m_session, &Session::lineQualityChanged, this, &MainWindow::showLinkState);
    connect(m_session, &Session::writeFinished, this, &MainWindow::onWriteFinished);
    connect(m_session, &Session::message, this, &MainWindow::onSessionMessage);
    // The poll puts the focus on CONNECT, but never out of an open value editor: the typing would go
    // on into the button, where a space disconnects.
    connect(Timer_StatusRequest, &IntervalTimer::tick, btnConnect, [this] {
        if (!m_valueEditor)
            btnConnect->setFocus();
    });
    connect(btnConnect, &QPushButton::clicked, this, &MainWindow::onConnectClicked);
    connect(ResetCmd, &QPushButton::clicked, this, &MainWindow::onResetClicked);
    connect(cmdLoadMap, &QPushButton::clicked, this, &MainWindow::onLoadMapClicked);
    connect(cmdSaveMap, &QPushButton::clicked, this, &MainWindow::onSaveMapClicked);
    connect(m_session, &Session::mapLoaded, this, &MainWindow::onMapLoaded);
}

void MainWindow::onConnectClicked()
{
    if (m_searchProgress) // a search holds the engine
        return;
    switch (m_session->state()) {
    case Session::State::Idle:
        m_session->connectTo(m_comPort);
        break;
    case Session::State::Connecting:
        // The button says DISCONNECT from the start of a connect, and a slow controller can hold a
        // connect for seconds: it means it.
    case Session::State::Connected:
    case Session::State::Busy:
        m_session->disconnectNow();
        break;
    }
}

// A reset takes every parameter back to the controller's factory values: never on one slip of the
// mouse. Cancel sends nothing; the status poll goes on under the question, as it does in the idle
// connected view.
void MainWindow::onResetClicked()
{
    if (m_session->state() != Session::State::Connected)
        return;
    ResetCmd->setEnabled(false);
    bool ok = false;
    {
        ModalScope scope(this);
        ok = dialogs().confirm(this, caption(Caption::ResetQuestion), caption(Caption::MessageTitle));
    }
    if (ok)
        m_recorder->setCause(Recorder::Cause::Reset);
    // The session may have ended while the box was open; reset() refuses then.
    if (!ok || !m_session->reset())
        ResetCmd->setEnabled(m_session->state() == Session::State::Connected);
}

void MainWindow::onSessionState(Session::State state)
{
    switch (state) {
    case Session::State::Connecting:
        btnConnect->setText(caption(Caption::Disconnect));
        // The list shows the port in use for as long as the session holds it.
        COMM_Combo->setEnabled(false);
        break;
    case Session::State::Connected:
        setParameterInput(true);
        for (int i = 0; i < kParameterCount; ++i)
            if (!m_session->parameterKnown(ParameterIndex(i)))
                showParameter(ParameterIndex(i));
        storePort();
        break;
    case Session::State::Busy:
        setParameterInput(false);
        break;
    case Session::State::Idle:
        storePort();
        COMM_Combo->setEnabled(true);
        btnConnect->setText(caption(Caption::Connect));
        TimerPausaLampeggio->setEnabled(false);
        TimerLampeggio->setEnabled(false);
        m_commitPending.fill(false);
        ResetView();
        LinkStateLabel->hide();
        break;
    }
}

// The sliders, the map buttons and RESET take input only while the session is connected and no
// sequence runs, and a slider only once its value was read: one never read must never write its idle
// lower bound.
void MainWindow::setParameterInput(bool enabled)
{
    for (int i = 0; i < kParameterCount; ++i)
        m_sliders[size_t(i)]->setEnabled(enabled && !m_commitPending[size_t(i)]
                                          && m_session->parameterKnown(ParameterIndex(i)));
    cmdLoadMap->setEnabled(enabled);
    cmdSaveMap->setEnabled(enabled);
    ResetCmd->setEnabled(enabled);
    setToolsEnabled(enabled);
}

void MainWindow::onIdentified(int comPort, const std::array<quint8, 3> &version)
{
    Label9->setText(QStringLiteral("Ver. %1.%2.%3")
                        .arg(plainNumberText(version[0]), plainNumberText(version[1]),
                             plainNumberText(version[2])));
    m_configLines[0] = portLine(comPort);
    // Stored when the connect's reads are done, or when the session ends first: the file is flushed
    // to disk, and the reads must not wait for the disk.
    m_portToStore = true;
    COMM_Combo->setEnabled(false);
}

void MainWindow::storePort()
{
    // A program folder that cannot be written must not cost the connection: the port is then just
    // not remembered for the next start.
    if (std::exchange(m_portToStore, false))
        WriteConfig();
}

void MainWindow::onParameterRead(ParameterIndex index, qint32)
{
    showParameter(index);
}

void MainWindow::onParameterKnownChanged(ParameterIndex index, bool)
{
    // The idle view has empty labels; a session that ends makes everything unknown on its way there.
    if (m_session->state() != Session::State::Idle)
        showParameter(index);
}

// A known parameter shows the controller's value on its slider and label, and takes input while the
// session is connected and no commit of it is on its way; an unknown one shows "---" and takes none.
void MainWindow::showParameter(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!m_session->parameterKnown(index)) {
        slider->setEnabled(false);
        labelFor(index)->setText(kUnknownText);
        return;
    }
    const qint32 field = m_session->confirmedParameters()[index];
    slider->setValue(positionFromField(index, field));
    labelFor(index)->setText(displayText(index, field));
    slider->setEnabled(m_session->state() == Session::State::Connected && !m_commitPending[size_t(index)]);
}

void MainWindow::showLinkState()
{
    const bool open = m_session->state() != Session::State::Idle;
    if (open && !m_session->controllerAnswering()) {
        LinkStateLabel->setText(caption(Caption::NotAnswering));
    } else if (open && m_session->lineNoisy()) {
        LinkStateLabel->setText(caption(Caption::NoisyLine).arg(m_session->lineFailedPercent()));
    } else {
        LinkStateLabel->hide();
        return;
    }
    LinkStateLabel->show();
}

void MainWindow::onControllerAnswering(bool answering)
{
    showLinkState();
    if (answering)
        return; // the readings and the lamp come back with the answer's readings
    // Readings the controller no longer confirms are not shown as if they were current, and a lamp
    // flashing on would say the pump runs.
    for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel})
        label->setText(kUnknownText);
    TimerPausaLampeggio->setEnabled(false);
    TimerLampeggio->setEnabled(false);
    setLampColor(kLampOff);
}

void MainWindow::onLiveReadings()
{
    const Session &s = *m_session;
    RpmLabel->setText(plainNumberText(s.LiveRpm));
    TinjLabel->setText(plainNumberText(s.LiveTinj));
    PumpLabel->setText(secondsText(s.LivePump, SecondsUnit::Steps20ms));
    TimerPausaLampeggio->setEnabled(true);
    TimerPausaLampeggio->setInterval(s.LivePause * kPauseStepMs);
    PauseLabel->setText(s.LiveRpm != 0 ? secondsText(s.LivePause, SecondsUnit::Steps25ms)
                                       : QStringLiteral("Err!"));
}

void MainWindow::onWriteFinished(ParameterIndex index, bool confirmed)
{
    m_commitPending[size_t(index)] = false;
    if (m_session->state() != Session::State::Connected)
        return;
    if (confirmed)
        sliderFor(index)->setEnabled(m_session->parameterKnown(index));
    else
        showParameter(index); // what the read after it found, or "---"
}

void MainWindow::onSessionMessage(int textEntry, int titleEntry)
{
    if (textEntry == Session::kConnectFailedEntry) {
        showConnectFailure();
        return;
    }
    showMessage(caption(textEntry), titleEntry == Session::kNoTitle ? QString() : caption(titleEntry));
}

MainWindow::ModalScope::ModalScope(MainWindow *window) : window(window)
{
    ++window->m_modalDepth;
}

MainWindow::ModalScope::~ModalScope()
{
    if (--window->m_modalDepth == 0 && std::exchange(window->m_connectFailureWaiting, false)) {
        window->showConnectFailure();
    } else if (window->m_modalDepth == 0 && !window->m_waitingMessages.isEmpty()) {
        const auto [text, title] = window->m_waitingMessages.takeFirst();
        window->showMessage(text, title);
    }
}

void MainWindow::showMessage(const QString &text, const QString &title)
{
    if (m_modalDepth > 0) {
        m_waitingMessages.append({text, title});
        return;
    }
    ModalScope scope(this);
    dialogs().message(this, text, title);
}

// ---- Parameter editing

void MainWindow::previewSlider(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled())
        return;
    const qint32 field = fieldFromPosition(index, slider->value());
    m_session->previewParameter(index, field);
    labelFor(index)->setText(displayText(index, field));
}

void MainWindow::commitSlider(ParameterIndex index, Recorder::Cause cause)
{
    QSlider *slider = sliderFor(index);
    // Whatever ends here also ends a key gesture, so the focus leaving below cannot commit it again.
    m_keyEditing[size_t(index)] = false;
    if (!slider->isEnabled() || m_session->state() != Session::State::Connected)
        return;
    // A disabled slider hands its focus to the next control, which would be another slider taking
    // the next key; the button the poll focuses anyway takes nothing from a slider key.
    if (slider->hasFocus())
        btnConnect->setFocus();
    slider->setEnabled(false);
    m_commitPending[size_t(index)] = true;
    // The interlock holds the slider to what the controller has for its partner: a partner never
    // read this session is read first, and without its answer nothing is written.
    const auto partner = pairPartner(index);
    if (partner && !m_session->parameterKnown(*partner)) {
        m_recorder->setCause(Recorder::Cause::Read);
        m_session->readIfUnknown(*partner, [this, index, partner, cause](bool known) {
            if (m_session->state() != Session::State::Connected) {
                m_commitPending[size_t(index)] = false; // a sequence took over; it shows its own values
                return;
            }
            if (known)
                writeSlider(index, cause);
            else
                refuseCommit(index, *partner);
        });
        return;
    }
    writeSlider(index, cause);
}

void MainWindow::refuseCommit(ParameterIndex index, ParameterIndex partner)
{
    m_commitPending[size_t(index)] = false;
    m_session->revertPreview(index);
    showParameter(index);
    showMessage(caption(Caption::PartnerUnknown).arg(parameterCaption(partner)), caption(Caption::MessageTitle));
}

void MainWindow::writeSlider(ParameterIndex index, Recorder::Cause cause)
{
    // The slider's intent as its preview left it (a value the controller told, off the step or past
    // the slider's end, is written back as it is); the rule holds it to what the controller has for
    // the partner.
    ValueContext context;
    context.allowBeyondSlider = true;
    context.pairCheck = true;
    if (const auto partner = pairPartner(index))
        context.partnerValue = m_session->confirmedParameters()[*partner];
    const ValueVerdict verdict = judgeValue(index, double(m_session->Parameters[index]), context);
    if (!verdict.accepted()) { // cannot happen for a slider's own values; nothing is written then
        m_commitPending[size_t(index)] = false;
        m_session->revertPreview(index);
        showParameter(index);
        return;
    }
    const qint32 field = verdict.value;
    if (verdict.heldBy) {
        sliderFor(index)->setValue(positionFromField(index, field));
        labelFor(index)->setText(displayText(index, field));
    }
    m_recorder->commitStarted(index, field, cause);
    if (!m_session->commitParameter(index, field))
        m_commitPending[size_t(index)] = false;
}

void MainWindow::onPauseTick()
{
    if (m_session->LiveRpm > m_session->Parameters.RpmMin) {
        setLampColor(kLampOn);
        m_chart->addFlash();
    }
    TimerLampeggio->setInterval(kFlashMs);
    TimerLampeggio->setEnabled(true);
}

void MainWindow::onFlashEnd()
{
    setLampColor(kLampOff);
    TimerLampeggio->setEnabled(false);
}

} // namespace oe
