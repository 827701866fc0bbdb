#include "mainwindow.h"

#include "builtincaptions.h"
#include "chartwindow.h"
#include "dialogs.h"
#include "intervaltimer.h"
#include "maptexts.h"
#include "portcombo.h"
#include "portsearch.h"
#include "porttexts.h"
#include "qttranslations.h"
#include "systemserialport.h"

#include <QAction>
#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <utility>

// The logo and icon live in this static library, so their resource must be pulled in by hand.
static void initAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace oe {

namespace {

// The layout is drawn in twips; the screen has 15 of them to a pixel.
constexpr int kTwipsPerPixel = 15;
constexpr QSize kClientArea(7965 / kTwipsPerPixel, 8565 / kTwipsPerPixel);

QRect twips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel,
                 height / kTwipsPerPixel);
}

// Colours are kept as the layout gives them: 0x00BBGGRR.
QColor bgr(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

const QColor kCaptionBack = bgr(0x0000C0C0); // also the pump lamp at rest
const QColor kLiveBack = bgr(0x000080FF);
const QColor kVersionBack = bgr(0x00FFFFC0);
const QColor kLampOnBack = bgr(0x000000FF);

QFont baseFont()
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    font.setBold(false); // explicit, so captions inside bold frames stay plain
    return font;
}

QFont boldFont(int pointSize = 9)
{
    QFont font = baseFont();
    font.setPointSize(pointSize);
    font.setBold(true);
    return font;
}

template <typename T>
T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QGroupBox *makeFrame(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *frame = named(new QGroupBox(caption, parent), name);
    frame->setGeometry(geometry);
    frame->setFont(boldFont());
    return frame;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, QRect geometry,
                  const QColor &back = QColor())
{
    auto *label = named(new QLabel(text, parent), name);
    label->setGeometry(geometry);
    label->setFont(baseFont());
    if (back.isValid()) {
        label->setAutoFillBackground(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::Window, back);
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *button = named(new QPushButton(caption, parent), name);
    button->setGeometry(geometry);
    button->setFont(boldFont());
    return button;
}

struct SliderSpec {
    int min, max, smallChange, largeChange, tickFrequency, value;
};

QSlider *makeSlider(QWidget *parent, const char *name, QRect geometry, SliderSpec spec)
{
    auto *slider = named(new QSlider(Qt::Horizontal, parent), name);
    slider->setGeometry(geometry);
    slider->setRange(spec.min, spec.max);
    slider->setSingleStep(spec.smallChange);
    slider->setPageStep(spec.largeChange);
    slider->setTickInterval(spec.tickFrequency);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setValue(spec.value);
    return slider;
}

void setBackColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, color);
    label->setPalette(palette);
}

} // namespace

MainWindow::MainWindow(const QString &programFolder, QWidget *parent)
    : MainWindow(programFolder, new SystemSerialPort(programFolder), parent)
{
}

MainWindow::MainWindow(const QString &programFolder, SerialPort *port, QWidget *parent)
    : QMainWindow(parent), m_programFolder(programFolder), m_realDialogs(std::make_unique<QtDialogs>()),
      m_qtTranslations(std::make_unique<QtTranslations>(programFolder))
{
    init(port);
}

void MainWindow::init(SerialPort *port)
{
    initAppResources();
    m_dialogs = m_realDialogs.get();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("KESTRO - OE Setup"));
    setWindowIcon(QIcon(QStringLiteral(":/oe/icon.png")));
    setFont(baseFont());
    buildLayout();
    buildMenus();
    m_session = new Session(port, this);
    createTimers();
    bindSession();
    bindTools();
    bindPorts();
    startUp();
}

MainWindow::~MainWindow()
{
    stopTimers();
    storePort();
    // No handler may go on against a window that is going away.
    m_session->disconnect(this);
    m_session->disconnectNow();
}

void MainWindow::setDialogs(Dialogs *dialogs)
{
    m_dialogs = dialogs ? dialogs : m_realDialogs.get();
}

Dialogs &MainWindow::dialogs()
{
    return *m_dialogs;
}

QString MainWindow::configPath() const
{
    return QDir(m_programFolder).filePath(QStringLiteral("config.ini"));
}

void MainWindow::buildLayout()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(kClientArea);
    setCentralWidget(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // Left column: status, maps, connection, logo.
    Frame1 = makeFrame(client, "Frame1", QStringLiteral("Status"), twips(240, 105, 2895, 3015));
    Label1 = makeLabel(Frame1, "Label1", QStringLiteral("RPM"), twips(240, 480, 1095, 495), kCaptionBack);
    RpmLabel = makeLabel(Frame1, "RpmLabel", QString(), twips(1320, 480, 1335, 495), kLiveBack);
    Label2 = makeLabel(Frame1, "Label2", QStringLiteral("TINJ"), twips(240, 1080, 1095, 495), kCaptionBack);
    TinjLabel = makeLabel(Frame1, "TinjLabel", QString(), twips(1320, 1080, 1335, 495), kLiveBack);
    Label3 = makeLabel(Frame1, "Label3", QStringLiteral("PUMP"), twips(240, 1680, 1095, 495), kCaptionBack);
    PumpLabel = makeLabel(Frame1, "PumpLabel", QString(), twips(1320, 1680, 1335, 495), kLiveBack);
    Label8 = makeLabel(Frame1, "Label8", QStringLiteral("PAUSA"), twips(240, 2280, 1095, 495), kCaptionBack);
    PauseLabel = makeLabel(Frame1, "PauseLabel", QString(), twips(1320, 2280, 1335, 495), kLiveBack);
    for (QLabel *label : {Label1, Label2, Label3, Label8, RpmLabel, TinjLabel, PumpLabel, PauseLabel}) {
        label->setAlignment(Qt::AlignCenter);
        label->setFont(boldFont(11));
    }

    Frame8 = makeFrame(client, "Frame8", QStringLiteral("Gestione Mappe"), twips(240, 3150, 2895, 1290));
    cmdLoadMap = makeButton(Frame8, "cmdLoadMap", QStringLiteral("Carica Mappa"), twips(240, 315, 2445, 420));
    cmdSaveMap = makeButton(Frame8, "cmdSaveMap", QStringLiteral("Salva Mappa"), twips(225, 765, 2445, 420));

    Frame5 = makeFrame(client, "Frame5", QStringLiteral("Connection"), twips(240, 4470, 2895, 2160));
    COMM_Combo = named(new PortCombo(Frame5), "COMM_Combo");
    COMM_Combo->setGeometry(twips(480, 360, 1935, 315));
    COMM_Combo->setFont(baseFont());
    COMM_Combo->installEventFilter(this);
    btnConnect = makeButton(Frame5, "btnConnect", QStringLiteral("CONNETTI"), twips(480, 720, 1935, 375));
    ResetCmd = makeButton(Frame5, "ResetCmd", QStringLiteral("RESET"), twips(480, 1140, 1935, 375));
    Label9 = makeLabel(Frame5, "Label9", QStringLiteral("Label9"), twips(450, 1590, 1935, 435), kVersionBack);
    Label9->setAlignment(Qt::AlignCenter);

    Image1 = named(new QLabel(client), "Image1");
    Image1->setGeometry(twips(210, 6645, 2835, 1740));
    Image1->setPixmap(QPixmap(QStringLiteral(":/oe/logo.png")));
    Image1->setAlignment(Qt::AlignCenter);

    // Over the logo, the one place in the layout with room for a sentence where it covers no control.
    LinkStateLabel = named(new QLabel(client), "LinkStateLabel");
    LinkStateLabel->setGeometry(Image1->geometry());
    LinkStateLabel->setFont(boldFont());
    LinkStateLabel->setWordWrap(true);
    LinkStateLabel->setAlignment(Qt::AlignCenter);
    LinkStateLabel->setAutoFillBackground(true);
    LinkStateLabel->hide();

    // Right column: the eight parameters.
    Frame7 = makeFrame(client, "Frame7", QStringLiteral("Moltiplicatore RPM"), twips(3255, 105, 4545, 990));
    RpmMultiplierSlider = makeSlider(Frame7, "RpmMultiplierSlider", twips(120, 315, 2850, 495), {5, 20, 1, 1, 1, 10});
    RpmMultiplierLabel = makeLabel(Frame7, "RpmMultiplierLabel", QString(), twips(3045, 420, 1335, 375));

    Frame2 = makeFrame(client, "Frame2", QStringLiteral("Soglia RPM Inferiore"), twips(3255, 1155, 4545, 990));
    RpmMinSlider = makeSlider(Frame2, "RpmMinSlider", twips(120, 420, 2850, 495), {0, 6000, 50, 500, 1000, 0});
    RpmMinLabel = makeLabel(Frame2, "RpmMinLabel", QString(), twips(3045, 420, 1335, 375));

    Frame3 = makeFrame(client, "Frame3", QStringLiteral("Tempi Iniezione Veicolo"), twips(3240, 2205, 4545, 1935));
    Label4 = makeLabel(Frame3, "Label4", QStringLiteral("Tinj Min"), twips(3045, 240, 1335, 375));
    TinjMinSlider = makeSlider(Frame3, "TinjMinSlider", twips(120, 480, 2850, 495), {50, 30000, 50, 50, 5000, 50});
    TinjMinLabel = makeLabel(Frame3, "TinjMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label5 = makeLabel(Frame3, "Label5", QStringLiteral("Tinj Max"), twips(3045, 1080, 1335, 375));
    TinjMaxSlider = makeSlider(Frame3, "TinjMaxSlider", twips(120, 1320, 2850, 495), {50, 30000, 50, 50, 5000, 50});
    TinjMaxLabel = makeLabel(Frame3, "TinjMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    Frame4 = makeFrame(client, "Frame4", QStringLiteral("Durata iniezione lubrif."), twips(3240, 4200, 4545, 1935));
    Label10 = makeLabel(Frame4, "Label10", QStringLiteral("Carico Min"), twips(3045, 240, 1335, 375));
    PumpMinSlider = makeSlider(Frame4, "PumpMinSlider", twips(120, 480, 2850, 495), {1, 50, 1, 5, 5, 1});
    PumpMinLabel = makeLabel(Frame4, "PumpMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label7 = makeLabel(Frame4, "Label7", QStringLiteral("Carico Max"), twips(3045, 1080, 1335, 375));
    PumpMaxSlider = makeSlider(Frame4, "PumpMaxSlider", twips(120, 1320, 2850, 495), {2, 50, 1, 5, 5, 2});
    PumpMaxLabel = makeLabel(Frame4, "PumpMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    Frame6 = makeFrame(client, "Frame6", QStringLiteral("Pausa Iniezione lubrif."), twips(3240, 6195, 4545, 1935));
    Label6 = makeLabel(Frame6, "Label6", QStringLiteral("Carico Min"), twips(3045, 240, 1335, 375));
    SliderPausaAlMinimo = makeSlider(Frame6, "SliderPausaAlMinimo", twips(120, 480, 2850, 495), {80, 2400, 1, 5, 100, 80});
    PausaMinLabel = makeLabel(Frame6, "PausaMinLabel", QString(), twips(3045, 600, 1335, 375));
    Label11 = makeLabel(Frame6, "Label11", QStringLiteral("Carico Max"), twips(3045, 1080, 1335, 375));
    SliderPausaAlMassimo = makeSlider(Frame6, "SliderPausaAlMassimo", twips(120, 1320, 2850, 495), {80, 2400, 1, 5, 100, 80});
    PausaMaxLabel = makeLabel(Frame6, "PausaMaxLabel", QString(), twips(3045, 1440, 1335, 375));

    m_sliders = {PumpMinSlider, PumpMaxSlider, RpmMinSlider, TinjMinSlider, TinjMaxSlider,
                 SliderPausaAlMinimo, SliderPausaAlMassimo, RpmMultiplierSlider};
    m_valueLabels = {PumpMinLabel, PumpMaxLabel, RpmMinLabel, TinjMinLabel, TinjMaxLabel,
                     PausaMinLabel, PausaMaxLabel, RpmMultiplierLabel};
    for (QSlider *slider : m_sliders) {
        slider->installEventFilter(this);
    }
}

void MainWindow::buildMenus()
{
    menuLinguaTop = named(menuBar()->addMenu(QStringLiteral("Lingua")), "menuLinguaTop");
    menuLingua[0] = named(menuLinguaTop->addAction(QStringLiteral("Italiano")), "menuLingua_0");
    menuLingua[1] = named(menuLinguaTop->addAction(QStringLiteral("English")), "menuLingua_1");
    menuInfoTop = named(menuBar()->addMenu(QStringLiteral("Info")), "menuInfoTop");
    menuInfo[0] = named(menuInfoTop->addAction(QStringLiteral("Help")), "menuInfo_0");
    menuInfo[0]->setShortcut(QKeySequence(Qt::Key_F1));
    menuInfo[0]->setShortcutContext(Qt::WindowShortcut);
    menuInfo[1] = named(menuInfoTop->addAction(QStringLiteral("About")), "menuInfo_1");
    // The language in use carries the check mark.
    auto *languages = new QActionGroup(this);
    // Optional: while no language could be loaded, neither item is checked.
    languages->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction *item : menuLingua) {
        item->setCheckable(true);
        languages->addAction(item);
    }
    for (int i = 0; i < 2; ++i) {
        connect(menuLingua[size_t(i)], &QAction::triggered, this, [this, i] { chooseLanguage(i); });
        connect(menuInfo[size_t(i)], &QAction::triggered, this, [this, i] { showInfo(i); });
    }
    buildToolsMenu();
}

void MainWindow::createTimers()
{
    MSComm1_Timer = m_session->engine()->replyTimer();
    Timer_StatusRequest = m_session->statusTimer();
    TimerLampeggio = new IntervalTimer(QStringLiteral("TimerLampeggio"), 0, this);
    // The pause moves with the engine's load at every status reply; the lamp keeps its rhythm.
    TimerPausaLampeggio = new IntervalTimer(QStringLiteral("TimerPausaLampeggio"), 0, this,
                                            IntervalTimer::Phase::KeepPhase);
    connect(TimerPausaLampeggio, &IntervalTimer::tick, this, &MainWindow::onPauseTick);
    connect(TimerLampeggio, &IntervalTimer::tick, this, &MainWindow::onFlashEnd);
}

void MainWindow::startUp()
{
    for (int port = 1; port <= 15; ++port)
        COMM_Combo->addItem(QStringLiteral("COM%1").arg(port));
    COMM_Combo->setCurrentIndex(0);
    m_comPort = COMM_Combo->currentIndex() + 1;
    ResetView();
    ReadConfig();
    const int port = portFromLine(m_configLines[0]);
    COMM_Combo->setCurrentIndex(port - 1); // port 0: no selection
    m_comPort = port;
    m_builtInCode = systemLanguageCode();
    loadStartLanguage();
}

bool MainWindow::isConnected() const
{
    return m_session->Connected();
}

void MainWindow::ResetView()
{
    for (QLabel *label : {RpmLabel, TinjLabel, PumpLabel, PauseLabel, RpmMinLabel, TinjMinLabel,
                          TinjMaxLabel, PumpMinLabel, PumpMaxLabel, PausaMinLabel, PausaMaxLabel,
                          RpmMultiplierLabel})
        label->clear();
    const std::array<QSlider *, 8> sliders{RpmMinSlider, TinjMinSlider, TinjMaxSlider, PumpMinSlider,
                                           PumpMaxSlider, SliderPausaAlMinimo, SliderPausaAlMassimo,
                                           RpmMultiplierSlider};
    for (QSlider *slider : sliders)
        slider->setValue(slider == RpmMultiplierSlider ? 5 : 0); // each slider clamps to its minimum
    for (QSlider *slider : sliders)
        slider->setEnabled(false);
    cmdLoadMap->setEnabled(false);
    cmdSaveMap->setEnabled(false);
    setLampColor(kLampOff);
    Label9->clear();
    ResetCmd->setEnabled(false);
    setToolsEnabled(false);
}

void MainWindow::setLampColor(LampColor color)
{
    setBackColor(Label3, color == kLampOn ? kLampOnBack : kCaptionBack);
}

void MainWindow::ReadConfig()
{
    ConfigReadResult result = readConfigFile(configPath());
    // Binary contents are taken as no file: the defaults, and the next WriteConfig replaces them whole.
    if (!result.isText)
        result = ConfigReadResult{};
    m_configLines = result.lines;
    // A missing or short file is not an error: the first start has none, and the first WriteConfig
    // creates it.
    if (result.linesRead < 1)
        m_configLines[0] = portLine(1);
    if (result.linesRead < 2) {
        const bool italian = QLocale().language() == QLocale::Italian;
        m_configLines[1] = italian ? QStringLiteral("Language=ITA") : QStringLiteral("Language=ENG");
    }
}

bool MainWindow::WriteConfig(QString *error)
{
    return writeConfigFile(configPath(), m_configLines, error);
}

void MainWindow::validatePortList()
{
    m_comPort = COMM_Combo->currentIndex() + 1; // no selection (-1) gives 0
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (valueEditorEvent(watched, event))
        return true;
    if (watched == COMM_Combo && event->type() == QEvent::FocusOut)
        validatePortList();
    const auto found = std::find(m_sliders.begin(), m_sliders.end(), watched);
    if (found != m_sliders.end() && sliderEvent(ParameterIndex(found - m_sliders.begin()), event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

namespace {
bool isSliderKey(int key)
{
    switch (key) {
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
    case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
        return true;
    default:
        return false;
    }
}
} // namespace

// A slider previews while the user moves it (a drag, or its keys) and commits when the gesture ends
// (the button or the key released). A mouse passing over it with no button held changes nothing,
// and neither does the wheel: a knob must never stand somewhere the label and the controller do not.
bool MainWindow::sliderEvent(ParameterIndex index, QEvent *event)
{
    QSlider *slider = sliderFor(index);
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease: {
        const bool release = event->type() == QEvent::MouseButtonRelease;
        if (!release && static_cast<QMouseEvent *>(event)->buttons() == Qt::NoButton)
            return false;
        // Let the slider move its knob first, then act on where it stands.
        slider->event(event);
        event->accept();
        if (release)
            commitSlider(index);
        else
            previewSlider(index);
        return true;
    }
    case QEvent::Wheel:
        event->accept();
        return true;
    case QEvent::KeyPress: {
        auto *key = static_cast<QKeyEvent *>(event);
        if (!isSliderKey(key->key()) || !slider->isEnabled())
            return false;
        slider->event(event);
        m_keyEditing[size_t(index)] = true;
        previewSlider(index);
        return true;
    }
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(event);
        // Auto-repeat sends releases too; only the last one ends the gesture.
        if (!isSliderKey(key->key()) || key->isAutoRepeat() || !std::exchange(m_keyEditing[size_t(index)], false))
            return false;
        commitSlider(index);
        return true;
    }
    case QEvent::FocusOut:
        // The focus can go (the status poll takes it) while a key is held: the gesture ends there.
        if (std::exchange(m_keyEditing[size_t(index)], false))
            commitSlider(index);
        return false;
    default:
        return false;
    }
}

void MainWindow::stopTimers()
{
    for (IntervalTimer *timer : {Timer_StatusRequest, TimerLampeggio, TimerPausaLampeggio, MSComm1_Timer})
        timer->setEnabled(false);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_chart->close();
    stopTimers();
    if (m_searchProgress)
        m_search->cancel();
    // Drops the request in flight and everything queued, so no sequence talks on. Nothing is sent to
    // the controller.
    m_session->disconnectNow();
    event->accept();
}

} // namespace oe
