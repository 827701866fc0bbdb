#include "devicelink.h"

#include "numbertexts.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

namespace oe {

namespace {

void wakeEventLoop()
{
    // A wait sleeping in processEvents must look at its flag again even when the flag was set
    // outside an event it is dispatching.
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

} // namespace

DeviceLink::DeviceLink(SerialPort *port, LinkHost *host, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_host(host),
      m_replyTimer(new IntervalTimer(QStringLiteral("MSComm1_Timer"), int(kReadTimeout.count()), this)),
      m_statusTimer(new IntervalTimer(QStringLiteral("Timer_StatusRequest"),
                                      int(kStatusPollInterval.count()), this))
{
    connect(m_port, &SerialPort::receiveEvent, this, &DeviceLink::onReceiveEvent);
    connect(m_port, &SerialPort::portLost, this, &DeviceLink::onPortLost);
    connect(m_replyTimer, &IntervalTimer::tick, this, &DeviceLink::onReplyTimeout);
}

DeviceLink::~DeviceLink()
{
    endAllWaits();
}

bool DeviceLink::openPort(int comPort, QString *error)
{
    closePort();
    m_lossReported = false;
    return m_port->open(comPort, error);
}

void DeviceLink::closePort()
{
    ++m_session;
    if (m_port->isOpen())
        m_port->close();
    endAllWaits();
}

bool DeviceLink::portOpen() const
{
    return m_port->isOpen();
}

void DeviceLink::endSession()
{
    Connected = false;
    m_replyTimer->setEnabled(false);
    m_statusTimer->setEnabled(false);
    closePort();
}

bool DeviceLink::sessionAlive(quint64 session) const
{
    return session == m_session && m_port->isOpen();
}

bool DeviceLink::ReadParameter(quint8 index)
{
    const quint64 session = m_session;
    int tries = kTries;
    bool success = false;
    m_statusTimer->setEnabled(false);
    ReplyOk = false;
    m_port->discardInput();
    m_port->setReceiveThreshold(kReceiveThreshold);
    qint32 value = 0;
    while (tries > 0 && !success) {
        if (!sessionAlive(session))
            return false;
        m_port->write(RequestFrame(CommandCode::ReadParameter, index));
        Wait wait(ReplyKind::Parameter, index);
        success = awaitReply(wait, kReadTimeout);
        value = wait.receivedValue;
        --tries;
    }
    // A read that got no answer of its own leaves the field alone rather than applying whatever
    // an earlier reply left in ReplyValue.
    if (!success || !sessionAlive(session) || !isParameterIndex(index))
        return false;
    m_host->applyParameter(ParameterIndex(index), value);
    return true;
}

DeviceLink::WriteResult DeviceLink::WriteParameter(quint8 index, qint32 value)
{
    const quint64 session = m_session;
    int tries = kTries;
    bool success = false;
    m_statusTimer->setEnabled(false);
    ReplyOk = false;
    if (value < 0 || value > 0xFFFF)
        return WriteResult::OutOfRange;
    if (!sessionAlive(session))
        return WriteResult::SessionEnded;
    m_port->pause(kWriteSettle);
    while (tries > 0 && !success) {
        if (!sessionAlive(session))
            return WriteResult::SessionEnded;
        m_port->discardInput();
        m_port->setReceiveThreshold(kReceiveThreshold);
        m_port->write(*m_writeFrame.build(index, value));
        Wait wait(ReplyKind::Echo, index, value);
        success = awaitReply(wait, kWriteTimeout);
        --tries;
    }
    if (!sessionAlive(session))
        return WriteResult::SessionEnded;
    m_statusTimer->setEnabled(true);
    if (!success) {
        m_host->showMessage(m_host->caption(kWriteNotConfirmedEntry), m_host->caption(kMessageTitleEntry));
        return WriteResult::NotConfirmed;
    }
    return WriteResult::Confirmed;
}

void DeviceLink::RequestStatus()
{
    const quint64 session = m_session;
    int tries = kTries;
    bool success = false;
    ReplyOk = false;
    m_statusTimer->setEnabled(false);
    m_port->setReceiveThreshold(kReceiveThreshold);
    while (tries > 0 && !success && Connected) {
        if (!sessionAlive(session))
            return;
        m_port->write(RequestFrame(CommandCode::Status));
        m_port->discardInput();
        Wait wait(ReplyKind::Status);
        success = awaitReply(wait, kStatusTimeout);
        --tries;
    }
    if (sessionAlive(session))
        m_statusTimer->setEnabled(true);
}

void DeviceLink::RequestVersion()
{
    const quint64 session = m_session;
    int tries = kTries;
    bool success = false;
    m_statusTimer->setEnabled(false);
    ReplyOk = false;
    m_port->discardInput();
    m_port->setReceiveThreshold(kReceiveThreshold);
    while (tries > 0 && !success) {
        if (!sessionAlive(session))
            return;
        m_port->write(RequestFrame(CommandCode::Version));
        Wait wait(ReplyKind::Version);
        success = awaitReply(wait, kVersionTimeout);
        --tries;
    }
    if (sessionAlive(session))
        m_statusTimer->setEnabled(true);
}

bool DeviceLink::SendReset()
{
    const quint64 session = m_session;
    int tries = kTries;
    bool success = false;
    m_statusTimer->setEnabled(false);
    ReplyOk = false;
    m_port->setReceiveThreshold(kReceiveThreshold);
    while (tries > 0 && !success) {
        if (!sessionAlive(session))
            return false;
        m_port->write(RequestFrame(CommandCode::Reset));
        m_port->discardInput();
        Wait wait(ReplyKind::Reset);
        success = awaitReply(wait, kResetTimeout);
        --tries;
    }
    if (!sessionAlive(session))
        return false;
    if (!success)
        m_host->showMessage(m_host->caption(kResetNotConfirmedEntry), m_host->caption(kMessageTitleEntry));
    return success;
}

void DeviceLink::armReplyTimer(std::chrono::milliseconds timeout)
{
    // Disabled first: a timer left running by an earlier exchange would otherwise keep its old
    // countdown and cut this attempt short.
    m_replyTimer->setEnabled(false);
    m_replyTimer->setInterval(int(qMax<qint64>(1, timeout.count())));
    m_replyTimer->setEnabled(true);
}

bool DeviceLink::awaitReply(Wait &wait, std::chrono::milliseconds timeout)
{
    ReplyDone = false;
    wait.deadline = QDeadlineTimer(timeout, Qt::PreciseTimer);
    m_waits.push_back(&wait);
    armReplyTimer(timeout);
    while (!wait.done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    m_waits.pop_back();

    // Back in an outer wait: it still needs a time-out of its own, whatever the inner exchange did
    // to the shared timer.
    if (Wait *outer = currentWait()) {
        const qint64 remaining = outer->deadline.remainingTime();
        if (remaining <= 0) {
            m_replyTimer->setEnabled(false);
            finishWait(*outer, false);
        } else {
            ReplyDone = false;
            armReplyTimer(std::chrono::milliseconds(remaining));
        }
    } else if (!m_waits.empty()) {
        ReplyDone = true;
    }
    ReplyOk = wait.ok;
    return wait.ok;
}

void DeviceLink::finishWait(Wait &wait, bool ok)
{
    wait.done = true;
    wait.ok = ok;
    ReplyDone = true;
    ReplyOk = ok;
    wakeEventLoop();
}

DeviceLink::Wait *DeviceLink::currentWait() const
{
    for (auto it = m_waits.rbegin(); it != m_waits.rend(); ++it) {
        if (!(*it)->done)
            return *it;
    }
    return nullptr;
}

bool DeviceLink::answers(const Wait &wait, const DecodedReply &reply)
{
    if (reply.kind != wait.expected)
        return false;
    switch (reply.kind) {
    case ReplyKind::Parameter:
        return reply.index == wait.index;
    case ReplyKind::Echo:
        return reply.index == wait.index && reply.value == wait.value;
    default:
        return true;
    }
}

void DeviceLink::endAllWaits()
{
    for (Wait *wait : m_waits) {
        if (!wait->done)
            finishWait(*wait, false);
    }
}

void DeviceLink::onReceiveEvent()
{
    m_replyTimer->setEnabled(false);
    m_port->setReceiveThreshold(kReceiveThreshold);
    HandleInput();
    // Whatever came with or after the decoded frame is not kept for the next request.
    m_port->discardInput();
}

void DeviceLink::HandleInput()
{
    m_port->pause(kReplySettle);
    const QByteArray bytes = m_port->readAll();
    const DecodedReply reply = decodeReply(bytes);
    Wait *current = currentWait();

    switch (reply.kind) {
    case ReplyKind::Ignored:
    case ReplyKind::Truncated:
    case ReplyKind::BadHeader:
        // Nothing usable came: fail the attempt now instead of leaving it without a time-out.
        m_replyTimer->setEnabled(false);
        if (current)
            finishWait(*current, false);
        return;
    case ReplyKind::Parameter:
    case ReplyKind::Echo:
        ReplyIndex = reply.index;
        ReplyValue = reply.value;
        break;
    case ReplyKind::Status:
        m_host->statusDecoded(reply.rpm, reply.tinj, reply.pump, reply.pause);
        break;
    case ReplyKind::Version:
        m_host->versionDecoded(QStringLiteral("Ver. %1.%2.%3")
                                   .arg(plainNumberText(reply.version[0]),
                                        plainNumberText(reply.version[1]),
                                        plainNumberText(reply.version[2])));
        Connected = true;
        break;
    case ReplyKind::Reset:
        break;
    }
    m_replyTimer->setEnabled(false);

    // The host callbacks above may have ended the session and its waits.
    current = currentWait();
    if (!current)
        return; // a late reply with nobody waiting: decoded, nothing to end
    const bool ok = answers(*current, reply);
    current->receivedValue = reply.value;
    finishWait(*current, ok);
    if (ok)
        return;
    // A reply that an outer wait is still waiting for satisfies that wait.
    for (auto it = m_waits.rbegin(); it != m_waits.rend(); ++it) {
        Wait &outer = **it;
        if (!outer.done && answers(outer, reply)) {
            outer.receivedValue = reply.value;
            outer.done = true;
            outer.ok = true;
            break;
        }
    }
}

void DeviceLink::onReplyTimeout()
{
    m_replyTimer->setEnabled(false);
    ReplyDone = true;
    if (Wait *current = currentWait())
        finishWait(*current, false);
}

void DeviceLink::onPortLost()
{
    if (m_lossReported)
        return;
    m_lossReported = true;
    endSession();
    // Reported from the event loop, not from inside the port's error handling; a disconnect that
    // came first makes the report moot.
    const quint64 session = m_session;
    QMetaObject::invokeMethod(
        this,
        [this, session] {
            if (session == m_session)
                emit portLost();
        },
        Qt::QueuedConnection);
}

} // namespace oe
