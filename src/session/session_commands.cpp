// What the technician asks of the controller: commits held to their pair, reset, map load, read again.
#include "session.h"

#include "maploadsequence.h"
#include "readbacksequence.h"
#include "valuerule.h"
#include "writeplan.h"

#include <memory>

#include <utility>

namespace oe {

bool Session::commitParameter(ParameterIndex index, qint32 field)
{
    if (m_state != State::Connected)
        return false;
    // The one write order, for a single write: judged against the partner the controller confirmed.
    // The value's own entry counts as not held, so it goes out even when the book holds it already.
    KnownValues held{};
    ParameterSet wanted;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto each = ParameterIndex(i);
        if (each != index && parameterConfirmed(each))
            held[size_t(i)] = m_book.value(each);
        wanted[each] = held[size_t(i)].value_or(0);
    }
    wanted[index] = field;
    ParameterMask only{};
    only[size_t(index)] = true;
    auto run = std::make_shared<WritePlanRun>(planWrites(held, wanted, only));
    if (!run->plan().ok())
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
    const quint64 epoch = epochOf(index);
    writeQuietly(quint8(index), field, [this, id, index, field, ended, run, epoch](bool confirmed) {
        run->echoed(confirmed ? std::optional(field) : std::nullopt);
        const bool last = --m_writesPending[size_t(index)] == 0;
        if (confirmed) {
            // A later write tells the value when one follows; a sequence that forgot the parameter
            // since reads it itself.
            if (last && epoch == epochOf(index))
                learn(index, Learned::Echo, field);
            // Told at once, as the echo is taken: what the controller holds is the value written
            // until the next request goes out (the window only enables the slider again).
            emit writeFinished(index, true);
            ended();
            return;
        }
        // The controller may hold the new value, the old one or one it clamped: only a read tells.
        ReadParameter(quint8(index), [this, index, ended](bool) {
            postNotice(Notice::WriteNotConfirmed, [this, index, ended] {
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
    // One answer is not yet the controller's value (a late reply of an earlier read, a frame the line
    // made): the pair is held to a partner two answers agree on.
    if (m_book.state(*partner) == ParameterBook::State::Verifying) {
        verifyRead(*partner, [this, index, wanted, id, partner, decided] {
            if (id != m_sessionId)
                return;
            if (m_state == State::Connected && m_book.state(*partner) == ParameterBook::State::Unknown)
                decided({HeldCommit::Kind::PartnerUnknown, 0, false});
            else
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
            else if (!m_book.hasValue(*partner) && m_book.state(*partner) != ParameterBook::State::Writing)
                decided({HeldCommit::Kind::PartnerUnknown, 0, false});
            else
                decideHeld(index, wanted, id, decided); // a write of the partner queued meanwhile goes first
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
    m_sequenceScope.cancel();
    ReadBackSequence::start(*this, m_sequenceScope.token(), ReadBackSequence::Kind::Reset);
    return true;
}

bool Session::loadMap(const ParameterSet &values, const ParameterMask &write)
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    m_sequenceScope.cancel();
    MapLoadSequence::start(*this, m_sequenceScope.token(), values, write);
    return true;
}

bool Session::readAgain()
{
    if (m_state != State::Connected)
        return false;
    setState(State::Busy);
    m_sequenceScope.cancel();
    ReadBackSequence::start(*this, m_sequenceScope.token(), ReadBackSequence::Kind::ReadAgain);
    return true;
}

} // namespace oe
