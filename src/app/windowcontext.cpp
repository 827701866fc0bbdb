#include "windowcontext.h"

#include "boxqueue.h"
#include "builtincaptions.h"
#include "maptexts.h"

#include <QDir>
#include <QLocale>

namespace oe {

namespace {

// The one config.ini the window reads and writes: in the data folder, which on Windows is not the
// program folder when that cannot be written.
QString configPath(const QString &dataFolder)
{
    return QDir(dataFolder).filePath(QStringLiteral("config.ini"));
}

} // namespace

QString WindowContext::mapsFolder() const
{
    return QDir(dataFolder).filePath(QStringLiteral("Maps"));
}

QString WindowContext::caption(int entry) const
{
    const QString text = captions.text(entry);
    return text.isEmpty() ? builtInCaptions(builtInCode).text(entry) : text;
}

QString WindowContext::menuText(int keyed, int plain) const
{
    const QString text = captions.text(keyed);
    return text.isEmpty() ? caption(plain) : text;
}

void WindowContext::tell(const QString &text) const
{
    boxes->showMessage(text, caption(Caption::MessageTitle));
}

QString WindowContext::changeLine(ParameterIndex index, const QString &from, const QString &to) const
{
    return QStringLiteral("%1: %2 → %3").arg(parameterName(index), from, to);
}

void WindowContext::readConfig()
{
    ConfigReadResult result = readConfigFile(configPath(dataFolder));
    // Binary contents are taken as no file: the defaults, and the next writeConfig replaces them whole.
    if (!result.isText)
        result = ConfigReadResult{};
    configLines = result.lines;
    // A missing or short file is not an error: the first start has none, and the first writeConfig
    // creates it.
    if (result.linesRead < 1)
        configLines[0] = portLine(1);
    if (result.linesRead < 2) {
        const bool italian = QLocale().language() == QLocale::Italian;
        configLines[1] = italian ? QStringLiteral("Language=ITA") : QStringLiteral("Language=ENG");
    }
}

bool WindowContext::writeConfig(QString *error) const
{
    return writeConfigFile(configPath(dataFolder), configLines, error);
}

bool WindowContext::saveConfig() const
{
    const QString path = configPath(dataFolder);
    FileProblem problem;
    if (writeConfigFile(path, configLines, nullptr, &problem))
        return true;
    tell(caption(Caption::SettingNotSaved) + u'\n' + QDir::toNativeSeparators(path) + u'\n'
         + fileProblemText(problem, captions));
    return false;
}

} // namespace oe
