#include "reacquiresequence.h"

#include "session.h"

namespace oe {

template<typename F> auto ReacquireSequence::guarded(F step)
{
    return [self = shared_from_this(), step](auto &&...args) {
        if (self->m_token.alive())
            step(*self, args...);
    };
}

void ReacquireSequence::start(Session &session, CancelToken token)
{
    auto sequence = std::make_shared<ReacquireSequence>(session, std::move(token));
    session.RequestVersionVerified({}, sequence->guarded([](ReacquireSequence &self, std::optional<Session::Version> version) {
        self.identified(version);
    }));
}

ReacquireSequence::ReacquireSequence(Session &session, CancelToken token)
    : m_session(session), m_token(std::move(token))
{
}

void ReacquireSequence::identified(std::optional<std::array<quint8, 3>> version)
{
    if (!version) {
        // Not back after all: the next answered status request starts again.
        m_step = Step::Done;
        m_session.setState(Session::State::Connected);
        return;
    }
    m_otherFirmware = m_session.m_version != version;
    m_session.m_version = version;
    if (m_otherFirmware) {
        m_session.notify([version = *version](Session &session) {
            emit session.identified(session.m_comPort, version);
        });
    }
    m_step = Step::Confirm;
    m_session.m_reacquireReading = true;
    // Whatever was learned before the controller identified itself starts over.
    m_session.forgetAll();
    m_session.settle([token = m_token] { return token.alive(); }, {},
                     guarded([](ReacquireSequence &self) { self.confirmed(); }));
}

void ReacquireSequence::confirmed()
{
    m_step = Step::Done;
    m_session.m_reacquireReading = false;
    m_session.m_reacquireDue = false;
    bool otherValues = false;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const std::optional<qint32> before = m_session.m_beforeSilence[size_t(i)];
        if (before && m_session.parameterConfirmed(index) && m_session.m_book.value(index) != before)
            otherValues = true;
    }
    m_session.m_beforeSilence = {};
    m_session.setState(Session::State::Connected);
    if (m_otherFirmware || otherValues)
        m_session.postNotice(Session::Notice::AnotherController);
}

} // namespace oe
