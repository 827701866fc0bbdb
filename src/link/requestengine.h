#pragma once

#include "clock.h"
#include "intervaltimer.h"
#include "linequality.h"
#include "replydecoder.h"
#include "requestframes.h"
#include "serialport.h"

#include <QObject>
#include <QQueue>

#include <chrono>
#include <functional>
#include <optional>

namespace oe {

// One exchange with the controller: what to send, what answers it, how long to wait and how often
// to try.
struct Request {
    enum class Kind { ReadParameter, WriteParameter, Status, Version, Reset };

    Kind kind = Kind::Status;
    quint8 index = 0;  // read and write
    qint32 value = 0;  // write
    std::chrono::milliseconds timeout{300};
    int tries = 3;

    static Request read(quint8 index);
    static Request write(quint8 index, qint32 value);
    static Request status();
    static Request version();
    static Request reset();

    // Whether a well-formed reply is this request's own answer. A write's echo must carry the index
    // and the value sent.
    bool answeredBy(const DecodedReply &reply) const;
    // Whether its values can be right (see plausibility.h).
    bool believes(const DecodedReply &reply) const;
};


struct RequestResult {
    enum class Outcome {
        Answered,    // the request's own reply came
        NotAnswered, // every try timed out or was refused by the controller
        OutOfRange,  // a write value that does not fit in the frame; nothing was sent
    };
    Outcome outcome = Outcome::NotAnswered;
    DecodedReply reply;  // the answer, for Answered
    int framesSent = 0;
    // Bytes came in during one of the tries: a request that ends unanswered with bytes was not met by
    // silence but by something the program could not take as a reply.
    bool bytesReceived = false;

    bool answered() const { return outcome == Outcome::Answered; }
};

// Puts one request at a time on the wire and waits for its reply without blocking the thread.
//
// Requests wait in a queue and go out in order. Each try drops stale input, sends the frame and starts
// its time-out. Every byte that comes in is kept, and HandleInput looks for the reply anywhere in what
// the try collected: a line with no checksum picks up noise from an engine's ignition, so bytes
// before, between and after frames are skipped, and so are false starts ("C" "U" and a code followed
// by rubbish). Of the complete, plausible frames that answer the request and began before the
// time-out, the last one wins: a stale reply glued in front, or a false start whose data holds the
// real header, comes before it. The answer is taken 50 ms after its first byte at the soonest (the
// pause the controller has always had before the next request), or once it is complete when it
// arrives slower.
//
// The invariant of the receive path: while a try is open, exactly one "next look" deadline is armed
// (MSComm1_Timer), at the earliest of the answer's due time (50 ms after its first byte), the
// time-out, and the grace of a frame begun in time (50 ms after its first byte, past the time-out).
// Every look either ends the try or arms it again, so a try ends at most kReplySettle after its
// time-out. A frame still coming in that began after the chosen answer may take its place, but a
// partial frame lying inside the answer (its last byte is a "C") holds nothing. Debug builds assert
// the invariant after every event.
//
// Frames are found as the bytes come: each byte is looked at once as a possible frame start, so a
// receive event costs what it brought, not what the try has collected.
//
// A well-formed reply that answers something else (the late reply of an earlier attempt, typically)
// is set aside: a status reply still reaches statusReceived, anything else is dropped. Noise never
// ends a try early; a frame that could answer but cannot be right (a value out of range, a write echo
// with another value, identifications that disagree) ends it once nothing better follows. After the
// last failed try the request ends unanswered.
//
// drop() and close() throw away the queue and the request in flight; their callbacks never run and
// nothing more is sent.
class RequestEngine : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(const RequestResult &)>;

    static constexpr int kTries = 3;
    static constexpr std::chrono::milliseconds kReadTimeout{300};
    static constexpr std::chrono::milliseconds kWriteTimeout{300};
    static constexpr std::chrono::milliseconds kVersionTimeout{300};
    static constexpr std::chrono::milliseconds kStatusTimeout{500};
    static constexpr std::chrono::milliseconds kResetTimeout{1000};
    // Lets the rest of a frame arrive after its first two bytes raised the receive event.
    static constexpr std::chrono::milliseconds kReplySettle{50};
    // A short rest for the controller before the first frame of a write.
    static constexpr std::chrono::milliseconds kWriteLeadIn{10};
    // The settle pause starts on a reply's first byte: waiting for a second one would add a byte's
    // time on the wire (1 ms at 9600 baud) to every exchange, and the pause collects the rest anyway.
    static constexpr int kReceiveThreshold = 1;

    // The port must outlive the engine. Time comes from clock (the steady clock when none is given).
    explicit RequestEngine(SerialPort *port, QObject *parent = nullptr, Clock *clock = nullptr);
    ~RequestEngine() override;

    bool open(int comPort, QString *error);
    // Drops everything and closes the port. Nothing is sent afterwards.
    void close();
    bool isOpen() const;
    const SerialPort *port() const { return m_port; }

    // Queues the request; done runs once with its result, unless the queue is dropped first.
    // Nothing is queued while the port is closed.
    void submit(const Request &request, Callback done = {});
    // Forgets the request in flight and every queued one.
    void drop();

    // A request in flight or waiting.
    bool busy() const { return m_current.has_value() || !m_queue.isEmpty(); }
    int queuedCount() const { return int(m_queue.size()); }

    // The one "next look" deadline of an open try (and the write's lead-in before it).
    IntervalTimer *replyTimer() const { return m_replyTimer; } // "MSComm1_Timer"
    // The request in flight, if any.
    const Request *currentRequest() const { return m_current ? &m_current->request : nullptr; }
    // A try is open: its frame went out and it has not ended.
    bool tryOpen() const { return m_current.has_value() && m_state == State::WaitingForReply; }
    // The invariant above: no open try without its deadline.
    bool deadlineHeld() const { return !tryOpen() || m_replyTimer->ticking(); }
    Clock *clock() const { return m_clock; }

    // The outcome of the last ended try: ReplyOk when it got its own reply; ReplyDone while nothing is
    // being waited for.
    bool ReplyOk = false;
    bool ReplyDone = true;
    // Index and value of the last own reply to a read or write.
    qint32 ReplyIndex = 0;
    qint32 ReplyValue = 0;

    // Looks for the reply in what the try collected and ends the try when it can.
    void HandleInput();

signals:
    // Each try of a request, as it ends.
    void tryEnded(oe::TryEnd end);
    // Raised when a request is taken from the queue, before its first frame.
    void requestStarted();
    // Every status reply, its own request's or one set aside.
    void statusReceived(const oe::DecodedReply &reply);
    // The other side went away; everything is dropped and the port is closed. Raised once per loss,
    // from the event loop.
    void portLost();

private:
    enum class State { Idle, LeadIn, WaitingForReply };
    struct Pending {
        Request request;
        Callback done;
        int triesLeft = 0;
        int framesSent = 0;
        bool bytesReceived = false;
    };
    // Bytes that came in at one time; the arrival of a frame's first byte paces the next request.
    struct Chunk {
        qsizetype end;
        qint64 atMs;
    };
    // What the frames found so far say for the open try.
    struct Choice {
        qsizetype answer = -1;   // index in m_complete
        qsizetype rejected = -1; // a frame that would answer but cannot be right
    };

    void scheduleNext();
    void startNext();
    void sendAttempt();
    void tryFailed(TryEnd why);
    void finish(RequestResult::Outcome outcome, const DecodedReply &reply = {});
    // Arms the one deadline for the given time on the clock.
    void armAt(qint64 atMs);
    void onDeadline();
    void assertDeadline() const;
    qint64 arrivalOf(qsizetype offset) const;
    void clearInput();
    void trimInput(qsizetype from);
    // Looks at the bytes that came since the last scan; returns whether a frame was completed.
    bool scanNewBytes();
    void frameCompleted(const FrameAt &frame);
    Choice choose() const;
    bool mayAnswer(quint8 code) const;
    void onReceiveEvent();
    void onPortLost();

    SerialPort *m_port;
    Clock *m_clock;
    IntervalTimer *m_replyTimer;
    bool m_nextPosted = false;
    WriteFrame m_writeFrame;
    QQueue<Pending> m_queue;
    std::optional<Pending> m_current;
    State m_state = State::Idle;
    // What came in since the try's frame went out (or, between requests, since the last one ended).
    QByteArray m_input;
    QList<Chunk> m_chunks;
    // Scanning: offsets below m_scannedUpTo were looked at; m_unfinished are frames still coming in,
    // m_complete the whole ones, both in order of start.
    qsizetype m_scannedUpTo = 0;
    QList<FrameAt> m_unfinished;
    QList<FrameAt> m_complete;
    Choice m_choice;
    bool m_choiceStale = false;
    // Frames set aside up to here have been reported.
    qsizetype m_reportedUpTo = 0;
    qint64 m_timeoutAt = 0;
    bool m_tryHeardBytes = false;
    quint64 m_generation = 0;
    bool m_lossReported = false;
};

} // namespace oe
