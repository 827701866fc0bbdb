#pragma once

#include "captiontable.h"
#include "configfile.h"
#include "languagefile.h"
#include "parameterset.h"
#include "portcatalog.h"
#include "recorder.h"
#include "session.h"

#include <QMainWindow>

#include <QSet>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressDialog;
class QPushButton;
class QSlider;

namespace oe {

class ChartWindow;
class Dialogs;
class IntervalTimer;
class PortSearch;
class QtTranslations;
class SerialPort;

// The one window of the program: the controls of the layout, start-up, the idle view and closing,
// captions, parameter editing and the pump lamp. The exchanges with the controller belong to the
// Session; the window shows what it reports and hands it what the user does.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(const QString &programFolder, QWidget *parent = nullptr);
    // The same window talking through the given port (tests pass a scripted one); takes ownership.
    MainWindow(const QString &programFolder, SerialPort *port, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The session with the controller: its state, the parameters and the live readings.
    Session &session() const { return *m_session; }

    // Replaces the message boxes and file dialogs (tests script them). Not owned; nullptr restores the
    // real ones.
    void setDialogs(Dialogs *dialogs);

    // Where the list of the system's serial ports comes from (tests give a list of their own).
    void setSystemPortLister(std::function<QList<SystemPort>()> lister);

    QString programFolder() const { return m_programFolder; }
    int ComPort() const { return m_comPort; }
    const ConfigLineArray &ConfigLines() const { return m_configLines; }

    // Puts the window into its idle view: labels empty, sliders disabled at their lower bounds, map and
    // reset buttons disabled, the pump lamp at rest, no firmware version. Changes no session state.
    void ResetView();

    // config.ini in the program folder. ReadConfig fills ConfigLines with defaults where the file is
    // missing, unreadable or short; WriteConfig replaces the file atomically.
    void ReadConfig();
    bool WriteConfig(QString *error = nullptr);

    // Language.ini: loads one language section into Captions; ApplyCaptions shows it on the controls.
    LanguageLoadResult LoadLanguage(const QString &code);
    void ApplyCaptions();
    const CaptionTable &Captions() const { return m_captions; }
    // The text of a caption-table entry; the messages have a built-in English text for when no
    // language file could fill them, so no box is ever shown blank.
    QString caption(int entry) const;

    bool isConnected() const;

    // The slider and value label of a parameter.
    QSlider *sliderFor(ParameterIndex index) const { return m_sliders[size_t(index)]; }
    QLabel *labelFor(ParameterIndex index) const { return m_valueLabels[size_t(index)]; }

    // The tools: the live chart's window (built with the window, shown from the menu), the recorder
    // and the exact-value editor while one is open ("ValueEditor").
    ChartWindow *chartWindow() const { return m_chart; }
    Recorder *recorder() const { return m_recorder; }
    QDoubleSpinBox *valueEditor() const { return m_valueEditor; }
    // Opens the editor over a parameter's value label, as a double-click on it does.
    bool openValueEditor(ParameterIndex index);

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildLayout();
    void buildMenus();
    void createTimers();
    void startUp();
    void stopTimers();
    void validatePortList();
    void init(SerialPort *port);

    // Binding to the session
    void bindSession();
    void onConnectClicked();
    void onResetClicked();
    void onSessionState(Session::State state);
    void onIdentified(int comPort, const std::array<quint8, 3> &version);
    void storePort();
    void onParameterRead(ParameterIndex index, qint32 field);
    void onParameterKnownChanged(ParameterIndex index, bool known);
    void showParameter(ParameterIndex index);
    void onLiveReadings();
    void onControllerAnswering(bool answering);
    // The link line over the logo: a controller that does not answer, else a noisy line, else nothing.
    void showLinkState();
    void onWriteFinished(ParameterIndex index, bool confirmed);
    void onSessionMessage(int textEntry, int titleEntry);
    // Boxes never stack: a message raised while a box or file dialog of the window is open (a port
    // lost meanwhile, say) waits until it has closed.
    void showMessage(const QString &text, const QString &title);
    struct ModalScope {
        explicit ModalScope(MainWindow *window);
        ~ModalScope();
        MainWindow *window;
    };
    void setParameterInput(bool enabled);

    // Finding the controller: the port list's marks, USB adapters, the failure box and the search
    void bindPorts();
    void refreshPortList();
    void markPorts();
    void offerUsbAdapters(const QList<SystemPort> &system);
    void showConnectFailure();
    void startSearch(int skippedPort);
    void onSearchTrying(int comPort, int index, int count);
    void onSearchFinished(int comPort);
    void selectPort(int comPort);

    // Map files
    void onLoadMapClicked();
    void onSaveMapClicked();
    void onMapLoaded(const MapLoadResult &result);
    QString mapsFolder();
    QString parameterCaption(ParameterIndex index) const;
    QString changeLine(ParameterIndex index, const QString &from, const QString &to) const;

    // Parameter editing and the pump lamp
    void previewSlider(ParameterIndex index);
    void commitSlider(ParameterIndex index, Recorder::Cause cause = Recorder::Cause::Slider);
    void writeSlider(ParameterIndex index, Recorder::Cause cause);
    bool sliderEvent(ParameterIndex index, QEvent *event);
    void refuseCommit(ParameterIndex index, ParameterIndex partner);
    void onPauseTick();
    void onFlashEnd();
    enum LampColor { kLampOff, kLampOn };
    void setLampColor(LampColor color);

    // Language and the Info menu
    void loadStartLanguage();
    void chooseLanguage(int index);
    void showLanguageInUse(const QString &code);
    void showInfo(int index);

    // Tools: chart, recording, read again, exact values
    void buildToolsMenu();
    void bindTools();
    void applyToolCaptions();
    void setToolsEnabled(bool enabled);
    void showChart();
    void toggleRecording();
    void onRecordingFailed(const QString &path);
    void saveChartPicture();
    void readAgain();
    void onReadAgainFinished(const RereadResult &result);
    bool valueEditorEvent(QObject *watched, QEvent *event);
    void commitValueEditor();
    void closeValueEditor();

    Dialogs &dialogs();

    QString configPath() const;

    const QString m_programFolder;
    std::unique_ptr<Dialogs> m_realDialogs;
    Dialogs *m_dialogs = nullptr;

    // Session state
    int m_comPort = 0;
    ConfigLineArray m_configLines;
    CaptionTable m_captions;
    // The language whose captions are on the controls; empty while none could be loaded.
    QString m_languageInUse;
    std::unique_ptr<QtTranslations> m_qtTranslations;
    QString m_builtInCode;  // the language of the built-in texts that fill entries the file lacks
    Session *m_session = nullptr;
    // Sliders whose commit is still on its way to the controller; they stay disabled until it ends.
    std::array<bool, kParameterCount> m_commitPending{};
    // Sliders moved by their keys since the last commit.
    std::array<bool, kParameterCount> m_keyEditing{};
    int m_modalDepth = 0;
    QList<QPair<QString, QString>> m_waitingMessages; // text, title
    // The controller identified itself on the port in ConfigLines; config.ini does not say so yet.
    bool m_portToStore = false;
    bool m_mapsProblemShown = false;
    std::array<QSlider *, kParameterCount> m_sliders{};
    std::array<QLabel *, kParameterCount> m_valueLabels{};
    ChartWindow *m_chart = nullptr;
    Recorder *m_recorder = nullptr;
    QDoubleSpinBox *m_valueEditor = nullptr;
    ParameterIndex m_editorIndex = ParameterIndex::MinPumpCycles;

    // Ports
    std::function<QList<SystemPort>()> m_systemPorts;
    QList<ComPortInfo> m_ports;
    // USB adapters offered as a COM port this session; one goes when its adapter is unplugged.
    QSet<QString> m_adaptersOffered;
    bool m_offeringAdapter = false;
    bool m_shownOnce = false;
    PortSearch *m_search = nullptr;
    QProgressDialog *m_searchProgress = nullptr;
    bool m_searchCancelled = false;
    // A connect failed while another box was open; its box follows when that one closes.
    bool m_connectFailureWaiting = false;

public:
    // The controls, named as in the layout (each also carries its name as objectName).
    QGroupBox *Frame1 = nullptr, *Frame2 = nullptr, *Frame3 = nullptr, *Frame4 = nullptr,
              *Frame5 = nullptr, *Frame6 = nullptr, *Frame7 = nullptr, *Frame8 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr,
           *Label9 = nullptr, *Label10 = nullptr, *Label11 = nullptr;
    QLabel *RpmLabel = nullptr, *TinjLabel = nullptr, *PumpLabel = nullptr, *PauseLabel = nullptr;
    QLabel *RpmMinLabel = nullptr, *TinjMinLabel = nullptr, *TinjMaxLabel = nullptr,
           *PumpMinLabel = nullptr, *PumpMaxLabel = nullptr, *PausaMinLabel = nullptr,
           *PausaMaxLabel = nullptr, *RpmMultiplierLabel = nullptr;
    QLabel *Image1 = nullptr;
    // What the window knows about the link beyond the layout's controls: "the controller does not
    // answer". Hidden while there is nothing to say.
    QLabel *LinkStateLabel = nullptr;
    QPushButton *cmdLoadMap = nullptr, *cmdSaveMap = nullptr, *btnConnect = nullptr,
                *ResetCmd = nullptr;
    QComboBox *COMM_Combo = nullptr;
    QSlider *RpmMultiplierSlider = nullptr, *RpmMinSlider = nullptr, *TinjMinSlider = nullptr,
            *TinjMaxSlider = nullptr, *PumpMinSlider = nullptr, *PumpMaxSlider = nullptr,
            *SliderPausaAlMinimo = nullptr, *SliderPausaAlMassimo = nullptr;
    QMenu *menuLinguaTop = nullptr, *menuInfoTop = nullptr, *menuToolsTop = nullptr;
    std::array<QAction *, 2> menuLingua{};
    std::array<QAction *, 2> menuInfo{};
    std::array<QAction *, 3> menuTools{}; // chart, record, read
    IntervalTimer *MSComm1_Timer = nullptr, *Timer_StatusRequest = nullptr,
                  *TimerLampeggio = nullptr, *TimerPausaLampeggio = nullptr;
};

} // namespace oe
