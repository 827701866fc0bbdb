#pragma once

#include "captiontable.h"
#include "cliplan.h"
#include "clioptions.h"
#include "cliwords.h"
#include "consoledevice.h"
#include "mapfile.h"
#include "programhost.h"
#include "restorepoints.h"
#include "session.h"
#include "valuerule.h"
#include "valuetexts.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QTextStream>

#include <functional>

namespace oe {

class ProgramRunner;

// One oe-cli command on the window's own session: the same engine, tries, time-outs and rules, no
// widget. Results go to stdout (text or one JSON document), progress and questions to stderr.
class CliRunner : public QObject, private ProgramHost
{
    Q_OBJECT
public:
    // ask: shows the prompt and returns the answer as typed; nothing for an interrupted read.
    using Ask = std::function<std::optional<QByteArray>(const QString &prompt)>;

    CliRunner(const CliOptions &options, const QString &programFolder, Ask ask, QObject *parent = nullptr);
    ~CliRunner() override;

    void start();
    // Ctrl+C: ends the session at once and reports what had gone out.
    void interrupt();

    // Makes the session of a port (the system's serial port on the steady clock unless given): the
    // simulation runs the commands on its own port and clock, and keeps their words to itself.
    using SessionFactory = std::function<Session *(const CliPort &port, QObject *parent)>;
    void runOn(SessionFactory factory, QIODevice *out, QIODevice *err);
    // The controller's values as the session's book holds them, in map order.
    static MapValues heldValues(const Session &session);

signals:
    void finished(int exitCode);

private:
    friend class ProgramRunner;

    // ProgramHost: what each port of `program` takes from here.
    QString programFolder() const override { return m_programFolder; }
    bool backupFirst() const override { return !m_options.noBackup; }
    QString fileProblemWords(const FileProblem &problem) const override;
    QString connectFailureWords(const ConnectFailure &failure, const CliPort &port) const override
    {
        return connectFailureText(failure, port.text, portText(port));
    }
    enum class Phase { Connecting, Ready, Sequence, Done };

    Session *makeSession(const CliPort &port, QObject *parent) override;
    QString caption(int entry) const override;
    QString parameterCaption(ParameterIndex index) const;
    QString portText() const;
    // A map file that could not be saved: the window's words, the file and why.
    QString notSavedText(const QString &path, const FileProblem &problem) const;
    QString portText(const CliPort &port) const;
    QString valueText(ParameterIndex index) const;
    // The rule's words as oe-cli says them: parameters by their keys, values in the controller's units.
    QString verdictText(const ValueVerdict &verdict) const;
    bool checkLoadFile(bool writes);
    bool refuseBeyondSlider(const Session::ParameterMask &written);
    bool checkSetValues();
    bool checkPlan(const ParameterSet &wanted, const ParameterMask &write);
    KnownValues heldKnown() const;
    QJsonArray parametersJson() const;
    void printParameters();
    void loadCaptions();
    bool checkInput();
    // The question with the language's yes/no; true only for that language's yes.
    bool confirm(const QString &question);

    QJsonObject connectFailureJson(const ConnectFailure &failure) const;
    QString connectFailureText(const ConnectFailure &failure, const QString &port, const QString &shown) const;
    void onConnected();
    void onNotice(Session::Notice notice);
    void onRequestStarted();
    void runInfo();
    void runSave();
    void runLoad();
    void runSet();
    void runReset();
    void runWatch();
    void runVerify();
    void runBackup();
    bool backupBeforeWriting(RestoreCause cause);
    bool sameValue(ParameterIndex index, qint32 held, qint32 wanted) const override;
    QString mapsFolder() const override;
    QStringList unknownParameters() const;
    MapValues heldValues() const { return heldValues(*m_session); }
    void finishWatch();
    void listPorts();
    // Runs the plan from the values held to wanted (the marked ones), then reads the marked ones back
    // and runs then once they are verified; a write not echoed as sent ends the command.
    void writePlanned(const QString &what, const ParameterSet &wanted, const ParameterMask &write,
                      std::function<void()> then);
    void reportLoad();
    void verifySet();
    void verifyConnect();
    void finishReset();

    // Progress on stderr: the steps of a sequence, counted as the engine takes each request.
    void beginSteps(const QString &what, const QStringList &steps);
    QJsonObject stepsReport() const;
    QString stepsReportText() const;

    void finish(CliExit code, const QString &error = {});
    void print(QTextStream &stream, const QString &text);
    // A result line; none with --json.
    void out(const QString &line);
    // One JSON object on one line (watch --json, program).
    void outJson(const QJsonObject &object);
    void err(const QString &line) override;

    CliOptions m_options;
    QString m_programFolder;
    Ask m_ask;
    CaptionTable m_captions;
    QString m_languageCode; // ITA or ENG: the words printed, and the answers taken
    bool m_haveCaptions = false;
    ConsoleDevice m_outDevice;
    ConsoleDevice m_errDevice;
    QTextStream m_out;
    QTextStream m_err;
    QJsonObject m_json;
    Phase m_phase = Phase::Connecting;

    Session *m_session = nullptr;
    SessionFactory m_sessionFactory;
    ProgramRunner *m_program = nullptr;
    QString m_firmware;
    Session::Version m_firstVersion{};

    MapValues m_mapValues{};
    QList<MapKeyNote> m_mapKeyNotes;
    MapCheck m_mapCheck;
    // set: the values as the rule took them, in the order given.
    QList<std::pair<ParameterIndex, qint32>> m_setValues;
    bool m_resetAcknowledged = true;
    // The restore point this run wrote: older ones are pruned once the action it belongs to goes out.
    QString m_restorePoint;

    QString m_stepsWhat;
    QStringList m_steps;
    int m_stepsStarted = 0;

    // set and load: the writes in the session's order, and what each came to.
    CliPlanWriter m_plan;
};

} // namespace oe
