#include "requestengine.h"

#include "plausibility.h"

#include <algorithm>
#include <limits>

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
    scheduleNext();
}

void RequestEngine::drop()
{
    ++m_generation;
    m_queue.clear();
    m_current.reset();
    m_state = State::Idle;
    m_replyTimer->setEnabled(false);
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
        armAt(m_clock->nowMs() + kWriteLeadIn.count());
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
    m_replyTimer->setEnabled(false);
    m_port->readReceived();
    if (dropped())
        return;
    clearInput();
    m_tryHeardBytes = false;
    m_port->setReceiveThreshold(kReceiveThreshold);
    m_port->write(frame);
    if (dropped())
        return;
    ++m_current->framesSent;
    --m_current->triesLeft;
    m_state = State::WaitingForReply;
    ReplyDone = false;
    m_timeoutAt = m_clock->nowMs() + request.timeout.count();
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

qint64 RequestEngine::arrivalOf(qsizetype offset) const
{
    const auto chunk = std::upper_bound(m_chunks.cbegin(), m_chunks.cend(), offset,
                                        [](qsizetype at, const Chunk &c) { return at < c.end; });
    return chunk == m_chunks.cend() ? m_clock->nowMs() : chunk->atMs;
}

void RequestEngine::clearInput()
{
    m_input.clear();
    m_chunks.clear();
    m_unfinished.clear();
    m_complete.clear();
    m_choice = {};
    m_choiceStale = false;
    m_scannedUpTo = 0;
    m_reportedUpTo = 0;
}

void RequestEngine::trimInput(qsizetype from)
{
    from = qBound<qsizetype>(0, from, m_input.size());
    if (from == 0)
        return;
    if (from == m_input.size()) {
        clearInput();
        return;
    }
    m_input.remove(0, from);
    const auto firstKept = std::upper_bound(m_chunks.begin(), m_chunks.end(), from,
                                            [](qsizetype at, const Chunk &c) { return at < c.end; });
    m_chunks.erase(m_chunks.begin(), firstKept);
    for (Chunk &chunk : m_chunks)
        chunk.end -= from;
    const auto shift = [from](QList<FrameAt> &frames) {
        frames.removeIf([from](const FrameAt &frame) { return frame.start < from; });
        for (FrameAt &frame : frames)
            frame.start -= from;
    };
    shift(m_unfinished);
    shift(m_complete);
    m_scannedUpTo = qMax<qsizetype>(0, m_scannedUpTo - from);
    m_reportedUpTo = qMax<qsizetype>(0, m_reportedUpTo - from);
    m_choiceStale = true;
}

namespace {

enum class Look { None, Unfinished, Complete };

// Whether a reply frame starts at offset i of bytes (see scanFrames).
Look frameAt(QByteArrayView bytes, qsizetype i, FrameAt *frame)
{
    const qsizetype size = bytes.size();
    if (quint8(bytes[i]) != 'C')
        return Look::None;
    *frame = FrameAt{i, 0, {}};
    if (i + 1 == size)
        return Look::Unfinished;
    if (quint8(bytes[i + 1]) != 'U')
        return Look::None;
    if (i + 2 == size)
        return Look::Unfinished;
    const quint8 code = quint8(bytes[i + 2]);
    frame->length = replyLength(code);
    if (frame->length == 0)
        return Look::None; // a false start: no reply carries this code
    if (i + frame->length <= size) {
        frame->reply = decodeReply(bytes.sliced(i, frame->length));
        return Look::Complete;
    }
    frame->reply.kind = ReplyKind::Truncated;
    frame->reply.code = code;
    return Look::Unfinished;
}

} // namespace

bool RequestEngine::scanNewBytes()
{
    const QByteArrayView bytes(m_input);
    QList<FrameAt> found;
    // Frames still coming in first: the new bytes may finish or spoil them.
    QList<FrameAt> stillComing;
    for (const FrameAt &open : std::as_const(m_unfinished)) {
        FrameAt frame;
        switch (frameAt(bytes, open.start, &frame)) {
        case Look::Unfinished: stillComing.append(frame); break;
        case Look::Complete: found.append(frame); break;
        case Look::None: break;
        }
    }
    for (qsizetype i = m_scannedUpTo; i < bytes.size(); ++i) {
        FrameAt frame;
        switch (frameAt(bytes, i, &frame)) {
        case Look::Unfinished: stillComing.append(frame); break;
        case Look::Complete: found.append(frame); break;
        case Look::None: break;
        }
    }
    m_scannedUpTo = bytes.size();
    m_unfinished = stillComing;
    std::sort(found.begin(), found.end(), [](const FrameAt &a, const FrameAt &b) { return a.start < b.start; });
    const quint64 generation = m_generation;
    for (const FrameAt &frame : std::as_const(found)) {
        frameCompleted(frame);
        if (generation != m_generation)
            break;
    }
    return !found.isEmpty();
}

void RequestEngine::frameCompleted(const FrameAt &frame)
{
    const auto at = std::upper_bound(m_complete.begin(), m_complete.end(), frame.start,
                                     [](qsizetype start, const FrameAt &f) { return start < f.start; });
    m_complete.insert(at, frame);
    m_choiceStale = true;
    // Someone else's reply is set aside once; a status still tells the readings.
    const std::optional<Request> request = tryOpen() ? std::optional(m_current->request) : std::nullopt;
    if (request && request->answeredBy(frame.reply))
        return;
    const bool refusedEcho = request && request->kind == Request::Kind::WriteParameter
                             && frame.reply.kind == ReplyKind::Echo && frame.reply.index == request->index;
    if (refusedEcho || frame.start < m_reportedUpTo || !isPlausible(frame.reply))
        return;
    m_reportedUpTo = frame.start + frame.length;
    if (frame.reply.kind == ReplyKind::Status)
        emit statusReceived(frame.reply);
}

RequestEngine::Choice RequestEngine::choose() const
{
    Choice choice;
    if (!tryOpen())
        return choice;
    const Request &request = m_current->request;
    // The last complete frame that answers the request wins; one that would answer but cannot be
    // right is remembered, so the try need not wait out its time-out for nothing. A frame that began
    // after the time-out is too late for this try.
    // A frame whose last bytes are "C" "U" with more bytes after them may be noise glued to the first
    // bytes of a reply (its value made of the header that follows): no answer.
    const auto headerInside = [this](const FrameAt &frame) {
        const qsizetype end = frame.start + frame.length;
        if (m_input.size() <= end)
            return false;
        for (qsizetype p = qMax(frame.start + 1, end - 2); p < end; ++p) {
            if (m_input[p] == 'C' && m_input[p + 1] == 'U')
                return true;
        }
        return false;
    };
    QList<qsizetype> answers;
    for (qsizetype i = 0; i < m_complete.size(); ++i) {
        const FrameAt &frame = m_complete[i];
        if (arrivalOf(frame.start) >= m_timeoutAt)
            break;
        if (headerInside(frame))
            continue;
        if (request.answeredBy(frame.reply)) {
            if (!request.believes(frame.reply)) {
                choice.rejected = i;
                continue;
            }
            // A frame whose data holds this one's header was a false start.
            while (!answers.isEmpty() && frame.start < m_complete[answers.last()].start + m_complete[answers.last()].length)
                answers.removeLast();
            answers.append(i);
        } else if (request.kind == Request::Kind::WriteParameter && frame.reply.kind == ReplyKind::Echo
                   && frame.reply.index == request.index) {
            choice.rejected = i; // the controller refused or clamped the value
        }
    }
    if (answers.isEmpty())
        return choice;
    choice.answer = answers.last();
    // An identification carries nothing that could be checked, and noise shaped like one can follow
    // the real reply: two that disagree leave the try without an answer.
    const DecodedReply &chosen = m_complete[choice.answer].reply;
    for (qsizetype i : std::as_const(answers)) {
        if (m_complete[i].reply.kind == ReplyKind::Version && m_complete[i].reply.version != chosen.version) {
            choice.rejected = choice.answer;
            choice.answer = -1;
            break;
        }
    }
    return choice;
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
    if (tryOpen())
        m_current->bytesReceived = m_tryHeardBytes = true;
    m_input += bytes;
    m_chunks.append({m_input.size(), m_clock->nowMs()});
    m_choiceStale = true; // bytes after a frame can make it a false start
    HandleInput();
    assertDeadline();
}

void RequestEngine::HandleInput()
{
    const quint64 generation = m_generation;
    scanNewBytes();
    if (generation != m_generation)
        return;
    if (!tryOpen()) {
        // Between requests only a frame still coming in is worth keeping.
        trimInput(m_unfinished.isEmpty() ? m_input.size() : m_unfinished.first().start);
        return;
    }
    if (m_choiceStale) {
        m_choice = choose();
        m_choiceStale = false;
    }
    const FrameAt *answer = m_choice.answer >= 0 ? &m_complete[m_choice.answer] : nullptr;
    const FrameAt *rejected = m_choice.rejected >= 0 ? &m_complete[m_choice.rejected] : nullptr;
    const qint64 now = m_clock->nowMs();
    // The frame the try would end on: its answer, or else one that cannot be right.
    const FrameAt *best = answer ? answer : rejected;
    const qsizetype bestEnd = best ? best->start + best->length : 0;

    // A frame still coming in that may answer and began after that one could take its place, unless
    // it lies inside it: a reply ending in "C" looks like the start of another.
    // One that began in time holds the try past its time-out for the pause any reply gets.
    bool pending = false;
    qint64 graceUntil = 0;
    for (const FrameAt &frame : std::as_const(m_unfinished)) {
        if (!mayAnswer(frame.reply.code))
            continue;
        if (best && (frame.start <= best->start || m_input.size() <= bestEnd))
            continue;
        const qint64 began = arrivalOf(frame.start);
        if (began >= m_timeoutAt)
            continue;
        pending = true;
        graceUntil = qMax(graceUntil, began + kReplySettle.count());
    }
    if (m_input.size() > kInputLimit && !answer && !pending) {
        // A flood: keep the tail that may still begin a frame, and look again at what is left.
        trimInput(m_input.size() - kInputKeep);
        HandleInput();
        return;
    }

    const bool final = now >= m_timeoutAt && now >= graceUntil;
    const qint64 answerDue = answer ? arrivalOf(answer->start) + kReplySettle.count() : 0;
    const qint64 rejectedDue = rejected ? arrivalOf(rejected->start) + kReplySettle.count() : 0;
    if (answer && now >= answerDue && (!pending || final)) {
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
    if (!answer && rejected && now >= rejectedDue && (!pending || final)) {
        tryFailed(TryEnd::BadFrame);
        return;
    }
    if (!answer && !rejected && final) {
        tryFailed(m_tryHeardBytes ? TryEnd::Noise : TryEnd::TimedOut);
        return;
    }
    // The next look: the answer's due time, the time-out, or the grace of a frame begun in time.
    qint64 next = std::numeric_limits<qint64>::max();
    if (answer && now < answerDue)
        next = answerDue;
    if (!answer && rejected && now < rejectedDue)
        next = qMin(next, rejectedDue);
    if (now < m_timeoutAt)
        next = qMin(next, m_timeoutAt);
    else if (pending)
        next = qMin(next, graceUntil);
    armAt(next);
}

void RequestEngine::tryFailed(TryEnd why)
{
    m_replyTimer->setEnabled(false);
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
