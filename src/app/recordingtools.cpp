#include "recordingtools.h"

#include "boxqueue.h"
#include "captiontable.h"
#include "dialogs.h"
#include "maptexts.h"
#include "recordingfile.h"
#include "recordingwindow.h"
#include "windowcontext.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>

namespace oe {

RecordingTools::RecordingTools(WindowContext &context, QMenu *toolsMenu) : QObject(context.window), m_context(context)
{
    toolsMenu->addSeparator();
    openItem = toolsMenu->addAction(QString());
    openItem->setObjectName(QStringLiteral("menuTools_6"));
    m_window = new RecordingWindow(context.window);
    connect(openItem, &QAction::triggered, this, [this] {
        QString path;
        {
            BoxQueue::Scope scope(*m_context.boxes);
            path = m_context.boxes->dialogs().openFileName(
                m_context.window, QDir(m_context.dataFolder).filePath(QStringLiteral("Recordings")),
                QStringLiteral("CSV (*.csv)"));
        }
        if (!path.isEmpty())
            open(path);
    });
}

void RecordingTools::applyCaptions()
{
    openItem->setText(m_context.caption(Caption::OpenRecordingItem));
    m_window->setCaptions(m_context.caption(Caption::RecordingTitle),
                          {m_context.caption(Caption::RpmName), m_context.caption(Caption::TinjName),
                           m_context.caption(Caption::PumpName), m_context.caption(Caption::PauseName)});
}

bool RecordingTools::open(const QString &path)
{
    QString error;
    const std::optional<RecordingReadResult> recording = readRecordingFile(path, &error);
    const QString name = QFileInfo(path).fileName();
    if (!recording) {
        m_context.tell(fillPlaceholders(m_context.caption(Caption::RecordingNotRead), {name, error}));
        return false;
    }
    if (recording->status == RecordingReadResult::Status::Foreign) {
        m_context.tell(fillPlaceholders(m_context.caption(Caption::RecordingForeign), {name}));
        return false;
    }
    m_window->showRecording(*recording, name);
    if (recording->status == RecordingReadResult::Status::CutShort)
        m_context.tell(fillPlaceholders(m_context.caption(Caption::RecordingCutShort),
                                        {name, QString::number(recording->badLine)}));
    return true;
}

} // namespace oe
