#include "progresswatch.h"

namespace oe {

namespace {

const char *stateName(ParameterBook::State state)
{
    switch (state) {
    case ParameterBook::State::Unknown: return "Unknown";
    case ParameterBook::State::Verifying: return "Verifying";
    case ParameterBook::State::Known: return "Known";
    case ParameterBook::State::Writing: return "Writing";
    }
    return "?";
}

} // namespace

void ProgressWatch::sessionEnded(qint64 nowMs)
{
    m_waits.clear();
    holdUntil(nowMs);
}

quint64 ProgressWatch::waitBegins(qint64 nowMs, const char *what)
{
    m_waits.emplace(++m_nextWait, Wait{nowMs, what});
    return m_nextWait;
}

QString ProgressWatch::check(const ParameterBook &book, qint64 nowMs)
{
    for (size_t i = 0; i < m_states.size(); ++i) {
        const ParameterBook::State state = book.state(ParameterIndex(i));
        if (state != m_states[i]) {
            m_states[i] = state;
            m_since[i] = nowMs;
        }
        const bool judged = state == ParameterBook::State::Writing || state == ParameterBook::State::Verifying
                            || (m_judgeUnknown && state == ParameterBook::State::Unknown);
        const qint64 waited = nowMs - qMax(m_since[i], m_heldUntil);
        if (judged && waited > kBoundMs)
            return QStringLiteral("parameter %1 has been %2 for %3 ms while the controller answers")
                .arg(i).arg(QLatin1String(stateName(state))).arg(waited);
    }
    for (const auto &[id, wait] : m_waits) {
        const qint64 waited = nowMs - qMax(wait.sinceMs, m_heldUntil);
        if (waited > kBoundMs)
            return QStringLiteral("%1 unanswered for %2 ms while the controller answers")
                .arg(QLatin1String(wait.what)).arg(waited);
    }
    return {};
}

} // namespace oe
