#pragma once

#include "controllermodel.h"
#include "randomstream.h"
#include "session.h"
#include "simulatedport.h"
#include "trialfigures.h"
#include "virtualclock.h"

#include <QStringList>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>

namespace oe {

struct TrialOptions {
    quint64 seed = 1;
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
    // ---- the line
    void scheduleNoise();
    void onWrite(const QByteArray &frame);
    void onArrival(const QByteArray &bytes, qint64 origin);
    // ---- invariants
    void check();
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
    SimulatedPort *m_port;
    std::unique_ptr<Session> m_session;
    std::unique_ptr<ControllerModel> m_controller;
    ClockTimer *m_technicianTimer = nullptr;
    ClockTimer *m_noiseTimer = nullptr;
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
};

TrialOutcome runTrial(const TrialOptions &options);

} // namespace oe
