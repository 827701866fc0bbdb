#include "readbacksequence.h"

#include "session.h"

namespace oe {

template<typename F> auto ReadBackSequence::guarded(F step)
{
    return [self = shared_from_this(), step](auto &&...args) {
        if (self->m_token.alive())
            step(*self, args...);
    };
}

void ReadBackSequence::start(Session &session, CancelToken token, Kind kind)
{
    auto sequence = std::make_shared<ReadBackSequence>(session, std::move(token), kind);
    if (kind == Kind::ReadAgain) {
        sequence->readBack();
        return;
    }
    // Once the command is on the wire the controller may hold its defaults: nothing shown before is
    // known any more, also while the notice after the reset is up.
    session.forgetAll();
    session.SendReset(sequence->guarded([](ReadBackSequence &self, bool acknowledged) { self.commandEnded(acknowledged); }));
}

ReadBackSequence::ReadBackSequence(Session &session, CancelToken token, Kind kind)
    : m_session(session), m_token(std::move(token)), m_kind(kind)
{
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        m_result.knownBefore[size_t(i)] = session.m_book.hasValue(index);
        m_result.before[index] = session.m_book.value(index).value_or(0);
    }
}

void ReadBackSequence::commandEnded(bool acknowledged)
{
    m_step = Step::Notice;
    // Shown in every case; the read-back waits until the user has closed it.
    const auto afterReset = guarded([](ReadBackSequence &self) {
        self.m_session.postNotice(Session::Notice::AfterReset, self.guarded([](ReadBackSequence &again) { again.readBack(); }));
    });
    if (acknowledged)
        afterReset();
    else
        m_session.postNotice(Session::Notice::ResetNotConfirmed, afterReset);
}

void ReadBackSequence::readBack()
{
    m_step = Step::ReadBack;
    // Each parameter starts over from unknown: a read that goes unanswered leaves it unknown, since
    // what was known before may not hold any more.
    m_session.readAll(guarded([](ReadBackSequence &self) { self.finish(); }));
}

void ReadBackSequence::finish()
{
    m_step = Step::Done;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        m_result.answered[size_t(i)] = m_session.m_book.hasValue(index);
        m_result.readBack[index] = m_session.m_book.value(index).value_or(0);
    }
    m_session.setState(Session::State::Connected);
    if (m_kind == Kind::ReadAgain)
        m_session.notify([result = m_result](Session &session) { emit session.readAgainFinished(result); });
}

} // namespace oe
