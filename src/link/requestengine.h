#pragma once

#include "clock.h"
#include "intervaltimer.h"
#include "linequality.h"
#include "replydecoder.h"
#include "replyscanner.h"
#include "request.h"
#include "requestframes.h"
#include "serialport.h"

#include <QObject>
#include <QQueue>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace oe {

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
// Requests wait in a queue and go out in order, each from the event loop. Each try drops stale input,
// sends the frame and starts its time-out; every byte that comes in goes to the reply scanner (see
// replyscanner.h), which says when the try ends and how. After a failed try the next one goes out,
// after the last one the request ends unanswered.
//
// The states: Idle (nothing in flight), TryDue (the request's next try goes out from the event loop,
// once what came before it is told), LeadIn (a write's short rest before its first frame),
// WaitingForReply (a try is open).
// While a try is open exactly one "next look" deadline is armed (MSComm1_Timer), at the time the
// scanner names, so a try ends at most kReplySettle after its time-out. Debug builds assert it after
// every event.
//
// Nothing outside the engine runs inside its steps: every signal and callback is told from the event
// loop once the step that caused it is done, in the order things happened. A handler may open a modal
// box (a nested event loop) or queue more requests: the engine goes on inside the box, tells what
// comes next from there, and never resumes with anything the handler could have changed.
//
// A well-formed reply that answers something else (the late reply of an earlier attempt, typically)
// is set aside: a status reply still reaches statusReceived, anything else is dropped.
//
// drop() and close() throw away the queue, the request in flight and whatever is not told yet;
// their callbacks never run and nothing more is sent.
class RequestEngine : public QObject
{
    Q_OBJECT
public:
    using Callback = std::function<void(const RequestResult &)>;

    static constexpr int kTries = Request::kTries;
    static constexpr std::chrono::milliseconds kReadTimeout = Request::kReadTimeout;
    static constexpr std::chrono::milliseconds kWriteTimeout = Request::kWriteTimeout;
    static constexpr std::chrono::milliseconds kVersionTimeout = Request::kVersionTimeout;
    static constexpr std::chrono::milliseconds kStatusTimeout = Request::kStatusTimeout;
    static constexpr std::chrono::milliseconds kResetTimeout = Request::kResetTimeout;
    // Lets the rest of a frame arrive after its first bytes raised the receive event.
    static constexpr std::chrono::milliseconds kReplySettle{ReplyScanner::kSettleMs};
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

    // Queues the request; done runs once with its result, from the event loop, unless the queue is
    // dropped first. Nothing is queued while the port is closed.
    void submit(const Request &request, Callback done = {});
    // Forgets the request in flight, every queued one and everything not told yet.
    void drop();

    // A request in flight or waiting, or a result not told yet.
    bool busy() const { return m_current.has_value() || !m_queue.isEmpty() || !m_outbox.empty(); }
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

    // The outcome of the last ended try: ReplyOk when it got its own reply (false again once the next
    // request starts); ReplyDone while no try is open.
    bool ReplyOk() const { return m_replyOk; }
    bool ReplyDone() const { return !tryOpen(); }
    // Index and value of the last own reply to a read or write.
    qint32 ReplyIndex() const { return m_replyIndex; }
    qint32 ReplyValue() const { return m_replyValue; }

signals:
    // Each try of a request, as it ends; reply is its answer when it was answered.
    void tryEnded(oe::TryEnd end, const oe::Request &request, const oe::DecodedReply &reply);
    // A request was taken from the queue; told before its first frame goes out.
    void requestStarted(const oe::Request &request);
    // Every status reply, its own request's or one set aside.
    void statusReceived(const oe::DecodedReply &reply);
    // The other side went away; everything is dropped and the port is closed. Raised once per loss;
    // a close or a new open before it is told makes it moot.
    void portLost();

private:
    enum class State { Idle, TryDue, LeadIn, WaitingForReply };
    struct Pending {
        Request request;
        Callback done;
        int triesLeft = 0;
        int framesSent = 0;
        bool bytesReceived = false;
    };

    // The next step (the due try, or the next request) from the event loop.
    void postStep();
    void step();
    void sendAttempt();
    // Looks for the reply in what the try collected (HandleInput) and ends the try when it can.
    void HandleInput();
    void answered(const DecodedReply &reply);
    void tryFailed(TryEnd why);
    void finish(RequestResult::Outcome outcome, const DecodedReply &reply = {});
    // Arms the one deadline for the given time on the clock.
    void armAt(qint64 atMs);
    void onDeadline();
    void assertDeadline() const;
    void onReceiveEvent();
    void onPortLost();
    // Tells the outside world from the event loop, in order.
    void tell(std::function<void()> note);
    void tellTryEnded(TryEnd end, const DecodedReply &reply = {});
    void deliver();

    SerialPort *m_port;
    Clock *m_clock;
    IntervalTimer *m_replyTimer;
    ReplyScanner m_scanner;
    WriteFrame m_writeFrame;
    QQueue<Pending> m_queue;
    std::optional<Pending> m_current;
    State m_state = State::Idle;
    qint64 m_timeoutAt = 0;
    std::deque<std::function<void()>> m_outbox;
    bool m_stepPosted = false;
    bool m_deliveryPosted = false;
    // Counts drops: a port call that lost the line drops everything from inside it.
    quint64 m_generation = 0;
    bool m_lossReported = false;
    bool m_replyOk = false;
    qint32 m_replyIndex = 0;
    qint32 m_replyValue = 0;
};

} // namespace oe
