#include "requestengine.h"

namespace oe {

Request Request::read(quint8 index)
{
    return {Kind::ReadParameter, index, 0, RequestEngine::kReadTimeout, RequestEngine::kTries};
}

Request Request::write(quint8 index, qint32 value)
{
    return {Kind::WriteParameter, index, value, RequestEngine::kWriteTimeout, RequestEngine::kTries};
}

Request Request::status()
{
    return {Kind::Status, 0, 0, RequestEngine::kStatusTimeout, RequestEngine::kTries};
}

Request Request::version()
{
    return {Kind::Version, 0, 0, RequestEngine::kVersionTimeout, RequestEngine::kTries};
}

Request Request::reset()
{
    return {Kind::Reset, 0, 0, RequestEngine::kResetTimeout, RequestEngine::kTries};
}

bool Request::answeredBy(const DecodedReply &reply) const
{
    switch (kind) {
    case Kind::ReadParameter:
        return reply.kind == ReplyKind::Parameter && reply.index == index;
    case Kind::WriteParameter:
        return reply.kind == ReplyKind::Echo && reply.index == index && reply.value == value;
    case Kind::Status:
        return reply.kind == ReplyKind::Status;
    case Kind::Version:
        return reply.kind == ReplyKind::Version;
    case Kind::Reset:
        return reply.kind == ReplyKind::Reset;
    }
    return false;
}

namespace {

QByteArray frameFor(const Request &request)
{
    switch (request.kind) {
    case Request::Kind::ReadParameter:
        return RequestFrame(CommandCode::ReadParameter, request.index);
    case Request::Kind::Status:
        return RequestFrame(CommandCode::Status);
    case Request::Kind::Version:
        return RequestFrame(CommandCode::Version);
    case Request::Kind::Reset:
        return RequestFrame(CommandCode::Reset);
    case Request::Kind::WriteParameter:
        break;
    }
    return {};
}

bool isUnusable(ReplyKind kind)
{
    return kind == ReplyKind::Ignored || kind == ReplyKind::Truncated || kind == ReplyKind::BadHeader;
}

} // namespace

RequestEngine::RequestEngine(SerialPort *port, QObject *parent)
    : QObject(parent),
      m_port(port),
      m_replyTimer(new IntervalTimer(QStringLiteral("MSComm1_Timer"), int(kReadTimeout.count()), this))
{
    for (QTimer *timer : {&m_settleTimer, &m_leadInTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(m_port, &SerialPort::receiveEvent, this, &RequestEngine::onReceiveEvent);
    connect(m_port, &SerialPort::portLost, this, &RequestEngine::onPortLost);
    connect(m_replyTimer, &IntervalTimer::tick, this, &RequestEngine::onReplyTimeout);
    connect(&m_settleTimer, &QTimer::timeout, this, &RequestEngine::HandleInput);
    connect(&m_leadInTimer, &QTimer::timeout, this, &RequestEngine::sendAttempt);
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
    m_queue.enqueue(Pending{request, std::move(done), qMax(1, request.tries), 0, {}});
    scheduleNext();
}

void RequestEngine::drop()
{
    ++m_generation;
    m_queue.clear();
    m_current.reset();
    m_state = State::Idle;
    m_replyTimer->setEnabled(false);
    m_settleTimer.stop();
    m_leadInTimer.stop();
    m_nextPosted = false;
    ReplyDone = true;
}

void RequestEngine::scheduleNext()
{
    // From the event loop, so a callback that queues the next step of a sequence has returned
    // before that step goes out. A posted call rather than a zero timer: posted events come before
    // timers, and the repaints a reply's callback queues are posted at low priority, so the next
    // frame goes out ahead of them instead of waiting a repaint for every step of a sequence.
    if (m_current || m_queue.isEmpty() || m_nextPosted)
        return;
    m_nextPosted = true;
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(this, [this, generation] {
        if (generation != m_generation)
            return; // dropped meanwhile; whatever was queued since has posted its own
        m_nextPosted = false;
        startNext();
    }, Qt::QueuedConnection);
}

void RequestEngine::startNext()
{
    if (m_current || m_queue.isEmpty() || !m_port->isOpen())
        return;
    m_current = m_queue.dequeue();
    const quint64 generation = m_generation;
    emit requestStarted();
    if (generation != m_generation || !m_current)
        return;
    ReplyOk = false;
    if (m_current->request.kind == Request::Kind::WriteParameter) {
        if (!m_writeFrame.build(m_current->request.index, m_current->request.value)) {
            finish(RequestResult::Outcome::OutOfRange);
            return;
        }
        m_state = State::LeadIn;
        m_leadInTimer.start(kWriteLeadIn);
        return;
    }
    sendAttempt();
}

void RequestEngine::sendAttempt()
{
    if (!m_current)
        return;
    if (!m_port->isOpen()) {
        drop();
        return;
    }
    // Any port call may find the line gone and drop everything from inside it; after each, the try
    // goes on only if its request is still the one in flight.
    const quint64 generation = m_generation;
    const auto dropped = [this, generation] { return generation != m_generation || !m_current; };
    const Request request = m_current->request;
    // A write's frame was built (and its value checked) when the request started.
    const QByteArray frame =
        request.kind == Request::Kind::WriteParameter ? m_writeFrame.bytes() : frameFor(request);
    // Whatever is still waiting answers nothing that is in flight now.
    m_settleTimer.stop();
    m_port->discardInput();
    if (dropped())
        return;
    m_port->setReceiveThreshold(kReceiveThreshold);
    m_port->write(frame);
    if (dropped())
        return;
    ++m_current->framesSent;
    --m_current->triesLeft;
    m_current->deadline = QDeadlineTimer(request.timeout, Qt::PreciseTimer);
    m_state = State::WaitingForReply;
    ReplyDone = false;
    armReplyTimer(request.timeout);
}

void RequestEngine::armReplyTimer(std::chrono::milliseconds timeout)
{
    // Disabled first, so a countdown left from an earlier try never cuts this one short.
    m_replyTimer->setEnabled(false);
    m_replyTimer->setInterval(int(qMax<qint64>(1, timeout.count())));
    m_replyTimer->setEnabled(true);
}

void RequestEngine::onReceiveEvent()
{
    if (m_settleTimer.isActive())
        return; // still collecting this reply
    m_replyTimer->setEnabled(false);
    if (m_state == State::WaitingForReply)
        m_state = State::ProcessingReply;
    m_settleTimer.start(kReplySettle);
}

void RequestEngine::HandleInput()
{
    const quint64 generation = m_generation;
    const QByteArray bytes = m_port->readAll();
    // Bytes that came with or after the frame belong to nothing that is waiting.
    m_port->discardInput();
    if (generation != m_generation)
        return; // the line went away inside one of the two calls
    const bool waiting = m_current && m_state == State::ProcessingReply;
    if (bytes.isEmpty()) {
        if (waiting)
            tryFailed(); // the bytes went with the port; the time-out is stopped, so end the try
        return;
    }
    const DecodedReply reply = decodeReply(bytes);

    if (reply.kind == ReplyKind::Status)
        emit statusReceived(reply);
    if (generation != m_generation || !waiting)
        return;

    const Request &request = m_current->request;
    if (request.answeredBy(reply)) {
        if (reply.kind == ReplyKind::Parameter || reply.kind == ReplyKind::Echo) {
            ReplyIndex = reply.index;
            ReplyValue = reply.value;
        }
        finish(RequestResult::Outcome::Answered, reply);
        return;
    }
    const bool refusedEcho = request.kind == Request::Kind::WriteParameter
                             && reply.kind == ReplyKind::Echo && reply.index == request.index;
    if (isUnusable(reply.kind) || refusedEcho) {
        tryFailed();
        return;
    }
    // Someone else's reply: the try waits on for what is left of its time-out.
    const qint64 left = m_current->deadline.remainingTime();
    if (left <= 0) {
        tryFailed();
        return;
    }
    m_state = State::WaitingForReply;
    armReplyTimer(std::chrono::milliseconds(left));
}

void RequestEngine::onReplyTimeout()
{
    m_replyTimer->setEnabled(false);
    if (m_current && m_state == State::WaitingForReply)
        tryFailed();
}

void RequestEngine::tryFailed()
{
    m_replyTimer->setEnabled(false);
    ReplyOk = false;
    ReplyDone = true;
    if (!m_current)
        return;
    if (m_current->triesLeft > 0)
        sendAttempt();
    else
        finish(RequestResult::Outcome::NotAnswered);
}

void RequestEngine::finish(RequestResult::Outcome outcome, const DecodedReply &reply)
{
    m_replyTimer->setEnabled(false);
    Pending ended = std::move(*m_current);
    m_current.reset();
    m_state = State::Idle;
    ReplyDone = true;
    ReplyOk = outcome == RequestResult::Outcome::Answered;
    scheduleNext();
    if (ended.done)
        ended.done(RequestResult{outcome, reply, ended.framesSent});
}

void RequestEngine::onPortLost()
{
    if (m_lossReported)
        return;
    m_lossReported = true;
    close();
    // Reported from the event loop, not from inside the port's error handling; a close or a new
    // open that came first makes the report moot.
    const quint64 generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                emit portLost();
        },
        Qt::QueuedConnection);
}

} // namespace oe
