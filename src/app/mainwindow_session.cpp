// The window's side of the session with the controller: what the user's clicks and slider moves ask
// of it, and how what it reports reaches the controls.

#include "dialogs.h"
#include "intervaltimer.h"
#include "mainwindow.h"
#include "numbertexts.h"
#include "sliderrules.h"

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
} // namespace

void MainWindow::bindSession()
{
    connect(m_session, &Session::stateChanged, this, &MainWindow::onSessionState);
    connect(m_session, &Session::identified, this, &MainWindow::onIdentified);
    connect(m_session, &Session::parameterRead, this, &MainWindow::onParameterRead);
    connect(m_session, &Session::liveReadingsChanged, this, &MainWindow::onLiveReadings);
    connect(m_session, &Session::writeFinished, this, &MainWindow::onWriteFinished);
    connect(m_session, &Session::message, this, &MainWindow::onSessionMessage);
    connect(Timer_StatusRequest, &IntervalTimer::tick, btnConnect, [this] { btnConnect->setFocus(); });
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
        // The identification and the first reads must finish or fail on their own: a second click
        // would otherwise cut a connect the user just asked for.
        break;
    case Session::State::Connected:
    case Session::State::Busy:
        m_session->disconnectNow();
        break;
    }
}

void MainWindow::onResetClicked()
{
    m_session->reset();
}

void MainWindow::onSessionState(Session::State state)
{
    switch (state) {
    case Session::State::Connecting:
        btnConnect->setText(caption(Caption::Disconnect));
        break;
    case Session::State::Connected:
        setParameterInput(true);
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

void MainWindow::onParameterRead(ParameterIndex index, qint32 field)
{
    sliderFor(index)->setValue(positionFromField(index, field));
    labelFor(index)->setText(displayText(index, field));
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

void MainWindow::onWriteFinished(ParameterIndex index, bool)
{
    m_commitPending[size_t(index)] = false;
    if (m_session->state() == Session::State::Connected)
        sliderFor(index)->setEnabled(m_session->parameterKnown(index));
}

void MainWindow::onSessionMessage(int textEntry, int titleEntry)
{
    if (textEntry == Session::kConnectFailedEntry) {
        showConnectFailure();
        return;
    }
    dialogs().message(this, caption(textEntry),
                      titleEntry == Session::kNoTitle ? QString() : caption(titleEntry));
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

void MainWindow::commitSlider(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled() || m_session->state() != Session::State::Connected)
        return;
    slider->setEnabled(false);

    bool moved = false;
    if (const auto partner = interlockPartner(index)) {
        const int position = slider->value();
        const int held = interlockedPosition(index, position, sliderFor(*partner)->value());
        if (held != position) {
            slider->setValue(held);
            moved = true;
        }
    }
    qint32 field = m_session->Parameters[index];
    if (commitRefreshesField(index, moved)) {
        field = fieldFromPosition(index, slider->value());
        labelFor(index)->setText(displayText(index, field));
    }
    m_commitPending[size_t(index)] = true;
    m_session->commitParameter(index, field);
}

void MainWindow::onPauseTick()
{
    if (m_session->LiveRpm > m_session->Parameters.RpmMin)
        setLampColor(kLampOn);
    TimerLampeggio->setInterval(kFlashMs);
    TimerLampeggio->setEnabled(true);
}

void MainWindow::onFlashEnd()
{
    setLampColor(kLampOff);
    TimerLampeggio->setEnabled(false);
}

} // namespace oe
