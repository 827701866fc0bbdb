#pragma once

#include "session.h"

#include <QObject>

#include <array>

class QAction;
class QMenu;
class QMenuBar;

namespace oe {

class ChartWindow;
struct WindowContext;

// The Tools menu: the live chart, the recording of a test ride and reading the parameters again.
class ToolsMenu : public QObject
{
    Q_OBJECT
public:
    ToolsMenu(WindowContext &context, QMenuBar *menuBar);

    // The live chart's window, built with the window and shown from the menu.
    ChartWindow *chartWindow() const { return m_chart; }
    // Like the map buttons, the tools work while connected with no sequence running; a recording can
    // be stopped at any time.
    void setToolsEnabled(bool enabled);
    void applyCaptions();
    // The pump lamp lit: the chart marks it.
    void addFlash();

    QMenu *menuToolsTop = nullptr;
    std::array<QAction *, 3> menuTools{}; // chart, record, read

private:
    void showChart();
    void toggleRecording();
    void onRecordingFailed(const QString &path);
    void saveChartPicture();
    void readAgain();
    void onReadAgainFinished(const RereadResult &result);

    WindowContext &m_context;
    Session &m_session;
    ChartWindow *m_chart = nullptr;
};

} // namespace oe
