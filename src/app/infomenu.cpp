#include "infomenu.h"

#include "boxqueue.h"
#include "dialogs.h"
#include "helpdocument.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>

#include <functional>
#include <QUrl>

namespace oe {

using layout::named;

namespace {
// %1 in a caption, replaced once, so a path holding "%1" stays as it is.
QString fillPlaceholder(const QString &text, const QString &value)
{
    const qsizetype at = text.indexOf(QLatin1String("%1"));
    return at < 0 ? text + QLatin1Char(' ') + value : QString(text).replace(at, 2, value);
}
} // namespace

InfoMenu::InfoMenu(WindowContext &context, QMenuBar *menuBar) : QObject(context.window), m_context(context)
{
    menuInfoTop = named(menuBar->addMenu(QStringLiteral("Info")), "menuInfoTop");
    menuInfo[0] = named(menuInfoTop->addAction(QStringLiteral("Help")), "menuInfo_0");
    menuInfo[0]->setShortcut(QKeySequence(Qt::Key_F1));
    menuInfo[0]->setShortcutContext(Qt::WindowShortcut);
    menuInfo[1] = named(menuInfoTop->addAction(QStringLiteral("About")), "menuInfo_1");
    for (int i = 0; i < 2; ++i)
        connect(menuInfo[size_t(i)], &QAction::triggered, this, [this, i] { showInfo(i); });
}

void InfoMenu::applyCaptions()
{
    // Entries an older language file lacks leave the built-in words.
    const QList<QPair<int, std::function<void(const QString &)>>> texts{
        {Caption::InfoMenuKeyed, [this](const QString &text) { menuInfoTop->setTitle(text); }},
        {Caption::HelpItemKeyed, [this](const QString &text) { menuInfo[0]->setText(text); }},
        {Caption::AboutItemKeyed, [this](const QString &text) { menuInfo[1]->setText(text); }},
    };
    for (const auto &[entry, set] : texts)
        if (const QString text = m_context.captions.text(entry); !text.isEmpty())
            set(text);
}

void InfoMenu::showInfo(int index)
{
    if (index == 0) {
        // Help.chm where the desktop can show it, else the HTML pages in the language in use; with
        // neither there is nothing to open and nothing is said.
        Dialogs &dialogs = m_context.boxes->dialogs();
        const QUrl url = helpDocumentUrl(m_context.programFolder, languageFromLine(m_context.configLines[1]),
                                         dialogs.helpViewers());
        // A desktop with no program for the document says nothing itself: give the user the path.
        // These boxes open while a connect may still run: a failure it reports waits for them.
        if (!url.isEmpty() && !dialogs.openDocument(url))
            m_context.tell(fillPlaceholder(m_context.caption(Caption::HelpNotOpened),
                                           QDir::toNativeSeparators(url.toLocalFile())));
    } else if (index == 1) {
        QString text = m_context.caption(Caption::About);
        // Where the user's files went when the program folder could not take them.
        if (QDir(m_context.dataFolder) != QDir(m_context.programFolder))
            text += QStringLiteral("\n\n") + fillPlaceholder(m_context.caption(Caption::DataFolderNote),
                                                             QDir::toNativeSeparators(m_context.dataFolder));
        m_context.tell(text);
    }
}

} // namespace oe
