#include "mainwindow.h"

#include "builtincaptions.h"
#include "dialogs.h"
#include "helpdocument.h"
#include "qttranslations.h"

#include <QAction>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

// The window's captions, its language and the Info menu.
namespace oe {

namespace {
const QString kItalian = QStringLiteral("ITA");
const QString kEnglish = QStringLiteral("ENG");

// %1 in a caption, replaced once, so a path holding "%1" stays as it is.
QString fillPlaceholder(const QString &text, const QString &value)
{
    const qsizetype at = text.indexOf(QLatin1String("%1"));
    return at < 0 ? text + QLatin1Char(' ') + value : QString(text).replace(at, 2, value);
}

bool loaded(const LanguageLoadResult &result)
{
    return result.ok && result.sectionFound;
}

QString loadFailureText(const LanguageLoadResult &result, const QString &code, const QString &path)
{
    if (!result.ok)
        return result.error;
    return QStringLiteral("%1 has no section [%2].").arg(path, code);
}
} // namespace

QString MainWindow::caption(int entry) const
{
    const QString text = m_captions.text(entry);
    return text.isEmpty() ? builtInCaptions(m_builtInCode).text(entry) : text;
}

// The section is loaded into a copy and taken only when it loaded whole, so a file that breaks
// part-way never leaves two languages mixed on the controls.
LanguageLoadResult MainWindow::LoadLanguage(const QString &code)
{
    CaptionTable scratch = m_captions;
    const LanguageLoadResult result = loadLanguage(languageFilePath(m_programFolder), code, scratch);
    if (loaded(result)) {
        m_captions = scratch;
        // An entry an older file lacks is filled in the language shown.
        if (!builtInCaptions(code).text(Caption::MessageTitle).isEmpty())
            m_builtInCode = code;
    }
    return result;
}

// A broken or incomplete Language.ini must not leave the window blank: fall back to the other language,
// and failing that show the built-in texts and say what is wrong.
void MainWindow::loadStartLanguage()
{
    const QString wanted = languageFromLine(m_configLines[1]);
    QStringList codes{wanted};
    for (const QString &known : {kItalian, kEnglish})
        if (known != wanted)
            codes.append(known);
    QString problem;
    for (const QString &code : codes) {
        const LanguageLoadResult result = LoadLanguage(code);
        if (loaded(result)) {
            ApplyCaptions();
            showLanguageInUse(code);
            return;
        }
        if (problem.isEmpty())
            problem = loadFailureText(result, code, languageFilePath(m_programFolder));
    }
    // Nothing readable: the built-in texts of the system's language, whole, so no control keeps a
    // caption from another language or another control.
    m_builtInCode = systemLanguageCode();
    m_captions = builtInCaptions(m_builtInCode);
    ApplyCaptions();
    showLanguageInUse(m_builtInCode);
    // Shown once the event loop runs, so it has the window (and any dialogs a test put in) behind it.
    QTimer::singleShot(0, this, [this, problem] {
        showMessage(caption(Caption::LanguageFileUnreadable) + QLatin1Char('\n') + problem,
                    caption(Caption::MessageTitle));
    });
}

void MainWindow::ApplyCaptions()
{
    const QList<QPair<QWidget *, int>> controls{
        {Label1, Caption::RpmName},          {Label2, Caption::TinjName},
        {Label3, Caption::PumpName},         {Label8, Caption::PauseName},
        {Frame5, Caption::ConnectionFrame},  {Frame2, Caption::RpmMinFrame},
        {Frame3, Caption::InjectionTimeFrame}, {Frame4, Caption::PumpTimeFrame},
        {Frame6, Caption::PumpPauseFrame},   {Label4, Caption::TinjMinName},
        {Label5, Caption::TinjMaxName},      {Label10, Caption::PumpMinLoadName},
        {Label7, Caption::PumpMaxLoadName},  {Label6, Caption::PauseMinLoadName},
        {Label11, Caption::PauseMaxLoadName}, {ResetCmd, Caption::ResetButton},
        {Frame7, Caption::RpmMultiplierFrame}, {cmdLoadMap, Caption::LoadMapButton},
        {cmdSaveMap, Caption::SaveMapButton}, {Frame8, Caption::MapFrame},
    };
    // An entry no language filled keeps the caption the control has, rather than blanking it.
    auto apply = [this](int entry, auto setText) {
        const QString text = m_captions.text(entry);
        if (!text.isEmpty())
            setText(text);
    };
    for (const auto &[control, entry] : controls) {
        if (auto *label = qobject_cast<QLabel *>(control))
            apply(entry, [label](const QString &t) { label->setText(t); });
        else if (auto *frame = qobject_cast<QGroupBox *>(control))
            apply(entry, [frame](const QString &t) { frame->setTitle(t); });
        else if (auto *button = qobject_cast<QPushButton *>(control))
            apply(entry, [button](const QString &t) { button->setText(t); });
    }
    apply(Caption::LanguageMenu, [this](const QString &t) { menuLinguaTop->setTitle(t); });
    applyToolCaptions();
    // Entry 6 from the moment a connect starts until the session ends.
    const bool sessionOpen = m_session->state() != Session::State::Idle;
    btnConnect->setText(caption(sessionOpen ? Caption::Disconnect : Caption::Connect));
    showLinkState();
}

void MainWindow::chooseLanguage(int index)
{
    if (index != 0 && index != 1)
        return;
    const QString previousLine = m_configLines[1];
    m_configLines[1] = index == 0 ? QStringLiteral("Language=ITA") : QStringLiteral("Language=ENG");
    const QString code = languageFromLine(m_configLines[1]);
    const LanguageLoadResult result = LoadLanguage(code);
    if (!loaded(result)) {
        // Saving a choice that cannot load would break the next start; stay with the language in use.
        m_configLines[1] = previousLine;
        showLanguageInUse(m_languageInUse); // the click moved the check mark
        showMessage(QStringLiteral("This language could not be loaded from Language.ini.\n%1")
                        .arg(loadFailureText(result, code, languageFilePath(m_programFolder))),
                    caption(Caption::MessageTitle));
        return;
    }
    ApplyCaptions();
    showLanguageInUse(code);
    if (!WriteConfig())
        showMessage(caption(Caption::SettingNotSaved), caption(Caption::MessageTitle));
}

void MainWindow::showLanguageInUse(const QString &code)
{
    m_languageInUse = code;
    menuLingua[0]->setChecked(code == kItalian);
    menuLingua[1]->setChecked(code == kEnglish);
    // Missing Italian texts for Qt's own dialogs leave them in English; the program's stay right.
    m_qtTranslations->use(code);
}

void MainWindow::showInfo(int index)
{
    if (index == 0) {
        // Help.chm where the desktop can show it, else the HTML pages in the language in use; with
        // neither there is nothing to open and nothing is said.
        const QUrl url = helpDocumentUrl(m_programFolder, languageFromLine(m_configLines[1]),
                                         dialogs().helpViewers());
        // A desktop with no program for the document says nothing itself: give the user the path.
        // These boxes open while a connect may still run: a failure it reports waits for them.
        if (!url.isEmpty() && !dialogs().openDocument(url))
            showMessage(fillPlaceholder(caption(Caption::HelpNotOpened), QDir::toNativeSeparators(url.toLocalFile())),
                        caption(Caption::MessageTitle));
    } else if (index == 1) {
        showMessage(caption(Caption::About), caption(Caption::MessageTitle));
    }
}

} // namespace oe
