#pragma once

#include "clioptions.h"
#include "cliplan.h"
#include "mapfile.h"
#include "programhost.h"
#include "session.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QObject>

namespace oe {

class CliRunner;
class ProgramRunner;

// Appends line and its newline to the log at path in one write; false with the system's words.
bool appendLogLine(const QString &path, const QJsonObject &line, QString *error);

// One port of `program`: its own session, one controller after another. The steps of a controller:
// identify (the connect reads the eight values), back up, write the values that differ from the map
// in the session's write order, read all eight back and compare; then, with --wait, wait until it has
// been silent for kGoneAfterSilence and the next one identifies.
class ProgramUnit : public QObject
{
    Q_OBJECT
public:
    enum class Step {
        Identifying, // the connect: identification and the eight reads
        Writing,     // the map's values going out, then the read-back
        Present,     // done with this controller; polling until it goes
        Absent,      // no controller answers: trying again now and then (--wait)
        Stopped,
    };

    // A controller counts as gone after this long without an answer: a hiccup of a status or two is
    // not an unplugged unit. One that answers again after a shorter silence is identified again and
    // is the next only when its identity (firmware, the eight values) differs from the last one's.
    static constexpr qint64 kGoneAfterSilenceMs = 5000;

    ProgramUnit(ProgramRunner *owner, const CliPort &port);

    void start();
    // Ctrl+C: stops at once unless values are being written; a write finishes with its read-back.
    void interrupt();
    // A second Ctrl+C: stops at once, whatever runs.
    void stopNow();

    Step step() const { return m_step; }
    const CliPort &port() const { return m_port; }
    QString name() const { return m_port.text; }
    // A line on what the port was doing when the run ended: as the JSON keeps it, and as the run's
    // language says it.
    QString stateText() const { return m_stateText; }
    QString stateWords() const { return m_stateWords; }
    // The exit status this port asks for: its last controller's, or why there was none.
    CliExit exitCode() const { return m_exitCode; }
    int units() const { return m_units; }

signals:
    void stopped();

private:
    void connectNow();
    void onStateChanged(Session::State state);
    void onNotice(Session::Notice notice);
    void onIdentified();
    void onReadBack();
    // What each write of the plan came to, in the run's words.
    QString planText() const;
    // The end of one controller: its log line, the counts, and what comes next.
    void unitDone(const QString &verdict, CliExit code, const QString &why = {}, const QJsonObject &extra = {});
    void waitForNext();
    void watchPresence();
    void retryLater(int ms);
    // state: the JSON's words; words: the text line's (empty: the same).
    void stop(const QString &state, const QString &words = {});
    void stop(int entry);

    ProgramRunner *m_owner;
    ProgramHost *m_cli;
    CliPort m_port;
    Session *m_session = nullptr;
    Step m_step = Step::Stopped;
    bool m_stopAfterStep = false;
    bool m_saidAbsent = false;
    int m_units = 0;
    CliExit m_exitCode = CliExit::Done;
    QString m_stateText;
    QString m_stateWords;

    // The controller in hand.
    QElapsedTimer m_clock;
    QString m_firmware;
    Session::Version m_firstVersion{};
    QString m_backup;
    ParameterSet m_before;
    CliPlanWriter m_plan;
    // The last controller done with on this port, and when it last answered: a controller that
    // answers after a short silence with the same identity is that one back.
    QString m_lastFirmware;
    std::optional<ParameterSet> m_lastValues;
    QElapsedTimer m_lastAnswer;
    // The silence before the controller now being identified answered again (-1: none measured).
    qint64 m_silenceMs = -1;
};

// `program FILE -p PORT [-p PORT …] [--wait] [--log FILE]`: a ProgramUnit per port, side by side in
// the one event loop (each session waits on its own port; none blocks another).
class ProgramRunner : public QObject
{
    Q_OBJECT
public:
    ProgramRunner(CliRunner *cli, const MapValues &values);

    void start();
    void interrupt();

    CliRunner *cli() const { return m_cli; }
    ProgramHost *host() const;
    const MapValues &values() const { return m_values; }
    bool waitMode() const;
    // A controller's end: its JSON line to stdout (with --json) and to the log, its line on stderr.
    void report(ProgramUnit *unit, const QJsonObject &line, const QString &verdict, CliExit code);

private:
    void onUnitStopped();
    void finishRun();

    CliRunner *m_cli;
    MapValues m_values;
    QList<ProgramUnit *> m_units;
    bool m_interrupted = false;
    int m_interrupts = 0;
    int m_programmed = 0;
    int m_failed = 0;
    int m_interruptedUnits = 0;
    QString m_logError;  // the first failure to write the log
    bool m_anySent = false; // a write went to some controller
    bool m_finished = false;

    friend class ProgramUnit;
};

} // namespace oe
