#pragma once

#include <QtGlobal>

#include <deque>

namespace oe {

// How the line has been doing: the share of tries that failed (on noise, a bad frame or a time-out)
// over the last minute. An engine's ignition puts noise on an unshielded line; when more than a tenth
// of the tries fail, the user should hear about it before readings start to freeze.
class LineQuality
{
public:
    static constexpr qint64 kWindowMs = 60000;
    static constexpr int kNoisyAbovePercent = 10;

    void record(bool answered, qint64 nowMs);
    // Failed tries of the last minute in percent, rounded down; 0 without any try.
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
