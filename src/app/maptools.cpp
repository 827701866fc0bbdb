#include "maptools.h"

#include "accessibility.h"
#include "apptexts.h"
#include "boxqueue.h"
#include "dialogs.h"
#include "mapcomparedialog.h"
#include "mapeditor.h"
#include "mapfiledialogs.h"
#include "maptexts.h"
#include "restoredialog.h"
#include "restorepointstep.h"
#include "session.h"
#include "valuerule.h"
#include "windowcontext.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace oe {

namespace {

AppTexts textsOf(WindowContext &context)
{
    return {[&context](int entry) { return context.caption(entry); },
            // The names come once the window has wired its parts; captions are applied again then.
            [&context](ParameterIndex index) {
                return context.parameterName ? context.parameterName(index) : QString();
            },
            [&context]() -> const CaptionTable & { return context.captions; }};
}

} // namespace

MapTools::MapTools(WindowContext &context, QMenu *toolsMenu) : QObject(context.window), m_context(context)
{
    Session *session = context.session;
    toolsMenu->addSeparator();
    for (size_t i = 0; i < menuMapTools.size(); ++i) {
        menuMapTools[i] = toolsMenu->addAction(QString());
        menuMapTools[i]->setObjectName(QStringLiteral("menuTools_%1").arg(i + 3));
    }
    connect(menuMapTools[0], &QAction::triggered, this, &MapTools::showRestore);
    connect(menuMapTools[1], &QAction::triggered, this, &MapTools::showEditor);
    connect(menuMapTools[2], &QAction::triggered, this, &MapTools::compareWithFile);

    m_restore = new RestoreDialog(session, m_context.mapsFolder(), textsOf(context), context.window);
    m_restore->setController([this] { return m_context.controller; });
    connect(m_restore, &RestoreDialog::restoreRequested, this, &MapTools::loadFileRequested);
    m_editor = new MapEditor(m_context.mapsFolder(), textsOf(context), context.boxes, context.window);
    connect(m_editor, &MapEditor::compareRequested, this, &MapTools::showCompare);
    connect(m_editor, &MapEditor::loadRequested, this, &MapTools::loadValuesRequested);
    m_compare = new MapCompareDialog(session, textsOf(context), context.window);
    for (QWidget *window : std::initializer_list<QWidget *>{m_restore, m_editor, m_compare})
        closeOnEscapeAndCtrlW(window);

    const auto follow = [this](Session::State state) {
        if (state == Session::State::Idle)
            m_editorOpening = false; // its wait ended with the session, unanswered
        const bool connected = state == Session::State::Connected;
        menuMapTools[2]->setEnabled(connected);
        m_editor->setConnected(connected);
    };
    connect(session, &Session::stateChanged, this, follow);
    follow(session->state());
}

void MapTools::applyCaptions()
{
    menuMapTools[0]->setText(m_context.menuText(Caption::RestoreItemKeyed, Caption::RestoreItem));
    menuMapTools[1]->setText(m_context.menuText(Caption::EditMapItemKeyed, Caption::EditMapItem));
    menuMapTools[2]->setText(m_context.menuText(Caption::CompareItemKeyed, Caption::CompareItem));
    m_restore->applyCaptions();
    m_editor->applyCaptions();
    m_compare->applyCaptions();
}

void MapTools::showRestore()
{
    m_restore->show();
    m_restore->raise();
    m_restore->activateWindow();
    m_restore->refresh();
}

void MapTools::showEditor()
{
    // Closing the editor asked about unsaved changes: opened again, it starts a new map.
    if (m_editor->isVisible()) {
        m_editor->raise();
        m_editor->activateWindow();
        return;
    }
    if (m_editorOpening)
        return;
    // A new map starts from what the controller holds, each value confirmed (unknown ones read, first
    // answers verified), else with every field empty to be filled in: values nobody chose are never
    // offered as a map.
    const auto open = [this](const VerifiedValues &held) {
        m_editorOpening = false;
        if (m_editor->isVisible())
            return;
        if (held.complete()) {
            MapOrigin origin;
            origin.firmware = controllerFirmwareText(*m_context.session);
            m_editor->startFrom(held.values, origin);
        } else {
            m_editor->startEmpty();
        }
        m_editor->show();
        m_editor->raise();
        m_editor->activateWindow();
    };
    m_editorOpening = m_context.session->verifiedValues(open);
    if (!m_editorOpening)
        open(VerifiedValues{});
}

void MapTools::compareWithFile()
{
    const QString path = askMapToOpen(*m_context.boxes, m_context.window, m_context.mapsFolder());
    if (path.isEmpty())
        return;
    const std::optional<CheckedMap> map = readCheckedMap(path, m_context.captions, m_context.caption(Caption::MapInvalid),
                                                         [this](const QString &text) { m_context.tell(text); });
    if (map)
        showCompare(map->values, QFileInfo(path).fileName(), map->origin);
}

void MapTools::showCompare(const ParameterSet &values, const QString &name, const MapOrigin &origin)
{
    m_compare->setValues(values, name, origin);
    m_compare->settle();
    m_compare->show();
    m_compare->raise();
    m_compare->activateWindow();
}

} // namespace oe
