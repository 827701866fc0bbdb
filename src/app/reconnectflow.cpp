#include "reconnectflow.h"

#include "boxqueue.h"
#include "captiontable.h"
#include "dialogs.h"
#include "maptexts.h"
#include "readingspanel.h"
#include "recorder.h"
#include "windowcontext.h"

#include <QDateTime>
#include <QDir>
#include <QPushButton>
#include <QTimer>

namespace oe {

ReconnectFlow::ReconnectFlow(WindowContext &context, QPushButton *connectButton, ReadingsPanel *readings)
    : QObject(context.window), m_context(context), m_session(*context.session), m_connect(connectButton),
      m_readings(readings)
{
    m_systemPorts = [] { return systemSerialPorts(); };
    m_look = new QTimer(this);
    m_look->setInterval(kLookIntervalMs);
    connect(m_look, &QTimer::timeout, this, &ReconnectFlow::look);
    connect(&m_session, &Session::stateChanged, this, &ReconnectFlow::onSessionState);
    // The recording's file is gone from the recorder once it stopped: kept here for the box.
    connect(m_context.recorder, &Recorder::recordingChanged, this, [this](bool recording) {
        if (recording) {
            m_recordingPath = m_context.recorder->path();
            m_recordingCut = false;
        } else {
            m_recordingCut = m_session.state() == Session::State::Idle && m_session.endedByPortLoss();
        }
    });
}

QString ReconnectFlow::portName() const
{
    return QStringLiteral("COM%1").arg(m_comPort);
}

bool ReconnectFlow::waiting() const
{
    return m_look->isActive();
}

void ReconnectFlow::onSessionState(Session::State state)
{
    if (state == Session::State::Idle) {
        m_sequenceCut = m_lastState == Session::State::Busy && m_session.endedByPortLoss();
        // A connect of ours that failed: the button goes on saying that DISCONNECT stops the waiting.
        if (waiting())
            m_connect->setText(m_context.caption(Caption::Disconnect));
    } else if (state == Session::State::Connected && m_attempting) {
        m_attempting = false;
        finish(fillPlaceholders(m_context.caption(Caption::Reconnected), {portName()}));
    }
    m_lastState = state;
}

void ReconnectFlow::portLost(int comPort, const QString &unsent)
{
    m_comPort = comPort;
    m_attempting = false;
    m_deadline = QDateTime::currentMSecsSinceEpoch() + qint64(kWaitMinutes) * 60 * 1000;
    m_look->start();
    m_connect->setText(m_context.caption(Caption::Disconnect));
    m_readings->showStanding(fillPlaceholders(m_context.caption(Caption::ReconnectWaiting), {portName()}));

    QStringList lines{m_context.caption(Caption::PortLost), m_context.caption(Caption::PortLostPoll)};
    if (m_recordingCut && !m_recordingPath.isEmpty())
        lines << fillPlaceholders(m_context.caption(Caption::PortLostRecording), {QDir::toNativeSeparators(m_recordingPath)});
    if (m_sequenceCut)
        lines << m_context.caption(Caption::PortLostSequence);
    if (!unsent.isEmpty())
        lines << fillPlaceholders(m_context.caption(Caption::PortLostUnsent), {unsent});
    lines << fillPlaceholders(m_context.caption(Caption::PortLostWhatToDo), {portName(), QString::number(kWaitMinutes)});
    const QString text = lines.join(QStringLiteral("\n\n"));
    const auto box = [this, text] {
        bool now = false;
        {
            BoxQueue::Scope scope(*m_context.boxes);
            now = m_context.boxes->dialogs().messageWithAction(m_context.window, text,
                                                               m_context.caption(Caption::MessageTitle), QString(),
                                                               m_context.caption(Caption::ReconnectNow));
        }
        if (now && waiting())
            look();
    };
    // From the event loop, once the session's own message has returned: a connect made while the box
    // is open then starts its poll as any other.
    QMetaObject::invokeMethod(this, [this, box] {
        if (m_context.boxes->isOpen())
            m_context.boxes->deferBox(box);
        else
            box();
    }, Qt::QueuedConnection);
}

void ReconnectFlow::look()
{
    if (m_attempting || m_session.state() != Session::State::Idle)
        return;
    if (QDateTime::currentMSecsSinceEpoch() > m_deadline) {
        finish(fillPlaceholders(m_context.caption(Caption::ReconnectGaveUp), {portName()}));
        return;
    }
    // Back when it leads to a device again (a ports/COMn link's target, a COM port the system lists):
    // a connect tried before would only fail.
    const QList<ComPortInfo> ports = listComPorts(m_context.programFolder, m_systemPorts());
    if (m_comPort < kLowestComPort || m_comPort > ports.size() || !ports[m_comPort - 1].present)
        return;
    m_attempting = true;
    m_session.connectTo(m_comPort);
}

bool ReconnectFlow::takeConnectFailure()
{
    if (!m_attempting)
        return false;
    m_attempting = false;
    return true;
}

void ReconnectFlow::stop()
{
    if (!waiting() && !m_attempting)
        return;
    const bool connecting = m_attempting;
    m_attempting = false;
    if (connecting)
        m_session.disconnectNow();
    finish(fillPlaceholders(m_context.caption(Caption::ReconnectStopped), {portName()}));
}

void ReconnectFlow::finish(const QString &line)
{
    m_look->stop();
    m_readings->showStanding({});
    if (m_session.state() == Session::State::Idle)
        m_connect->setText(m_context.caption(Caption::Connect));
    m_readings->showNote(line);
}

} // namespace oe
