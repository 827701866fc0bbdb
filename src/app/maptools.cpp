#include "maptools.h"

#include "apptexts.h"
#include "boxqueue.h"
#include "dialogs.h"
#include "mapcomparedialog.h"
#include "mapeditor.h"
#include "mapfile.h"
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

const QString kMapFilter = QStringLiteral("File Map (*.map)");

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

    m_restore = new RestoreDialog(session, mapsFolder(), textsOf(context), context.window);
    connect(m_restore, &RestoreDialog::restoreRequested, this, &MapTools::loadFileRequested);
    m_editor = new MapEditor(mapsFolder(), textsOf(context), context.boxes, context.window);
    connect(m_editor, &MapEditor::compareRequested, this, &MapTools::showCompare);
    connect(m_editor, &MapEditor::loadRequested, this, &MapTools::loadValuesRequested);
    m_compare = new MapCompareDialog(session, textsOf(context), context.window);

    const auto follow = [this](Session::State state) {
        const bool connected = state == Session::State::Connected;
        menuMapTools[2]->setEnabled(connected);
        m_editor->setConnected(connected);
    };
    connect(session, &Session::stateChanged, this, follow);
    follow(session->state());
}

void MapTools::applyCaptions()
{
    menuMapTools[0]->setText(m_context.caption(Caption::RestoreItem));
    menuMapTools[1]->setText(m_context.caption(Caption::EditMapItem));
    menuMapTools[2]->setText(m_context.caption(Caption::CompareItem));
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
    if (!m_editor->isVisible()) {
        // A new map starts from what the controller holds, else from the lowest values the sliders
        // allow (all pairs hold there).
        Session &session = *m_context.session;
        ParameterSet values;
        const bool fromController = session.state() == Session::State::Connected && session.allParametersKnown();
        for (int i = 0; i < kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            values[index] = fromController ? session.controllerValues()[index] : sliderRange(index).min;
        }
        m_editor->startFrom(values);
    }
    m_editor->show();
    m_editor->raise();
    m_editor->activateWindow();
}

void MapTools::compareWithFile()
{
    QString path;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        path = m_context.boxes->dialogs().openFileName(m_context.window, mapsFolder(), kMapFilter);
    }
    if (path.isEmpty())
        return;
    const MapReadResult map = readMapFile(path);
    const MapCheck check = map.ok ? checkMap(map) : MapCheck{};
    if (!map.ok || !check.ok) {
        m_context.tell(m_context.caption(Caption::MapInvalid) + QLatin1Char('\n')
                       + mapErrorText(map.ok ? check.refusal : map.error, m_context.captions));
        return;
    }
    showCompare(fromMapValues(map.values), QFileInfo(path).fileName());
}

void MapTools::showCompare(const ParameterSet &values, const QString &name)
{
    m_compare->setValues(values, name);
    m_compare->readUnknown();
    m_compare->show();
    m_compare->raise();
    m_compare->activateWindow();
}

QString MapTools::mapsFolder() const
{
    return QDir(m_context.programFolder).filePath(QStringLiteral("Maps"));
}

} // namespace oe
