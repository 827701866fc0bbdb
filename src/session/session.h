#pragma once

#include "intervaltimer.h"
#include "linequality.h"
#include "parameterset.h"
#include "parameterbook.h"
#include "sequencetoken.h"
#include "sessionresults.h"
#include "requestengine.h"

#include "clock.h"
#include "serialport.h"

#include <QObject>

#include <array>
#include <bitset>
#include <functional>
#include <optional>

namespace oe {

// The session with the controller, without any widget: the connection state, the parameters as the
// window holds them, the live readings, and every exchange the window asks for: connect, disconnect,
// the status poll, parameter writes, reset and map loads. Requests go through one RequestEngine, so
// exactly one is on the wire at a time and each goes out once, in the order asked.
//
// While a sequence runs (the connect, a reset's read-back, a map load) the session is not Connected,
// so the window takes no parameter input and the poll stays quiet; a disconnect still ends it at once,
// also during the connect. A sequence raises its message only once nothing of it is left on the wire.
class Session : public QObject
{
    Q_OBJECT
public:
    enum class State {
        Idle,       // no port open
        Connecting, // identification and the first eight reads
        Connected,  // polling; parameters can be written
        Busy,       // a reset or a map load is running
    };
    Q_ENUM(State)

    static constexpr std::chrono::milliseconds kStatusPollInterval{500};
    // Unanswered status requests in a row after which the controller counts as not answering.
    static constexpr int kMissedPollsForSilence = 2;

    // What the session tells the user; the window and oe-cli choose the words.
    enum class Notice {
        ConnectFailed,     // see lastConnectFailure()
        PortLost,          // the session ended: its port went away
        ResetNotConfirmed, // the reset command got no acknowledgement; the read-back follows all the same
        AfterReset,        // a reset command went out; the read-back waits until this has been shown
        WriteNotConfirmed, // a commit's write was not echoed; the read after it told what the controller holds
        AnotherController, // after a silence another controller answered, or the same one with other values
    };
    Q_ENUM(Notice)

    // Takes ownership of the port. Time comes from clock (the steady clock when none is given).
    explicit Session(SerialPort *port, QObject *parent = nullptr, Clock *clock = nullptr);
    ~Session() override;

    State state() const { return m_state; }
    // True once the controller has identified itself, until the session ends.
    bool Connected() const { return m_connected; }
    // The firmware version the controller identified itself with, while Connected().
    std::optional<std::array<quint8, 3>> firmware() const { return m_firmware; }
    RequestEngine *engine() const { return m_engine; }
    Clock *clock() const { return m_time; }
    // Valid when the connect-failed message is raised, and until the next connect starts.
    const ConnectFailure &lastConnectFailure() const { return m_lastFailure; }
    // The last session ended because its port went away (not by a disconnect); already true when
    // stateChanged reports Idle for it.
    bool endedByPortLoss() const { return m_endedByPortLoss; }
    IntervalTimer *statusTimer() const { return m_statusTimer; } // "Timer_StatusRequest"
    // A notification or message is posted and not yet delivered.
    bool telling() const { return m_notesPending > 0 || m_messagesOpen > 0; }

    // ---- What the controller holds, as far as this session knows: the book (see ParameterBook).
    //
    // A parameter has a value once the controller told it this session: an answered read (being
    // verified until a second read agrees), or the echo of a commit. All eight become unknown when the
    // session ends, when a reset's command goes out, when a map load starts and when the parameters
    // are read again (only the answered reads that follow bring them back); one becomes unknown when a
    // read of it goes unanswered, when its verification reads never agree, and when its commit was not
    // confirmed and the read after it went unanswered. parameterKnownChanged reports every change.
    const ParameterBook &book() const { return m_book; }
    bool parameterKnown(ParameterIndex index) const { return m_book.hasValue(index); }
    std::optional<qint32> controllerValue(ParameterIndex index) const { return m_book.value(index); }
    // The controller told it twice alike (a write's echo is one answer) and no write of it is on its
    // way: the one rule for a value that may leave the program or be set against a map
    // (parameterConfirmedChanged).
    bool parameterConfirmed(ParameterIndex index) const;
    // Every parameter confirmed (none still being verified or written): a map can say what the
    // controller holds.
    bool allParametersKnown() const;
    // The book's values as a set, as the controller reported them (a value beyond its slider too); an
    // entry means something only while its parameter is known.
    ParameterSet controllerValues() const;

    // False once kMissedPollsForSilence requests in a row went unanswered (status requests, or others
    // met by silence), true again with the next answer or status reply; true while no session is
    // open. controllerAnsweringChanged reports changes.
    bool controllerAnswering() const { return m_answering; }

    // The sliders' working copy of the user's intent: what was last previewed or committed (a read
    // sets it too, so an idle slider starts from the controller's value). Never the controller's
    // value: show, save and compare with the book. The live readings are those of the last status
    // reply.
    ParameterSet Parameters;
    qint32 LiveRpm = 0;
    qint32 LiveTinj = 0;
    qint32 LivePump = 0;
    qint32 LivePause = 0;

    // Opens COM<comPort>, identifies the controller and reads the eight parameters, then polls.
    // Refused unless Idle.
    void connectTo(int comPort);
    // Ends the session at once: nothing more is sent, nothing queued survives. No message.
    void disconnectNow();

    // A slider preview: the field changes, nothing is sent.
    void previewParameter(ParameterIndex index, qint32 field);
    // Puts the working copy of a known parameter back to the controller's value (a preview given up).
    void revertPreview(ParameterIndex index);
    // Stores the field and writes it to the controller; writeFinished follows. An echo confirms the
    // value. Without one the parameter is read once: its answer is what the controller holds, or the
    // parameter is unknown; the notice WriteNotConfirmed comes after that read. Refused unless Connected.
    bool commitParameter(ParameterIndex index, qint32 field);
    // A value the technician chose (a slider, the value editor, oe-cli set), held to its pair against
    // what the controller holds, then committed. A partner whose own write is on its way is waited
    // for; a partner without a value is read first, and without an answer nothing is written.
    // decided runs once, as the write is queued (or when nothing will be). Refused unless Connected.
    bool commitHeld(ParameterIndex index, qint32 wanted, std::function<void(const HeldCommit &)> decided);
    // Resets the controller, then reads the eight parameters back. Refused unless Connected.
    bool reset();
    // Writes the values marked in write that differ from what the controller holds, in the write
    // plan's order (every pair in order after each single write), after confirming what it holds;
    // the first write not echoed as sent stops the plan. The parameters written or tried are read
    // back; mapLoaded follows with what became of each. Refused unless Connected.
    using ParameterMask = oe::ParameterMask;
    bool loadMap(const ParameterSet &values, const ParameterMask &write = kAllParameters);
    // Reads the eight parameters again, as the connect does; readAgainFinished follows. Refused unless
    // Connected.
    bool readAgain();
    // Runs the verification reads due now, back to back instead of in the poll's gaps; then runs once
    // no parameter is being verified, unless the session ends first. Refused unless Connected.
    bool verifyNow(std::function<void()> then);
    // The one way to values that leave the program (a saved map, a restore point): reads once each
    // parameter without a value (while the controller answers), runs the verification reads due back
    // to back and waits for a write on its way; then runs once from the event loop with what is
    // confirmed, unless the session ends first. A reset or map load that took over meanwhile leaves
    // nothing confirmed. Refused (false) unless Connected.
    bool verifiedValues(std::function<void(const VerifiedValues &)> then);
    // Parameters that became unknown while the controller was silent are read again, one read each in
    // the poll's gaps, once it answers: true while it is silent and a parameter is unknown, and until
    // those reads have gone out.
    bool rereadPending() const;
    // Keeps the poll quiet while the window shows a dialog of its own.
    void holdPoll(bool hold);

    // Tries that heard bytes but no answer over the last minute, in percent (see LineQuality); 0 while idle.
    int lineFailedPercent() { return m_lineQuality.failedPercent(m_time->nowMs()); }
    bool lineNoisy() { return m_lineQuality.noisy(m_time->nowMs()); }
    // A verification pass is reading parameters again, or this one.
    bool verifying() const { return m_book.verifying(); }
    bool verifying(ParameterIndex index) const { return m_book.state(index) == ParameterBook::State::Verifying; }

    // The exchanges themselves, queued behind whatever is on the wire. then runs with the outcome
    // unless the session ends first.
    // A read's answer is the parameter's value, to be verified; a read without one leaves it unknown.
    // WriteParameter raises the notice WriteNotConfirmed when the write is not confirmed; it leaves the
    // book as it was.
    void RequestVersion(std::function<void(bool)> then = {});
    // then gets the version when two answers agree (at most three requests), nullopt otherwise.
    using Version = std::array<quint8, 3>;
    using VersionAnswers = QList<std::optional<Version>>;
    void RequestVersionVerified(VersionAnswers answersSoFar, std::function<void(std::optional<Version>)> then);
    void ReadParameter(quint8 index, std::function<void(bool)> then = {});
    void WriteParameter(quint8 index, qint32 value, std::function<void(bool)> then = {});
    void RequestStatus(std::function<void(bool)> then = {});
    void SendReset(std::function<void(bool)> then = {});

signals:
    void stateChanged(oe::Session::State state);
    // The controller identified itself on this port with this firmware version.
    void identified(int comPort, const std::array<quint8, 3> &version);
    // A read, or a verification verdict that changed it, gave the parameter this value, as the
    // controller holds it (also beyond its slider's range).
    void parameterRead(oe::ParameterIndex index, qint32 value);
    // The parameter became known or unknown (see parameterKnown()).
    void parameterKnownChanged(oe::ParameterIndex index, bool known);
    // The parameter became confirmed or stopped being so (see parameterConfirmed()).
    void parameterConfirmedChanged(oe::ParameterIndex index, bool confirmed);
    void liveReadingsChanged();
    // See controllerAnswering().
    void controllerAnsweringChanged(bool answering);
    // See rereadPending().
    void rereadPendingChanged(bool pending);
    // The share of failed tries changed (see lineFailedPercent()).
    void lineQualityChanged(int failedPercent);
    // A commit ended: confirmed by its echo, or not (then after the read and the message that follow).
    void writeFinished(oe::ParameterIndex index, bool confirmed);
    // A map load ended with its read-back.
    void mapLoaded(const oe::MapLoadResult &result);
    // A read-again ended.
    void readAgainFinished(const oe::RereadResult &result);
    // Something for the user (see Notice). Raised
    // from the event loop, never from inside the port's receive event (a port takes no receive event
    // while one is handled); the session waits for the handler to return before it goes on, and the
    // poll stays quiet meanwhile, so a modal box may be shown.
    void notice(oe::Session::Notice notice);

private:
    friend class MapLoadSequence;
    friend class ReacquireSequence;
    friend class ReadBackSequence;

    void setState(State state);
    void submit(const Request &request, std::function<void(const RequestResult &)> done);
    // Reads the eight parameters, each starting from unknown.
    void readAll(std::function<void()> then);
    // How a value the controller reported reaches the book.
    enum class Learned { Answer, Check, Echo };
    // The one entry point for what the controller reported (value nullopt: the read got no answer).
    void learn(ParameterIndex index, Learned how, std::optional<qint32> value);
    // Every change of the book goes through here, so its signals follow every change.
    void changeBook(ParameterIndex index, const std::function<void(ParameterBook &)> &change);
    void forgetAll();
    void updateRereadPending();
    // The first parameter without a value and no write on its way.
    std::optional<ParameterIndex> unknownToRead() const;
    // A commit of index decided against its partner's value in the book.
    void decideHeld(ParameterIndex index, qint32 wanted, quint64 id, std::function<void(const HeldCommit &)> decided);
    void setAnswering(bool answering);
    // Counts an ended request towards a silence, or ends one.
    void countAnswer(const Request &request, const RequestResult &result);
    // Starts ReacquireSequence once the controller answers after a silence and the line is quiet.
    void reacquireIfDue();
    // A write that raises no message: commits and map loads report in their own way.
    void writeQuietly(quint8 index, qint32 value, std::function<void(bool)> then);
    // Tells the window from the event loop, never from inside a receive or timer callback; nothing is
    // told for a session that ended meanwhile.
    void notify(std::function<void(Session &)> tell);
    // Raises the notice from the event loop, then runs then unless the session ended meanwhile.
    void postNotice(Notice notice, std::function<void()> then = {});
    void connectFailed(ConnectFailure::Kind kind, const QString &systemText = {});
    void endSession(bool portLost = false);
    // Connected, no sequence, no dialog or message holding it, nothing on the wire.
    bool pollMayRun() const;
    void onStatusPoll();
    void resumePollIfQuiet();
    void onStatusReceived(const DecodedReply &reply);
    void onTryEnded(TryEnd end);
    // One read of the verification pass, or one read again after a silent spell, in the gap after a
    // status poll.
    void verifyNext();
    void verifyRead(ParameterIndex index, std::function<void()> then);
    // A read of index learned as how; one already out for the same parameter, kind and book is joined,
    // not sent again (a Save waiting for confirmed values and a compare opened meanwhile want the same).
    void sharedRead(ParameterIndex index, Learned how, std::function<void()> then);
    // Brings the book to confirmed values where it can: waits for writes on their way, reads once each
    // parameter without a value (while the controller answers; readTried marks those already read)
    // and runs the verification reads due; then runs then. Stops early, running then, once goOn says no.
    void settle(std::function<bool()> goOn, std::bitset<kParameterCount> readTried, std::function<void()> then);
    // Forgets the parameters a sequence is about to change: no answer asked for before counts for them.
    void forgetFor(const QList<ParameterIndex> &indices);
    void onPortLost();

    RequestEngine *m_engine;
    IntervalTimer *m_statusTimer;
    State m_state = State::Idle;
    bool m_connected = false;
    std::optional<std::array<quint8, 3>> m_firmware;
    bool m_pollHeld = false;
    int m_comPort = 0;
    // Counts sessions: a step that comes back after waiting checks it to learn whether the session it
    // belongs to is still the one open.
    quint64 m_sessionId = 0;
    ParameterBook m_book;
    // Counts, per parameter, the times a sequence forgot it: a read or write asked for before (a
    // reset, a map load, a read again queued behind it) may be answered during that sequence, before
    // the controller changed; its answer teaches nothing, the sequence's own reads tell.
    std::array<quint64, kParameterCount> m_bookEpoch{};
    quint64 epochOf(ParameterIndex index) const { return m_bookEpoch[size_t(index)]; }
    bool m_answering = true;
    bool m_reportedRereadPending = false;
    // A silence was counted: the controller is to identify itself and tell all eight again (see
    // ReacquireSequence); what was confirmed before it, to tell another controller by its values.
    bool m_reacquireDue = false;
    bool m_reacquireReading = false; // the reads of that sequence are out
    std::array<std::optional<qint32>, kParameterCount> m_beforeSilence{};
    std::optional<Version> m_version; // as the controller last identified itself
    struct SharedRead {
        bool out = false;
        Learned how = Learned::Answer;
        quint64 epoch = 0;
        QList<std::function<void()>> waiting;
    };
    std::array<SharedRead, kParameterCount> m_sharedReads{};
    // Commits waiting for the end of a write of this parameter (their partner).
    std::array<QList<std::function<void()>>, kParameterCount> m_afterWrite{};
    // Commits of each parameter on their way: an echo tells the value only when no later write follows.
    std::array<int, kParameterCount> m_writesPending{};
    int m_missedAnswers = 0;
    int m_lastMissed = -1; // the last request missed other than a status request (kind and index)
    // Ends the running sequence's steps when the session ends or another sequence takes over.
    CancelSource m_sequenceScope;
    LineQuality m_lineQuality;
    int m_reportedFailedPercent = 0;
    Clock *m_time;
    // Messages posted or being shown: they hold the poll.
    int m_messagesOpen = 0;
    int m_notesPending = 0;
    ConnectFailure m_lastFailure;
    bool m_endedByPortLoss = false;
};

} // namespace oe
