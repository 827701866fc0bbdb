#include "maploadsequence.h"

#include "session.h"

namespace oe {

template<typename F> auto MapLoadSequence::guarded(F step)
{
    return [self = shared_from_this(), step](auto &&...args) {
        if (self->m_token.alive())
            step(*self, args...);
    };
}

void MapLoadSequence::start(Session &session, CancelToken token, const ParameterSet &wanted, const ParameterMask &write)
{
    auto sequence = std::make_shared<MapLoadSequence>(session, std::move(token), wanted, write);
    // The plan is judged against confirmed values: a value being verified is checked, an unknown
    // one read (while the controller answers), a write on its way waited for.
    session.settle([token = sequence->m_token] { return token.alive(); }, {},
                   sequence->guarded([](MapLoadSequence &self) { self.plan(); }));
}

MapLoadSequence::MapLoadSequence(Session &session, CancelToken token, const ParameterSet &wanted,
                                 const ParameterMask &write)
    : m_session(session), m_token(std::move(token))
{
    m_result.sent = wanted;
    m_result.write = write;
}

void MapLoadSequence::plan()
{
    m_step = Step::Write;
    KnownValues held{};
    for (int i = 0; i < kParameterCount; ++i) {
        if (m_session.parameterConfirmed(ParameterIndex(i)))
            held[size_t(i)] = m_session.m_book.value(ParameterIndex(i));
    }
    const WritePlan plan = planWrites(held, m_result.sent, m_result.write);
    m_result.refusal = plan.refusal;
    m_result.refusedIndex = plan.index;
    m_result.refusedPartner = plan.partner;
    m_run.emplace(plan);
    m_result.writes = m_run->result();
    // Each parameter is forgotten as its write goes out: from then only the read-back tells.
    writeNext();
}

void MapLoadSequence::writeNext()
{
    const std::optional<PlannedWrite> write = m_run->next();
    if (!write) {
        m_result.writes = m_run->result();
        readBack();
        return;
    }
    m_session.forgetFor({write->index});
    const qint32 value = write->value;
    m_session.submit(Request::write(quint8(write->index), value),
                     guarded([value](MapLoadSequence &self, const RequestResult &result) {
                         self.m_run->echoed(result.answered() ? std::optional(value) : std::nullopt);
                         self.writeNext();
                     }));
}

void MapLoadSequence::readBack()
{
    m_step = Step::ReadBack;
    QList<quint8> tried;
    for (int i = 0; i < kParameterCount; ++i) {
        const WriteOutcome outcome = m_result.writes.outcome[size_t(i)];
        if (outcome != WriteOutcome::NotPlanned && outcome != WriteOutcome::NotSent)
            tried << quint8(i);
    }
    if (tried.isEmpty()) {
        finish();
        return;
    }
    for (qsizetype n = 0; n < tried.size(); ++n) {
        std::function<void(bool)> then;
        if (n == tried.size() - 1)
            then = guarded([](MapLoadSequence &self, bool) { self.finish(); });
        m_session.ReadParameter(tried[n], then);
    }
}

void MapLoadSequence::finish()
{
    m_step = Step::Done;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const std::optional<qint32> now = m_session.controllerValue(index);
        m_result.answered[size_t(i)] = now.has_value();
        m_result.readBack[index] = now.value_or(0);
        WriteOutcome &outcome = m_result.writes.outcome[size_t(i)];
        // No echo, but the controller holds another value: it refused or clamped the write.
        if (outcome == WriteOutcome::Unanswered && now && *now != m_result.sent[index])
            outcome = WriteOutcome::Refused;
        m_result.confirmed[size_t(i)] = outcome == WriteOutcome::Written;
    }
    m_session.setState(Session::State::Connected);
    m_session.notify([result = m_result](Session &session) { emit session.mapLoaded(result); });
}

} // namespace oe
