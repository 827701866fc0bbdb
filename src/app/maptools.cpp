#include "maptools.h"

#include "apptexts.h"
#include "boxqueue.h"
#include "dialogs.h"
#include "mapcomparedialog.h"
#include "mapfile.h"
#include "maptexts.h"
#include "restoredialog.h"
#include "restorepointstep.h"
#include "session.h"
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
            [&context](ParameterIndex index) { return context.parameterName(index); },
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
    connect(menuMapTools[2], &QAction::triggered, this, &MapTools::compareWithFile);

    m_restore = new RestoreDialog(session, mapsFolder(), textsOf(context), context.window);
    connect(m_restore, &RestoreDialog::restoreRequested, this, &MapTools::loadFileRequested);
    m_compare = new MapCompareDialog(session, textsOf(context), context.window);

    const auto follow = [this](Session::State state) {
        const bool connected = state == Session::State::Connected;
        menuMapTools[2]->setEnabled(connected);
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
    m_compare->applyCaptions();
}

void MapTools::showRestore()
{
    m_restore->show();
    m_restore->raise();
    m_restore->activateWindow();
    m_restore->refresh();
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
    if (!map.ok) {
        m_context.tell(m_context.caption(Caption::MapInvalid) + QLatin1Char('\n')
                       + mapErrorText(map.error, m_context.captions));
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
