// The session's life and its exchanges: connect, end, messages, the status poll, the requests.
#include "session.h"

#include "reacquiresequence.h"

#include <utility>

namespace oe {

Session::Session(SerialPort *port, QObject *parent, Clock *clock)
    : QObject(parent),
      m_engine(new RequestEngine(port, this, clock)),
      m_statusTimer(new IntervalTimer(QStringLiteral("Timer_StatusRequest"), int(kStatusPollInterval.count()),
                                      this, IntervalTimer::Phase::RestartOnChange, m_engine->clock())),
      m_time(m_engine->clock())
{
    port->setParent(this);
    // Every request stops the poll while it runs; it comes back once the line is quiet again.
    connect(m_engine, &RequestEngine::requestStarted, m_statusTimer, [this] { m_statusTimer->setEnabled(false); });
    connect(m_engine, &RequestEngine::statusReceived, this, &Session::onStatusReceived);
    connect(m_engine, &RequestEngine::portLost, this, &Session::onPortLost);
    connect(m_statusTimer, &IntervalTimer::tick, this, &Session::onStatusPoll);
    connect(m_engine, &RequestEngine::tryEnded, this, &Session::onTryEnded);
}

Session::~Session()
{
    ++m_sessionId;
    m_statusTimer->setEnabled(false);
    m_engine->close();
}

void Session::setState(State state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit stateChanged(state);
    updateRereadPending();
}

void Session::submit(const Request &request, std::function<void(const RequestResult &)> done)
{
    const quint64 id = m_sessionId;
    m_engine->submit(request, [this, id, request, done = std::move(done)](const RequestResult &result) {
        if (id != m_sessionId)
            return;
        countAnswer(request, result);
        if (done)
            done(result);
        if (id == m_sessionId)
            resumePollIfQuiet();
        if (id == m_sessionId)
            reacquireIfDue();
    });
}

void Session::connectTo(int comPort)
{
    if (m_state != State::Idle)
        return;
    const quint64 id = ++m_sessionId;
    m_comPort = comPort;
    m_lastFailure = {};
    setState(State::Connecting);
    QString error;
    if (id != m_sessionId)
        return;
    if (comPort < 1) {
        connectFailed(ConnectFailure::Kind::PortNotOpened);
        return;
    }
    if (!m_engine->open(comPort, &error)) {
        connectFailed(ConnectFailure::Kind::PortNotOpened, error);
        return;
    }
    submit(Request::version(), [this](const RequestResult &result) {
        if (!result.answered()) {
            // Bytes without a reply in them point at the line, not at a missing controller.
            m_lastFailure.bytesReceived = result.bytesReceived;
            connectFailed(ConnectFailure::Kind::NoAnswer);
            return;
        }
        m_connected = true;
        m_firmware = result.reply.version;
        m_version = result.reply.version;
        notify([comPort = m_comPort, version = result.reply.version](Session &session) {
            emit session.identified(comPort, version);
        });
        readAll([this] { setState(State::Connected); });
    });
}

void Session::connectFailed(ConnectFailure::Kind kind, const QString &systemText)
{
    const SerialPort *port = m_engine->port();
    const bool tried = m_comPort >= 1; // no port chosen: nothing was opened
    m_lastFailure.kind = kind;
    m_lastFailure.comPort = m_comPort;
    m_lastFailure.device = tried ? port->device() : QString();
    if (kind == ConnectFailure::Kind::PortNotOpened)
        m_lastFailure.openError = tried ? port->openError() : PortOpenError::NotFound;
    m_lastFailure.systemText = systemText;
    endSession();
    postNotice(Notice::ConnectFailed);
}

void Session::postNotice(Notice notice, std::function<void()> then)
{
    const quint64 id = m_sessionId;
    ++m_messagesOpen;
    m_statusTimer->setEnabled(false);
    QMetaObject::invokeMethod(this, [this, id, notice, then = std::move(then)] {
        emit this->notice(notice);
        --m_messagesOpen;
        if (id != m_sessionId)
            return;
        if (then)
            then();
        if (id == m_sessionId)
            resumePollIfQuiet();
    }, Qt::QueuedConnection);
}

void Session::notify(std::function<void(Session &)> tell)
{
    const quint64 id = m_sessionId;
    ++m_notesPending;
    QMetaObject::invokeMethod(this, [this, id, tell = std::move(tell)] {
        --m_notesPending;
        if (id == m_sessionId)
            tell(*this);
    }, Qt::QueuedConnection);
}

void Session::disconnectNow()
{
    if (m_state != State::Idle)
        endSession();
}

void Session::endSession(bool portLost)
{
    ++m_sessionId;
    m_endedByPortLoss = portLost;
    m_connected = false;
    m_firmware.reset();
    m_pollHeld = false;
    m_missedAnswers = 0;
    m_lastMissed = -1;
    m_reacquireDue = false;
    m_reacquireReading = false;
    m_beforeSilence = {};
    m_version.reset();
    m_lineQuality.clear();
    for (auto &waiting : m_afterWrite)
        waiting.clear();
    m_sharedReads = {};
    m_sequenceScope.cancel();
    m_writesPending = {};
    m_reportedFailedPercent = 0;
    m_statusTimer->setEnabled(false);
    m_engine->close();
    forgetAll();
    setAnswering(true);
    setState(State::Idle);
    updateRereadPending();
}

void Session::onPortLost()
{
    if (m_state == State::Idle)
        return;
    // Before the controller identified itself the connect has failed; after, the session was lost.
    if (!m_connected) {
        connectFailed(ConnectFailure::Kind::NoAnswer);
        return;
    }
    endSession(true);
    postNotice(Notice::PortLost);
}

void Session::holdPoll(bool hold)
{
    m_pollHeld = hold;
    if (hold)
        m_statusTimer->setEnabled(false);
    else
        resumePollIfQuiet();
}

void Session::RequestVersion(std::function<void(bool)> then)
{
    submit(Request::version(), [then](const RequestResult &result) {
        if (then)
            then(result.answered());
    });
}

void Session::RequestVersionVerified(VersionAnswers answers, std::function<void(std::optional<Version>)> then)
{
    // Two agreeing answers out of at most three, as for a parameter: a flipped bit could name
    // another firmware.
    submit(Request::version(), [this, answers, then](const RequestResult &result) mutable {
        answers.append(result.answered() ? std::optional(result.reply.version) : std::nullopt);
        if (const std::optional<Version> agreed = agreedAnswer(answers)) {
            then(agreed);
            return;
        }
        if (answers.size() >= 3)
            then(std::nullopt);
        else
            RequestVersionVerified(answers, then);
    });
}

void Session::ReadParameter(quint8 index, std::function<void(bool)> then)
{
    const quint64 epoch = isParameterIndex(index) ? epochOf(ParameterIndex(index)) : 0;
    submit(Request::read(index), [this, index, then, epoch](const RequestResult &result) {
        // A flipped bit in a read answer can look like a value: the answer is verified by more reads
        // while the poll runs (see verifyNext).
        if (isParameterIndex(index) && epoch == epochOf(ParameterIndex(index)))
            learn(ParameterIndex(index), Learned::Answer,
                  result.answered() ? std::optional(result.reply.value) : std::nullopt);
        if (then)
            then(result.answered());
    });
}

void Session::WriteParameter(quint8 index, qint32 value, std::function<void(bool)> then)
{
    submit(Request::write(index, value), [this, then](const RequestResult &result) {
        // A value that does not fit the frame was never sent: nothing to confirm.
        if (result.outcome == RequestResult::Outcome::NotAnswered) {
            postNotice(Notice::WriteNotConfirmed, [then] { if (then) then(false); });
            return;
        }
        if (then)
            then(result.answered());
    });
}

void Session::writeQuietly(quint8 index, qint32 value, std::function<void(bool)> then)
{
    submit(Request::write(index, value), [then](const RequestResult &result) {
        if (then)
            then(result.answered());
    });
}

void Session::RequestStatus(std::function<void(bool)> then)
{
    if (!m_connected)
        return;
    submit(Request::status(), [this, then](const RequestResult &result) {
        if (then)
            then(result.answered());
        verifyNext();
    });
}

void Session::onTryEnded(TryEnd end)
{
    if (m_state == State::Idle)
        return;
    m_lineQuality.record(end, m_time->nowMs());
    const int percent = lineFailedPercent();
    if (percent != m_reportedFailedPercent) {
        m_reportedFailedPercent = percent;
        emit lineQualityChanged(percent);
    }
}

void Session::SendReset(std::function<void(bool)> then)
{
    submit(Request::reset(), [then](const RequestResult &result) {
        if (then)
            then(result.answered());
    });
}

void Session::countAnswer(const Request &request, const RequestResult &result)
{
    // Before the controller identified itself a silence is the connect's failure.
    if (!m_connected || m_state == State::Connecting)
        return;
    const auto kind = request.kind;
    const int which = int(kind) * 256 + request.index;
    if (result.answered()) {
        m_missedAnswers = 0;
        m_lastMissed = -1;
        setAnswering(true);
        return;
    }
    // Every try ended without an answer: the requests of a sequence count as the poll's do, since the
    // poll stays quiet while they run (noise in an answer's place counts as its absence). A write
    // whose tries heard something may have been refused: that controller answered. The same request
    // missed again tells about that request (a parameter the controller does not answer), not about
    // a silence: a silent controller misses whatever is asked.
    if (result.outcome != RequestResult::Outcome::NotAnswered
        || (kind == Request::Kind::WriteParameter && result.bytesReceived))
        return;
    if (kind != Request::Kind::Status && std::exchange(m_lastMissed, which) == which)
        return;
    if (++m_missedAnswers >= kMissedPollsForSilence)
        setAnswering(false);
}

void Session::reacquireIfDue()
{
    if (!m_reacquireDue || !m_answering || !pollMayRun())
        return;
    setState(State::Busy);
    m_sequenceScope.cancel();
    ReacquireSequence::start(*this, m_sequenceScope.token());
}

bool Session::pollMayRun() const
{
    return m_state == State::Connected && !m_pollHeld && m_messagesOpen == 0 && !m_engine->busy();
}

void Session::onStatusPoll()
{
    if (pollMayRun())
        RequestStatus();
}

void Session::resumePollIfQuiet()
{
    if (pollMayRun())
        m_statusTimer->setEnabled(true);
}

void Session::onStatusReceived(const DecodedReply &reply)
{
    if (m_state == State::Idle)
        return;
    m_missedAnswers = 0;
    m_lastMissed = -1;
    setAnswering(true);
    LiveRpm = reply.rpm;
    LiveTinj = reply.tinj;
    LivePump = reply.pump;
    LivePause = reply.pause;
    // A handler may open a box (a recording's full disk): never inside the engine's receive path.
    notify([](Session &session) { emit session.liveReadingsChanged(); });
}

} // namespace oe
