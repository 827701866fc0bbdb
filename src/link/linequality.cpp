#include "linequality.h"

namespace oe {

void LineQuality::record(TryEnd end, qint64 nowMs)
{
    forgetBefore(nowMs - kWindowMs);
    if (end == TryEnd::TimedOut)
        return;
    const bool answered = end == TryEnd::Answered;
    m_tries.push_back({nowMs, answered});
    m_failed += answered ? 0 : 1;
}

int LineQuality::failedPercent(qint64 nowMs)
{
    forgetBefore(nowMs - kWindowMs);
    return m_tries.empty() ? 0 : int(100 * qint64(m_failed) / qint64(m_tries.size()));
}

void LineQuality::clear()
{
    m_tries.clear();
    m_failed = 0;
}

void LineQuality::forgetBefore(qint64 ms)
{
    while (!m_tries.empty() && m_tries.front().atMs <= ms) {
        m_failed -= m_tries.front().answered ? 0 : 1;
        m_tries.pop_front();
    }
}

} // namespace oe
