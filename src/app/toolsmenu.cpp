#include "toolsmenu.h"

#include "accessibility.h"
#include "boxqueue.h"
#include "chartwindow.h"
#include "dialogs.h"
#include "numbertexts.h"
#include "recorder.h"
#include "valuerule.h"
#include "windowcontext.h"
#include "windowlayout.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>

namespace oe {

ToolsMenu::ToolsMenu(WindowContext &context, QMenuBar *menuBar)
    : QObject(context.window), m_context(context), m_session(*context.session)
{
    menuToolsTop = menuBar->addMenu(QStringLiteral("Strumenti"));
    menuToolsTop->setObjectName(QStringLiteral("menuToolsTop"));
    const char *names[] = {"menuTools_0", "menuTools_1", "menuTools_2"};
    const char *texts[] = {"Grafico", "Registra", "Rileggi"};
    for (size_t i = 0; i < menuTools.size(); ++i) {
        menuTools[i] = menuToolsTop->addAction(QString::fromLatin1(texts[i]));
        menuTools[i]->setObjectName(QLatin1String(names[i]));
    }
    menuTools[1]->setCheckable(true); // checked while a recording runs
    connect(menuTools[0], &QAction::triggered, this, &ToolsMenu::showChart);
    connect(menuTools[1], &QAction::triggered, this, &ToolsMenu::toggleRecording);
    connect(menuTools[2], &QAction::triggered, this, &ToolsMenu::readAgain);

    m_chart = new ChartWindow(context.window);
    closeOnEscapeAndCtrlW(m_chart);
    connect(m_chart, &ChartWindow::savePictureRequested, this, &ToolsMenu::saveChartPicture);
    connect(&m_session, &Session::liveReadingsChanged, m_chart, [this] {
        // The threshold line shows what the controller holds, not a slider's preview.
        m_chart->view()->setRpmMin(m_session.controllerValue(ParameterIndex::RpmMin).value_or(ChartView::kNoRpmMin));
        m_chart->addReading(m_session.LiveRpm, m_session.LiveTinj, m_session.LivePump, m_session.LivePause);
    });
    connect(&m_session, &Session::stateChanged, this, [this](Session::State state) {
        setToolsEnabled(state == Session::State::Connected);
        // A new session starts a new chart; one that ended leaves a break in it.
        if (state == Session::State::Connecting)
            m_chart->clear();
        else if (state == Session::State::Idle)
            m_chart->markGap();
    });
    connect(&m_session, &Session::controllerAnsweringChanged, m_chart, [this](bool answering) {
        if (!answering)
            m_chart->markGap();
    });
    connect(&m_session, &Session::readAgainFinished, this, &ToolsMenu::onReadAgainFinished);
    Recorder *recorder = context.recorder;
    connect(recorder, &Recorder::recordingChanged, menuTools[1], &QAction::setChecked);
    connect(recorder, &Recorder::recordingChanged, this, [this] { setToolsEnabled(menuTools[0]->isEnabled()); });
    connect(recorder, &Recorder::writeFailed, this, &ToolsMenu::onRecordingFailed);
}

void ToolsMenu::applyCaptions()
{
    const auto caption = [this](int entry) { return m_context.caption(entry); };
    menuToolsTop->setTitle(m_context.menuText(Caption::ToolsMenuKeyed, Caption::ToolsMenu));
    menuTools[0]->setText(m_context.menuText(Caption::ChartItemKeyed, Caption::ChartItem));
    menuTools[1]->setText(m_context.menuText(Caption::RecordItemKeyed, Caption::RecordItem));
    menuTools[2]->setText(m_context.menuText(Caption::ReadItemKeyed, Caption::ReadItem));
    m_chart->setCaptions(caption(Caption::ChartTitle), caption(Caption::ChartPause), caption(Caption::ChartSave),
                         {caption(Caption::RpmName), caption(Caption::TinjName), caption(Caption::PumpName),
                          caption(Caption::PauseName)});
}

void ToolsMenu::setToolsEnabled(bool enabled)
{
    menuTools[0]->setEnabled(enabled);
    menuTools[2]->setEnabled(enabled);
    menuTools[1]->setEnabled(enabled || (m_context.recorder && m_context.recorder->isRecording()));
}

void ToolsMenu::addFlash()
{
    m_chart->addFlash();
}

void ToolsMenu::showChart()
{
    if (m_session.state() != Session::State::Connected)
        return;
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void ToolsMenu::toggleRecording()
{
    Recorder *recorder = m_context.recorder;
    if (recorder->isRecording()) {
        recorder->stop();
        return;
    }
    menuTools[1]->setChecked(false); // until a recording really runs
    if (m_session.state() != Session::State::Connected)
        return;
    const QString folder = QDir(m_context.dataFolder).filePath(QStringLiteral("Recordings"));
    QDir().mkpath(folder);
    const QString suggested = QDir(folder).filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".csv"));
    QString path;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        path = m_context.boxes->dialogs().saveFileName(m_context.window, suggested, QStringLiteral("CSV (*.csv)"));
    }
    // The session may have ended while the dialog was open: nothing left to record.
    if (path.isEmpty() || m_session.state() == Session::State::Idle)
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!recorder->start(path, &error) && !error.isEmpty())
        m_context.tell(m_context.caption(Caption::RecordNotStarted).arg(error));
}

void ToolsMenu::onRecordingFailed(const QString &path)
{
    m_context.tell(m_context.caption(Caption::RecordStopped).arg(QDir::toNativeSeparators(path)));
}

void ToolsMenu::saveChartPicture()
{
    const QString suggested = QDir(m_context.dataFolder).filePath(
        QStringLiteral("chart-%1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString path;
    {
        BoxQueue::Scope scope(*m_context.boxes);
        path = m_context.boxes->dialogs().saveFileName(m_chart, suggested, QStringLiteral("PNG (*.png)"));
    }
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    if (!m_chart->savePicture(path))
        m_context.tell(m_context.caption(Caption::PictureNotSaved));
}

void ToolsMenu::readAgain()
{
    m_context.recorder->setCause(Recorder::Cause::Read);
    m_session.readAgain();
}

// One message for the whole read: the values that differ from what the window showed, and those
// that got no answer.
void ToolsMenu::onReadAgainFinished(const RereadResult &result)
{
    QStringList differing, unanswered;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        if (!result.answered[size_t(i)]) {
            unanswered << m_context.parameterName(index);
            continue;
        }
        const qint32 now = result.readBack[index];
        const bool known = result.knownBefore[size_t(i)];
        if (!known || now != result.before[index])
            differing << m_context.changeLine(
                index, known ? displayText(index, result.before[index]) : layout::kUnknownText, displayText(index, now));
    }
    QStringList parts;
    if (differing.isEmpty() && unanswered.isEmpty())
        parts << m_context.caption(Caption::ReadSame);
    if (!differing.isEmpty())
        parts << m_context.caption(Caption::ReadDiffers) + QLatin1Char('\n') + differing.join(QLatin1Char('\n'));
    if (!unanswered.isEmpty())
        parts << m_context.caption(Caption::ReadUnanswered) + QLatin1Char('\n') + unanswered.join(QLatin1Char('\n'));
    m_context.tell(parts.join(QStringLiteral("\n\n")));
}

} // namespace oe
