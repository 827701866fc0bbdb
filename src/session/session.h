#pragma once

#include "intervaltimer.h"
#include "parameterset.h"
#include "requestengine.h"
#include "serialport.h"

#include <QObject>

#include <array>
#include <functional>

namespace oe {

// What a map load sent and what the read-back found: the values as the controller reported them
// (before the window caps anything), and which reads got an answer at all.
struct MapLoadResult {
    ParameterSet sent;
    ParameterSet readBack;
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

// The session with the controller, without any widget: the connection state, the parameters as the
// window holds them, the live readings, and every exchange the window asks for: connect, disconnect,
// the status poll, parameter writes, reset and map loads. Requests go through one RequestEngine, so
// exactly one is on the wire at a time and each goes out once, in the order asked.
//
// While a sequence runs (the connect, a reset's read-back, a map load) the session is not Connected,
// so the window takes no parameter input and the poll stays quiet; a disconnect still ends it at once.
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
    IntervalTimer *statusTimer() const { return m_statusTimer; } // "Timer_StatusRequest"

    // Whether the controller has told this session the parameter's value. A slider whose value was
    // never read stays out of reach: a release would write whatever it happens to show.
    bool parameterKnown(ParameterIndex index) const { return m_known[size_t(index)]; }

    // The parameters as last read, previewed or committed, and the live readings of the last status
    // reply. They keep their values when the session ends.
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
    // Stores the field and writes it to the controller; writeFinished follows. Refused unless
    // Connected.
    bool commitParameter(ParameterIndex index, qint32 field);
    // Resets the controller, then reads the eight parameters back. Refused unless Connected.
    bool reset();
    // Writes the eight values in index order, then reads all eight back; mapLoaded follows. Refused
    // unless Connected.
    bool loadMap(const ParameterSet &values);
    // Keeps the poll quiet while the window shows a dialog of its own.
    void holdPoll(bool hold);

    // The exchanges themselves, queued behind whatever is on the wire. then runs with the outcome
    // unless the session ends first.
    void RequestVersion(std::function<void(bool)> then = {});
    void ReadParameter(quint8 index, std::function<void(bool)> then = {});
    void WriteParameter(quint8 index, qint32 value, std::function<void(bool)> then = {});
    void RequestStatus();
    void SendReset(std::function<void(bool)> then = {});

signals:
    void stateChanged(oe::Session::State state);
    // The controller identified itself on this port with this firmware version.
    void identified(int comPort, const std::array<quint8, 3> &version);
    // A value read from the controller is now the field (the multiplier capped at 200 %).
    void parameterRead(oe::ParameterIndex index, qint32 field);
    void liveReadingsChanged();
    // A commit's write ended, confirmed or not (the message for "not" is raised before).
    void writeFinished(oe::ParameterIndex index, bool confirmed);
    // A map load ended with its read-back.
    void mapLoaded(const oe::MapLoadResult &result);
    // A message for the user: a caption entry as text and one as title (kNoTitle for none). The
    // session waits for the handler to return before it goes on, so a modal box may be shown.
    void message(int textEntry, int titleEntry);

private:
    void setState(State state);
    void submit(const Request &request, std::function<void(const RequestResult &)> done);
    void readAll(std::function<void()> then);
    void connectFailed(ConnectFailure::Kind kind, const QString &systemText = {});
    void endSession();
    // Connected, no sequence, no dialog holding it, nothing on the wire.
    bool pollMayRun() const;
    void onStatusPoll();
    void resumePollIfQuiet();
    void onStatusReceived(const DecodedReply &reply);
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
    // The raw values of the reads since the last map load started.
    MapLoadResult m_mapLoad;
    ConnectFailure m_lastFailure;
};

} // namespace oe
