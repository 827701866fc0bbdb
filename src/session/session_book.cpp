// The session's book of what the controller holds: how values are learned, verified, read again
// after a silence, and confirmed before they leave the program.
#include "session.h"

#include <algorithm>
#include <utility>

namespace oe {

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

bool Session::parameterConfirmed(ParameterIndex index) const
{
    return m_book.state(index) == ParameterBook::State::Known;
}

bool Session::allParametersKnown() const
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (!parameterConfirmed(ParameterIndex(i)))
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
    const bool wasConfirmed = parameterConfirmed(index);
    change(m_book);
    if (m_book.hasValue(index) != had)
        emit parameterKnownChanged(index, !had);
    if (parameterConfirmed(index) != wasConfirmed)
        emit parameterConfirmedChanged(index, !wasConfirmed);
    updateRereadPending();
}

void Session::learn(ParameterIndex index, Learned how, std::optional<qint32> value)
{
    // After a silence only the reads of the controller that identified itself again count; a write
    // that went out meanwhile leaves its parameter for those reads.
    if (m_reacquireDue && !m_reacquireReading) {
        if (m_book.state(index) == ParameterBook::State::Writing && m_writesPending[size_t(index)] == 0)
            changeBook(index, [index](ParameterBook &book) { book.forget(index); });
        return;
    }
    // A read asked before a commit of the same parameter, answered while that write waits its turn:
    // the controller is about to change it; the write's echo (or the read after it) tells.
    if (how != Learned::Echo && m_writesPending[size_t(index)] > 0)
        return;
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
        changeBook(index, [&](ParameterBook &book) { book.echoed(index, *value); });
        break;
    }
}

void Session::forgetAll()
{
    QList<ParameterIndex> all;
    for (int i = 0; i < kParameterCount; ++i)
        all << ParameterIndex(i);
    forgetFor(all);
}

void Session::setAnswering(bool answering)
{
    if (std::exchange(m_answering, answering) == answering)
        return;
    // After a silence the controller on the line may be another one, or the same one changed by hand:
    // nothing the book holds counts until it has identified itself again and told all eight twice.
    if (!answering && m_connected) {
        // What the first silence found confirmed is what another controller is told apart from.
        if (!std::exchange(m_reacquireDue, true)) {
            for (int i = 0; i < kParameterCount; ++i) {
                const auto index = ParameterIndex(i);
                m_beforeSilence[size_t(i)] = parameterConfirmed(index) ? m_book.value(index) : std::nullopt;
            }
        }
        // A silence in the middle of knowing it afresh: that starts over once it answers.
        if (m_reacquireReading) {
            m_reacquireReading = false;
            m_sequenceScope.cancel();
            setState(State::Connected);
        }
        forgetAll();
    }
    emit controllerAnsweringChanged(answering);
    updateRereadPending();
}

bool Session::rereadPending() const
{
    if (!m_connected || m_state == State::Idle)
        return false;
    if (m_reacquireDue)
        return true;
    // A sequence reads everything itself; once it is over, what it left unknown is read again.
    return m_state == State::Connected && unknownToRead().has_value();
}

std::optional<ParameterIndex> Session::unknownToRead() const
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (m_book.state(ParameterIndex(i)) == ParameterBook::State::Unknown)
            return ParameterIndex(i);
    }
    return std::nullopt;
}

void Session::updateRereadPending()
{
    const bool pending = rereadPending();
    if (std::exchange(m_reportedRereadPending, pending) != pending)
        emit rereadPendingChanged(pending);
}

void Session::readAll(std::function<void()> then)
{
    // From here only the answers of these reads say what the controller holds.
    forgetAll();
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
    const quint64 id = m_sessionId;
    // A sequence that took over verifies its own reads: the values are taken as they stand then.
    settle([this] { return m_state == State::Connected; }, {}, [this, id, then = std::move(then)] {
        VerifiedValues result;
        for (int i = 0; i < kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            result.known[size_t(i)] = parameterConfirmed(index);
            result.values[index] = m_book.value(index).value_or(0);
        }
        QMetaObject::invokeMethod(this, [this, id, then, result] { if (id == m_sessionId && then) then(result); },
                                  Qt::QueuedConnection);
    });
    return true;
}

void Session::settle(std::function<bool()> goOn, std::bitset<kParameterCount> readTried, std::function<void()> then)
{
    const quint64 id = m_sessionId;
    const auto again = [this, id, goOn, then](std::bitset<kParameterCount> tried) {
        return [this, id, goOn, tried, then] {
            if (id == m_sessionId)
                settle(goOn, tried, then);
        };
    };
    if (goOn()) {
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
                sharedRead(ParameterIndex(i), Learned::Answer, again(readTried));
                return;
            }
        }
        if (const std::optional<ParameterIndex> next = m_book.nextToVerify()) {
            verifyRead(*next, again(readTried));
            return;
        }
    }
    then();
}

void Session::forgetFor(const QList<ParameterIndex> &indices)
{
    for (ParameterIndex index : indices) {
        ++m_bookEpoch[size_t(index)];
        changeBook(index, [index](ParameterBook &book) { book.forget(index); });
    }
}

void Session::verifyNext()
{
    if (!pollMayRun())
        return;
    if (m_reacquireDue) {
        reacquireIfDue();
        return;
    }
    if (const std::optional<ParameterIndex> next = m_book.nextToVerify()) {
        verifyRead(*next, {});
        return;
    }
    // Then, only while the controller answers, one read of a parameter left unknown: a read that went
    // unanswered in a sequence or on its own is tried again by itself, one in each gap.
    if (!m_answering)
        return;
    if (const std::optional<ParameterIndex> unknown = unknownToRead())
        sharedRead(*unknown, Learned::Answer, {});
}

void Session::verifyRead(ParameterIndex index, std::function<void()> then)
{
    sharedRead(index, Learned::Check, std::move(then));
}

void Session::sharedRead(ParameterIndex index, Learned how, std::function<void()> then)
{
    SharedRead &read = m_sharedReads[size_t(index)];
    if (read.out && read.how == how && read.epoch == epochOf(index)) {
        if (then)
            read.waiting.append(std::move(then));
        return;
    }
    // Another kind of read, or one from before the book was forgotten, still out: this one goes on its
    // own (not shared) and the earlier one's callers are still told when it ends.
    const bool shared = !read.out;
    if (shared)
        read = SharedRead{true, how, epochOf(index), {}};
    QList<std::function<void()>> own;
    if (then)
        (shared ? read.waiting : own).append(std::move(then));
    submit(Request::read(quint8(index)), [this, index, how, shared, own, epoch = epochOf(index)](const RequestResult &result) {
        // Ended before what it teaches is learned: a read asked for from there on goes out afresh.
        const QList<std::function<void()>> waiting =
            shared ? std::exchange(m_sharedReads[size_t(index)], SharedRead{}).waiting : own;
        if (epoch == epochOf(index))
            learn(index, how, result.answered() ? std::optional(result.reply.value) : std::nullopt);
        for (const auto &next : waiting)
            next();
    });
}

} // namespace oe
