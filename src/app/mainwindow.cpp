#include "mainwindow.h"

#include "accessibility.h"
#include "boxqueue.h"
#include "builtincaptions.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "datafolder.h"
#include "focusguard.h"
#include "infomenu.h"
#include "intervaltimer.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "mapeditor.h"
#include "maptools.h"
#include "recordingtools.h"
#include "readingspanel.h"
#include "reconnectflow.h"
#include "recorder.h"
#include "session.h"
#include "sliderpanel.h"
#include "systemserialport.h"
#include "toolsmenu.h"
#include "windowlayout.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QIcon>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTimer>

#include <utility>

// The logo and icon live in this static library, so their resource must be pulled in by hand.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace oe {

using namespace layout;

namespace {
constexpr QSize kClientArea(7965 / kTwipsPerPixel, 8565 / kTwipsPerPixel);
// After the show, by when a window manager has told the frame it puts around the window.
constexpr int kFrameKnownMs = 500;
const QString kTitle = QStringLiteral("KESTRO - OE Setup");
} // namespace

MainWindow::MainWindow(const QString &programFolder, QWidget *parent)
    : MainWindow(programFolder, new SystemSerialPort(programFolder), parent)
{
}

MainWindow::MainWindow(const QString &programFolder, SerialPort *port, QWidget *parent)
    : QMainWindow(parent), m_boxes(std::make_unique<BoxQueue>(this))
{
    initAppResources();
    installAccessibility();
    m_context.programFolder = programFolder;
    m_context.dataFolder = dataFolderFor(programFolder);
    m_context.window = this;
    m_context.boxes = m_boxes.get();
    m_context.focus = new FocusGuard(this);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kTitle);
    setWindowIcon(QIcon(QStringLiteral(":/oe/icon.png")));
    setFont(baseFont());
    m_context.session = new Session(port, this);
    buildParts();
    wireParts();
    startUp();
}

MainWindow::~MainWindow()
{
    stopTimers();
    m_connection->storePort(true);
    // No handler may go on against a window that is going away.
    for (QObject *part : std::initializer_list<QObject *>{this, m_readings, m_connection, m_maps, m_sliders, m_tools, m_mapTools})
        m_context.session->disconnect(part);
    m_context.session->disconnectNow();
    // The controls go while the parts that filter their events still have a session to talk to.
    delete takeCentralWidget();
}

// The frames at the layout's places, each filled by its part; the order of the parts is the order
// the focus moves in.
void MainWindow::buildParts()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(kClientArea);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Left column: status, maps, connection, logo.
    auto *frame1 = makeFrame(client, "Frame1", QStringLiteral("Status"), twips(240, 105, 2895, 3015));
    auto *frame8 = makeFrame(client, "Frame8", QStringLiteral("Gestione Mappe"), twips(240, 3150, 2895, 1290));
    auto *frame5 = makeFrame(client, "Frame5", QStringLiteral("Connection"), twips(240, 4470, 2895, 2160));
    auto *image1 = named(new QLabel(client), "Image1");
    image1->setGeometry(twips(210, 6645, 2835, 1740));
    // The icon takes logo@2x.png beside it and scales from the sharper one: no blurred logo at 150 %.
    image1->setPixmap(QIcon(QStringLiteral(":/oe/logo.png")).pixmap(image1->size()));
    image1->setAlignment(Qt::AlignCenter);
    // Right column: the eight parameters.
    const SliderPanel::Frames parameters{
        makeFrame(client, "Frame7", QStringLiteral("Moltiplicatore RPM"), twips(3255, 105, 4545, 990)),
        makeFrame(client, "Frame2", QStringLiteral("Soglia RPM Inferiore"), twips(3255, 1155, 4545, 990)),
        makeFrame(client, "Frame3", QStringLiteral("Tempi Iniezione Veicolo"), twips(3240, 2205, 4545, 1935)),
        makeFrame(client, "Frame4", QStringLiteral("Durata iniezione lubrif."), twips(3240, 4200, 4545, 1935)),
        makeFrame(client, "Frame6", QStringLiteral("Pausa Iniezione lubrif."), twips(3240, 6195, 4545, 1935)),
    };

    m_readings = new ReadingsPanel(m_context, frame1, client, image1->geometry());
    m_maps = new MapPanel(m_context, frame8);
    m_connection = new ConnectionPanel(m_context, frame5);
    m_sliders = new SliderPanel(m_context, parameters);

    m_language = new LanguageMenu(m_context, menuBar());
    m_info = new InfoMenu(m_context, menuBar());
    m_context.recorder = new Recorder(m_context.session, this);
    m_tools = new ToolsMenu(m_context, menuBar());
    m_mapTools = new MapTools(m_context, m_tools->menuToolsTop);
    m_recordings = new RecordingTools(m_context, m_tools->menuToolsTop);
    m_reconnect = new ReconnectFlow(m_context, m_connection->btnConnect, m_readings);
    m_connection->setReconnectFlow(m_reconnect);
}

// What one part needs of another goes through here.
void MainWindow::wireParts()
{
    Session *session = m_context.session;
    m_context.parameterName = [this](ParameterIndex index) { return m_sliders->parameterCaption(index); };
    connect(session, &Session::notice, this, [this](Session::Notice notice) {
        switch (notice) {
        case Session::Notice::ConnectFailed:
            // A connect of the wait for a lost port: it waits on, without a box.
            if (m_reconnect->takeConnectFailure())
                return;
            m_connection->showConnectFailure();
            return;
        case Session::Notice::AfterReset:
            m_connection->showAfterReset();
            return;
        case Session::Notice::AnotherController:
            m_readings->showNote(caption(Caption::AnotherController));
            return;
        case Session::Notice::PortLost:
            m_reconnect->portLost(m_connection->comPort(), m_sliders->takeUnsentValue());
            return;
        case Session::Notice::ResetNotConfirmed:
            m_boxes->showMessage(caption(Caption::ResetNotConfirmed), caption(Caption::MessageTitle));
            return;
        case Session::Notice::WriteNotConfirmed:
            m_boxes->showMessage(caption(Caption::WriteNotConfirmed), caption(Caption::MessageTitle));
            return;
        }
    });
    // The focus stays where the user put it: nothing here moves it (the poll once put it on CONNECT,
    // where a stray Space disconnected). Tab goes from the port list to CONNECT, RESET, the map
    // buttons and the sliders top to bottom.
    const QList<QWidget *> tabOrder{m_connection->COMM_Combo,
                                    m_connection->btnConnect,
                                    m_connection->ResetCmd,
                                    m_maps->cmdLoadMap,
                                    m_maps->cmdSaveMap,
                                    m_sliders->RpmMultiplierSlider,
                                    m_sliders->RpmMinSlider,
                                    m_sliders->TinjMinSlider,
                                    m_sliders->TinjMaxSlider,
                                    m_sliders->PumpMinSlider,
                                    m_sliders->PumpMaxSlider,
                                    m_sliders->SliderPausaAlMinimo,
                                    m_sliders->SliderPausaAlMassimo};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // While a recording runs the window says so, with the file: beside the status frame and in its title.
    connect(m_context.recorder, &Recorder::recordingChanged, this, [this](bool recording) {
        const QString path = recording ? m_context.recorder->path() : QString();
        m_readings->showRecording(path);
        // The mark first: a taskbar shows the start of a title, and the platform appends the
        // program's name to a title that does not end with it.
        setWindowTitle(recording ? QStringLiteral("REC %1 – %2").arg(QFileInfo(path).fileName(), kTitle) : kTitle);
    });
    connect(m_sliders, &SliderPanel::note, m_readings, &ReadingsPanel::showNote);
    connect(m_maps, &MapPanel::note, m_readings, &ReadingsPanel::showNote);
    // The readings and a recording say when the map dialogs hold the poll, and when it comes back.
    connect(m_maps, &MapPanel::pollHeld, this, [this](bool held) {
        m_readings->setPaused(held);
        m_context.recorder->notePollHeld(held);
    });
    connect(m_readings, &ReadingsPanel::flashed, m_tools, &ToolsMenu::addFlash);
    connect(m_language, &LanguageMenu::captionsChanged, this, &MainWindow::ApplyCaptions);
    // Every way back to a tune, and the editor's map, goes through the map frame's one load.
    connect(m_connection, &ConnectionPanel::undoRequested, m_maps, &MapPanel::restoreWhenReady);
    connect(m_mapTools, &MapTools::loadFileRequested, m_maps, &MapPanel::loadFile);
    connect(m_mapTools, &MapTools::loadValuesRequested, m_maps,
            [this](const ParameterSet &values, const QString &, const MapOrigin &origin) {
                m_maps->loadValues(values, {}, {}, origin);
            });
}

void MainWindow::startUp()
{
    m_connection->fillPortList();
    ResetView();
    m_context.readConfig();
    m_connection->selectPort(portFromLine(m_context.configLines[0]));
    m_context.builtInCode = systemLanguageCode();
    m_language->loadStartLanguage();
}

void MainWindow::setDialogs(Dialogs *dialogs)
{
    m_boxes->setDialogs(dialogs);
}

void MainWindow::setSystemPortLister(std::function<QList<SystemPort>()> lister)
{
    m_reconnect->setSystemPortLister(lister);
    m_connection->setSystemPortLister(std::move(lister));
}

int MainWindow::ComPort() const
{
    return m_connection->comPort();
}

bool MainWindow::isConnected() const
{
    return m_context.session->Connected();
}

void MainWindow::ResetView()
{
    m_readings->resetView();
    m_sliders->resetView();
    m_maps->resetView();
    m_connection->resetView();
    m_tools->setToolsEnabled(false);
}

void MainWindow::ApplyCaptions()
{
    m_readings->applyCaptions();
    m_maps->applyCaptions();
    m_connection->applyCaptions();
    m_sliders->applyCaptions();
    m_language->applyCaptions();
    m_info->applyCaptions();
    m_tools->applyCaptions();
    m_mapTools->applyCaptions();
    m_recordings->applyCaptions();
}

void MainWindow::stopTimers()
{
    m_context.session->statusTimer()->setEnabled(false);
    m_readings->stopTimers();
    m_context.session->engine()->replyTimer()->setEnabled(false);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // A USB adapter plugged in before the program started is offered as soon as the window is up.
    if (!std::exchange(m_shownOnce, true)) {
        QMetaObject::invokeMethod(m_connection, &ConnectionPanel::refreshPortList, Qt::QueuedConnection);
        // Once shown, the title bar and borders are known; a window manager may tell them a little
        // later, and the window fits again then.
        QMetaObject::invokeMethod(this, &MainWindow::fitScreen, Qt::QueuedConnection);
        QTimer::singleShot(kFrameKnownMs, this, &MainWindow::fitScreen);
    }
}

// The layout is fixed in pixels at 100 %; a screen too small for it (1280×800 at 150 % leaves about
// 853×500) would cut off the bottom rows. There the client area scrolls inside a window that fits.
void MainWindow::fitScreen()
{
    if (const QScreen *shownOn = screen())
        fitInto(shownOn->availableGeometry());
}

void MainWindow::fitInto(const QRect &available)
{
    QWidget *central = centralWidget();
    if (!central)
        return;
    QSize decoration = frameGeometry().size() - geometry().size();
    // Before the window manager told its frame, a title bar and borders are counted all the same: a
    // window as high as the work area had its foot below the screen's edge.
    if (decoration.height() <= 0) {
        const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
        decoration = QSize(2 * border, style()->pixelMetric(QStyle::PM_TitleBarHeight) + 2 * border);
    }
    const QSize room = available.size() - decoration;
    if (!qobject_cast<QScrollArea *>(central)) {
        layout()->activate(); // the fixed size, also before the first show
        if (width() <= room.width() && height() <= room.height())
            return;
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        m_whole = QSize(central->width() + bar, height() + bar);
        takeCentralWidget();
        auto *scroll = new QScrollArea(this);
        scroll->setObjectName(QStringLiteral("clientScroll"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(central);
        layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        setCentralWidget(scroll);
        setMaximumSize(m_whole);
    }
    setMinimumSize(QSize(200, 200).boundedTo(room));
    resize(m_whole.boundedTo(room));
    // The frame's corner at the work area's: all of it on the screen, none under a panel.
    move(available.topLeft());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A map being edited is asked about first; kept, the window stays.
    if (QWidget *editor = m_mapTools->editor(); editor->isVisible() && !editor->close()) {
        event->ignore();
        return;
    }
    m_tools->chartWindow()->close();
    stopTimers();
    m_connection->cancelSearch();
    // Drops the request in flight and everything queued, so no sequence talks on. Nothing is sent to
    // the controller.
    m_context.session->disconnectNow();
    event->accept();
}

} // namespace oe
