#include "livetrace.h"

namespace oe {

LiveTrace::LiveTrace(int capacity, int flashCapacity, qint64 gapAfterMs)
    : m_samples(size_t(qMax(1, capacity))), m_flashes(size_t(qMax(1, flashCapacity))), m_gapAfterMs(gapAfterMs)
{
}

void LiveTrace::append(TraceSample sample)
{
    if (m_count == 0)
        sample.gapBefore = false; // nothing before it to join or to break from
    else
        sample.gapBefore = sample.gapBefore || m_gapPending || sample.ms - at(size() - 1).ms > m_gapAfterMs;
    m_gapPending = false;
    if (m_count < m_samples.size()) {
        m_samples[(m_first + m_count) % m_samples.size()] = sample;
        ++m_count;
    } else {
        m_samples[m_first] = sample;
        m_first = (m_first + 1) % m_samples.size();
    }
}

void LiveTrace::addFlash(qint64 ms)
{
    if (m_flashCount < m_flashes.size()) {
        m_flashes[(m_flashFirst + m_flashCount) % m_flashes.size()] = ms;
        ++m_flashCount;
    } else {
        m_flashes[m_flashFirst] = ms;
        m_flashFirst = (m_flashFirst + 1) % m_flashes.size();
    }
}

void LiveTrace::clear()
{
    m_first = m_count = 0;
    m_flashFirst = m_flashCount = 0;
    m_gapPending = false;
}

const TraceSample &LiveTrace::at(int i) const
{
    return m_samples[(m_first + size_t(i)) % m_samples.size()];
}

qint64 LiveTrace::flashAt(int i) const
{
    return m_flashes[(m_flashFirst + size_t(i)) % m_flashes.size()];
}

} // namespace oe
