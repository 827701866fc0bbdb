#include "clirunner.h"
#include "clitexts.h"
#include "deviceaccess.h"
#include "maptexts.h"

#include "programrunner.h"
#include "systemserialport.h"

#include <QJsonDocument>
#include <QTimer>

namespace oe {

CliRunner::CliRunner(const CliOptions &options, const QString &programFolder, Ask ask, QObject *parent)
    : QObject(parent), m_options(options), m_programFolder(programFolder), m_ask(std::move(ask)),
      m_outDevice(ConsoleDevice::Stream::Out), m_errDevice(ConsoleDevice::Stream::Err), m_out(&m_outDevice),
      m_err(&m_errDevice)
{
    loadCaptions();
}

CliRunner::~CliRunner() = default;

void CliRunner::runOn(SessionFactory factory, QIODevice *out, QIODevice *err)
{
    m_sessionFactory = std::move(factory);
    m_out.setDevice(out);
    m_err.setDevice(err);
}

Session *CliRunner::makeSession(const CliPort &port, QObject *parent)
{
    if (m_sessionFactory)
        return m_sessionFactory(port, parent);
    auto *serial = new SystemSerialPort(m_programFolder);
    if (!port.device.isEmpty())
        serial->setDevice(port.device);
    return new Session(serial, parent);
}

void CliRunner::start()
{
    using Command = CliOptions::Command;
    m_json.insert(QStringLiteral("command"), QString::fromLatin1([this] {
        switch (m_options.command) {
        case Command::Ports: return "ports";
        case Command::Info: return "info";
        case Command::Save: return "save";
        case Command::Load: return "load";
        case Command::Set: return "set";
        case Command::Reset: return "reset";
        case Command::Watch: return "watch";
        case Command::Verify: return "verify";
        case Command::Backup: return "backup";
        case Command::Program: return "program";
        case Command::Version: return "version";
        case Command::Help: break;
        }
        return "help";
    }()));
    if (m_options.command == Command::Ports) {
        listPorts();
        return;
    }
    if (m_options.command == Command::Version) {
        m_json.insert(QStringLiteral("version"), QStringLiteral(OE_VERSION));
        m_json.insert(QStringLiteral("qt"), QString::fromLatin1(qVersion()));
        out(QStringLiteral("oe-cli %1 (Qt %2, built with Qt %3)")
                .arg(QStringLiteral(OE_VERSION), QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR)));
        finish(CliExit::Done);
        return;
    }

    // Everything that can be checked without the controller is checked before anything is sent.
    if (!checkInput())
        return;
    if (m_options.command == Command::Program) {
        m_program = new ProgramRunner(this, m_mapValues);
        m_program->start();
        return;
    }

    m_json.insert(QStringLiteral("port"), m_options.port);
    m_session = makeSession(CliPort{m_options.port, m_options.comPort, m_options.device}, this);
    connect(m_session, &Session::notice, this, &CliRunner::onNotice);
    connect(m_session, &Session::identified, this, [this](int, const std::array<quint8, 3> &version) {
        m_firstVersion = version;
    });
    connect(m_session, &Session::stateChanged, this, [this](Session::State state) {
        if (state != Session::State::Connected)
            return;
        if (m_phase == Phase::Connecting) {
            m_phase = Phase::Ready;
            // The poll stays quiet unless a command wants it: nothing goes out that was not asked for.
            m_session->holdPoll(true);
            verifyConnect();
        } else if (m_phase == Phase::Sequence && m_options.command == CliOptions::Command::Reset) {
            m_session->verifyNow([this] { if (m_phase == Phase::Sequence) finishReset(); });
        }
    });
    connect(m_session->engine(), &RequestEngine::requestStarted, this, &CliRunner::onRequestStarted);
    err(caption(CliWord::ConnectingTo).arg(portText()));
    m_session->connectTo(m_options.device.isEmpty() ? m_options.comPort : 1);
}

// What is printed or saved was told twice alike: the identification and every value read.
void CliRunner::verifyConnect()
{
    m_session->RequestVersionVerified({m_firstVersion}, [this](std::optional<Session::Version> version) {
        if (m_phase != Phase::Ready)
            return;
        if (!version) {
            finish(CliExit::NoAnswer, caption(CliWord::NoIdentification));
            return;
        }
        m_firmware = versionText(*version);
        m_session->verifyNow([this] {
            if (m_phase == Phase::Ready)
                onConnected();
        });
    });
}

void CliRunner::onConnected()
{
    m_json.insert(QStringLiteral("firmware"), m_firmware);
    out(cliRow(caption(CliWord::PortLabel), portText()));
    out(cliRow(caption(CliWord::FirmwareLabel), m_firmware));
    switch (m_options.command) {
    case CliOptions::Command::Info: runInfo(); break;
    case CliOptions::Command::Save: runSave(); break;
    case CliOptions::Command::Load: runLoad(); break;
    case CliOptions::Command::Set: runSet(); break;
    case CliOptions::Command::Reset: runReset(); break;
    case CliOptions::Command::Watch: runWatch(); break;
    case CliOptions::Command::Verify: runVerify(); break;
    case CliOptions::Command::Backup: runBackup(); break;
    case CliOptions::Command::Program:
    case CliOptions::Command::Version:
    case CliOptions::Command::Ports:
    case CliOptions::Command::Help: break;
    }
}

void CliRunner::onNotice(Session::Notice notice)
{
    if (m_phase == Phase::Done)
        return;
    switch (notice) {
    case Session::Notice::ConnectFailed: {
        const ConnectFailure &failure = m_session->lastConnectFailure();
        m_json.insert(QStringLiteral("connectFailure"), connectFailureJson(failure));
        finish(failure.kind == ConnectFailure::Kind::PortNotOpened ? CliExit::PortNotOpened : CliExit::NoAnswer,
               connectFailureText(failure, m_options.port, portText()));
        break;
    }
    case Session::Notice::PortLost:
        finish(CliExit::NoAnswer, caption(noticeEntry(notice)));
        break;
    case Session::Notice::WriteNotConfirmed:
        break; // the plan's report names the write and what the controller holds
    case Session::Notice::ResetNotConfirmed:
        m_resetAcknowledged = false;
        err(caption(noticeEntry(notice)));
        break;
    default:
        err(caption(noticeEntry(notice)));
        break;
    }
}

QJsonObject CliRunner::connectFailureJson(const ConnectFailure &failure) const
{
    const bool notOpened = failure.kind == ConnectFailure::Kind::PortNotOpened;
    QJsonObject json{{QStringLiteral("kind"), notOpened ? QStringLiteral("PortNotOpened") : QStringLiteral("NoAnswer")},
                     {QStringLiteral("device"), failure.device}};
    if (notOpened) {
        json.insert(QStringLiteral("reason"), QLatin1String(openErrorName(failure.openError)));
        json.insert(QStringLiteral("systemText"), failure.systemText);
    } else {
        json.insert(QStringLiteral("bytesReceived"), failure.bytesReceived);
    }
    return json;
}

// Why a connect failed, in the window's words. port: as -p gave it; shown: how we name it.
QString CliRunner::connectFailureText(const ConnectFailure &failure, const QString &port, const QString &shown) const
{
    if (failure.kind == ConnectFailure::Kind::PortNotOpened) {
        const QString device = failure.device.isEmpty() || failure.device == port
                                   ? shown
                                   : QStringLiteral("%1 (%2)").arg(port, failure.device);
        // The dialout group's advice only where joining it opens the device; else who may give access.
        const auto beyondGroup = failure.openError == PortOpenError::NoPermission ? accessBeyondSerialGroup(failure.device)
                                                                                  : std::nullopt;
        QString why = beyondGroup ? fillPlaceholders(caption(Caption::PortNotYours),
                                                     {port, failure.device, beyondGroup->ownerAndGroup, beyondGroup->mode})
                                  : fillPlaceholders(caption(connectFailureEntry(failure)), {device, failure.systemText});
        if (why.isEmpty())
            why = caption(CliWord::CannotOpen).arg(device, failure.systemText);
        else if (failure.openError != PortOpenError::Other && !failure.systemText.isEmpty())
            why += QStringLiteral(" (%1)").arg(failure.systemText);
        return why;
    }
    const QString device = failure.device.isEmpty() ? shown : failure.device;
    const QString why = fillPlaceholders(caption(Caption::NoIdentification), {device, {}});
    return why.isEmpty() ? caption(Caption::ConnectFailed) : why;
}

void CliRunner::beginSteps(const QString &what, const QStringList &steps)
{
    m_stepsWhat = what;
    m_steps = steps;
    m_stepsStarted = 0;
    m_phase = Phase::Sequence;
}

void CliRunner::onRequestStarted()
{
    if (m_phase != Phase::Sequence || m_stepsStarted >= m_steps.size())
        return;
    ++m_stepsStarted;
    err(QStringLiteral("%1 %2/%3: %4").arg(m_stepsWhat).arg(m_stepsStarted).arg(m_steps.size()).arg(m_steps[m_stepsStarted - 1]));
}

// Which steps of the sequence went out: a step is over once the next one started (answered or not:
// a sequence says which at its end); the one on the wire when the session ended may or may not have
// reached the controller.
QJsonObject CliRunner::stepsReport() const
{
    QJsonArray over, onWire, notSent;
    for (int i = 0; i < m_steps.size(); ++i) {
        if (i >= m_stepsStarted)
            notSent.append(m_steps[i]);
        else if (i == m_stepsStarted - 1)
            onWire.append(m_steps[i]);
        else
            over.append(m_steps[i]);
    }
    return {{QStringLiteral("sent"), over},
            {QStringLiteral("sentUnanswered"), onWire},
            {QStringLiteral("notSent"), notSent}};
}

QString CliRunner::stepsReportText() const
{
    const QJsonObject report = stepsReport();
    QStringList lines;
    const auto add = [&](const char *name, const char *label) {
        const QJsonArray list = report.value(QLatin1String(name)).toArray();
        if (list.isEmpty())
            return;
        QStringList items;
        for (const QJsonValue &v : list)
            items << v.toString();
        lines << QStringLiteral("  %1: %2").arg(QLatin1String(label), items.join(QStringLiteral(", ")));
    };
    add("sent", "sent");
    add("sentUnanswered", "sent, its answer not awaited");
    add("notSent", "not sent");
    return lines.join(QLatin1Char('\n'));
}

void CliRunner::interrupt()
{
    if (m_phase == Phase::Done)
        return;
    if (m_options.command == CliOptions::Command::Watch && m_phase == Phase::Ready) {
        finishWatch();
        return;
    }
    if (m_program) {
        m_program->interrupt();
        return;
    }
    finish(CliExit::Interrupted, caption(CliWord::Interrupted));
}

void CliRunner::finish(CliExit code, const QString &error)
{
    if (m_phase == Phase::Done)
        return;
    const bool inSequence = m_phase == Phase::Sequence;
    m_phase = Phase::Done;
    if (m_session)
        m_session->disconnectNow();
    QString message = error;
    if (m_plan.started()) {
        // What each write of the plan came to: the one out when the session ended was not answered.
        m_plan.abandon();
        const WritePlanResult &result = m_plan.result();
        m_json.insert(QStringLiteral("writes"), planResultJson(m_plan.plan(), result));
        for (const WriteOutcome outcome : {WriteOutcome::Written, WriteOutcome::Refused, WriteOutcome::Unanswered,
                                           WriteOutcome::NotSent})
            m_json.insert(planCountKey(outcome), result.count(outcome));
        if (code != CliExit::Done && !m_plan.plan().writes.isEmpty())
            message += QStringLiteral("\n  ") + planResultText(m_plan.plan(), result, [this](int entry) { return caption(entry); });
    } else if (inSequence && !m_steps.isEmpty() && code != CliExit::Done && code != CliExit::ReadBackDiffers) {
        m_json.insert(QStringLiteral("steps"), stepsReport());
        message += QLatin1Char('\n') + stepsReportText();
    }
    m_json.insert(QStringLiteral("exitCode"), int(code));
    if (!error.isEmpty())
        m_json.insert(QStringLiteral("error"), message);
    // A line's log traces every run: a map refused before any controller was touched has its line.
    if (m_options.command == CliOptions::Command::Program && !m_program && !m_options.logFile.isEmpty()) {
        const QJsonObject line{{QStringLiteral("time"), isoTime(QDateTime::currentDateTime())},
                               {QStringLiteral("file"), m_options.file},
                               {QStringLiteral("verdict"), QStringLiteral("map-refused")},
                               {QStringLiteral("error"), message}};
        QString logError;
        if (!appendLogLine(m_options.logFile, line, &logError)) {
            m_json.insert(QStringLiteral("log_error"), logError);
            message += QLatin1Char('\n') + caption(CliWord::CannotWriteLog).arg(m_options.logFile, logError);
        }
    }
    // Streaming commands end their JSON Lines with one line of their own.
    if (m_options.json && (m_options.command == CliOptions::Command::Watch || m_options.command == CliOptions::Command::Program))
        outJson(m_json);
    else if (m_options.json)
        print(m_out, QString::fromUtf8(QJsonDocument(m_json).toJson(QJsonDocument::Indented)));
    if (!message.isEmpty())
        err(QStringLiteral("oe-cli: %1").arg(message));
    QTimer::singleShot(0, this, [this, code] { emit finished(int(code)); });
}

} // namespace oe
