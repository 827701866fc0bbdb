#include "clirunner.h"
#include "clitexts.h"

#include "builtincaptions.h"
#include "configfile.h"
#include "datafolder.h"
#include "languagefile.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "portpath.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>

namespace oe {

QString paramKey(ParameterIndex index) { return mapFileKey(int(index)); }

int noticeEntry(Session::Notice notice)
{
    switch (notice) {
    case Session::Notice::ConnectFailed: return Caption::ConnectFailed;
    case Session::Notice::PortLost: return Caption::PortLost;
    case Session::Notice::ResetNotConfirmed: return Caption::ResetNotConfirmed;
    case Session::Notice::AfterReset: return Caption::AfterReset;
    case Session::Notice::WriteNotConfirmed: return Caption::WriteNotConfirmed;
    case Session::Notice::AnotherController: return Caption::AnotherController;
    }
    return Caption::ConnectFailed;
}

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

QString cliLanguageCode(const QString &given, const QString &programFolder)
{
    if (!given.isEmpty())
        return given;
    const ConfigReadResult config = readConfigFile(QDir(dataFolderFor(programFolder)).filePath(QStringLiteral("config.ini")));
    const QString code = languageFromLine(config.lines[1]).toUpper();
    return code == QLatin1String("ITA") ? code : QStringLiteral("ENG");
}

void CliRunner::loadCaptions()
{
    const QString code = cliLanguageCode(m_options.language, m_programFolder);
    m_languageCode = code;
    // English first, so an entry the chosen language leaves out still has a text.
    const QString path = languageFilePath(m_programFolder);
    const LanguageLoadResult english = loadLanguage(path, QStringLiteral("ENG"), m_captions);
    m_haveCaptions = english.sectionFound;
    if (code != QLatin1String("ENG")) {
        const LanguageLoadResult chosen = loadLanguage(path, code, m_captions);
        m_haveCaptions = m_haveCaptions || chosen.sectionFound;
    }
    // A folder without a readable Language.ini (--folder, a copied program) speaks the shipped words.
    if (!m_haveCaptions) {
        m_captions = builtInCaptions(code);
        m_haveCaptions = true;
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
        case Caption::ConnectFailed: return QStringLiteral("Connection failed: the controller does not answer.");
        case Caption::ResetNotConfirmed: return QStringLiteral("The controller did not confirm the reset command.");
        case Caption::WriteNotConfirmed: return QStringLiteral("The controller did not confirm the new value.");
        case Caption::AfterReset: return QStringLiteral("The reset command was sent; the parameters are read again.");
        case Caption::PortLost: return QStringLiteral("Connection lost: the controller's port went away.");
        case Caption::AnotherController: return QStringLiteral("Another controller on the line: values read again.");
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
    return portText(CliPort{m_options.port, m_options.comPort, m_options.device});
}

QString CliRunner::portText(const CliPort &port) const
{
    if (!port.device.isEmpty())
        return port.device;
    return QStringLiteral("COM%1 (%2)").arg(port.comPort).arg(resolvePortDevice(port.comPort, m_programFolder));
}

QString CliRunner::notSavedText(const QString &path, const FileProblem &problem) const
{
    return QStringLiteral("%1 %2: %3").arg(caption(Caption::MapNotSaved), QDir::toNativeSeparators(path),
                                           fileProblemText(problem, m_captions));
}

// What the window's label shows for the value the controller told us, "---" while it never did.
QString CliRunner::valueText(ParameterIndex index) const
{
    const auto value = m_session->controllerValue(index);
    return value ? displayText(index, *value) : QStringLiteral("---");
}

QJsonArray CliRunner::parametersJson() const
{
    QJsonArray list;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        QJsonObject p{{QStringLiteral("name"), paramKey(index)},
                      {QStringLiteral("caption"), parameterCaption(index)},
                      {QStringLiteral("known"), m_session->parameterKnown(index)}};
        if (const auto value = m_session->controllerValue(index)) {
            p.insert(QStringLiteral("value"), *value);
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
        const auto value = m_session->controllerValue(index);
        const QString raw = value ? plainNumberText(*value) : QStringLiteral("---");
        out(QStringLiteral("%1 %2 %3 %4")
                .arg(paramKey(index), -17)
                .arg(raw, 6)
                .arg(valueText(index), -8)
                .arg(parameterCaption(index))
                .trimmed());
    }
}

// Every line oe-cli prints goes through print(): results to stdout, progress and questions to stderr.
void CliRunner::print(QTextStream &stream, const QString &text)
{
    stream << text;
    stream.flush();
}

void CliRunner::out(const QString &line)
{
    if (m_options.json)
        return;
    print(m_out, line + QLatin1Char('\n'));
}

void CliRunner::outJson(const QJsonObject &object)
{
    print(m_out, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
}

void CliRunner::err(const QString &line)
{
    print(m_err, line + QLatin1Char('\n'));
}

QString isoTime(const QDateTime &when)
{
    return when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString clockTime(const QDateTime &when)
{
    return when.toString(QStringLiteral("HH:mm:ss.zzz"));
}

} // namespace oe
