#pragma once

#include <QString>
#include <QStringList>

namespace oe {

// Ways the simulated controller can misbehave, to drive the program's failure paths. All off by
// default. Counted faults (drop, hang-up) count request frames from the moment the faults were set.
struct SimFaults {
    static constexpr int kDefaultSplitGapMs = 100;   // longer than the program's 50 ms read pause
    static constexpr int kDefaultLateMs = 1200;      // past the longest reply time-out (1000 ms)
    static constexpr int kDefaultGarbageBytes = 3;
    static constexpr int kDefaultShortBy = 1;

    bool silent = false;       // answers nothing
    int replyDelayMs = 0;      // every reply waits this long
    int dropFirst = 0;         // the first N requests go unanswered
    bool wrongHeader = false;  // replies start with "C" "V" instead of "C" "U"
    int shortBy = 0;           // every reply loses its last N bytes
    bool unknownCode = false;  // replies carry code 7, which no request asks for
    int garbageBefore = 0;     // N junk bytes written in front of every reply
    int garbageAfter = 0;      // N junk bytes written after every reply
    bool echoClamp = false;    // a write stores and echoes the value clamped into its slider range
    // Writes to the parameters whose bits are set (bit N: code N) are refused: nothing is stored and
    // the echo carries the value held.
    int refuseWriteMask = 0;
    int splitGapMs = 0;        // every reply goes out in two writes this far apart
    int lateMs = 0;            // every reply comes this late (overrides replyDelayMs)
    int hangUpAfter = 0;       // the line is closed after the Nth request frame
    // A running engine's line: random bytes between replies, some shaped like a reply's start.
    int noisePerSecond = 0;
    int flipPercent = 0;       // this share of replies has one bit flipped
    int byteGapMs = 0;         // every reply goes out byte by byte, this far apart

    bool operator==(const SimFaults &) const = default;

    // Applies one or more comma-separated settings such as "delay=200,drop=2", "split", "none".
    // Returns false and says why on an unknown name or a bad number; the faults are then unchanged.
    bool apply(const QString &spec, QString *error);

    // The settings that are on, in the form apply() reads; "none" when all are off.
    QString describe() const;

    // One line per fault name with its meaning, for --help and the interactive "help".
    static QStringList helpLines();
};

} // namespace oe
