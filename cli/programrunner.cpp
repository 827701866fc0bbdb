#include "programrunner.h"

#include "clirunner.h"
#include "clitexts.h"
#include "maptexts.h"
#include "portpath.h"
#include "restorepoints.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

#include <memory>

namespace oe {

namespace {

// After a look found no controller: a port that opened is tried again soon (the next controller is
// being plugged in), one that did not open less often.
constexpr int kRetryNoAnswerMs = 250;
constexpr int kRetryNotOpenedMs = 1000;
constexpr int kPresencePollMs = 500;

QJsonObject valuesJson(const ParameterSet &values)
{
    QJsonObject json;
    for (int i = 0; i < kParameterCount; ++i)
        json.insert(paramKey(ParameterIndex(i)), values[ParameterIndex(i)]);
    return json;
}

// A verdict as text lines say it, in the run's language; the JSON keeps the verdict itself.
QString verdictWord(const ProgramHost &cli, const QString &verdict)
{
    const int entry = cliVerdictEntry(verdict);
    return entry ? cli.caption(entry) : verdict;
}

} // namespace

bool appendLogLine(const QString &path, const QJsonObject &line, QString *error)
{
    QFile log(path);
    // Unbuffered: the line goes out in one write, so runs sharing a log never interleave within one.
    if (!log.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = log.errorString();
        return false;
    }
    QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    // A line a full disk cut short has no newline: this one starts on a line of its own.
    char last = '\n';
    if (const qint64 size = log.size(); size > 0 && log.seek(size - 1))
        log.getChar(&last);
    if (last != '\n')
        bytes.prepend('\n');
    if (log.write(bytes) != bytes.size()) {
        *error = log.errorString();
        return false;
    }
    return true;
}

ProgramUnit::ProgramUnit(ProgramRunner *owner, const CliPort &port)
    : QObject(owner), m_owner(owner), m_cli(owner->host()), m_port(port)
{
}

void ProgramUnit::start()
{
    m_session = m_cli->makeSession(m_port, this);
    connect(m_session, &Session::stateChanged, this, &ProgramUnit::onStateChanged);
    connect(m_session, &Session::notice, this, &ProgramUnit::onNotice);
    connect(m_session, &Session::identified, this, [this](int, const std::array<quint8, 3> &version) {
        m_firstVersion = version;
    });
    connectNow();
}

void ProgramUnit::connectNow()
{
    m_step = Step::Identifying;
    m_firmware.clear();
    m_backup.clear();
    m_plan = CliPlanWriter{};
    m_clock.start();
    m_session->connectTo(m_port.device.isEmpty() ? m_port.comPort : 1);
}

void ProgramUnit::retryLater(int ms)
{
    QTimer::singleShot(ms, this, [this] {
        if (m_step == Step::Absent)
            connectNow();
    });
}

void ProgramUnit::onStateChanged(Session::State state)
{
    if (state != Session::State::Connected || m_step != Step::Identifying)
        return;
    // Nothing goes out while a controller is programmed but what its steps send.
    m_session->holdPoll(true);
    // The identification and every value are taken once two answers agree.
    m_session->RequestVersionVerified({m_firstVersion}, [this](std::optional<Session::Version> version) {
        if (m_step != Step::Identifying)
            return;
        if (!version) {
            unitDone(QStringLiteral("no-answer"), CliExit::NoAnswer, m_cli->caption(CliWord::NoIdentification));
            return;
        }
        m_firmware = versionText(*version);
        m_session->verifyNow([this] {
            if (m_step == Step::Identifying)
                onIdentified();
        });
    });
}

void ProgramUnit::onNotice(Session::Notice notice)
{
    if (m_step == Step::Stopped)
        return;
    if (notice == Session::Notice::ConnectFailed) {
        const ConnectFailure &failure = m_session->lastConnectFailure();
        const bool notOpened = failure.kind == ConnectFailure::Kind::PortNotOpened;
        const QString why = m_cli->connectFailureWords(failure, m_port);
        if (m_owner->waitMode() && !m_owner->m_interrupted) {
            // No controller yet: the technician is plugging the next one in.
            if (!m_saidAbsent)
                m_cli->err(m_cli->caption(CliWord::UnitWaiting).arg(name(), why));
            m_saidAbsent = true;
            m_step = Step::Absent;
            retryLater(notOpened ? kRetryNotOpenedMs : kRetryNoAnswerMs);
            return;
        }
        unitDone(notOpened ? QStringLiteral("port-not-opened") : QStringLiteral("no-answer"),
                 notOpened ? CliExit::PortNotOpened : CliExit::NoAnswer, why);
        return;
    }
    if (notice == Session::Notice::PortLost) {
        if (m_step == Step::Present || (m_step == Step::Identifying && m_owner->waitMode())) {
            m_step = Step::Absent;
            retryLater(kRetryNotOpenedMs);
            return;
        }
        unitDone(QStringLiteral("port-lost"), CliExit::NoAnswer, m_cli->caption(Caption::PortLost));
        return;
    }
    if (notice == Session::Notice::WriteNotConfirmed)
        return; // the unit's line names the write and what the controller holds
    m_cli->err(QStringLiteral("%1: %2").arg(name(), m_cli->caption(noticeEntry(notice))));
}

void ProgramUnit::onIdentified()
{
    m_saidAbsent = false;
    m_before = m_session->controllerValues();
    QStringList unknown;
    for (int i = 0; i < kParameterCount; ++i) {
        if (!m_session->parameterKnown(ParameterIndex(i)))
            unknown << paramKey(ParameterIndex(i));
    }
    // The controller just done with, back after a short silence (a loose plug, a hiccup of the
    // line): not the next one, and not counted again.
    const qint64 silence = m_silenceMs >= 0 ? m_silenceMs : m_lastAnswer.isValid() ? m_lastAnswer.elapsed() : -1;
    m_silenceMs = -1;
    if (unknown.isEmpty() && m_lastValues && silence >= 0 && silence < kGoneAfterSilenceMs
        && m_firmware == m_lastFirmware && m_before == *m_lastValues) {
        m_cli->err(m_cli->caption(CliWord::UnitSame).arg(name(), m_firmware));
        m_lastAnswer.start();
        m_step = Step::Present;
        watchPresence();
        return;
    }
    m_cli->err(m_cli->caption(CliWord::UnitIdentified).arg(name(), m_firmware));
    if (!unknown.isEmpty()) {
        unitDone(QStringLiteral("not-read"), CliExit::NoAnswer,
                 m_cli->caption(CliWord::UnitNotRead).arg(unknown.join(QStringLiteral(", "))));
        return;
    }
    const MapValues &values = m_owner->values();
    ParameterSet target;
    ParameterMask write{};
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        target[index] = values[size_t(i)];
        write[size_t(i)] = !m_cli->sameValue(index, m_before[index], values[size_t(i)]);
    }
    // The session's order: every pair in order after each single write.
    KnownValues held{};
    for (int i = 0; i < kParameterCount; ++i)
        held[size_t(i)] = m_before[ParameterIndex(i)];
    const WritePlan plan = planWrites(held, target, write);
    if (!plan.ok()) {
        unitDone(QStringLiteral("refused"), CliExit::InvalidInput,
                 m_cli->caption(CliWord::PairNoOrder).arg(paramKey(plan.index), paramKey(plan.partner)));
        return;
    }
    if (plan.writes.isEmpty()) {
        unitDone(QStringLiteral("programmed"), CliExit::Done);
        return;
    }
    if (m_cli->backupFirst()) {
        const RestorePointWrite backup = writeRestorePoint(m_cli->mapsFolder(), RestoreCause::Program,
                                                           CliRunner::heldValues(*m_session), QDateTime::currentDateTime(),
                                                           {m_port.text, m_firmware});
        if (!backup.ok) {
            unitDone(QStringLiteral("no-backup"), CliExit::InvalidInput,
                     m_cli->caption(CliWord::UnitNoBackupIn)
                         .arg(restorePointFolder(m_cli->mapsFolder()), m_cli->fileProblemWords(backup.problem)));
            return;
        }
        m_backup = backup.path;
    }
    m_step = Step::Writing;
    m_cli->err(m_cli->caption(CliWord::UnitWriting).arg(name()).arg(plan.writes.size()));
    m_plan.start(m_session, plan, {}, [this] {
        if (m_step != Step::Writing)
            return;
        const WritePlanResult &result = m_plan.result();
        if (result.count(WriteOutcome::Unanswered) > 0) {
            unitDone(QStringLiteral("unanswered"), CliExit::NoAnswer,
                     QStringLiteral("%1: %2").arg(m_cli->caption(CliWord::UnansweredStop), planText()));
            return;
        }
        if (result.count(WriteOutcome::Refused) > 0) {
            unitDone(QStringLiteral("refused"), CliExit::ReadBackDiffers,
                     QStringLiteral("%1: %2").arg(m_cli->caption(CliWord::RefusedStop), planText()));
            return;
        }
        // All eight are read back and told twice alike before the verdict.
        auto left = std::make_shared<int>(kParameterCount);
        for (int i = 0; i < kParameterCount; ++i) {
            m_session->ReadParameter(quint8(i), [this, left](bool) {
                if (--*left == 0 && m_step == Step::Writing)
                    m_session->verifyNow([this] { onReadBack(); });
            });
        }
    });
}

QString ProgramUnit::planText() const
{
    return planResultText(m_plan.plan(), m_plan.result(), [this](int entry) { return m_cli->caption(entry); });
}

void ProgramUnit::onReadBack()
{
    if (m_step != Step::Writing)
        return;
    const MapValues &values = m_owner->values();
    QJsonObject after, confirmed;
    QStringList unanswered, differing;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const auto now = m_session->controllerValue(index);
        const bool matches = now && m_cli->sameValue(index, *now, values[size_t(i)]);
        after.insert(paramKey(index), now ? QJsonValue(*now) : QJsonValue());
        confirmed.insert(paramKey(index), matches);
        if (!now)
            unanswered << paramKey(index);
        else if (!matches)
            differing << paramKey(index);
    }
    const QJsonObject extra{{QStringLiteral("after"), after}, {QStringLiteral("confirmed"), confirmed}};
    if (!unanswered.isEmpty())
        unitDone(QStringLiteral("unanswered"), CliExit::NoAnswer,
                 m_cli->caption(CliWord::ReadBackUnanswered).arg(unanswered.join(QStringLiteral(", "))), extra);
    else if (!differing.isEmpty())
        unitDone(QStringLiteral("differs"), CliExit::ReadBackDiffers,
                 m_cli->caption(CliWord::HoldsOtherValues).arg(differing.join(QStringLiteral(", "))), extra);
    else
        unitDone(QStringLiteral("programmed"), CliExit::Done, {}, extra);
}

void ProgramUnit::unitDone(const QString &verdict, CliExit code, const QString &why, const QJsonObject &extra)
{
    ++m_units;
    m_exitCode = code;
    const bool identified = !m_firmware.isEmpty() && verdict != QLatin1String("no-answer");
    QJsonObject line{{QStringLiteral("time"), isoTime(QDateTime::currentDateTime())},
                     {QStringLiteral("port"), m_port.text},
                     {QStringLiteral("device"), m_port.device.isEmpty()
                                                    ? resolvePortDevice(m_port.comPort, m_cli->programFolder())
                                                    : m_port.device},
                     {QStringLiteral("unit"), m_units},
                     {QStringLiteral("firmware"), identified ? QJsonValue(m_firmware) : QJsonValue()},
                     {QStringLiteral("verdict"), verdict},
                     {QStringLiteral("seconds"), double(m_clock.elapsed() / 10) / 100.0}};
    if (identified && verdict != QLatin1String("not-read"))
        line.insert(QStringLiteral("before"), valuesJson(m_before));
    if (m_plan.started()) {
        // What each write came to: written means echoed with the value sent; the write out when the
        // run ended is unanswered.
        m_plan.abandon();
        const WritePlanResult &result = m_plan.result();
        line.insert(QStringLiteral("writes"), planResultJson(m_plan.plan(), result));
        for (const WriteOutcome outcome : {WriteOutcome::Written, WriteOutcome::Refused, WriteOutcome::Unanswered,
                                           WriteOutcome::NotSent}) {
            QJsonArray names;
            for (const PlannedWrite &w : m_plan.plan().writes) {
                if (result.outcome[size_t(w.index)] == outcome)
                    names.append(paramKey(w.index));
            }
            line.insert(planCountKey(outcome), names);
        }
    } else if (identified && verdict != QLatin1String("not-read")) {
        line.insert(QStringLiteral("written"), QJsonArray());
    }
    if (verdict == QLatin1String("programmed") && !extra.contains(QStringLiteral("after"))) {
        // Nothing differed: the values the controller told are the map's.
        QJsonObject confirmed;
        for (int i = 0; i < kParameterCount; ++i)
            confirmed.insert(paramKey(ParameterIndex(i)), true);
        line.insert(QStringLiteral("after"), valuesJson(m_before));
        line.insert(QStringLiteral("confirmed"), confirmed);
    }
    for (auto it = extra.begin(); it != extra.end(); ++it)
        line.insert(it.key(), it.value());
    if (!m_backup.isEmpty())
        line.insert(QStringLiteral("backup"), m_backup);
    if (!why.isEmpty())
        line.insert(QStringLiteral("error"), why);
    m_owner->report(this, line, verdict, code);
    // The controller just done with: one that answers again after a short silence with these values
    // is the same.
    m_lastFirmware = m_firmware;
    m_lastValues.reset();
    if (m_session->allParametersKnown())
        m_lastValues = m_session->controllerValues();
    m_lastAnswer.start();

    if (code == CliExit::Interrupted) {
        stop(why);
    } else if (m_stopAfterStep || m_owner->m_interrupted) {
        stop(cliWordFallback(CliWord::StoppedAfter).arg(verdict),
             m_cli->caption(CliWord::StoppedAfter).arg(verdictWord(*m_cli, verdict)));
    } else if (m_owner->waitMode()) {
        waitForNext();
    } else {
        const bool programmed = verdict == QLatin1String("programmed");
        stop(programmed ? verdict : QStringLiteral("%1: %2").arg(verdict, why),
             programmed ? verdictWord(*m_cli, verdict) : QStringLiteral("%1: %2").arg(verdictWord(*m_cli, verdict), why));
    }
}

void ProgramUnit::waitForNext()
{
    if (m_session->state() != Session::State::Connected) {
        m_step = Step::Absent;
        m_saidAbsent = true;
        retryLater(kRetryNotOpenedMs);
        return;
    }
    m_step = Step::Present;
    m_cli->err(m_cli->caption(CliWord::UnitNext).arg(name()));
    watchPresence();
}

// A status request every half second while the controller is there. It counts as gone after
// kGoneAfterSilenceMs without an answer: one status unanswered in its tries is a hiccup of the line
// as often as an unplugged unit. One that answers after a shorter silence may have been swapped
// quickly: it is identified again, and its identity tells. The session's own judgement (two
// unanswered in a row, then silent) is for the readings.
void ProgramUnit::watchPresence()
{
    if (m_step != Step::Present)
        return;
    m_session->RequestStatus([this](bool answered) {
        if (m_step != Step::Present)
            return;
        if (answered && m_silenceMs >= 0) {
            // Answering again after a silence: the same controller, or the next one plugged in fast.
            m_silenceMs = m_lastAnswer.elapsed();
            m_session->disconnectNow();
            m_step = Step::Absent;
            retryLater(0);
            return;
        }
        if (answered) {
            m_lastAnswer.start();
            QTimer::singleShot(kPresencePollMs, this, &ProgramUnit::watchPresence);
            return;
        }
        if (m_lastAnswer.elapsed() < kGoneAfterSilenceMs) {
            m_silenceMs = 0; // a silence began: the next answer is identified
            QTimer::singleShot(0, this, &ProgramUnit::watchPresence);
            return;
        }
        m_silenceMs = -1;
        m_cli->err(m_cli->caption(CliWord::UnitGone).arg(name()).arg(m_lastAnswer.elapsed() / 1000));
        m_session->disconnectNow();
        m_step = Step::Absent;
        m_saidAbsent = true;
        retryLater(kRetryNoAnswerMs);
    });
}

void ProgramUnit::interrupt()
{
    switch (m_step) {
    case Step::Writing:
        m_stopAfterStep = true;
        m_cli->err(m_cli->caption(CliWord::UnitFinishing).arg(name()));
        break;
    case Step::Identifying:
        if (!m_firmware.isEmpty()) {
            unitDone(QStringLiteral("interrupted"), CliExit::Interrupted, m_cli->caption(CliWord::InterruptedReading));
        } else {
            stop(CliWord::InterruptedWaiting);
        }
        break;
    case Step::Present:
        stop(CliWord::InterruptedConnected);
        break;
    case Step::Absent:
        stop(CliWord::InterruptedWaiting);
        break;
    case Step::Stopped:
        break;
    }
}

void ProgramUnit::stopNow()
{
    if (m_step != Step::Writing) {
        interrupt();
        return;
    }
    unitDone(QStringLiteral("interrupted"), CliExit::Interrupted,
             m_backup.isEmpty() ? m_cli->caption(CliWord::InterruptedWriting)
                                : QStringLiteral("%1; %2").arg(m_cli->caption(CliWord::InterruptedWriting),
                                                               m_cli->caption(CliWord::ValuesBeforeIn).arg(m_backup)));
}

void ProgramUnit::stop(int entry)
{
    stop(cliWordFallback(entry), m_cli->caption(entry));
}

void ProgramUnit::stop(const QString &state, const QString &words)
{
    if (m_step == Step::Stopped)
        return;
    m_step = Step::Stopped;
    m_stateText = state;
    m_stateWords = words.isEmpty() ? state : words;
    if (m_session)
        m_session->disconnectNow();
    emit stopped();
}

// ---- The run

ProgramRunner::ProgramRunner(CliRunner *cli, const MapValues &values) : QObject(cli), m_cli(cli), m_values(values) {}

ProgramHost *ProgramRunner::host() const
{
    return m_cli;
}

bool ProgramRunner::waitMode() const
{
    return m_cli->m_options.wait;
}

void ProgramRunner::start()
{
    const CliOptions &options = m_cli->m_options;
    // A line whose log cannot be written is refused before any controller is touched.
    if (!options.logFile.isEmpty()) {
        QFile log(options.logFile);
        if (!log.open(QIODevice::ReadWrite | QIODevice::Append)) {
            m_cli->finish(CliExit::InvalidInput, m_cli->caption(CliWord::CannotWriteLog).arg(options.logFile, log.errorString()));
            return;
        }
    }
    QStringList names;
    for (const CliPort &port : options.ports) {
        auto *unit = new ProgramUnit(this, port);
        connect(unit, &ProgramUnit::stopped, this, &ProgramRunner::onUnitStopped, Qt::QueuedConnection);
        m_units << unit;
        names << port.text;
    }
    m_cli->m_json.insert(QStringLiteral("file"), options.file);
    QString starting = m_cli->caption(CliWord::ProgramOn).arg(options.file, names.join(QStringLiteral(", ")));
    if (waitMode())
        starting += QStringLiteral(", ") + m_cli->caption(CliWord::OneAfterAnother);
    m_cli->err(starting);
    for (ProgramUnit *unit : std::as_const(m_units))
        unit->start();
}

void ProgramRunner::report(ProgramUnit *unit, const QJsonObject &line, const QString &verdict, CliExit code)
{
    if (code == CliExit::Done)
        ++m_programmed;
    else if (code == CliExit::Interrupted)
        ++m_interruptedUnits;
    else
        ++m_failed;
    const auto count = [&line](WriteOutcome outcome) {
        return int(line.value(planCountKey(outcome)).toArray().size());
    };
    const int sent = count(WriteOutcome::Written) + count(WriteOutcome::Refused) + count(WriteOutcome::Unanswered);
    m_anySent = m_anySent || sent > 0;
    const QString seconds = QString::number(line.value(QLatin1String("seconds")).toDouble(), 'f', 2);
    if (m_cli->m_options.json) {
        m_cli->outJson(line);
    } else {
        QString text = QStringLiteral("%1 %2 #%3 %4").arg(clockTime(QDateTime::currentDateTime()), unit->name())
                           .arg(unit->units()).arg(verdictWord(*m_cli, verdict));
        if (line.value(QLatin1String("firmware")).isString()) {
            const int planned = sent + count(WriteOutcome::NotSent);
            text += QStringLiteral(", firmware %1, %2 %3/%4").arg(line.value(QLatin1String("firmware")).toString(),
                                                                   m_cli->caption(CliWord::Written))
                        .arg(count(WriteOutcome::Written)).arg(planned);
            for (const auto &[outcome, word] : {std::pair{WriteOutcome::Refused, CliWord::Refused},
                                                std::pair{WriteOutcome::Unanswered, CliWord::Unanswered},
                                                std::pair{WriteOutcome::NotSent, CliWord::NotSent}}) {
                if (count(outcome) > 0)
                    text += QStringLiteral(", %1 %2").arg(m_cli->caption(word)).arg(count(outcome));
            }
        }
        text += QStringLiteral(", %1 s").arg(seconds);
        if (line.contains(QLatin1String("backup")))
            text += QStringLiteral(", %1 %2").arg(m_cli->caption(CliWord::BackupLabel), line.value(QLatin1String("backup")).toString());
        m_cli->out(text);
    }
    const QString logFile = m_cli->m_options.logFile;
    QString logError;
    if (!logFile.isEmpty() && !appendLogLine(logFile, line, &logError)) {
        if (m_logError.isEmpty())
            m_logError = m_cli->caption(CliWord::CannotWriteLog).arg(logFile, logError);
        m_cli->err(m_cli->caption(CliWord::UnitNotInLog).arg(unit->name()).arg(unit->units()).arg(logFile, logError));
    }
    const QString why = line.value(QLatin1String("error")).toString();
    m_cli->err(QStringLiteral("%1: #%2 %3, %4 s%5 (%6)")
                   .arg(unit->name()).arg(unit->units()).arg(verdict, seconds,
                                                               why.isEmpty() ? QString() : QStringLiteral(": ") + why,
                                                               m_cli->caption(CliWord::ProgramCounts).arg(m_programmed)
                                                                   .arg(m_failed).arg(m_interruptedUnits)));
}

void ProgramRunner::interrupt()
{
    ++m_interrupts;
    m_interrupted = true;
    for (ProgramUnit *unit : std::as_const(m_units)) {
        if (m_interrupts > 1)
            unit->stopNow();
        else
            unit->interrupt();
    }
}

void ProgramRunner::onUnitStopped()
{
    for (const ProgramUnit *unit : std::as_const(m_units)) {
        if (unit->step() != ProgramUnit::Step::Stopped)
            return;
    }
    finishRun();
}

void ProgramRunner::finishRun()
{
    if (m_finished)
        return;
    m_finished = true;
    QJsonArray ports;
    CliExit code = CliExit::Done;
    for (const ProgramUnit *unit : std::as_const(m_units)) {
        ports.append(QJsonObject{{QStringLiteral("port"), unit->name()},
                                 {QStringLiteral("controllers"), unit->units()},
                                 {QStringLiteral("state"), unit->stateText()}});
        m_cli->err(QStringLiteral("%1: %2").arg(unit->name(), unit->stateWords()));
        if (code == CliExit::Done && unit->exitCode() != CliExit::Done)
            code = unit->exitCode();
    }
    QString summary = m_cli->caption(CliWord::ProgramCounts).arg(m_programmed).arg(m_failed).arg(m_interruptedUnits);
    m_cli->m_json.insert(QStringLiteral("ports"), ports);
    m_cli->m_json.insert(QStringLiteral("programmed"), m_programmed);
    m_cli->m_json.insert(QStringLiteral("failed"), m_failed);
    m_cli->m_json.insert(QStringLiteral("interrupted"), m_interruptedUnits);
    m_cli->out(summary);
    if (!m_logError.isEmpty()) {
        // A unit without its record is a failure on a line that traces units; when values went out
        // the status says so with a code of its own, never "nothing was sent".
        m_cli->m_json.insert(QStringLiteral("log_error"), m_logError);
        m_cli->finish(m_anySent ? CliExit::LogFailed : CliExit::InvalidInput, QStringLiteral("%1; %2").arg(m_logError, summary));
        return;
    }
    if (m_interrupted) {
        m_cli->finish(CliExit::Interrupted, m_cli->caption(CliWord::InterruptedCounts).arg(summary));
        return;
    }
    m_cli->finish(code, code == CliExit::Done ? QString() : summary);
}

} // namespace oe
