#pragma once

#include <QtGlobal>

#include <vector>

namespace oe {

// One status reply as the chart keeps it: when it came (milliseconds on a monotonic clock) and the
// four readings in the controller's units. gapBefore breaks the trace between this sample and the one
// before it.
struct TraceSample {
    qint64 ms = 0;
    qint32 rpm = 0;
    qint32 tinj = 0;
    qint32 pump = 0;
    qint32 pause = 0;
    bool gapBefore = false;
};

// The live readings of the last minutes in a fixed ring, oldest first, plus the moments the pump lamp
// flashed. A missing answer shows as a break in the trace, never as a line drawn across it: a sample
// is marked when a gap was reported before it, or when it came later after the one before than a
// working poll ever takes.
class LiveTrace
{
public:
    // A working poll answers about every 0.6 s; a commit between two polls makes that 1.2 s. Longer
    // means at least one status request went unanswered or no poll ran.
    static constexpr qint64 kGapAfterMs = 1500;

    // gapAfterMs: a recording thinned out for a long span has its own idea of a gap (markGap).
    explicit LiveTrace(int capacity = 2048, int flashCapacity = 2048, qint64 gapAfterMs = kGapAfterMs);

    void append(TraceSample sample);
    // The poll lost its answer or the session ended: the next sample starts a new stretch.
    void markGap() { m_gapPending = true; }
    void addFlash(qint64 ms);
    void clear();

    int size() const { return int(m_count); }
    // i = 0 is the oldest sample kept.
    const TraceSample &at(int i) const;
    int flashCount() const { return int(m_flashCount); }
    qint64 flashAt(int i) const;

private:
    std::vector<TraceSample> m_samples;
    size_t m_first = 0;
    size_t m_count = 0;
    std::vector<qint64> m_flashes;
    size_t m_flashFirst = 0;
    size_t m_flashCount = 0;
    bool m_gapPending = false;
    qint64 m_gapAfterMs = kGapAfterMs;
};

} // namespace oe
