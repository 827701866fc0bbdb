#pragma once

#include <QtGlobal>

#include <deque>

namespace oe {

// How one try ended. A try fails on a time-out when not a byte came, on noise when bytes came but no
// frame that could answer it, on a bad frame when one came but its values cannot be right (or a write
// echo carries another value).
enum class TryEnd { Answered, TimedOut, Noise, BadFrame };

// How noisy the line has been: of the tries over the last minute that heard anything, the share that
// heard no valid answer. An engine's ignition puts noise on an unshielded line; when more than a tenth
// of those tries fail, the user should hear about it before readings start to freeze. Tries that heard
// nothing are left out: a controller that does not answer is silence, not noise, and has its own line.
class LineQuality
{
public:
    static constexpr qint64 kWindowMs = 60000;
    static constexpr int kNoisyAbovePercent = 10;

    void record(TryEnd end, qint64 nowMs);
    // Tries of the last minute that heard bytes but no valid answer, in percent of the tries that
    // heard anything, rounded down; 0 without any.
    int failedPercent(qint64 nowMs);
    bool noisy(qint64 nowMs) { return failedPercent(nowMs) > kNoisyAbovePercent; }
    void clear();

private:
    void forgetBefore(qint64 ms);

    struct Try {
        qint64 atMs;
        bool answered;
    };
    std::deque<Try> m_tries;
    int m_failed = 0;
};

} // namespace oe
