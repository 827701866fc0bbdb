#include "requestengine.h"

#include <utility>

namespace oe {

RequestEngine::RequestEngine(SerialPort *port, QObject *parent, Clock *clock)
    : QObject(parent),
      m_port(port),
      m_clock(Clock::orSteady(clock)),
      m_replyTimer(new IntervalTimer(QStringLiteral("MSComm1_Timer"), int(kReadTimeout.count()), this,
                                     IntervalTimer::Phase::RestartOnChange, m_clock))
{
    connect(m_port, &SerialPort::receiveEvent, this, &RequestEngine::onReceiveEvent);
    connect(m_port, &SerialPort::portLost, this, &RequestEngine::onPortLost);
    connect(m_replyTimer, &IntervalTimer::tick, this, &RequestEngine::onDeadline);
}

RequestEngine::~RequestEngine()
{
    drop();
}

bool RequestEngine::open(int comPort, QString *error)
{
    close();
    m_lossReported = false;
    return m_port->open(comPort, error);
}

void RequestEngine::close()
{
    drop();
    if (m_port->isOpen())
        m_port->close();
}

bool RequestEngine::isOpen() const
{
    return m_port->isOpen();
}

void RequestEngine::submit(const Request &request, Callback done)
{
    if (!m_port->isOpen())
        return;
    m_queue.enqueue(Pending{request, std::move(done), qMax(1, request.tries), 0, false});
    postStep();
}

void RequestEngine::drop()
{
    ++m_generation;
    m_queue.clear();
    m_current.reset();
    m_state = State::Idle;
    m_replyTimer->setEnabled(false);
    m_stepPosted = false;
    m_scanner.clear();
    m_outbox.clear();
}

void RequestEngine::postStep()
{
    // From the event loop, so whatever came before (a result, the start of a request) has been told
    // before the next frame goes out. A posted call rather than a zero timer: posted events come
    // before timers, and the repaints a reply's callback queues are posted at low priority, so the
    // next frame goes out ahead of them instead of waiting a repaint for every step of a sequence.
    const bool nothingToDo = m_state == State::Idle ? m_queue.isEmpty() : m_state != State::TryDue;
    if (nothingToDo || m_stepPosted)
        return;
    m_stepPosted = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation != m_generation)
            return; // dropped meanwhile; whatever was queued since has posted its own
        m_stepPosted = false;
        step();
    }, Qt::QueuedConnection);
}

void RequestEngine::step()
{
    if (!m_port->isOpen())
        return;
    if (m_state == State::TryDue) {
        sendAttempt();
        return;
    }
    if (m_state != State::Idle || m_queue.isEmpty())
        return;
    m_current = m_queue.dequeue();
    m_replyOk = false;
    tell([this, request = m_current->request] { emit requestStarted(request); });
    if (m_current->request.kind == Request::Kind::WriteParameter) {
        if (!m_writeFrame.build(m_current->request.index, m_current->request.value)) {
            finish(RequestResult::Outcome::OutOfRange);
            return;
        }
        m_state = State::LeadIn;
        armAt(m_clock->nowMs() + kWriteLeadIn.count());
        return;
    }
    m_state = State::TryDue;
    postStep();
}

void RequestEngine::sendAttempt()
{
    if (!m_port->isOpen()) {
        drop();
        return;
    }
    // Any port call may find the line gone and drop everything from inside it; after each, the try
    // goes on only if nothing was dropped.
    const quint64 generation = m_generation;
    const Request &request = m_current->request;
    // A write's frame was built (and its value checked) when the request started.
    const QByteArray frame =
        request.kind == Request::Kind::WriteParameter ? m_writeFrame.bytes() : request.frame();
    // Whatever is still waiting answers nothing that is in flight now. Taken and dropped rather than
    // flushed in the driver: a flush can race the port's own pending read, which then finds nothing
    // and reports the line as gone (bytes come all the time on a noisy line).
    m_replyTimer->setEnabled(false);
    m_port->readReceived();
    if (generation != m_generation)
        return;
    m_scanner.clear();
    m_port->setReceiveThreshold(kReceiveThreshold);
    m_port->write(frame);
    if (generation != m_generation)
        return;
    ++m_current->framesSent;
    --m_current->triesLeft;
    m_state = State::WaitingForReply;
    m_timeoutAt = m_clock->nowMs() + m_current->request.timeout.count();
    armAt(m_timeoutAt);
    assertDeadline();
}

void RequestEngine::armAt(qint64 atMs)
{
    // Disabled first: setting an interval a running timer already has would leave its countdown.
    m_replyTimer->setEnabled(false);
    m_replyTimer->setInterval(int(qMax<qint64>(1, atMs - m_clock->nowMs())));
    m_replyTimer->setEnabled(true);
}

void RequestEngine::onDeadline()
{
    m_replyTimer->setEnabled(false);
    if (m_state == State::LeadIn)
        sendAttempt();
    else if (tryOpen())
        HandleInput();
    assertDeadline();
}

void RequestEngine::assertDeadline() const
{
    Q_ASSERT_X(deadlineHeld(), "RequestEngine", "a try is open with no deadline armed");
}

void RequestEngine::onReceiveEvent()
{
    const quint64 generation = m_generation;
    const QByteArray bytes = m_port->readReceived();
    if (generation != m_generation || bytes.isEmpty())
        return; // nothing came, or the line went away inside the call
    m_scanner.append(bytes, m_clock->nowMs());
    HandleInput();
    assertDeadline();
}

void RequestEngine::HandleInput()
{
    const Request *open = tryOpen() ? &m_current->request : nullptr;
    const ScanVerdict verdict = m_scanner.look(open, m_timeoutAt, m_clock->nowMs());
    for (const DecodedReply &reply : verdict.setAside) {
        if (reply.kind == ReplyKind::Status)
            tell([this, reply] { emit statusReceived(reply); });
    }
    if (!open)
        return;
    switch (verdict.step) {
    case ScanVerdict::Step::Wait:
        armAt(verdict.nextLookAt);
        break;
    case ScanVerdict::Step::Answered:
        answered(verdict.reply);
        break;
    case ScanVerdict::Step::BadFrame:
        tryFailed(TryEnd::BadFrame);
        break;
    case ScanVerdict::Step::NoAnswer:
        tryFailed(m_scanner.heardBytes() ? TryEnd::Noise : TryEnd::TimedOut);
        break;
    }
}

void RequestEngine::answered(const DecodedReply &reply)
{
    m_replyTimer->setEnabled(false);
    m_current->bytesReceived = true;
    if (reply.kind == ReplyKind::Status)
        tell([this, reply] { emit statusReceived(reply); });
    // Bytes that came with or after the frame belong to nothing that is waiting.
    const quint64 generation = m_generation;
    m_port->readReceived();
    if (generation != m_generation)
        return; // the line went away inside the call
    m_scanner.clear();
    if (reply.kind == ReplyKind::Parameter || reply.kind == ReplyKind::Echo) {
        m_replyIndex = reply.index;
        m_replyValue = reply.value;
    }
    tellTryEnded(TryEnd::Answered, reply);
    finish(RequestResult::Outcome::Answered, reply);
}

void RequestEngine::tryFailed(TryEnd why)
{
    m_replyTimer->setEnabled(false);
    m_replyOk = false;
    m_current->bytesReceived = m_current->bytesReceived || m_scanner.heardBytes();
    tellTryEnded(why);
    if (m_current->triesLeft <= 0) {
        finish(RequestResult::Outcome::NotAnswered);
        return;
    }
    m_state = State::TryDue;
    postStep();
}

void RequestEngine::finish(RequestResult::Outcome outcome, const DecodedReply &reply)
{
    m_replyTimer->setEnabled(false);
    Pending ended = std::exchange(m_current, std::nullopt).value();
    m_state = State::Idle;
    m_replyOk = outcome == RequestResult::Outcome::Answered;
    if (ended.done) {
        const RequestResult result{outcome, reply, ended.framesSent, ended.bytesReceived};
        tell([done = std::move(ended.done), result] { done(result); });
    }
    postStep();
}

void RequestEngine::onPortLost()
{
    if (m_lossReported)
        return;
    m_lossReported = true;
    close();
    tell([this] { emit portLost(); });
}

void RequestEngine::tell(std::function<void()> note)
{
    m_outbox.push_back(std::move(note));
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(this, &RequestEngine::deliver, Qt::QueuedConnection);
}

void RequestEngine::tellTryEnded(TryEnd end, const DecodedReply &reply)
{
    tell([this, end, request = m_current->request, reply] { emit tryEnded(end, request, reply); });
}

void RequestEngine::deliver()
{
    m_deliveryPosted = false;
    while (!m_outbox.empty()) {
        const std::function<void()> note = std::move(m_outbox.front());
        m_outbox.pop_front();
        // A handler that opens a modal box runs the event loop: what follows is told from there.
        if (!m_outbox.empty() && !m_deliveryPosted) {
            m_deliveryPosted = true;
            QMetaObject::invokeMethod(this, &RequestEngine::deliver, Qt::QueuedConnection);
        }
        note();
    }
}

} // namespace oe
