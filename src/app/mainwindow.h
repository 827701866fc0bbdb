#pragma once

#include "portcatalog.h"
#include "windowcontext.h"

#include <QMainWindow>

#include <functional>
#include <memory>

namespace oe {

class ConnectionPanel;
class Dialogs;
class InfoMenu;
class LanguageMenu;
class MapPanel;
class MapTools;
class RecordingTools;
class ReadingsPanel;
class ReconnectFlow;
class SerialPort;
class SliderPanel;
class ToolsMenu;

// The one window of the program: the frames at the layout's places and the menu bar, the parts that
// fill them (each owns its controls and binds them to the session), the wiring between the parts,
// start-up, the idle view and closing. The exchanges with the controller belong to the Session.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const QString &programFolder, QWidget *parent = nullptr);
    // The same window talking through the given port (tests pass a scripted one); takes ownership.
    MainWindow(const QString &programFolder, SerialPort *port, QWidget *parent = nullptr);
    ~MainWindow() override;

    Session &session() const { return *m_context.session; }
    // Replaces the message boxes and file dialogs (tests script them). Not owned; nullptr restores the
    // real ones.
    void setDialogs(Dialogs *dialogs);
    // Where the list of the system's serial ports comes from (tests give a list of their own).
    void setSystemPortLister(std::function<QList<SystemPort>()> lister);
    int ComPort() const;
    const ConfigLineArray &ConfigLines() const { return m_context.configLines; }
    const CaptionTable &Captions() const { return m_context.captions; }
    QString caption(int entry) const { return m_context.caption(entry); }
    bool isConnected() const;
    // Puts the window into its idle view: labels empty, sliders disabled at their lower bounds, map and
    // reset buttons disabled, the pump lamp at rest, no firmware version. Changes no session state.
    void ResetView();
    // Shows the captions in use on every part.
    void ApplyCaptions();

    // The parts.
    ReadingsPanel &readings() const { return *m_readings; }
    ConnectionPanel &connection() const { return *m_connection; }
    MapPanel &maps() const { return *m_maps; }
    SliderPanel &sliders() const { return *m_sliders; }
    ToolsMenu &tools() const { return *m_tools; }
    MapTools &mapTools() const { return *m_mapTools; }
    RecordingTools &recordings() const { return *m_recordings; }
    LanguageMenu &language() const { return *m_language; }
    ReconnectFlow &reconnect() const { return *m_reconnect; }

    // Makes the window fit a work area (the screen's, once shown): when it is too small for the fixed
    // layout, the client area scrolls inside a window that fits.
    void fitInto(const QRect &available);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void buildParts();
    void wireParts();
    void startUp();
    void stopTimers();
    void fitScreen();

    WindowContext m_context;
    std::unique_ptr<BoxQueue> m_boxes;
    ReadingsPanel *m_readings = nullptr;
    ConnectionPanel *m_connection = nullptr;
    MapPanel *m_maps = nullptr;
    SliderPanel *m_sliders = nullptr;
    ToolsMenu *m_tools = nullptr;
    MapTools *m_mapTools = nullptr;
    RecordingTools *m_recordings = nullptr;
    LanguageMenu *m_language = nullptr;
    InfoMenu *m_info = nullptr;
    ReconnectFlow *m_reconnect = nullptr;
    bool m_shownOnce = false;
    QSize m_whole; // the window that shows the whole layout, once it scrolls
};

} // namespace oe
