#pragma once

#include "replydecoder.h"
#include "request.h"

#include <QByteArray>
#include <QList>

#include <limits>

namespace oe {

// What a look at the bytes a try collected decides.
struct ScanVerdict {
    enum class Step {
        Wait,     // look again at nextLookAt (between requests: nothing to wait for)
        Answered, // reply is the request's own answer
        BadFrame, // a frame that would answer cannot be right, and nothing better came
        NoAnswer, // the time-out, and the grace of any frame begun in time, passed without one
    };
    Step step = Step::Wait;
    DecodedReply reply;
    qint64 nextLookAt = std::numeric_limits<qint64>::max();
    // Well-formed, believable replies the bytes completed that answer nothing that is open (the late
    // reply of an earlier attempt, typically), each reported once, in order.
    QList<DecodedReply> setAside;
};

// Finds a request's reply in the bytes received, as they come: a pure function of the bytes, their
// arrival times, the open request and the time of the look. It owns no timer, port or signal.
//
// A line with no checksum picks up noise from an engine's ignition, so bytes before, between and
// after frames are skipped, and so are false starts ("C" "U" and a code followed by rubbish). Of the
// complete, believable frames that answer the request and began before the time-out, the last one
// wins: a stale reply glued in front, or a false start whose data holds the real header, comes before
// it. The answer is taken kSettleMs after its first byte at the soonest (the pause the controller has
// always had before the next request), or once it is complete when it arrives slower. A frame still
// coming in that began after the chosen answer may take its place, but a partial frame lying inside
// the answer (its last byte is a "C") holds nothing. A frame that could answer but cannot be right (a
// value out of range, a write echo with another value, identifications that disagree) ends the try
// once nothing better follows. A try always ends at most kSettleMs after its time-out.
//
// Each byte is looked at once as a possible frame start, so a look costs what came since the last
// one, not what the try has collected.
class ReplyScanner
{
public:
    static constexpr qint64 kSettleMs = 50;
    // The most bytes kept while looking for a reply (a frame is at most 11); past it only the tail
    // that may still begin a frame is kept.
    static constexpr qsizetype kInputLimit = 8192;
    static constexpr qsizetype kInputKeep = 64;

    // Forgets every byte: a new try begins, or a reply was taken.
    void clear();
    // Bytes that came in at atMs (not before the bytes before them).
    void append(QByteArrayView bytes, qint64 atMs);
    // Looks at what came for the open request (none between requests, when only a frame still coming
    // in is kept), whose try times out at timeoutAtMs.
    ScanVerdict look(const Request *open, qint64 timeoutAtMs, qint64 nowMs);

    // Bytes came since the last clear().
    bool heardBytes() const { return m_heard; }
    const QByteArray &bytes() const { return m_input; }
    // The frames found in bytes(), in order of start: whole, and still coming in.
    const QList<FrameAt> &complete() const { return m_complete; }
    const QList<FrameAt> &unfinished() const { return m_unfinished; }

private:
    // What the frames found so far say for the open try.
    struct Choice {
        const FrameAt *answer = nullptr;
        const FrameAt *rejected = nullptr; // would answer but cannot be right
    };
    // Bytes that came in at one time; the arrival of a frame's first byte paces the next request.
    struct Chunk {
        qsizetype end;
        qint64 atMs;
    };

    void scanNewBytes(const Request *open, QList<DecodedReply> *setAside);
    void frameCompleted(const FrameAt &frame, const Request *open, QList<DecodedReply> *setAside);
    Choice choose(const Request &request, qint64 timeoutAtMs) const;
    bool headerInside(const FrameAt &frame) const;
    qint64 arrivalOf(qsizetype offset) const;
    void trimInput(qsizetype from);
    void dropBytes();

    QByteArray m_input;
    QList<Chunk> m_chunks;
    // Offsets below m_scannedUpTo were looked at as frame starts.
    qsizetype m_scannedUpTo = 0;
    QList<FrameAt> m_unfinished;
    QList<FrameAt> m_complete;
    // Frames set aside up to here have been reported.
    qsizetype m_reportedUpTo = 0;
    bool m_heard = false;
};

} // namespace oe
