#include "requestengine.h"

#include "plausibility.h"

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

bool Request::believes(const DecodedReply &reply) const
{
    return isPlausible(reply);
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

// The most bytes kept while looking for a reply; a frame is at most 11.
constexpr qsizetype kInputLimit = 8192;
constexpr qsizetype kInputKeep = 64;

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
    m_clock.start();
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
    clearInput();
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
    // Whatever is still waiting answers nothing that is in flight now. Taken and dropped rather than
    // flushed in the driver: a flush can race the port's own pending read, which then finds nothing
    // and reports the line as gone (bytes come all the time on a noisy line).
    m_settleTimer.stop();
    m_port->readReceived();
    if (dropped())
        return;
    clearInput();
    m_timedOut = false;
    m_tryHeardBytes = false;
    m_port->setReceiveThreshold(kReceiveThreshold);
    m_port->write(frame);
    if (dropped())
        return;
    ++m_current->framesSent;
    --m_current->triesLeft;
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

void RequestEngine::settleFor(qint64 msFromNow)
{
    m_settleTimer.start(int(qBound(qint64(0), msFromNow, qint64(kReplySettle.count()))));
}

qint64 RequestEngine::arrivalOf(qsizetype offset) const
{
    for (const Chunk &chunk : m_chunks) {
        if (offset < chunk.end)
            return chunk.atMs;
    }
    return m_clock.elapsed();
}

void RequestEngine::clearInput()
{
    m_input.clear();
    m_chunks.clear();
    m_reportedUpTo = 0;
}

void RequestEngine::trimInput(qsizetype from)
{
    from = qBound<qsizetype>(0, from, m_input.size());
    m_input.remove(0, from);
    QList<Chunk> kept;
    for (const Chunk &chunk : std::as_const(m_chunks)) {
        if (chunk.end > from)
            kept.append({chunk.end - from, chunk.atMs});
    }
    m_chunks = kept;
    m_reportedUpTo = qMax<qsizetype>(0, m_reportedUpTo - from);
}

bool RequestEngine::mayAnswer(quint8 code) const
{
    if (!m_current)
        return false;
    if (code == 0)
        return true; // the code has not come yet
    switch (m_current->request.kind) {
    case Request::Kind::ReadParameter: return code == 1;
    case Request::Kind::WriteParameter: return code == 2;
    case Request::Kind::Status: return code == 3;
    case Request::Kind::Version: return code == 4;
    case Request::Kind::Reset: return code == 10;
    }
    return false;
}

void RequestEngine::onReceiveEvent()
{
    const quint64 generation = m_generation;
    const QByteArray bytes = m_port->readReceived();
    if (generation != m_generation || bytes.isEmpty())
        return; // nothing came, or the line went away inside the call
    if (m_current && m_state == State::WaitingForReply)
        m_current->bytesReceived = m_tryHeardBytes = true;
    m_input += bytes;
    m_chunks.append({m_input.size(), m_clock.elapsed()});
    HandleInput();
}

void RequestEngine::HandleInput()
{
    const quint64 generation = m_generation;
    const FrameScan scan = scanFrames(m_input);
    const bool waiting = m_current && m_state == State::WaitingForReply;

    // The last complete frame that answers the request wins; one that would answer but cannot be
    // right is remembered, so the try need not wait out its time-out for nothing.
    QList<const FrameAt *> answers;
    const FrameAt *rejected = nullptr;
    const std::optional<Request> request = waiting ? std::optional(m_current->request) : std::nullopt;
    for (const FrameAt &frame : scan.complete) {
        const bool plausible = isPlausible(frame.reply);
        if (request && request->answeredBy(frame.reply)) {
            if (!request->believes(frame.reply)) {
                rejected = &frame;
                continue;
            }
            // A frame whose data holds this one's header was a false start.
            while (!answers.isEmpty() && frame.start < answers.last()->start + answers.last()->length)
                answers.removeLast();
            answers.append(&frame);
            continue;
        }
        const bool refusedEcho = request && request->kind == Request::Kind::WriteParameter
                                 && frame.reply.kind == ReplyKind::Echo && frame.reply.index == request->index;
        if (refusedEcho) {
            rejected = &frame;
            continue;
        }
        // Someone else's reply: a status still tells the readings.
        if (frame.start < m_reportedUpTo || !plausible)
            continue;
        m_reportedUpTo = frame.start + frame.length;
        const bool ownStatus = request && request->kind == Request::Kind::Status;
        if (frame.reply.kind == ReplyKind::Status && !ownStatus) {
            emit statusReceived(frame.reply);
            if (generation != m_generation)
                return;
        }
    }

    const FrameAt *answer = answers.isEmpty() ? nullptr : answers.last();
    // An identification carries nothing that could be checked, and noise shaped like one can follow
    // the real reply: two that disagree leave the try without an answer.
    for (const FrameAt *other : std::as_const(answers)) {
        if (other->reply.kind == ReplyKind::Version && other->reply.version != answer->reply.version) {
            rejected = answer;
            answer = nullptr;
            break;
        }
    }

    if (!waiting) {
        // Between requests only a frame still coming in is worth keeping.
        trimInput(scan.unfinished.isEmpty() ? m_input.size() : scan.unfinished.first().start);
        return;
    }
    // A frame that may still answer and starts after the best one so far could take its place.
    bool pending = false;
    for (const FrameAt &frame : scan.unfinished) {
        if (mayAnswer(frame.reply.code) && (!answer || frame.start > answer->start))
            pending = true;
    }
    if (m_input.size() > kInputLimit && !answer && !pending) {
        trimInput(m_input.size() - kInputKeep);
        return;
    }

    const qint64 now = m_clock.elapsed();
    const bool final = m_timedOut && now >= m_graceUntil;
    if (answer) {
        const qint64 due = arrivalOf(answer->start) + kReplySettle.count();
        if (now < due) {
            settleFor(due - now);
            return;
        }
        if (pending && !final)
            return;
        const DecodedReply reply = answer->reply;
        if (reply.kind == ReplyKind::Status) {
            emit statusReceived(reply);
            if (generation != m_generation)
                return;
        }
        if (reply.kind == ReplyKind::Parameter || reply.kind == ReplyKind::Echo) {
            ReplyIndex = reply.index;
            ReplyValue = reply.value;
        }
        // Bytes that came with or after the frame belong to nothing that is waiting.
        m_port->readReceived();
        if (generation != m_generation)
            return; // the line went away inside the call
        clearInput();
        emit tryEnded(TryEnd::Answered);
        if (generation != m_generation)
            return;
        finish(RequestResult::Outcome::Answered, reply);
        return;
    }
    if (pending && !final)
        return;
    if (rejected) {
        const qint64 due = arrivalOf(rejected->start) + kReplySettle.count();
        if (now < due) {
            settleFor(due - now);
            return;
        }
        tryFailed(TryEnd::BadFrame);
        return;
    }
    if (final)
        tryFailed(m_tryHeardBytes ? TryEnd::Noise : TryEnd::TimedOut);
}

void RequestEngine::onReplyTimeout()
{
    m_replyTimer->setEnabled(false);
    if (!m_current || m_state != State::WaitingForReply)
        return;
    m_timedOut = true;
    // A frame that began in time gets the pause any reply gets to come in whole.
    m_graceUntil = 0;
    const FrameScan scan = scanFrames(m_input);
    for (const FrameAt &frame : scan.unfinished) {
        if (mayAnswer(frame.reply.code))
            m_graceUntil = qMax(m_graceUntil, arrivalOf(frame.start) + kReplySettle.count());
    }
    const qint64 now = m_clock.elapsed();
    if (m_graceUntil > now)
        settleFor(m_graceUntil - now);
    HandleInput();
}

void RequestEngine::tryFailed(TryEnd why)
{
    m_replyTimer->setEnabled(false);
    m_settleTimer.stop();
    ReplyOk = false;
    ReplyDone = true;
    if (!m_current)
        return;
    const quint64 generation = m_generation;
    emit tryEnded(why);
    if (generation != m_generation || !m_current)
        return;
    if (m_current->triesLeft > 0)
        sendAttempt();
    else
        finish(RequestResult::Outcome::NotAnswered);
}

void RequestEngine::finish(RequestResult::Outcome outcome, const DecodedReply &reply)
{
    m_replyTimer->setEnabled(false);
    m_settleTimer.stop();
    Pending ended = std::move(*m_current);
    m_current.reset();
    m_state = State::Idle;
    ReplyDone = true;
    ReplyOk = outcome == RequestResult::Outcome::Answered;
    scheduleNext();
    if (ended.done)
        ended.done(RequestResult{outcome, reply, ended.framesSent, ended.bytesReceived});
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
