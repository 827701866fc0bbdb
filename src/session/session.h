#pragma once

#include "intervaltimer.h"
#include "linequality.h"
#include "parameterset.h"
#include "parameterverifier.h"
#include "requestengine.h"

#include <QElapsedTimer>
#include "serialport.h"

#include <QObject>

#include <array>
#include <functional>
#include <optional>

namespace oe {

// What a map load sent and what the read-back found: the values as the controller reported them
// (before the window caps anything), which writes the controller confirmed, and which reads got an
// answer at all.
struct MapLoadResult {
    ParameterSet sent;
    ParameterSet readBack;
    std::array<bool, kParameterCount> confirmed{};
    std::array<bool, kParameterCount> answered{};
};

// Why the last connect failed.
struct ConnectFailure {
    enum class Kind {
        None,          // no connect has failed since the last one started
        PortNotOpened, // the port could not be opened: openError and systemText say why
        NoAnswer,      // the port opened, but no identification reply came
    };
    Kind kind = Kind::None;
    int comPort = 0;
    QString device;     // what the port leads to
    PortOpenError openError = PortOpenError::None;
    QString systemText; // the system's own words, for PortNotOpened
    bool bytesReceived = false; // NoAnswer: bytes came, but none made a valid reply
};

// What reading the parameters again found: what the session knew before (the confirmed values, and
// which were known), the values as the controller reported them, and which reads got an answer.
struct RereadResult {
    ParameterSet before;
    std::array<bool, kParameterCount> knownBefore{};
    ParameterSet readBack;
    std::array<bool, kParameterCount> answered{};
};

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

    // Caption entries of the messages the session raises.
    static constexpr int kConnectFailedEntry = 26;
    static constexpr int kMessageTitleEntry = 27;
    static constexpr int kResetNotConfirmedEntry = 28;
    static constexpr int kWriteNotConfirmedEntry = 29;
    static constexpr int kAfterResetEntry = 38;
    static constexpr int kPortLostEntry = 39;
    static constexpr int kNoTitle = -1;

    // Takes ownership of the port.
    explicit Session(SerialPort *port, QObject *parent = nullptr);
    ~Session() override;

    State state() const { return m_state; }
    // True once the controller has identified itself, until the session ends.
    bool Connected() const { return m_connected; }
    RequestEngine *engine() const { return m_engine; }
    // Valid when the connect-failed message is raised, and until the next connect starts.
    const ConnectFailure &lastConnectFailure() const { return m_lastFailure; }
    // The last session ended because its port went away (not by a disconnect); already true when
    // stateChanged reports Idle for it.
    bool endedByPortLoss() const { return m_endedByPortLoss; }
    IntervalTimer *statusTimer() const { return m_statusTimer; } // "Timer_StatusRequest"

    // ---- What the controller holds, as far as this session knows.
    //
    // A parameter is known once the controller told its value this session: an answered read, or the
    // confirming echo of a commit. All eight become unknown when the session ends, when a reset's
    // command goes out and when a map load starts (only the answered reads of their read-back bring
    // them back); one becomes unknown when its commit was not confirmed and the read after it went
    // unanswered. parameterKnownChanged reports every change.
    bool parameterKnown(ParameterIndex index) const { return m_known[size_t(index)]; }
    bool allParametersKnown() const;
    // The values the controller confirmed; an entry means something only while its parameter is
    // known. Multiplier values are capped at 200 % as the window shows them.
    const ParameterSet &confirmedParameters() const { return m_confirmed; }
    // The same values as the controller reported them, the multiplier not capped: what a map file
    // must hold to say what the controller holds.
    const ParameterSet &controllerValues() const { return m_controllerValues; }

    // False once kMissedPollsForSilence status requests in a row went unanswered, true again with the
    // first status reply; true while no session is open. controllerAnsweringChanged reports changes.
    bool controllerAnswering() const { return m_answering; }

    // The working copy of the parameters: what was last read, previewed or committed. A preview is the
    // user's intent, not the controller's value; show and save confirmedParameters() instead. Kept
    // when the session ends. The live readings are those of the last status reply.
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
    // Puts the working copy of a known parameter back to its confirmed value (a preview given up).
    void revertPreview(ParameterIndex index);
    // Reads the parameter unless it is known; then runs with whether it is known, unless the session
    // ends first (from the event loop in either case). Refused (false) unless Connected.
    bool readIfUnknown(ParameterIndex index, std::function<void(bool known)> then);
    // Stores the field and writes it to the controller; writeFinished follows. An echo confirms the
    // value. Without one the parameter is read once: its answer is what the controller holds, or the
    // parameter is unknown; the message (entry 29) comes after that read. Refused unless Connected.
    bool commitParameter(ParameterIndex index, qint32 field);
    // Resets the controller, then reads the eight parameters back. Refused unless Connected.
    bool reset();
    // Writes the eight values in index order, then reads all eight back; mapLoaded follows. Refused
    // unless Connected.
    bool loadMap(const ParameterSet &values);
    // Reads the eight parameters again, as the connect does; readAgainFinished follows. Refused unless
    // Connected.
    bool readAgain();
    // Keeps the poll quiet while the window shows a dialog of its own.
    void holdPoll(bool hold);

    // Tries that heard bytes but no answer over the last minute, in percent (see LineQuality); 0 while idle.
    int lineFailedPercent() { return m_lineQuality.failedPercent(m_clock.elapsed()); }
    bool lineNoisy() { return m_lineQuality.noisy(m_clock.elapsed()); }
    // A verification pass is reading parameters again, or this one.
    bool verifying() const { return m_verifier.running(); }
    bool verifying(ParameterIndex index) const { return m_verifier.pending(index); }

    // The exchanges themselves, queued behind whatever is on the wire. then runs with the outcome
    // unless the session ends first.
    // A read's answer makes the parameter known. WriteParameter raises the message of entry 29 when
    // the write is not confirmed; it leaves what is known as it was.
    void RequestVersion(std::function<void(bool)> then = {});
    void ReadParameter(quint8 index, std::function<void(bool)> then = {},
                       std::optional<qint32> written = std::nullopt);
    void WriteParameter(quint8 index, qint32 value, std::function<void(bool)> then = {});
    void RequestStatus(std::function<void(bool)> then = {});
    void SendReset(std::function<void(bool)> then = {});

signals:
    void stateChanged(oe::Session::State state);
    // The controller identified itself on this port with this firmware version.
    void identified(int comPort, const std::array<quint8, 3> &version);
    // A value read from the controller is now the field and the confirmed value (the multiplier
    // capped at 200 %); the parameter is known.
    void parameterRead(oe::ParameterIndex index, qint32 field);
    // The parameter became known or unknown (see parameterKnown()).
    void parameterKnownChanged(oe::ParameterIndex index, bool known);
    void liveReadingsChanged();
    // See controllerAnswering().
    void controllerAnsweringChanged(bool answering);
    // The share of failed tries changed (see lineFailedPercent()).
    void lineQualityChanged(int failedPercent);
    // A commit ended: confirmed by its echo, or not (then after the read and the message that follow).
    void writeFinished(oe::ParameterIndex index, bool confirmed);
    // A map load ended with its read-back.
    void mapLoaded(const oe::MapLoadResult &result);
    // A read-again ended.
    void readAgainFinished(const oe::RereadResult &result);
    // A message for the user: a caption entry as text and one as title (kNoTitle for none). The
    // session waits for the handler to return before it goes on, so a modal box may be shown.
    void message(int textEntry, int titleEntry);

private:
    void setState(State state);
    void submit(const Request &request, std::function<void(const RequestResult &)> done);
    // Reads the eight parameters; with written, the values just sent, which the read-back believes
    // even outside a slider's range (a map may hold such a value).
    void readAll(std::function<void()> then, const ParameterSet *written = nullptr);
    void setKnown(ParameterIndex index, bool known);
    void forgetAll();
    void setAnswering(bool answering);
    // A write that raises no message: commits and map loads report in their own way.
    void writeQuietly(quint8 index, qint32 value, std::function<void(bool)> then);
    void connectFailed(ConnectFailure::Kind kind, const QString &systemText = {});
    void endSession(bool portLost = false);
    // Connected, no sequence, no dialog holding it, nothing on the wire.
    bool pollMayRun() const;
    void onStatusPoll();
    void resumePollIfQuiet();
    void onStatusReceived(const DecodedReply &reply);
    void onTryEnded(TryEnd end);
    // One read of the verification pass, in the gap after a status poll.
    void verifyNext();
    void onPortLost();

    RequestEngine *m_engine;
    IntervalTimer *m_statusTimer;
    State m_state = State::Idle;
    bool m_connected = false;
    bool m_pollHeld = false;
    int m_comPort = 0;
    // Counts sessions: a step that comes back after waiting checks it to learn whether the session it
    // belongs to is still the one open.
    quint64 m_sessionId = 0;
    std::array<bool, kParameterCount> m_known{};
    ParameterSet m_confirmed;
    ParameterSet m_controllerValues;
    bool m_answering = true;
    int m_missedPolls = 0;
    // The raw values of the reads since the last map load started.
    MapLoadResult m_mapLoad;
    // The read answers the verification pass checks.
    std::array<std::optional<qint32>, kParameterCount> m_verifyBase{};
    ParameterVerifier m_verifier;
    LineQuality m_lineQuality;
    int m_reportedFailedPercent = 0;
    QElapsedTimer m_clock;
    ConnectFailure m_lastFailure;
    bool m_endedByPortLoss = false;
};

} // namespace oe
