// The Tools menu: the live chart, the recording of a test ride, reading the parameters again, and the
// editor that takes an exact value where a slider cannot reach every step.

#include "chartwindow.h"
#include "dialogs.h"
#include "mainwindow.h"
#include "numbertexts.h"
#include "valuerule.h"

#include <QAction>
#include <QDateTime>
#include <QFileInfo>
#include <QDir>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>

#include <algorithm>
#include <cmath>
#include <utility>

namespace oe {

namespace {

// How the editor shows a parameter: the label's unit, enough decimals for every step, what a field
// and a slider position are worth in that unit, and the step of the arrows.
struct EditorScale {
    double perField;
    double perPosition;
    double step;
    int decimals;
    const char *suffix;
};

EditorScale editorScale(ParameterIndex index)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::MaxPumpCycles:
        return {0.02, 0.02, 0.02, 2, " s"};
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause:
        return {0.025, 0.025, 0.025, 3, " s"};
    case ParameterIndex::RpmMultiplier:
        return {1, 10, 10, 0, "%"};
    default:
        return {1, 1, 50, 0, ""};
    }
}

} // namespace

void MainWindow::buildToolsMenu()
{
    menuToolsTop = menuBar()->addMenu(QStringLiteral("Strumenti"));
    menuToolsTop->setObjectName(QStringLiteral("menuToolsTop"));
    const char *names[] = {"menuTools_0", "menuTools_1", "menuTools_2"};
    const char *texts[] = {"Grafico", "Registra", "Rileggi"};
    for (size_t i = 0; i < menuTools.size(); ++i) {
        menuTools[i] = menuToolsTop->addAction(QString::fromLatin1(texts[i]));
        menuTools[i]->setObjectName(QLatin1String(names[i]));
    }
    menuTools[1]->setCheckable(true); // checked while a recording runs
    connect(menuTools[0], &QAction::triggered, this, &MainWindow::showChart);
    connect(menuTools[1], &QAction::triggered, this, &MainWindow::toggleRecording);
    connect(menuTools[2], &QAction::triggered, this, &MainWindow::readAgain);
}

void MainWindow::bindTools()
{
    m_chart = new ChartWindow(this);
    m_recorder = new Recorder(m_session, this);
    connect(m_chart, &ChartWindow::savePictureRequested, this, &MainWindow::saveChartPicture);
    connect(m_session, &Session::liveReadingsChanged, m_chart, [this] {
        // The threshold line shows what the controller holds, not a slider's preview.
        m_chart->view()->setRpmMin(m_session->parameterKnown(ParameterIndex::RpmMin)
                                       ? m_session->confirmedParameters().RpmMin
                                       : ChartView::kNoRpmMin);
        m_chart->addReading(m_session->LiveRpm, m_session->LiveTinj, m_session->LivePump, m_session->LivePause);
    });
    connect(m_session, &Session::stateChanged, this, [this](Session::State state) {
        // A new session starts a new chart; one that ended leaves a break in it.
        if (state == Session::State::Connecting)
            m_chart->clear();
        else if (state == Session::State::Idle)
            m_chart->markGap();
        if (state != Session::State::Connected)
            closeValueEditor();
    });
    connect(m_session, &Session::controllerAnsweringChanged, m_chart, [this](bool answering) {
        if (!answering)
            m_chart->markGap();
    });
    connect(m_session, &Session::readAgainFinished, this, &MainWindow::onReadAgainFinished);
    connect(m_recorder, &Recorder::recordingChanged, menuTools[1], &QAction::setChecked);
    connect(m_recorder, &Recorder::recordingChanged, this, [this] { setToolsEnabled(menuTools[0]->isEnabled()); });
    connect(m_recorder, &Recorder::writeFailed, this, &MainWindow::onRecordingFailed);
    for (QLabel *label : m_valueLabels)
        label->installEventFilter(this);
}

void MainWindow::applyToolCaptions()
{
    menuToolsTop->setTitle(caption(Caption::ToolsMenu));
    menuTools[0]->setText(caption(Caption::ChartItem));
    menuTools[1]->setText(caption(Caption::RecordItem));
    menuTools[2]->setText(caption(Caption::ReadItem));
    m_chart->setCaptions(caption(Caption::ChartTitle), caption(Caption::ChartPause), caption(Caption::ChartSave),
                         {caption(Caption::RpmName), caption(Caption::TinjName), caption(Caption::PumpName),
                          caption(Caption::PauseName)});
}

// Like the map buttons, the tools work while connected with no sequence running; a recording can be
// stopped at any time.
void MainWindow::setToolsEnabled(bool enabled)
{
    if (!menuToolsTop)
        return;
    menuTools[0]->setEnabled(enabled);
    menuTools[2]->setEnabled(enabled);
    menuTools[1]->setEnabled(enabled || (m_recorder && m_recorder->isRecording()));
}

void MainWindow::showChart()
{
    if (m_session->state() != Session::State::Connected)
        return;
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void MainWindow::toggleRecording()
{
    if (m_recorder->isRecording()) {
        m_recorder->stop();
        return;
    }
    menuTools[1]->setChecked(false); // until a recording really runs
    if (m_session->state() != Session::State::Connected)
        return;
    const QString folder = QDir(m_programFolder).filePath(QStringLiteral("Recordings"));
    QDir().mkpath(folder);
    const QString suggested = QDir(folder).filePath(
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".csv"));
    QString path;
    {
        ModalScope scope(this);
        path = dialogs().saveFileName(this, suggested, QStringLiteral("CSV (*.csv)"));
    }
    // The session may have ended while the dialog was open: nothing left to record.
    if (path.isEmpty() || m_session->state() == Session::State::Idle)
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".csv");
    QString error;
    if (!m_recorder->start(path, &error) && !error.isEmpty())
        showMessage(caption(Caption::RecordNotStarted).arg(error), caption(Caption::MessageTitle));
}

void MainWindow::onRecordingFailed(const QString &path)
{
    showMessage(caption(Caption::RecordStopped).arg(QDir::toNativeSeparators(path)), caption(Caption::MessageTitle));
}

void MainWindow::saveChartPicture()
{
    const QString suggested = QDir(m_programFolder).filePath(
        QStringLiteral("chart-%1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    QString path;
    {
        ModalScope scope(this);
        path = dialogs().saveFileName(m_chart, suggested, QStringLiteral("PNG (*.png)"));
    }
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    if (!m_chart->savePicture(path))
        showMessage(caption(Caption::PictureNotSaved), caption(Caption::MessageTitle));
}

void MainWindow::readAgain()
{
    m_recorder->setCause(Recorder::Cause::Read);
    m_session->readAgain();
}

// One message for the whole read: the values that differ from what the window showed, and those
// that got no answer.
void MainWindow::onReadAgainFinished(const RereadResult &result)
{
    QStringList differing, unanswered;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        if (!result.answered[size_t(i)]) {
            unanswered << parameterCaption(index);
            continue;
        }
        qint32 now = result.readBack[index];
        if (index == ParameterIndex::RpmMultiplier)
            now = cappedMultiplier(now);
        const bool known = result.knownBefore[size_t(i)];
        if (!known || now != result.before[index])
            differing << changeLine(index, known ? displayText(index, result.before[index]) : QStringLiteral("---"),
                                    displayText(index, now));
    }
    QStringList parts;
    if (differing.isEmpty() && unanswered.isEmpty())
        parts << caption(Caption::ReadSame);
    if (!differing.isEmpty())
        parts << caption(Caption::ReadDiffers) + QLatin1Char('\n') + differing.join(QLatin1Char('\n'));
    if (!unanswered.isEmpty())
        parts << caption(Caption::ReadUnanswered) + QLatin1Char('\n') + unanswered.join(QLatin1Char('\n'));
    showMessage(parts.join(QStringLiteral("\n\n")), caption(Caption::MessageTitle));
}

// ---- Exact values

bool MainWindow::openValueEditor(ParameterIndex index)
{
    QSlider *slider = sliderFor(index);
    if (!slider->isEnabled() || m_session->state() != Session::State::Connected)
        return false;
    closeValueEditor();
    const EditorScale scale = editorScale(index);
    QLabel *label = labelFor(index);
    auto *editor = new QDoubleSpinBox(label->parentWidget());
    editor->setObjectName(QStringLiteral("ValueEditor"));
    editor->setLocale(QLocale()); // the decimal separator the labels show
    editor->setDecimals(scale.decimals);
    editor->setSingleStep(scale.step);
    editor->setRange(slider->minimum() * scale.perPosition, slider->maximum() * scale.perPosition);
    editor->setSuffix(QString::fromLatin1(scale.suffix));
    editor->setValue(m_session->Parameters[index] * scale.perField);
    editor->setGeometry(label->geometry().adjusted(-4, -2, 8, 2));
    editor->setFont(label->font());
    editor->installEventFilter(this);
    m_valueEditor = editor;
    m_editorIndex = index;
    editor->show();
    editor->setFocus(Qt::OtherFocusReason);
    editor->selectAll();
    return true;
}

// The typed value becomes the slider position it stands for, rounded as the slider would be, and the
// commit is the one a mouse release makes: preview, interlock, write.
void MainWindow::commitValueEditor()
{
    QDoubleSpinBox *editor = m_valueEditor;
    const ParameterIndex index = m_editorIndex;
    QSlider *slider = sliderFor(index);
    editor->interpretText();
    const EditorScale scale = editorScale(index);
    const int position = std::clamp(int(std::lround(editor->value() / scale.perPosition)), slider->minimum(),
                                    slider->maximum());
    const qint32 field = fieldFromPosition(index, position);
    editor->setValue(field * scale.perField);
    closeValueEditor();
    if (!slider->isEnabled() || m_session->state() != Session::State::Connected)
        return;
    slider->setValue(position);
    previewSlider(index);
    commitSlider(index, Recorder::Cause::Typed);
}

void MainWindow::closeValueEditor()
{
    if (QDoubleSpinBox *editor = std::exchange(m_valueEditor, nullptr)) {
        editor->removeEventFilter(this);
        editor->hide();
        editor->deleteLater();
    }
}

bool MainWindow::valueEditorEvent(QObject *watched, QEvent *event)
{
    if (m_valueEditor && watched == m_valueEditor) {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                commitValueEditor();
                return true;
            }
            if (key == Qt::Key_Escape) {
                closeValueEditor();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            closeValueEditor();
        }
        return false;
    }
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        if (watched == labelFor(index) && event->type() == QEvent::MouseButtonDblClick)
            return openValueEditor(index);
        if (watched == sliderFor(index) && event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                return openValueEditor(index);
        }
    }
    return false;
}

} // namespace oe
