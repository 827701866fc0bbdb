// The session with the controller: connect, disconnect, the status poll, reset, a lost port, and how
// decoded replies reach the window.

#include "devicelink.h"
#include "dialogs.h"
#include "intervaltimer.h"
#include "mainwindow.h"
#include "numbertexts.h"
#include "sliderrules.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace oe {

bool MainWindow::sessionStillOpen(quint64 session) const
{
    return session == m_session && m_link->portOpen();
}

void MainWindow::onConnectClicked()
{
    // The connect waits for the controller with the event loop running, so a second click can come in
    // meanwhile; it must not start a second connect or a disconnect inside the first.
    if (m_connectInProgress)
        return;
    if (isConnected())
        disconnectFromController();
    else
        connectToController();
}

void MainWindow::connectToController()
{
    m_connectInProgress = true;
    const auto done = qScopeGuard([this] { m_connectInProgress = false; });

    btnConnect->setText(caption(Caption::Disconnect));
    m_view = SessionView::Connecting;
    const quint64 session = ++m_session;

    QString error;
    if (m_comPort < 1 || !m_link->openPort(m_comPort, &error)) {
        connectFailed();
        return;
    }
    m_link->RequestVersion();
    if (session != m_session)
        return; // the window closed meanwhile
    if (!isConnected() || !m_link->portOpen()) {
        connectFailed();
        return;
    }
    m_view = SessionView::Connected;

    // A program folder that cannot be written must not cost the connection: the port is then just
    // not remembered for the next start.
    m_configLines[0] = portLine(m_comPort);
    WriteConfig();

    COMM_Combo->setEnabled(false);
    for (QSlider *slider : {RpmMinSlider, TinjMinSlider, TinjMaxSlider, PumpMinSlider, PumpMaxSlider,
                            SliderPausaAlMinimo, SliderPausaAlMassimo, RpmMultiplierSlider})
        slider->setEnabled(true);
    cmdLoadMap->setEnabled(true);
    cmdSaveMap->setEnabled(true);
    for (quint8 index = 0; index < kParameterCount; ++index) {
        if (!sessionStillOpen(session))
            return; // disconnected or lost while reading: the disconnect has set the view
        m_link->ReadParameter(index);
    }
    if (!sessionStillOpen(session))
        return;
    Timer_StatusRequest->setEnabled(true);
    ResetCmd->setEnabled(true);
}

void MainWindow::connectFailed()
{
    COMM_Combo->setEnabled(true);
    m_link->Connected = false;
    MSComm1_Timer->setEnabled(false);
    m_link->endSession(); // closes the port if it was opened
    ++m_session;
    m_view = SessionView::Idle;
    btnConnect->setText(caption(Caption::Connect));
    Timer_StatusRequest->setEnabled(false);
    // A failure after the controls were enabled must not leave them live with the port closed.
    if (cmdLoadMap->isEnabled() || RpmMinSlider->isEnabled())
        ResetView();
    dialogs().message(this, caption(Caption::ConnectFailed), caption(Caption::MessageTitle));
}

void MainWindow::disconnectFromController()
{
    COMM_Combo->setEnabled(true);
    m_link->Connected = false;
    MSComm1_Timer->setEnabled(false);
    m_link->endSession(); // closes the port and ends any wait in progress
    ++m_session;
    m_view = SessionView::Idle;
    btnConnect->setText(caption(Caption::Connect));
    Timer_StatusRequest->setEnabled(false);
    TimerPausaLampeggio->setEnabled(false);
    TimerLampeggio->setEnabled(false);
    ResetView();
}

void MainWindow::onPortLost()
{
    // During a connect the connect itself reports the failure.
    if (m_view != SessionView::Connected)
        return;
    disconnectFromController();
    dialogs().message(this, caption(Caption::PortLost), caption(Caption::MessageTitle));
}

void MainWindow::onStatusPoll()
{
    m_link->RequestStatus();
    btnConnect->setFocus();
}

void MainWindow::onResetClicked()
{
    const quint64 session = m_session;
    ResetCmd->setEnabled(false);
    m_link->SendReset();
    if (!sessionStillOpen(session))
        return;
    dialogs().message(this, caption(Caption::AfterReset), QString());
    for (quint8 index = 0; index < kParameterCount; ++index) {
        if (!sessionStillOpen(session))
            return;
        m_link->ReadParameter(index);
    }
    if (!sessionStillOpen(session))
        return;
    ResetCmd->setEnabled(true);
    Timer_StatusRequest->setEnabled(true);
}

void MainWindow::showMessage(const QString &text, const QString &title)
{
    dialogs().message(this, text, title);
}

void MainWindow::statusDecoded(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause)
{
    m_vars.LiveRpm = rpm;
    RpmLabel->setText(plainNumberText(rpm));
    m_vars.LiveTinj = tinj;
    TinjLabel->setText(plainNumberText(tinj));
    m_vars.LivePump = pump;
    PumpLabel->setText(secondsText(pump, SecondsUnit::Steps20ms));
    m_vars.LivePause = pause;
    TimerPausaLampeggio->setEnabled(true);
    TimerPausaLampeggio->setInterval(pause * 25);
    PauseLabel->setText(rpm != 0 ? secondsText(pause, SecondsUnit::Steps25ms) : QStringLiteral("Err!"));
}

void MainWindow::versionDecoded(const QString &text)
{
    Label9->setText(text);
}

void MainWindow::applyParameter(ParameterIndex index, qint32 value)
{
    const qint32 field = index == ParameterIndex::RpmMultiplier ? cappedMultiplier(value) : value;
    m_vars.Parameters[index] = field;
    sliderFor(index)->setValue(positionFromField(index, field));
    labelFor(index)->setText(displayText(index, field));
}

// ---- Parameter editing

void MainWindow::previewSlider(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled())
        return;
    const qint32 field = fieldFromPosition(index, slider->value());
    m_vars.Parameters[index] = field;
    labelFor(index)->setText(displayText(index, field));
}

void MainWindow::commitSlider(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled())
        return;
    const quint64 session = m_session;
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
    if (commitRefreshesField(index, moved)) {
        m_vars.Parameters[index] = fieldFromPosition(index, slider->value());
        labelFor(index)->setText(displayText(index, m_vars.Parameters[index]));
    }
    m_link->WriteParameter(quint8(index), m_vars.Parameters[index]);

    // A session that ended during the write has put the window into its idle view: the slider stays
    // disabled there, or a later release would write with no port open.
    if (session == m_session)
        slider->setEnabled(true);
}

void MainWindow::onPauseTick()
{
    if (m_vars.LiveRpm > m_vars.Parameters.RpmMin)
        setLampColor(kLampOn);
    TimerLampeggio->setInterval(500);
    TimerLampeggio->setEnabled(true);
}

void MainWindow::onFlashEnd()
{
    setLampColor(kLampOff);
    TimerLampeggio->setEnabled(false);
}

} // namespace oe
