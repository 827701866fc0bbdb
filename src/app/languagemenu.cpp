#include "languagemenu.h"

#include "boxqueue.h"
#include "builtincaptions.h"
#include "configfile.h"
#include "qttranslations.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace oe {

using layout::named;

namespace {
const QString kItalian = QStringLiteral("ITA");
const QString kEnglish = QStringLiteral("ENG");

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

LanguageMenu::LanguageMenu(WindowContext &context, QMenuBar *menuBar)
    : QObject(context.window), m_context(context),
      m_qtTranslations(std::make_unique<QtTranslations>(context.programFolder))
{
    menuLinguaTop = named(menuBar->addMenu(QStringLiteral("Lingua")), "menuLinguaTop");
    menuLingua[0] = named(menuLinguaTop->addAction(QStringLiteral("Italiano")), "menuLingua_0");
    menuLingua[1] = named(menuLinguaTop->addAction(QStringLiteral("English")), "menuLingua_1");
    // The language in use carries the check mark.
    auto *languages = new QActionGroup(this);
    // Optional: while no language could be loaded, neither item is checked.
    languages->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (int i = 0; i < 2; ++i) {
        QAction *item = menuLingua[size_t(i)];
        item->setCheckable(true);
        languages->addAction(item);
        connect(item, &QAction::triggered, this, [this, i] { chooseLanguage(i); });
    }
}

LanguageMenu::~LanguageMenu() = default;

// The section is loaded into a copy and taken only when it loaded whole, so a file that breaks
// part-way never leaves two languages mixed on the controls.
LanguageLoadResult LanguageMenu::LoadLanguage(const QString &code)
{
    CaptionTable scratch = m_context.captions;
    const LanguageLoadResult result = loadLanguage(languageFilePath(m_context.programFolder), code, scratch);
    if (loaded(result)) {
        m_context.captions = scratch;
        // An entry an older file lacks is filled in the language shown.
        if (!builtInCaptions(code).text(Caption::MessageTitle).isEmpty())
            m_context.builtInCode = code;
    }
    return result;
}

// A broken or incomplete Language.ini must not leave the window blank: fall back to the other language,
// and failing that show the built-in texts and say what is wrong.
void LanguageMenu::loadStartLanguage()
{
    const QString wanted = languageFromLine(m_context.configLines[1]);
    QStringList codes{wanted};
    for (const QString &known : {kItalian, kEnglish})
        if (known != wanted)
            codes.append(known);
    QString problem;
    for (const QString &code : codes) {
        const LanguageLoadResult result = LoadLanguage(code);
        if (loaded(result)) {
            emit captionsChanged();
            showLanguageInUse(code);
            return;
        }
        if (problem.isEmpty())
            problem = loadFailureText(result, code, languageFilePath(m_context.programFolder));
    }
    // Nothing readable: the built-in texts of the system's language, whole, so no control keeps a
    // caption from another language or another control.
    m_context.builtInCode = systemLanguageCode();
    m_context.captions = builtInCaptions(m_context.builtInCode);
    emit captionsChanged();
    showLanguageInUse(m_context.builtInCode);
    // Shown once the event loop runs, so it has the window (and any dialogs a test put in) behind it.
    QTimer::singleShot(0, this, [this, problem] {
        m_context.tell(m_context.caption(Caption::LanguageFileUnreadable) + QLatin1Char('\n') + problem);
    });
}

void LanguageMenu::applyCaptions()
{
    if (const QString text = m_context.menuText(Caption::LanguageMenuKeyed, Caption::LanguageMenu); !text.isEmpty())
        menuLinguaTop->setTitle(text);
    if (const QString text = m_context.captions.text(Caption::ItalianItemKeyed); !text.isEmpty())
        menuLingua[0]->setText(text);
    if (const QString text = m_context.captions.text(Caption::EnglishItemKeyed); !text.isEmpty())
        menuLingua[1]->setText(text);
}

void LanguageMenu::chooseLanguage(int index)
{
    if (index != 0 && index != 1)
        return;
    QString &line = m_context.configLines[1];
    const QString previousLine = line;
    line = index == 0 ? QStringLiteral("Language=ITA") : QStringLiteral("Language=ENG");
    const QString code = languageFromLine(line);
    const LanguageLoadResult result = LoadLanguage(code);
    if (!loaded(result)) {
        // Saving a choice that cannot load would break the next start; stay with the language in use.
        line = previousLine;
        showLanguageInUse(m_languageInUse); // the click moved the check mark
        m_context.tell(QStringLiteral("This language could not be loaded from Language.ini.\n%1")
                           .arg(loadFailureText(result, code, languageFilePath(m_context.programFolder))));
        return;
    }
    emit captionsChanged();
    showLanguageInUse(code);
    m_context.saveConfig();
}

void LanguageMenu::showLanguageInUse(const QString &code)
{
    m_languageInUse = code;
    m_context.decimalSeparator = code == kItalian ? u',' : u'.';
    menuLingua[0]->setChecked(code == kItalian);
    menuLingua[1]->setChecked(code == kEnglish);
    // Missing Italian texts for Qt's own dialogs leave them in English; the program's stay right.
    m_qtTranslations->use(code);
}

} // namespace oe
