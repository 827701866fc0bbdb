#include "session.h"

#include "sliderrules.h"

#include <algorithm>
#include <utility>

namespace oe {

Session::Session(SerialPort *port, QObject *parent)
    : QObject(parent),
      m_engine(new RequestEngine(port, this)),
      m_statusTimer(new IntervalTimer(QStringLiteral("Timer_StatusRequest"),
                                      int(kStatusPollInterval.count()), this))
{
    port->setParent(this);
    // Every request stops the poll while it runs; it comes back once the line is quiet again.
    connect(m_engine, &RequestEngine::requestStarted, m_statusTimer, [this] { m_statusTimer->setEnabled(false); });
    connect(m_engine, &RequestEngine::statusReceived, this, &Session::onStatusReceived);
    connect(m_engine, &RequestEngine::portLost, this, &Session::onPortLost);
    connect(m_statusTimer, &IntervalTimer::tick, this, &Session::onStatusPoll);
    connect(m_engine, &RequestEngine::tryEnded, this, &Session::onTryEnded);
    m_clock.start();
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
}

void Session::submit(const Request &request, std::function<void(const RequestResult &)> done)
{
    const quint64 id = m_sessionId;
    m_engine->submit(request, [this, id, done = std::move(done)](const RequestResult &result) {
        if (id != m_sessionId)
            return;
        if (done)
            done(result);
        if (id == m_sessionId)
            resumePollIfQuiet();
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
    submit(Request::version(), [this, id](const RequestResult &result) {
        if (!result.answered()) {
            // Bytes without a reply in them point at the line, not at a missing controller.
            m_lastFailure.bytesReceived = result.bytesReceived;
            connectFailed(ConnectFailure::Kind::NoAnswer);
            return;
        }
        m_connected = true;
        emit identified(m_comPort, result.reply.version);
        if (id != m_sessionId)
            return;
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
    emit message(kConnectFailedEntry, kMessageTitleEntry);
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
    m_pollHeld = false;
    m_missedPolls = 0;
    m_verifier.clear();
    m_lineQuality.clear();
    m_reportedFailedPercent = 0;
    m_statusTimer->setEnabled(false);
    m_engine->close();
    forgetAll();
    setAnswering(true);
    setState(State::Idle);
}

bool Session::allParametersKnown() const
{
    return std::all_of(m_known.begin(), m_known.end(), [](bool known) { return known; });
}

void Session::setKnown(ParameterIndex index, bool known)
{
    if (std::exchange(m_known[size_t(index)], known) != known)
        emit parameterKnownChanged(index, known);
}

void Session::forgetAll()
{
    for (int i = 0; i < kParameterCount; ++i)
        setKnown(ParameterIndex(i), false);
}

void Session::setAnswering(bool answering)
{
    if (std::exchange(m_answering, answering) != answering)
        emit controllerAnsweringChanged(answering);
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
    const int entry = kPortLostEntry;
    endSession(true);
    emit message(entry, kMessageTitleEntry);
}

void Session::readAll(std::function<void()> then, const ParameterSet *written)
{
    // From here only the answers of these reads say what the controller holds.
    forgetAll();
    m_verifier.clear();
    for (quint8 index = 0; index < kParameterCount; ++index) {
        const bool last = index == kParameterCount - 1;
        ReadParameter(index, last ? [then](bool) { then(); } : std::function<void(bool)>(),
                      written ? std::optional((*written)[ParameterIndex(index)]) : std::nullopt);
    }
}

void Session::previewParameter(ParameterIndex index, qint32 field)
{
    Parameters[index] = field;
}

void Session::revertPreview(ParameterIndex index)
{
    if (parameterKnown(index))
        Parameters[index] = m_confirmed[index];
}

bool Session::readIfUnknown(ParameterIndex index, std::function<void(bool)> then)
{
    if (m_state != State::Connected)
        return false;
    const quint64 id = m_sessionId;
    if (parameterKnown(index)) {
        QMetaObject::invokeMethod(
            this, [this, id, then] { if (id == m_sessionId && then) then(true); }, Qt::QueuedConnection);
        return true;
    }
    ReadParameter(quint8(index), [this, index, then](bool) {
        if (then)
            then(parameterKnown(index));
    });
    return true;
}

bool Session::commitParameter(ParameterIndex index, qint32 field)
{
    if (m_state != State::Connected)
        return false;
    m_verifier.forget(index); // the echo tells the value
    Parameters[index] = field;
    const quint64 id = m_sessionId;
    writeQuietly(quint8(index), field, [this, id, index, field](bool confirmed) {
        if (confirmed) {
            m_confirmed[index] = field;
            m_controllerValues[index] = field;
            setKnown(index, true);
            if (id == m_sessionId)
                emit writeFinished(index, true);
            return;
        }
        // The controller may hold the new value, the old one or one it clamped: only a read tells.
        setKnown(index, false);
        if (id != m_sessionId)
            return;
        ReadParameter(quint8(index), [this, id, index](bool) {
            emit message(kWriteNotConfirmedEntry, kMessageTitleEntry);
            if (id == m_sessionId)
                emit writeFinished(index, false);
        });
    });
    return true;
}

bool Session::reset()
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    // Once the command is on the wire the controller may hold its defaults: nothing shown before is
    // known any more, also while the message after the reset is up.
    forgetAll();
    const quint64 id = m_sessionId;
    SendReset([this, id](bool acknowledged) {
        if (!acknowledged)
            emit message(kResetNotConfirmedEntry, kMessageTitleEntry);
        if (id != m_sessionId)
            return;
        // Shown in every case; the read-back waits until the user has closed it.
        emit message(kAfterResetEntry, kNoTitle);
        if (id != m_sessionId)
            return;
        readAll([this] { setState(State::Connected); });
    });
    return true;
}

bool Session::loadMap(const ParameterSet &values)
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    m_mapLoad = MapLoadResult{values, {}, {}, {}};
    // An unconfirmed write is no box of its own: the notice at the end lists what differs.
    for (quint8 index = 0; index < kParameterCount; ++index)
        writeQuietly(index, values[ParameterIndex(index)],
                     [this, index](bool confirmed) { m_mapLoad.confirmed[index] = confirmed; });
    readAll([this] {
        setState(State::Connected);
        emit mapLoaded(m_mapLoad);
    }, &values);
    return true;
}

bool Session::readAgain()
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    RereadResult result{m_confirmed, m_known, {}, {}};
    // A read that goes unanswered keeps what was known: the controller is silent, not changed.
    m_mapLoad = MapLoadResult{};
    readAll([this, result]() mutable {
        result.readBack = m_mapLoad.readBack;
        result.answered = m_mapLoad.answered;
        setState(State::Connected);
        emit readAgainFinished(result);
    });
    return true;
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

void Session::ReadParameter(quint8 index, std::function<void(bool)> then, std::optional<qint32> written)
{
    Request request = Request::read(index);
    request.written = written;
    submit(request, [this, index, then](const RequestResult &result) {
        // A read that got no answer of its own leaves the field as it was.
        if (result.answered() && isParameterIndex(index)) {
            const auto parameter = ParameterIndex(index);
            const qint32 value = result.reply.value;
            const qint32 field = parameter == ParameterIndex::RpmMultiplier ? cappedMultiplier(value) : value;
            Parameters[parameter] = field;
            m_confirmed[parameter] = field;
            m_controllerValues[parameter] = value;
            setKnown(parameter, true);
            m_mapLoad.readBack[parameter] = value;
            // A flipped bit in a read answer can look like a value: it is read again while the poll
            // runs (see verifyNext).
            m_verifyBase[index] = value;
            m_verifier.add(parameter, value);
            m_mapLoad.answered[index] = true;
            emit parameterRead(parameter, field);
        }
        if (then)
            then(result.answered());
    });
}

void Session::WriteParameter(quint8 index, qint32 value, std::function<void(bool)> then)
{
    const quint64 id = m_sessionId;
    submit(Request::write(index, value), [this, id, then](const RequestResult &result) {
        // A value that does not fit the frame was never sent: nothing to confirm.
        if (result.outcome == RequestResult::Outcome::NotAnswered) {
            emit message(kWriteNotConfirmedEntry, kMessageTitleEntry);
            if (id != m_sessionId)
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
        // An answer counts in onStatusReceived, also one that came late for an earlier request.
        if (!result.answered() && ++m_missedPolls >= kMissedPollsForSilence)
            setAnswering(false);
        if (then)
            then(result.answered());
        verifyNext();
    });
}

void Session::verifyNext()
{
    const std::optional<ParameterIndex> next = m_verifier.next();
    if (!next || !pollMayRun())
        return;
    const ParameterIndex index = *next;
    Request request = Request::read(quint8(index));
    // The answer being checked is believed again: it decides nothing by itself.
    request.written = m_verifyBase[size_t(index)];
    submit(request, [this, index](const RequestResult &result) {
        const ParameterVerifier::Outcome outcome =
            m_verifier.answer(index, result.answered() ? std::optional(result.reply.value) : std::nullopt);
        switch (outcome.verdict) {
        case ParameterVerifier::Verdict::ReadAgain:
        case ParameterVerifier::Verdict::Confirmed:
            break;
        case ParameterVerifier::Verdict::Changed: {
            const qint32 field = index == ParameterIndex::RpmMultiplier ? cappedMultiplier(outcome.value) : outcome.value;
            Parameters[index] = field;
            m_confirmed[index] = field;
            setKnown(index, true);
            emit parameterRead(index, field);
            break;
        }
        case ParameterVerifier::Verdict::Unknown:
            setKnown(index, false);
            break;
        }
    });
}

void Session::onTryEnded(TryEnd end)
{
    if (m_state == State::Idle)
        return;
    m_lineQuality.record(end, m_clock.elapsed());
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

bool Session::pollMayRun() const
{
    return m_state == State::Connected && !m_pollHeld && !m_engine->busy();
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
    m_missedPolls = 0;
    setAnswering(true);
    LiveRpm = reply.rpm;
    LiveTinj = reply.tinj;
    LivePump = reply.pump;
    LivePause = reply.pause;
    emit liveReadingsChanged();
}

} // namespace oe
