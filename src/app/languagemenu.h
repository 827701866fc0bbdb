#pragma once

#include "languagefile.h"

#include <QObject>

#include <array>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;

namespace oe {

class QtTranslations;
struct WindowContext;

// The language menu: which section of Language.ini fills the captions, chosen at start from
// config.ini and by the user from the menu, which then remembers the choice.
class LanguageMenu : public QObject
{
    Q_OBJECT
public:
    LanguageMenu(WindowContext &context, QMenuBar *menuBar);
    ~LanguageMenu() override;

    // Loads one language section into the captions; a section that does not load whole changes none.
    LanguageLoadResult LoadLanguage(const QString &code);
    // The language config.ini names, else the other one, else the built-in texts with a word why.
    void loadStartLanguage();
    void applyCaptions();

    QMenu *menuLinguaTop = nullptr;
    std::array<QAction *, 2> menuLingua{};

signals:
    // New captions are in the context: every part shows them.
    void captionsChanged();

private:
    void chooseLanguage(int index);
    void showLanguageInUse(const QString &code);

    WindowContext &m_context;
    // The language whose captions are on the controls; empty while none could be loaded.
    QString m_languageInUse;
    std::unique_ptr<QtTranslations> m_qtTranslations;
};

} // namespace oe
