#pragma once

#include "captiontable.h"
#include "clioptions.h"
#include "cliwords.h"
#include "consoledevice.h"
#include "mapfile.h"
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
class CliRunner : public QObject
{
    Q_OBJECT
public:
    // ask: the question's answer; false for no, and for an interrupted read.
    using Ask = std::function<bool(const QString &question)>;

    CliRunner(const CliOptions &options, const QString &programFolder, Ask ask, QObject *parent = nullptr);
    ~CliRunner() override;

    void start();
    // Ctrl+C: ends the session at once and reports what had gone out.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    friend class ProgramRunner;
    friend class ProgramUnit;
    enum class Phase { Connecting, Ready, Sequence, Done };

    QString caption(int entry) const;
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
    QJsonArray parametersJson() const;
    void printParameters();
    void loadCaptions();
    bool checkInput();

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
    bool sameValue(ParameterIndex index, qint32 held, qint32 wanted) const;
    QString mapsFolder() const;
    QStringList unknownParameters() const;
    MapValues heldValues() const { return heldValues(*m_session); }
    static MapValues heldValues(const Session &session);
    void finishWatch();
    void listPorts();
    void onMapLoaded(const MapLoadResult &result);
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
    void err(const QString &line);

    CliOptions m_options;
    QString m_programFolder;
    Ask m_ask;
    CaptionTable m_captions;
    bool m_haveCaptions = false;
    ConsoleDevice m_outDevice;
    ConsoleDevice m_errDevice;
    QTextStream m_out;
    QTextStream m_err;
    QJsonObject m_json;
    Phase m_phase = Phase::Connecting;

    Session *m_session = nullptr;
    ProgramRunner *m_program = nullptr;
    QString m_firmware;
    Session::Version m_firstVersion{};

    MapValues m_mapValues{};
    QList<MapKeyNote> m_mapKeyNotes;
    MapCheck m_mapCheck;
    // set: the values as the rule took them, in the order given.
    QList<std::pair<ParameterIndex, qint32>> m_setValues;
    bool m_resetAcknowledged = true;

    QString m_stepsWhat;
    QStringList m_steps;
    int m_stepsStarted = 0;

    QSet<int> m_unanswered;
    QList<std::pair<ParameterIndex, qint32>> m_setOrder;
    int m_setOutstanding = 0;
};

} // namespace oe
