#pragma once

#include "controllermodel.h"
#include "progresswatch.h"
#include "randomstream.h"
#include "session.h"
#include "simulatedport.h"
#include "trialfigures.h"
#include "virtualclock.h"
#include "wirewatch.h"

#include <QStringList>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace oe {

// Invariants, and the model behaviour only they can judge, that can be switched. On by default are
// those the program holds; one it is known to break waits here, off, until its mend is in.
enum class Check {
    PairsEveryWrite,   // no write leaves a pair crossed that was in order (map loads too)
    KnownAfresh,       // the controller swapped in a silence; nothing known again until it identified
                       // itself and the values were confirmed afresh
    ProgressUnknown,   // no parameter left unknown while the controller answers
    BoxesFromHandlers, // the technician opens boxes from the session's signals, not only its messages
    CliRunners,        // after the technician's time, one oe-cli command (set, load or program) on the
                       // same controller
    CliHeldValue,      // oe-cli writes only the values given, never one held to its partner's
    CliBookWriting,    // oe-cli's writes mark the book (a parameter being written is not known)
    Count
};
struct TrialChecks {
    std::array<bool, size_t(Check::Count)> on{};
    bool operator[](Check check) const { return on[size_t(check)]; }
    static TrialChecks defaults();
};
QString checkName(Check check);
std::optional<Check> checkFromName(const QString &name);

struct TrialOptions {
    quint64 seed = 1;
    TrialChecks checks = TrialChecks::defaults();
    qint64 virtualMs = 60000;
    // Draws from here instead of the seed's streams (the fuzzer's bytes).
    std::shared_ptr<RandomSource> source;
};

struct TrialOutcome {
    bool ok = true;
    QString invariant;
    QString detail;
    qint64 atMs = 0;
    QStringList lastEvents; // with their virtual times
    TrialFigures figures;
};

// One session of a technician with a controller on a bad line, in virtual time, through the real
// Session and RequestEngine: the invariants are checked after every event, and the first one broken
// ends the run.
class Trial
{
public:
    explicit Trial(const TrialOptions &options);
    ~Trial();
    TrialOutcome run();

private:
    // ---- the technician
    void scheduleTechnician();
    void technicianActs();
    void commit(ParameterIndex index, qint32 field);
    ParameterSet drawMap();
    void save();
    void onMessage(int textEntry, int titleEntry);
    // A modal box: its own event loop until the technician closes it. why names what opened it.
    void openBox(const char *why, qint64 a = 0);
    // A slider held while the session goes on; its release commits what the knob shows.
    void drag(ParameterIndex index, qint32 field);
    void release();
    // ---- oe-cli: after the technician's time, one of its writing commands on the same controller
    void runCli();
    QStringList drawCliCommand(const QString &mapPath);
    // ---- the line
    void attachPort(SimulatedPort *port);
    void watchSession(Session *session, bool window);
    void scheduleNoise();
    void onWrite(const QByteArray &frame);
    void onArrival(const QByteArray &bytes, qint64 origin);
    // ---- invariants
    void check();
    void checkAfresh();
    void onStored(int index, const ControllerModel::Values &before);
    void fail(const QString &invariant, const QString &detail);
    void log(const char *what, qint64 a = 0, qint64 b = 0, const QByteArray &bytes = {});
    bool truthHolds(QString *detail) const;
    // An answer the engine took that the line made (see TrialFigures::lineMadeAnswers).
    void countLineMade(const Request &request, const DecodedReply &reply);
    bool lineMadeTwice(int index, qint32 value) const;

    TrialOptions m_options;
    TrialFigures m_figures;
    VirtualClock m_clock;
    RandomStream m_technician;
    RandomStream m_line;
    // Gestures and boxes from signal handlers, apart so that they leave the other draws alone.
    RandomStream m_gestures;
    RandomStream m_cli;
    bool m_inCli = false;
    SimulatedPort *m_port;
    // The window's session, and the one the invariants judge (oe-cli's while a command runs).
    std::unique_ptr<Session> m_windowSession;
    Session *m_session = nullptr;
    std::unique_ptr<ControllerModel> m_controller;
    ClockTimer *m_technicianTimer = nullptr;
    ClockTimer *m_noiseTimer = nullptr;
    ClockTimer *m_releaseTimer = nullptr;
    ClockTimer *m_pullTimer = nullptr;
    QObject m_timers;

    bool m_failed = false;
    TrialOutcome m_outcome;
    // Kept as they come and put into words only when a run fails: the simulation's speed is its reach.
    struct Event {
        qint64 atMs;
        const char *what; // %1 and %2 take a and b
        qint64 a;
        qint64 b;
        QByteArray bytes; // shown in hex after the text
    };
    std::deque<Event> m_events;

    // What the technician asked to be written since the port opened.
    std::set<std::pair<int, quint16>> m_intents;
    quint64 m_commitNumber = 0;
    bool m_boxOpen = false;
    int m_noisePerMille = 0;

    // The wire, counted per opening of the port.
    int m_opensSeen = 0;
    qint64 m_framesWritten = 0;
    qint64 m_triesEnded = 0;
    // The frame whose try saw other bytes than its one clean reply, and the one whose clean reply came.
    qint64 m_dirtyFrame = -1;
    qint64 m_cleanSeen = -1;
    std::array<bool, kParameterCount> m_checkPair{};
    // What came in during the open try, and whose each byte is (see SimulatedPort::deliver).
    QByteArray m_tryBytes;
    QList<qint64> m_tryOrigins;
    // Answers the line made, by parameter and value.
    std::map<std::pair<int, qint32>, int> m_lineMade;
    // Whether the last echo taken for each parameter was made by the line.
    std::array<bool, kParameterCount> m_echoLineMade{};
    qint64 m_requestStartedAt = -1;
    std::optional<qint64> m_quietSince;

    WireWatch m_wire;
    ProgressWatch m_progress;
    bool m_portWasOpen = false;
    // The session counted the controller as not answering and it has not identified itself since.
    bool m_identifyDue = false;
    // The controller was swapped and the session has not counted it silent since: nothing can know.
    bool m_swapUnnoticed = false;
    // The slider the technician holds, and where its knob is.
    std::optional<std::pair<ParameterIndex, qint32>> m_held;
    // oe-cli's writes that left the book as it was: the value the book kept, per parameter.
    std::array<std::optional<qint32>, kParameterCount> m_unmarkedWrite{};
};

TrialOutcome runTrial(const TrialOptions &options);

} // namespace oe
