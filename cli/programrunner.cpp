#include "programrunner.h"

#include "clirunner.h"
#include "clitexts.h"
#include "maptexts.h"
#include "portpath.h"
#include "restorepoints.h"
#include "systemserialport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

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

} // namespace

ProgramUnit::ProgramUnit(ProgramRunner *owner, const CliPort &port)
    : QObject(owner), m_owner(owner), m_cli(owner->cli()), m_port(port)
{
}

void ProgramUnit::start()
{
    auto *serial = new SystemSerialPort(m_cli->m_programFolder);
    if (!m_port.device.isEmpty())
        serial->setDevice(m_port.device);
    m_session = new Session(serial, this);
    connect(m_session, &Session::stateChanged, this, &ProgramUnit::onStateChanged);
    connect(m_session, &Session::notice, this, &ProgramUnit::onNotice);
    connect(m_session, &Session::identified, this, [this](int, const std::array<quint8, 3> &version) {
        m_firstVersion = version;
    });
    // The read-back is judged once verified: on the book, not on the first answers.
    connect(m_session, &Session::mapLoaded, this, [this](const MapLoadResult &result) {
        if (m_step == Step::Writing)
            m_session->verifyNow([this, result] { onMapLoaded(result); });
    });
    connectNow();
}

void ProgramUnit::connectNow()
{
    m_step = Step::Identifying;
    m_firmware.clear();
    m_backup.clear();
    m_written.clear();
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
            unitDone(QStringLiteral("no-answer"), CliExit::NoAnswer,
                     QStringLiteral("firmware: no two identification answers agree"));
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
        const QString why = m_cli->connectFailureText(failure, m_port.text, m_cli->portText(m_port));
        if (m_owner->waitMode() && !m_owner->m_interrupted) {
            // No controller yet: the technician is plugging the next one in.
            if (!m_saidAbsent)
                m_cli->err(QStringLiteral("%1: waiting for a controller (%2)").arg(name(), why));
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
    m_cli->err(QStringLiteral("%1: %2").arg(name(), m_cli->caption(noticeEntry(notice))));
}

void ProgramUnit::onIdentified()
{
    m_saidAbsent = false;
    m_cli->err(QStringLiteral("%1: controller %2 identified").arg(name(), m_firmware));
    m_before = m_session->controllerValues();
    QStringList unknown;
    for (int i = 0; i < kParameterCount; ++i) {
        if (!m_session->parameterKnown(ParameterIndex(i)))
            unknown << paramKey(ParameterIndex(i));
    }
    if (!unknown.isEmpty()) {
        unitDone(QStringLiteral("not-read"), CliExit::NoAnswer,
                 QStringLiteral("not read: %1; nothing written").arg(unknown.join(QStringLiteral(", "))));
        return;
    }
    const MapValues &values = m_owner->values();
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        if (!m_cli->sameValue(index, m_before[index], values[size_t(i)]))
            m_written << index;
    }
    if (m_written.isEmpty()) {
        unitDone(QStringLiteral("programmed"), CliExit::Done);
        return;
    }
    if (!m_cli->m_options.noBackup) {
        const RestorePointWrite backup =
            writeRestorePoint(m_cli->mapsFolder(), RestoreCause::Load, m_cli->heldValues(*m_session), QDateTime::currentDateTime());
        if (!backup.ok) {
            unitDone(QStringLiteral("no-backup"), CliExit::InvalidInput,
                     QStringLiteral("no backup in %1: %2; nothing written")
                         .arg(restorePointFolder(m_cli->mapsFolder()), fileProblemText(backup.problem, m_cli->m_captions)));
            return;
        }
        m_backup = backup.path;
    }
    m_step = Step::Writing;
    ParameterSet target;
    for (int i = 0; i < kParameterCount; ++i)
        target[ParameterIndex(i)] = values[size_t(i)];
    // Only the values that differ go out, as the line above says; all eight are read back.
    Session::ParameterMask write{};
    for (const ParameterIndex index : std::as_const(m_written))
        write[size_t(index)] = true;
    m_cli->err(QStringLiteral("%1: writing %2 of 8 values").arg(name()).arg(m_written.size()));
    if (!m_session->loadMap(target, write))
        unitDone(QStringLiteral("port-lost"), CliExit::NoAnswer, m_cli->caption(Caption::PortLost));
}

void ProgramUnit::onMapLoaded(const MapLoadResult &)
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
                                                    ? resolvePortDevice(m_port.comPort, m_cli->m_programFolder)
                                                    : m_port.device},
                     {QStringLiteral("unit"), m_units},
                     {QStringLiteral("firmware"), identified ? QJsonValue(m_firmware) : QJsonValue()},
                     {QStringLiteral("verdict"), verdict},
                     {QStringLiteral("seconds"), double(m_clock.elapsed() / 10) / 100.0}};
    if (identified && verdict != QLatin1String("not-read")) {
        line.insert(QStringLiteral("before"), valuesJson(m_before));
        QJsonArray written;
        for (const ParameterIndex index : std::as_const(m_written))
            written.append(paramKey(index));
        line.insert(QStringLiteral("written"), written);
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

    if (m_stopAfterStep || m_owner->m_interrupted) {
        stop(QStringLiteral("stopped after its controller was %1").arg(verdict));
    } else if (m_owner->waitMode()) {
        waitForNext();
    } else {
        stop(verdict == QLatin1String("programmed") ? QStringLiteral("programmed")
                                                    : QStringLiteral("%1: %2").arg(verdict, why));
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
    m_cli->err(QStringLiteral("%1: unplug this controller and plug in the next").arg(name()));
    watchPresence();
}

// A status request every half second while the controller is there. One that goes unanswered in all
// its tries (1.5 s) means it was unplugged: the session's own judgement (two such in a row) would
// miss a swap made within about four seconds, and the next controller would never be programmed.
void ProgramUnit::watchPresence()
{
    if (m_step != Step::Present)
        return;
    m_session->RequestStatus([this](bool answered) {
        if (m_step != Step::Present)
            return;
        if (answered) {
            QTimer::singleShot(kPresencePollMs, this, &ProgramUnit::watchPresence);
            return;
        }
        m_cli->err(QStringLiteral("%1: the controller is gone; waiting for the next").arg(name()));
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
        m_cli->err(QStringLiteral("%1: finishing the write and its read-back").arg(name()));
        break;
    case Step::Identifying:
        if (!m_firmware.isEmpty()) {
            ++m_owner->m_interruptedUnits;
            stop(QStringLiteral("interrupted while reading the controller's values; nothing written"));
        } else {
            stop(QStringLiteral("interrupted while waiting for a controller"));
        }
        break;
    case Step::Present:
        stop(QStringLiteral("interrupted with its last controller still connected"));
        break;
    case Step::Absent:
        stop(QStringLiteral("interrupted while waiting for a controller"));
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
    ++m_owner->m_interruptedUnits;
    stop(m_backup.isEmpty() ? QStringLiteral("interrupted while writing: the controller may hold part of the map")
                            : QStringLiteral("interrupted while writing: the controller may hold part of the map; "
                                             "its values before are in %1").arg(m_backup));
}

void ProgramUnit::stop(const QString &state)
{
    if (m_step == Step::Stopped)
        return;
    m_step = Step::Stopped;
    m_stateText = state;
    if (m_session)
        m_session->disconnectNow();
    emit stopped();
}

// ---- The run

ProgramRunner::ProgramRunner(CliRunner *cli, const MapValues &values) : QObject(cli), m_cli(cli), m_values(values) {}

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
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_cli->finish(CliExit::InvalidInput, QStringLiteral("cannot write the log %1: %2").arg(options.logFile, log.errorString()));
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
    m_cli->err(QStringLiteral("program %1 on %2%3").arg(options.file, names.join(QStringLiteral(", ")),
                                                        waitMode() ? QStringLiteral(", one controller after another until Ctrl+C")
                                                                   : QString()));
    for (ProgramUnit *unit : std::as_const(m_units))
        unit->start();
}

void ProgramRunner::report(ProgramUnit *unit, const QJsonObject &line, const QString &verdict, CliExit code)
{
    if (code == CliExit::Done)
        ++m_programmed;
    else
        ++m_failed;
    const QString seconds = QString::number(line.value(QLatin1String("seconds")).toDouble(), 'f', 2);
    const int written = line.value(QLatin1String("written")).toArray().size();
    if (m_cli->m_options.json) {
        m_cli->outJson(line);
    } else {
        QString text = QStringLiteral("%1 %2 #%3 %4").arg(clockTime(QDateTime::currentDateTime()), unit->name())
                           .arg(unit->units()).arg(verdict);
        if (line.value(QLatin1String("firmware")).isString())
            text += QStringLiteral(", firmware %1, %2 of 8 written").arg(line.value(QLatin1String("firmware")).toString()).arg(written);
        text += QStringLiteral(", %1 s").arg(seconds);
        if (line.contains(QLatin1String("backup")))
            text += QStringLiteral(", backup %1").arg(line.value(QLatin1String("backup")).toString());
        m_cli->out(text);
    }
    const QString logFile = m_cli->m_options.logFile;
    if (!logFile.isEmpty()) {
        QFile log(logFile);
        const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append) || log.write(bytes) != bytes.size() || !log.flush()) {
            m_logFailed = true;
            m_cli->err(QStringLiteral("%1: cannot write the log %2: %3").arg(unit->name(), logFile, log.errorString()));
        }
    }
    const QString why = line.value(QLatin1String("error")).toString();
    m_cli->err(QStringLiteral("%1: #%2 %3 in %4 s%5 (programmed %6, failed %7)")
                   .arg(unit->name()).arg(unit->units()).arg(verdict, seconds,
                                                               why.isEmpty() ? QString() : QStringLiteral(": ") + why)
                   .arg(m_programmed).arg(m_failed));
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
        m_cli->err(QStringLiteral("%1: %2").arg(unit->name(), unit->stateText()));
        if (code == CliExit::Done && unit->exitCode() != CliExit::Done)
            code = unit->exitCode();
    }
    const QString summary = QStringLiteral("programmed %1, failed %2, interrupted %3")
                                .arg(m_programmed).arg(m_failed).arg(m_interruptedUnits);
    m_cli->m_json.insert(QStringLiteral("ports"), ports);
    m_cli->m_json.insert(QStringLiteral("programmed"), m_programmed);
    m_cli->m_json.insert(QStringLiteral("failed"), m_failed);
    m_cli->m_json.insert(QStringLiteral("interrupted"), m_interruptedUnits);
    m_cli->out(summary);
    if (m_interrupted) {
        m_cli->finish(CliExit::Interrupted, QStringLiteral("interrupted: %1").arg(summary));
        return;
    }
    if (code == CliExit::Done && m_logFailed)
        code = CliExit::InvalidInput;
    m_cli->finish(code, code == CliExit::Done ? QString() : summary);
}

} // namespace oe
