#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

namespace oe {

// Faults the models inject, by kind.
enum class Fault {
    LateReply,    // answered after the time-out (it lands in a later try)
    SlowReply,    // answered late in the wait
    SplitReply,   // the reply in pieces with gaps
    BitFlip,      // one bit of the reply flipped on the line
    Duplicate,    // the reply again, later (it answers an earlier request by then)
    Noise,        // a burst of line noise
    HeaderNoise,  // noise that begins like a reply
    RefusedWrite, // the controller keeps its value and echoes it
    ClampedWrite, // the controller stores another value and echoes that
    SilentSpell,  // the controller answers nothing for a while
    HangUp,       // the line goes away
    ResetChange,  // a reset that changes every value
    Swap,         // another controller on the line after a silent spell
    Count
};

QString faultName(Fault fault);

struct TrialFigures {
    qint64 sessions = 0;
    qint64 virtualMs = 0; // the technician's, up to the end of the session's time
    qint64 cliMs = 0;     // oe-cli's commands after it
    qint64 requests = 0;
    qint64 frames = 0;
    qint64 tries = 0;
    qint64 answeredTries = 0;
    qint64 connects = 0;
    qint64 commits = 0;
    qint64 mapLoads = 0;
    qint64 resets = 0;
    qint64 rereads = 0;
    qint64 saves = 0;
    qint64 boxes = 0;
    qint64 cliRuns = 0;
    qint64 cliDone = 0; // ended with exit status 0
    // Read answers and echoes the engine took that the line made: a bit flipped, or a noise byte in
    // place of a split reply's last ones.
    qint64 lineMadeAnswers = 0;
    std::array<qint64, size_t(Fault::Count)> faults{};

    void add(const TrialFigures &other);
    qint64 &fault(Fault kind) { return faults[size_t(kind)]; }
};

} // namespace oe
