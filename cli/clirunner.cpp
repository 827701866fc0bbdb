#include "clirunner.h"
#include "cliwords.h"

#include "configfile.h"
#include "datafolder.h"
#include "languagefile.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "portcatalog.h"
#include "portpath.h"
#include "systemserialport.h"
#include "sliderrules.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>

namespace oe {

namespace {

// The field values a slider can reach, in the controller's units: the window sends nothing else.
struct FieldRange {
    qint32 min, max;
};
constexpr FieldRange kFieldRanges[kParameterCount] = {
    {1, 50}, {2, 50}, {0, 6000}, {50, 30000}, {50, 30000}, {80, 2400}, {80, 2400}, {50, 200},
};

struct OrderedPair {
    ParameterIndex low, high; // low ≤ high
};
// MaxLoadPumpPause is the shorter pause: that pair runs the other way round.
constexpr OrderedPair kOrderedPairs[] = {
    {ParameterIndex::MinPumpCycles, ParameterIndex::MaxPumpCycles},
    {ParameterIndex::TinjMin, ParameterIndex::TinjMax},
    {ParameterIndex::MaxLoadPumpPause, ParameterIndex::MinLoadPumpPause},
};

QString key(ParameterIndex index) { return mapFileKey(int(index)); }

// The window's caption for why a port did not open, or for a silent controller.
int connectFailureEntry(const ConnectFailure &failure)
{
    if (failure.kind == ConnectFailure::Kind::NoAnswer)
        return Caption::NoIdentification;
    switch (failure.openError) {
    case PortOpenError::NotFound: return Caption::PortNotFound;
    case PortOpenError::InUse: return Caption::PortInUse;
    case PortOpenError::NoPermission: return Caption::PortNoPermission;
    case PortOpenError::NotATty: return Caption::PortNotATty;
    case PortOpenError::None:
    case PortOpenError::Other: break;
    }
    return Caption::PortOtherError;
}

// %1 and %2 replaced in one pass, so a device path or a system text holding a % sign stays as it is.
QString fillIn(const QString &text, const QString &a1, const QString &a2)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 1 < text.size() && (text[i + 1] == u'1' || text[i + 1] == u'2')) {
            out += text[i + 1] == u'1' ? a1 : a2;
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char *openErrorName(PortOpenError error)
{
    switch (error) {
    case PortOpenError::None: return "None";
    case PortOpenError::NotFound: return "NotFound";
    case PortOpenError::InUse: return "InUse";
    case PortOpenError::NoPermission: return "NoPermission";
    case PortOpenError::NotATty: return "NotATty";
    case PortOpenError::Other: break;
    }
    return "Other";
}

QString versionText(const std::array<quint8, 3> &v)
{
    return QStringLiteral("%1.%2.%3").arg(plainNumberText(v[0]), plainNumberText(v[1]), plainNumberText(v[2]));
}

} // namespace

CliRunner::CliRunner(const CliOptions &options, const QString &programFolder, Ask ask, QObject *parent)
    : QObject(parent), m_options(options), m_programFolder(programFolder), m_ask(std::move(ask)),
      m_outDevice(ConsoleDevice::Stream::Out), m_errDevice(ConsoleDevice::Stream::Err), m_out(&m_outDevice),
      m_err(&m_errDevice)
{
    loadCaptions();
}

CliRunner::~CliRunner() = default;

void CliRunner::loadCaptions()
{
    QString code = m_options.language;
    if (code.isEmpty()) {
        const ConfigReadResult config = readConfigFile(QDir(dataFolderFor(m_programFolder)).filePath(QStringLiteral("config.ini")));
        code = languageFromLine(config.lines[1]).toUpper();
        if (code != QLatin1String("ITA"))
            code = QStringLiteral("ENG");
    }
    // English first, so an entry the chosen language leaves out still has a text.
    const QString path = languageFilePath(m_programFolder);
    const LanguageLoadResult english = loadLanguage(path, QStringLiteral("ENG"), m_captions);
    m_haveCaptions = english.sectionFound;
    if (code != QLatin1String("ENG")) {
        const LanguageLoadResult chosen = loadLanguage(path, code, m_captions);
        m_haveCaptions = m_haveCaptions || chosen.sectionFound;
    }
}

QString CliRunner::caption(int entry) const
{
    QString text = m_captions.text(entry);
    if (text.isEmpty())
        text = builtInMapCaption(entry);
    if (text.isEmpty())
        text = cliWordFallback(entry);
    // Without a language file the session's messages still have to say something.
    if (text.isEmpty()) {
        switch (entry) {
        case Session::kConnectFailedEntry: return QStringLiteral("Connection failed: the controller does not answer.");
        case Session::kResetNotConfirmedEntry: return QStringLiteral("The controller did not confirm the reset command.");
        case Session::kWriteNotConfirmedEntry: return QStringLiteral("The controller did not confirm the new value.");
        case Session::kAfterResetEntry: return QStringLiteral("The reset command was sent; the parameters are read again.");
        case Session::kPortLostEntry: return QStringLiteral("Connection lost: the controller's port went away.");
        case Caption::MapQuestion: return QStringLiteral("Send the parameters of this map to the controller?");
        case Caption::MapInvalid: return QStringLiteral("The map file is not valid:");
        case Caption::MapNotSaved: return QStringLiteral("The map file could not be saved.");
        case Caption::SaveUnknown: return QStringLiteral("No map saved: the controller did not tell these values:");
        case Caption::ResetQuestion: return QStringLiteral("Reset the controller?");
        default: break;
        }
    }
    return text;
}

// The name the window shows for a parameter: its frame, and the row where the frame holds two.
QString CliRunner::parameterCaption(ParameterIndex index) const
{
    const auto within = [this](int frame, int row) {
        return QStringLiteral("%1 – %2").arg(caption(frame), caption(row));
    };
    QString text;
    switch (index) {
    case ParameterIndex::MinPumpCycles: text = within(Caption::PumpTimeFrame, Caption::PumpMinLoadName); break;
    case ParameterIndex::MaxPumpCycles: text = within(Caption::PumpTimeFrame, Caption::PumpMaxLoadName); break;
    case ParameterIndex::RpmMin: text = caption(Caption::RpmMinFrame); break;
    case ParameterIndex::TinjMin: text = caption(Caption::TinjMinName); break;
    case ParameterIndex::TinjMax: text = caption(Caption::TinjMaxName); break;
    case ParameterIndex::MinLoadPumpPause: text = within(Caption::PumpPauseFrame, Caption::PauseMinLoadName); break;
    case ParameterIndex::MaxLoadPumpPause: text = within(Caption::PumpPauseFrame, Caption::PauseMaxLoadName); break;
    case ParameterIndex::RpmMultiplier: text = caption(Caption::RpmMultiplierFrame); break;
    }
    return m_haveCaptions ? text : QString();
}

QString CliRunner::portText() const
{
    if (!m_options.device.isEmpty())
        return m_options.device;
    return QStringLiteral("COM%1 (%2)").arg(m_options.comPort).arg(resolvePortDevice(m_options.comPort, m_programFolder));
}

// What the window's label shows for the value the controller told us, "---" while it never did.
QString CliRunner::valueText(ParameterIndex index) const
{
    if (!m_session->parameterKnown(index))
        return QStringLiteral("---");
    return displayText(index, m_session->confirmedParameters()[index]);
}

QJsonArray CliRunner::parametersJson() const
{
    QJsonArray list;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        QJsonObject p{{QStringLiteral("name"), key(index)},
                      {QStringLiteral("caption"), parameterCaption(index)},
                      {QStringLiteral("known"), m_session->parameterKnown(index)}};
        if (m_session->parameterKnown(index)) {
            p.insert(QStringLiteral("value"), m_session->confirmedParameters()[index]);
            p.insert(QStringLiteral("display"), valueText(index));
        }
        list.append(p);
    }
    return list;
}

void CliRunner::printParameters()
{
    m_json.insert(QStringLiteral("parameters"), parametersJson());
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const bool known = m_session->parameterKnown(index);
        const QString raw = known ? plainNumberText(m_session->confirmedParameters()[index]) : QStringLiteral("---");
        out(QStringLiteral("%1 %2 %3 %4")
                .arg(key(index), -17)
                .arg(raw, 6)
                .arg(valueText(index), -8)
                .arg(parameterCaption(index))
                .trimmed());
    }
}

void CliRunner::out(const QString &line)
{
    if (m_options.json)
        return;
    m_out << line << Qt::endl;
}

void CliRunner::err(const QString &line)
{
    m_err << line << Qt::endl;
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
        case Command::Help: break;
        }
        return "help";
    }()));
    if (m_options.command == Command::Ports) {
        listPorts();
        return;
    }

    // Everything that can be checked without the controller is checked before anything is sent.
    if (m_options.command == Command::Load) {
        const MapReadResult map = readMapFile(m_options.file);
        if (!map.ok) {
            finish(CliExit::InvalidInput, caption(Caption::MapInvalid) + QLatin1Char(' ') + mapErrorText(map.error, m_captions));
            return;
        }
        m_mapValues = map.values;
        m_mapKeyNotes = map.keyNotes;
    }
    if (m_options.command == Command::Set) {
        for (const auto &[index, value] : std::as_const(m_options.values)) {
            const FieldRange range = kFieldRanges[int(index)];
            const bool reachable = fieldFromPosition(index, positionFromField(index, value)) == value;
            if (value < range.min || value > range.max || !reachable) {
                const QString step = index == ParameterIndex::RpmMultiplier ? QStringLiteral(", in tens")
                                     : index == ParameterIndex::RpmMin || index == ParameterIndex::TinjMin ||
                                             index == ParameterIndex::TinjMax
                                         ? QStringLiteral(", in fifties")
                                         : QString();
                finish(CliExit::InvalidInput, QStringLiteral("%1=%2: the window sets %1 from %3 to %4%5; nothing sent")
                                                  .arg(key(index)).arg(value).arg(range.min).arg(range.max).arg(step));
                return;
            }
        }
    }

    m_json.insert(QStringLiteral("port"), m_options.port);
    auto *port = new SystemSerialPort(m_programFolder);
    if (!m_options.device.isEmpty())
        port->setDevice(m_options.device);
    m_session = new Session(port, this);
    connect(m_session, &Session::message, this, &CliRunner::onMessage);
    connect(m_session, &Session::identified, this, [this](int, const std::array<quint8, 3> &version) {
        m_firmware = versionText(version);
    });
    connect(m_session, &Session::stateChanged, this, [this](Session::State state) {
        if (state != Session::State::Connected)
            return;
        if (m_phase == Phase::Connecting) {
            m_phase = Phase::Ready;
            // The poll stays quiet unless a command wants it: nothing goes out that was not asked for.
            m_session->holdPoll(true);
            onConnected();
        } else if (m_phase == Phase::Sequence && m_options.command == CliOptions::Command::Reset) {
            const bool allRead = m_session->allParametersKnown();
            m_json.insert(QStringLiteral("resetConfirmed"), m_resetAcknowledged);
            printParameters();
            if (!m_resetAcknowledged)
                finish(CliExit::NoAnswer, caption(Caption::ResetNotConfirmed));
            else if (!allRead)
                finish(CliExit::NoAnswer, caption(CliWord::ResetReadBackUnanswered));
            else
                finish(CliExit::Done);
        }
    });
    connect(m_session, &Session::mapLoaded, this, &CliRunner::onMapLoaded);
    connect(m_session->engine(), &RequestEngine::requestStarted, this, &CliRunner::onRequestStarted);
    err(caption(CliWord::ConnectingTo).arg(portText()));
    m_session->connectTo(m_options.device.isEmpty() ? m_options.comPort : 1);
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
    case CliOptions::Command::Ports:
    case CliOptions::Command::Help: break;
    }
}

void CliRunner::onMessage(int textEntry, int)
{
    if (m_phase == Phase::Done)
        return;
    switch (textEntry) {
    case Session::kConnectFailedEntry: {
        const ConnectFailure &failure = m_session->lastConnectFailure();
        const bool notOpened = failure.kind == ConnectFailure::Kind::PortNotOpened;
        QJsonObject json{{QStringLiteral("kind"), notOpened ? QStringLiteral("PortNotOpened") : QStringLiteral("NoAnswer")},
                         {QStringLiteral("device"), failure.device}};
        if (notOpened) {
            json.insert(QStringLiteral("reason"), QLatin1String(openErrorName(failure.openError)));
            json.insert(QStringLiteral("systemText"), failure.systemText);
        } else {
            json.insert(QStringLiteral("bytesReceived"), failure.bytesReceived);
        }
        m_json.insert(QStringLiteral("connectFailure"), json);
        if (notOpened) {
            const QString device = failure.device.isEmpty() || failure.device == m_options.port
                                       ? portText()
                                       : QStringLiteral("%1 (%2)").arg(m_options.port, failure.device);
            QString why = fillIn(caption(connectFailureEntry(failure)), device, failure.systemText);
            if (why.isEmpty())
                why = caption(CliWord::CannotOpen).arg(device, failure.systemText);
            else if (failure.openError != PortOpenError::Other && !failure.systemText.isEmpty())
                why += QStringLiteral(" (%1)").arg(failure.systemText);
            finish(CliExit::PortNotOpened, why);
        } else {
            const QString device = failure.device.isEmpty() ? portText() : failure.device;
            const QString why = fillIn(caption(Caption::NoIdentification), device, {});
            finish(CliExit::NoAnswer, why.isEmpty() ? caption(textEntry) : why);
        }
        break;
    }
    case Session::kPortLostEntry:
        finish(CliExit::NoAnswer, caption(textEntry));
        break;
    case Session::kResetNotConfirmedEntry:
        m_resetAcknowledged = false;
        err(caption(textEntry));
        break;
    default:
        err(caption(textEntry));
        break;
    }
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

void CliRunner::finishWatch()
{
    if (!m_session->controllerAnswering())
        finish(CliExit::NoAnswer, caption(CliWord::StoppedAnswering));
    else
        finish(CliExit::Done);
}

void CliRunner::interrupt()
{
    if (m_phase == Phase::Done)
        return;
    if (m_options.command == CliOptions::Command::Watch && m_phase == Phase::Ready) {
        finishWatch();
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
    if (inSequence && code != CliExit::Done && code != CliExit::ReadBackDiffers) {
        m_json.insert(QStringLiteral("steps"), stepsReport());
        message += QLatin1Char('\n') + stepsReportText();
    }
    m_json.insert(QStringLiteral("exitCode"), int(code));
    if (!error.isEmpty())
        m_json.insert(QStringLiteral("error"), message);
    if (m_options.json)
        m_out << QJsonDocument(m_json).toJson(QJsonDocument::Indented);
    if (!message.isEmpty())
        err(QStringLiteral("oe-cli: %1").arg(message));
    m_out.flush();
    m_err.flush();
    QTimer::singleShot(0, this, [this, code] { emit finished(int(code)); });
}

// ---- The commands

void CliRunner::listPorts()
{
    QJsonArray list;
    const QList<SystemPort> system = systemSerialPorts();
    const QList<ComPortInfo> ports = listComPorts(m_programFolder, system);
    for (const ComPortInfo &port : ports) {
        QString state = port.present ? QStringLiteral("yes") : QStringLiteral("no");
        if (port.dangling)
            state = QStringLiteral("no, the link's target is gone");
        list.append(QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(port.comPort)},
                                {QStringLiteral("device"), port.device},
                                {QStringLiteral("present"), port.present},
                                {QStringLiteral("linked"), port.linked},
                                {QStringLiteral("dangling"), port.dangling},
                                {QStringLiteral("description"), port.description}});
        out(QStringLiteral("COM%1 %2 %3 %4")
                .arg(port.comPort, -2)
                .arg(port.device, -28)
                .arg(state)
                .arg(port.description.isEmpty() ? QString() : QStringLiteral("– ") + port.description)
                .trimmed());
    }
    m_json.insert(QStringLiteral("ports"), list);
    // An adapter the window would offer a COM number for: a script sees it here too.
    QJsonArray adapters;
    for (const SystemPort &adapter : unlinkedUsbAdapters(ports, system)) {
        adapters.append(QJsonObject{{QStringLiteral("device"), adapter.device},
                                    {QStringLiteral("description"), adapter.description}});
        out(QStringLiteral("USB adapter without a ports/ link: %1 %2").arg(adapter.device, adapter.description).trimmed());
    }
    m_json.insert(QStringLiteral("unlinkedAdapters"), adapters);
    finish(CliExit::Done);
}

void CliRunner::runInfo()
{
    printParameters();
    m_session->RequestStatus([this](bool answered) {
        if (m_phase == Phase::Done)
            return;
        const Session &s = *m_session;
        if (answered) {
            const QString pause = s.LiveRpm != 0 ? secondsText(s.LivePause, SecondsUnit::Steps25ms) : QStringLiteral("Err!");
            const QString pump = secondsText(s.LivePump, SecondsUnit::Steps20ms);
            m_json.insert(QStringLiteral("status"),
                          QJsonObject{{QStringLiteral("rpm"), s.LiveRpm},
                                      {QStringLiteral("tinj"), s.LiveTinj},
                                      {QStringLiteral("pump"), s.LivePump},
                                      {QStringLiteral("pause"), s.LivePause},
                                      {QStringLiteral("pumpDisplay"), pump},
                                      {QStringLiteral("pauseDisplay"), pause}});
            out(cliRow(caption(CliWord::StatusLabel),
                       QStringLiteral("%1 %2  %3 %4  %5 %6  %7 %8")
                           .arg(caption(Caption::RpmName), plainNumberText(s.LiveRpm), caption(Caption::TinjName),
                                plainNumberText(s.LiveTinj), caption(Caption::PumpName), pump,
                                caption(Caption::PauseName), pause)));
        } else {
            out(cliRow(caption(CliWord::StatusLabel), QStringLiteral("---")));
        }
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i) {
            if (!s.parameterKnown(ParameterIndex(i)))
                unknown << key(ParameterIndex(i));
        }
        if (!unknown.isEmpty())
            finish(CliExit::NoAnswer, caption(CliWord::NotRead).arg(unknown.join(QStringLiteral(", "))));
        else if (!answered)
            finish(CliExit::NoAnswer, caption(CliWord::StatusUnanswered));
        else
            finish(CliExit::Done);
    });
}

void CliRunner::runSave()
{
    printParameters();
    // A map holds what the controller told us, never a guess.
    if (!m_session->allParametersKnown()) {
        QStringList unknown;
        for (int i = 0; i < kParameterCount; ++i) {
            if (!m_session->parameterKnown(ParameterIndex(i)))
                unknown << key(ParameterIndex(i));
        }
        finish(CliExit::NoAnswer, caption(Caption::SaveUnknown) + QLatin1Char(' ') + unknown.join(QStringLiteral(", ")));
        return;
    }
    MapValues values{};
    for (int i = 0; i < kParameterCount; ++i)
        values[size_t(i)] = m_session->confirmedParameters()[ParameterIndex(i)];
    QString path = m_options.file;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".map");
    FileProblem problem;
    if (!writeMapFile(path, values, nullptr, &problem)) {
        finish(CliExit::InvalidInput, caption(Caption::MapNotSaved) + QLatin1Char(' ') + fileProblemText(problem, m_captions));
        return;
    }
    m_json.insert(QStringLiteral("file"), path);
    out(cliRow(caption(CliWord::SavedLabel), path));
    finish(CliExit::Done);
}

void CliRunner::runLoad()
{
    QJsonArray changes;
    QStringList lines;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 to = m_mapValues[size_t(i)];
        const bool known = m_session->parameterKnown(index);
        if (known && m_session->confirmedParameters()[index] == to)
            continue;
        QJsonObject change{{QStringLiteral("name"), key(index)}, {QStringLiteral("to"), to}};
        if (known)
            change.insert(QStringLiteral("from"), m_session->confirmedParameters()[index]);
        changes.append(change);
        lines << QStringLiteral("%1: %2 → %3").arg(key(index), valueText(index), displayText(index, to));
    }
    // Lines named otherwise than we name them are still read by position; the user sees how.
    QJsonArray notes;
    for (const MapKeyNote &note : std::as_const(m_mapKeyNotes)) {
        notes.append(mapKeyNoteText(note, m_captions));
        out(mapKeyNoteText(note, m_captions));
    }
    m_json.insert(QStringLiteral("file"), m_options.file);
    m_json.insert(QStringLiteral("notes"), notes);
    m_json.insert(QStringLiteral("changes"), changes);
    if (lines.isEmpty())
        out(caption(Caption::MapNoChanges));
    for (const QString &line : std::as_const(lines))
        out(line);
    if (!m_options.yes && !m_ask(caption(Caption::MapQuestion))) {
        finish(CliExit::Interrupted, caption(CliWord::Declined));
        return;
    }
    if (m_phase == Phase::Done)
        return; // interrupted while asking
    QStringList steps;
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("write %1=%2").arg(key(ParameterIndex(i))).arg(m_mapValues[size_t(i)]);
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("read %1").arg(key(ParameterIndex(i)));
    beginSteps(QStringLiteral("load"), steps);
    ParameterSet values;
    for (int i = 0; i < kParameterCount; ++i)
        values[ParameterIndex(i)] = m_mapValues[size_t(i)];
    if (!m_session->loadMap(values))
        finish(CliExit::NoAnswer, caption(Session::kPortLostEntry));
}

void CliRunner::onMapLoaded(const MapLoadResult &result)
{
    if (m_phase != Phase::Sequence)
        return;
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        QJsonObject p{{QStringLiteral("name"), key(index)},
                      {QStringLiteral("sent"), result.sent[index]},
                      {QStringLiteral("confirmed"), result.confirmed[size_t(i)]}};
        if (!result.answered[size_t(i)]) {
            unanswered << key(index);
        } else {
            p.insert(QStringLiteral("readBack"), result.readBack[index]);
            if (result.readBack[index] != result.sent[index])
                differing << QStringLiteral("%1: %2 → %3")
                                 .arg(key(index), displayText(index, result.sent[index]),
                                      displayText(index, result.readBack[index]));
        }
        readBack.append(p);
    }
    m_json.insert(QStringLiteral("readBack"), readBack);
    if (!unanswered.isEmpty()) {
        finish(CliExit::NoAnswer, caption(CliWord::ReadBackUnanswered).arg(unanswered.join(QStringLiteral(", "))));
        return;
    }
    if (!differing.isEmpty()) {
        out(caption(Caption::MapDiffers));
        for (const QString &line : std::as_const(differing))
            out(line);
        finish(CliExit::ReadBackDiffers, caption(CliWord::HoldsOtherValues).arg(differing.join(QStringLiteral("; "))));
        return;
    }
    out(caption(Caption::MapAllMatch));
    finish(CliExit::Done);
}

void CliRunner::runSet()
{
    // The pairs are judged on what the controller holds now, with the new values in place.
    ParameterSet after = m_session->confirmedParameters();
    QSet<int> given;
    for (const auto &[index, value] : std::as_const(m_options.values)) {
        after[index] = value;
        given.insert(int(index));
    }
    for (const OrderedPair &pair : kOrderedPairs) {
        if (!given.contains(int(pair.low)) && !given.contains(int(pair.high)))
            continue;
        for (const ParameterIndex side : {pair.low, pair.high}) {
            if (!given.contains(int(side)) && !m_session->parameterKnown(side)) {
                finish(CliExit::NoAnswer, QStringLiteral("%1 was not read, so its partner cannot be checked; nothing sent").arg(key(side)));
                return;
            }
        }
        if (after[pair.low] > after[pair.high]) {
            finish(CliExit::InvalidInput,
                   QStringLiteral("%1 (%2) would be above %3 (%4); nothing sent")
                       .arg(key(pair.low)).arg(after[pair.low]).arg(key(pair.high)).arg(after[pair.high]));
            return;
        }
    }
    QStringList steps;
    for (const auto &[index, value] : std::as_const(m_options.values))
        steps << QStringLiteral("write %1=%2").arg(key(index)).arg(value);
    for (const auto &[index, value] : std::as_const(m_options.values))
        steps << QStringLiteral("read %1").arg(key(index));
    beginSteps(QStringLiteral("set"), steps);
    for (const auto &[index, value] : std::as_const(m_options.values))
        m_session->commitParameter(index, value);
    for (qsizetype i = 0; i < m_options.values.size(); ++i) {
        const ParameterIndex index = m_options.values[i].first;
        const bool last = i == m_options.values.size() - 1;
        m_session->ReadParameter(quint8(index), [this, index, last](bool answered) {
            if (!answered)
                m_unanswered.insert(int(index));
            if (last && m_phase == Phase::Sequence)
                verifySet();
        });
    }
}

void CliRunner::verifySet()
{
    QStringList unanswered, differing;
    QJsonArray readBack;
    for (const auto &[index, value] : std::as_const(m_options.values)) {
        QJsonObject p{{QStringLiteral("name"), key(index)}, {QStringLiteral("sent"), value}};
        if (m_unanswered.contains(int(index))) {
            unanswered << key(index);
        } else {
            p.insert(QStringLiteral("readBack"), m_session->confirmedParameters()[index]);
            if (m_session->confirmedParameters()[index] != value)
                differing << QStringLiteral("%1: %2 → %3").arg(key(index), displayText(index, value), valueText(index));
        }
        readBack.append(p);
    }
    m_json.insert(QStringLiteral("readBack"), readBack);
    printParameters();
    if (!unanswered.isEmpty())
        finish(CliExit::NoAnswer, caption(CliWord::ReadBackUnanswered).arg(unanswered.join(QStringLiteral(", "))));
    else if (!differing.isEmpty())
        finish(CliExit::ReadBackDiffers, caption(CliWord::HoldsOtherValues).arg(differing.join(QStringLiteral("; "))));
    else
        finish(CliExit::Done);
}

void CliRunner::runReset()
{
    if (!m_options.yes && !m_ask(caption(Caption::ResetQuestion))) {
        finish(CliExit::Interrupted, caption(CliWord::Declined));
        return;
    }
    if (m_phase == Phase::Done)
        return;
    QStringList steps{QStringLiteral("reset")};
    for (int i = 0; i < kParameterCount; ++i)
        steps << QStringLiteral("read %1").arg(key(ParameterIndex(i)));
    beginSteps(QStringLiteral("reset"), steps);
    if (!m_session->reset())
        finish(CliExit::NoAnswer, caption(Session::kPortLostEntry));
}

void CliRunner::runWatch()
{
    // The session's own judgement of a silent controller: said once, until it answers again.
    connect(m_session, &Session::controllerAnsweringChanged, this, [this](bool answering) {
        if (answering)
            return;
        m_readings.append(QJsonObject{{QStringLiteral("answered"), false}});
        m_json.insert(QStringLiteral("readings"), m_readings);
        if (!m_options.json)
            m_out << QStringLiteral("--- %1").arg(caption(Caption::NotAnswering)).trimmed() << Qt::endl;
    });
    connect(m_session, &Session::liveReadingsChanged, this, [this] {
        const Session &s = *m_session;
        const QString pump = secondsText(s.LivePump, SecondsUnit::Steps20ms);
        const QString pause = s.LiveRpm != 0 ? secondsText(s.LivePause, SecondsUnit::Steps25ms) : QStringLiteral("Err!");
        m_readings.append(QJsonObject{{QStringLiteral("rpm"), s.LiveRpm},
                                      {QStringLiteral("tinj"), s.LiveTinj},
                                      {QStringLiteral("pump"), s.LivePump},
                                      {QStringLiteral("pause"), s.LivePause},
                                      {QStringLiteral("pumpDisplay"), pump},
                                      {QStringLiteral("pauseDisplay"), pause}});
        m_json.insert(QStringLiteral("readings"), m_readings);
        if (!m_options.json) {
            m_out << QStringLiteral("%1 %2  %3 %4  %5 %6  %7 %8")
                         .arg(caption(Caption::RpmName), plainNumberText(s.LiveRpm), caption(Caption::TinjName),
                              plainNumberText(s.LiveTinj), caption(Caption::PumpName), pump,
                              caption(Caption::PauseName), pause)
                  << Qt::endl;
        }
    });
    m_session->holdPoll(false);
    m_session->RequestStatus();
    if (m_options.seconds > 0)
        QTimer::singleShot(m_options.seconds * 1000, this, [this] { finishWatch(); });
}

} // namespace oe
