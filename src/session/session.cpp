#include "session.h"

#include "valuerule.h"

#include <algorithm>
#include <memory>
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
    postMessage(kConnectFailedEntry, kMessageTitleEntry);
}

void Session::postMessage(int textEntry, int titleEntry, std::function<void()> then)
{
    const quint64 id = m_sessionId;
    ++m_messagesOpen;
    m_statusTimer->setEnabled(false);
    QMetaObject::invokeMethod(this, [this, id, textEntry, titleEntry, then = std::move(then)] {
        emit message(textEntry, titleEntry);
        --m_messagesOpen;
        if (id != m_sessionId)
            return;
        if (then)
            then();
        if (id == m_sessionId)
            resumePollIfQuiet();
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
    m_pollHeld = false;
    m_missedPolls = 0;
    m_rereadDue.reset();
    m_lineQuality.clear();
    for (auto &waiting : m_afterWrite)
        waiting.clear();
    m_writesPending = {};
    m_reportedFailedPercent = 0;
    m_statusTimer->setEnabled(false);
    m_engine->close();
    forgetAll();
    setAnswering(true);
    setState(State::Idle);
    updateRereadPending();
}

bool VerifiedValues::complete() const
{
    return std::all_of(known.begin(), known.end(), [](bool k) { return k; });
}

QList<ParameterIndex> VerifiedValues::unknown() const
{
    QList<ParameterIndex> indices;
    for (int i = 0; i < kParameterCount; ++i)
        if (!known[size_t(i)])
            indices << ParameterIndex(i);
    return indices;
}

bool Session::allParametersKnown() const
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (m_book.state(ParameterIndex(i)) != ParameterBook::State::Known)
            return false;
    }
    return true;
}

ParameterSet Session::controllerValues() const
{
    ParameterSet values;
    for (int i = 0; i < kParameterCount; ++i)
        values[ParameterIndex(i)] = m_book.value(ParameterIndex(i)).value_or(0);
    return values;
}

void Session::changeBook(ParameterIndex index, const std::function<void(ParameterBook &)> &change)
{
    const bool had = m_book.hasValue(index);
    change(m_book);
    if (m_book.state(index) != ParameterBook::State::Unknown)
        setRereadDue(index, false); // the controller told it, or a write decides it
    if (m_book.hasValue(index) != had)
        emit parameterKnownChanged(index, !had);
    updateRereadPending();
}

void Session::learn(ParameterIndex index, Learned how, std::optional<qint32> value)
{
    switch (how) {
    case Learned::Answer:
        changeBook(index, [&](ParameterBook &book) { book.readAnswered(index, value); });
        if (value) {
            Parameters[index] = *value;
            emit parameterRead(index, *value);
        }
        break;
    case Learned::Check: {
        ParameterBook::Verdict verdict = ParameterBook::Verdict::ReadAgain;
        changeBook(index, [&](ParameterBook &book) { verdict = book.checkAnswered(index, value); });
        if (verdict == ParameterBook::Verdict::Changed) {
            const qint32 now = *m_book.value(index);
            Parameters[index] = now;
            emit parameterRead(index, now);
        }
        break;
    }
    case Learned::Echo:
        // A reset or map load that started since has forgotten every value and may change this one
        // after the echo: only its own read-back tells what the controller holds once it is through.
        if (m_state == State::Busy)
            break;
        changeBook(index, [&](ParameterBook &book) { book.echoed(index, *value); });
        break;
    }
}

void Session::forgetAll()
{
    ++m_bookEpoch;
    for (int i = 0; i < kParameterCount; ++i)
        changeBook(ParameterIndex(i), [i](ParameterBook &book) { book.forget(ParameterIndex(i)); });
}

void Session::setRereadDue(ParameterIndex index, bool due)
{
    m_rereadDue[size_t(index)] = due;
    updateRereadPending();
}

void Session::setAnswering(bool answering)
{
    if (std::exchange(m_answering, answering) == answering)
        return;
    // What went unknown in the silence is read again once the controller answers. A sequence reads
    // everything itself.
    if (answering && m_connected && m_state == State::Connected) {
        for (int i = 0; i < kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            if (m_book.state(index) == ParameterBook::State::Unknown)
                m_rereadDue[size_t(i)] = true;
        }
    }
    emit controllerAnsweringChanged(answering);
    updateRereadPending();
}

bool Session::rereadPending() const
{
    if (!m_connected || m_state == State::Idle)
        return false;
    if (m_rereadDue.any())
        return true;
    for (int i = 0; i < kParameterCount; ++i) {
        if (!m_answering && m_book.state(ParameterIndex(i)) == ParameterBook::State::Unknown)
            return true;
    }
    return false;
}

void Session::updateRereadPending()
{
    const bool pending = rereadPending();
    if (std::exchange(m_reportedRereadPending, pending) != pending)
        emit rereadPendingChanged(pending);
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
    postMessage(kPortLostEntry, kMessageTitleEntry);
}

void Session::readAll(std::function<void()> then)
{
    // From here only the answers of these reads say what the controller holds.
    forgetAll();
    for (int i = 0; i < kParameterCount; ++i)
        setRereadDue(ParameterIndex(i), false);
    for (quint8 index = 0; index < kParameterCount; ++index) {
        const bool last = index == kParameterCount - 1;
        ReadParameter(index, last ? [then](bool) { then(); } : std::function<void(bool)>());
    }
}

void Session::previewParameter(ParameterIndex index, qint32 field)
{
    Parameters[index] = field;
}

void Session::revertPreview(ParameterIndex index)
{
    if (const auto value = m_book.value(index))
        Parameters[index] = *value;
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
    Parameters[index] = field;
    changeBook(index, [index](ParameterBook &book) { book.writeStarted(index); });
    const quint64 id = m_sessionId;
    // Commits that wait for this write go on once it has ended, whatever it found.
    const auto ended = [this, id, index] {
        if (id != m_sessionId)
            return;
        const QList<std::function<void()>> waiting = std::exchange(m_afterWrite[size_t(index)], {});
        for (const auto &next : waiting)
            next();
    };
    ++m_writesPending[size_t(index)];
    writeQuietly(quint8(index), field, [this, id, index, field, ended](bool confirmed) {
        const bool last = --m_writesPending[size_t(index)] == 0;
        if (confirmed) {
            if (last) // else the parameter stays being written: the later write tells its value
                learn(index, Learned::Echo, field);
            emit writeFinished(index, true);
            ended();
            return;
        }
        // The controller may hold the new value, the old one or one it clamped: only a read tells.
        ReadParameter(quint8(index), [this, index, ended](bool) {
            postMessage(kWriteNotConfirmedEntry, kMessageTitleEntry, [this, index, ended] {
                emit writeFinished(index, false);
                ended();
            });
        });
    });
    return true;
}

bool Session::commitHeld(ParameterIndex index, qint32 wanted, std::function<void(const HeldCommit &)> decided)
{
    if (m_state != State::Connected)
        return false;
    decideHeld(index, wanted, m_sessionId, std::move(decided));
    return true;
}

void Session::decideHeld(ParameterIndex index, qint32 wanted, quint64 id,
                         std::function<void(const HeldCommit &)> decided)
{
    if (id != m_sessionId)
        return;
    if (m_state != State::Connected) {
        decided({HeldCommit::Kind::Cancelled, 0, false});
        return;
    }
    const auto partner = pairPartner(index);
    if (!partner) {
        commitParameter(index, wanted);
        decided({HeldCommit::Kind::Writing, wanted, false});
        return;
    }
    // The pair is held to what the controller confirms: a partner's write on its way ends first.
    if (m_book.state(*partner) == ParameterBook::State::Writing) {
        m_afterWrite[size_t(*partner)].append([this, index, wanted, id, decided] {
            decideHeld(index, wanted, id, decided);
        });
        return;
    }
    if (!m_book.hasValue(*partner)) {
        ReadParameter(quint8(*partner), [this, index, wanted, id, partner, decided](bool) {
            if (id != m_sessionId)
                return;
            if (m_state != State::Connected)
                decided({HeldCommit::Kind::Cancelled, 0, false});
            else if (!m_book.hasValue(*partner))
                decided({HeldCommit::Kind::PartnerUnknown, 0, false});
            else
                decideHeld(index, wanted, id, decided);
        });
        return;
    }
    // The value rule's pair against the book; range and step are the caller's to have judged.
    ValueContext pair;
    pair.allowBeyondSlider = true;
    pair.pairCheck = true;
    pair.partnerValue = m_book.value(*partner);
    const ValueVerdict verdict = judgeValue(index, double(wanted), pair);
    const qint32 value = verdict.heldBy ? verdict.value : wanted;
    commitParameter(index, value);
    decided({HeldCommit::Kind::Writing, value, value != wanted});
}

bool Session::reset()
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    // Once the command is on the wire the controller may hold its defaults: nothing shown before is
    // known any more, also while the message after the reset is up.
    forgetAll();
    SendReset([this](bool acknowledged) {
        // Shown in every case; the read-back waits until the user has closed it.
        const auto afterReset = [this] {
            postMessage(kAfterResetEntry, kNoTitle, [this] { readAll([this] { setState(State::Connected); }); });
        };
        if (acknowledged)
            afterReset();
        else
            postMessage(kResetNotConfirmedEntry, kMessageTitleEntry, afterReset);
    });
    return true;
}

bool Session::loadMap(const ParameterSet &values, const ParameterMask &write)
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    m_mapLoad = MapLoadResult{values, {}, {}, {}};
    // Once the first write is on its way the controller may hold anything: only the read-back tells.
    forgetAll();
    // An unconfirmed write is no box of its own: the notice at the end lists what differs.
    for (quint8 index = 0; index < kParameterCount; ++index) {
        if (write[index])
            writeQuietly(index, values[ParameterIndex(index)],
                         [this, index](bool confirmed) { m_mapLoad.confirmed[index] = confirmed; });
    }
    readAll([this] {
        for (int i = 0; i < kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            m_mapLoad.answered[size_t(i)] = m_book.hasValue(index);
            m_mapLoad.readBack[index] = m_book.value(index).value_or(0);
        }
        setState(State::Connected);
        emit mapLoaded(m_mapLoad);
    });
    return true;
}

bool Session::readAgain()
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    RereadResult result;
    for (int i = 0; i < kParameterCount; ++i) {
        result.knownBefore[size_t(i)] = m_book.hasValue(ParameterIndex(i));
        result.before[ParameterIndex(i)] = m_book.value(ParameterIndex(i)).value_or(0);
    }
    // Each parameter starts over from unknown: a read that goes unanswered leaves it unknown, since
    // what was known before may not hold any more.
    readAll([this, result]() mutable {
        for (int i = 0; i < kParameterCount; ++i) {
            result.answered[size_t(i)] = m_book.hasValue(ParameterIndex(i));
            result.readBack[ParameterIndex(i)] = m_book.value(ParameterIndex(i)).value_or(0);
        }
        setState(State::Connected);
        emit readAgainFinished(result);
    });
    return true;
}

bool Session::verifyNow(std::function<void()> then)
{
    if (m_state != State::Connected)
        return false;
    const quint64 id = m_sessionId;
    const std::optional<ParameterIndex> next = m_book.nextToVerify();
    if (!next) {
        QMetaObject::invokeMethod(this, [this, id, then] { if (id == m_sessionId && then) then(); },
                                  Qt::QueuedConnection);
        return true;
    }
    verifyRead(*next, [this, id, then] {
        if (id == m_sessionId && !verifyNow(then) && then)
            then(); // a sequence took over: it verifies its own reads
    });
    return true;
}

bool Session::verifiedValues(std::function<void(const VerifiedValues &)> then)
{
    if (m_state != State::Connected)
        return false;
    settleNext(m_sessionId, {}, std::move(then));
    return true;
}

void Session::settleNext(quint64 id, std::bitset<kParameterCount> readTried,
                         std::function<void(const VerifiedValues &)> then)
{
    if (id != m_sessionId)
        return;
    const auto again = [this, id, then](std::bitset<kParameterCount> tried) {
        return [this, id, tried, then] { settleNext(id, tried, then); };
    };
    // A sequence that took over has forgotten everything and verifies its own reads.
    if (m_state == State::Connected) {
        for (int i = 0; i < kParameterCount; ++i) {
            if (m_book.state(ParameterIndex(i)) == ParameterBook::State::Writing) {
                m_afterWrite[size_t(i)].append(again(readTried));
                return;
            }
        }
        for (int i = 0; i < kParameterCount; ++i) {
            // A silent controller leaves them to the read again after the silence.
            if (m_answering && !readTried[size_t(i)] && m_book.state(ParameterIndex(i)) == ParameterBook::State::Unknown) {
                readTried[size_t(i)] = true;
                ReadParameter(quint8(i), [next = again(readTried)](bool) { next(); });
                return;
            }
        }
        if (const std::optional<ParameterIndex> next = m_book.nextToVerify()) {
            verifyRead(*next, again(readTried));
            return;
        }
    }
    VerifiedValues result;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        result.known[size_t(i)] = m_book.state(index) == ParameterBook::State::Known;
        result.values[index] = m_book.value(index).value_or(0);
    }
    QMetaObject::invokeMethod(this, [this, id, then, result] { if (id == m_sessionId && then) then(result); },
                              Qt::QueuedConnection);
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
        for (qsizetype a = 0; a < answers.size(); ++a) {
            for (qsizetype b = a + 1; b < answers.size(); ++b) {
                if (answers[a] && answers[a] == answers[b]) {
                    then(answers[a]);
                    return;
                }
            }
        }
        if (answers.size() >= 3)
            then(std::nullopt);
        else
            RequestVersionVerified(answers, then);
    });
}

void Session::ReadParameter(quint8 index, std::function<void(bool)> then)
{
    submit(Request::read(index), [this, index, then, epoch = m_bookEpoch](const RequestResult &result) {
        // A flipped bit in a read answer can look like a value: the answer is verified by more reads
        // while the poll runs (see verifyNext).
        if (isParameterIndex(index) && epoch == m_bookEpoch)
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
            postMessage(kWriteNotConfirmedEntry, kMessageTitleEntry, [then] { if (then) then(false); });
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
    if (!pollMayRun())
        return;
    if (const std::optional<ParameterIndex> next = m_book.nextToVerify()) {
        verifyRead(*next, {});
        return;
    }
    // Then, only while the controller answers, one read of each parameter the silence left unknown.
    if (!m_answering || !m_rereadDue.any())
        return;
    int due = 0;
    while (!m_rereadDue[size_t(due)])
        ++due;
    setRereadDue(ParameterIndex(due), false);
    ReadParameter(quint8(due));
}

void Session::verifyRead(ParameterIndex index, std::function<void()> then)
{
    submit(Request::read(quint8(index)), [this, index, then, epoch = m_bookEpoch](const RequestResult &result) {
        if (epoch == m_bookEpoch)
            learn(index, Learned::Check, result.answered() ? std::optional(result.reply.value) : std::nullopt);
        if (then)
            then();
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
    m_missedPolls = 0;
    setAnswering(true);
    LiveRpm = reply.rpm;
    LiveTinj = reply.tinj;
    LivePump = reply.pump;
    LivePause = reply.pause;
    emit liveReadingsChanged();
}

} // namespace oe
