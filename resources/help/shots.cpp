// Takes the pictures of the manual from the program itself, so they always show the window as it is:
// for each language the idle window, then the window connected to the simulated controller, whole and
// part by part. Runs offscreen at build time and drives the window only through its controls. With
// --scale, only the whole connected window on a screen at that scale (under scaled/), and at 150 % the
// window on a small laptop screen, where it scrolls.
//
//   oe-helpshots [--scale <percent>] <output folder> <Language.ini>

#include "chartwindow.h"
#include "enginemodel.h"
#include "mainwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "portlink.h"
#include "ptyserver.h"
#include "restorepoints.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

namespace {

constexpr int kComPort = 3;
// Each wait is bounded, so a broken build never hangs; a connect to the simulator takes about a second.
constexpr int kPatienceMs = 8000;

void say(const QString &text)
{
    std::fprintf(stderr, "oe-helpshots: %s\n", qPrintable(text));
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &done, int ms = kPatienceMs)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        spin(10);
    }
    return true;
}

bool save(const QPixmap &picture, const QDir &out, const QString &name)
{
    const QString path = out.filePath(name);
    if (picture.isNull() || !picture.save(path, "PNG")) {
        say(QStringLiteral("cannot write %1").arg(path));
        return false;
    }
    return true;
}

// The chart window over two minutes of a ride on the simulated engine, with the poll lost for a few
// seconds in the middle: the same picture on every build, whatever the machine's speed.
QPixmap chartPicture(oe::MainWindow &w)
{
    oe::ChartWindow *chart = w.tools().chartWindow();
    w.tools().menuTools[0]->trigger();
    const oe::SimParameters params = oe::defaultSimParameters();
    constexpr qint64 kNow = 10'000'000;
    constexpr qint64 kSpanMs = 120'000;
    constexpr qint64 kPollMs = 560;
    chart->view()->setClock([] { return kNow; });
    chart->view()->setRpmMin(params[oe::simparam::RpmMin]);
    chart->trace().clear();
    qint64 nextFlash = kNow - kSpanMs;
    for (qint64 t = kNow - kSpanMs; t <= kNow; t += kPollMs) {
        if (t > kNow - 52'000 && t < kNow - 46'000) // the cable moved: no answers
            continue;
        const oe::EngineReading engine = oe::EngineModel::sample(t);
        const quint16 rpm = oe::reportedRpm(params, engine.rpm);
        const oe::PumpTiming timing = oe::pumpTiming(params, rpm, engine.tinj);
        chart->trace().append({t, rpm, engine.tinj, timing.pump, timing.pause, false});
        if (timing.pause > 0 && t >= nextFlash) {
            chart->trace().addFlash(t);
            nextFlash = t + timing.pause * 25;
        }
    }
    chart->view()->touch();
    chart->resize(760, 480);
    spin(150);
    return chart->grab();
}

// The restore points, the map editor and the compare, on the connected window: two restore points of a
// morning's work, a map typed in the editor (a pair crossed and marked) and that map, put in order, compared.
bool mapToolPictures(oe::MainWindow &w, const QString &programFolder, const QDir &out, const QString &suffix)
{
    const QString maps = QDir(programFolder).filePath(QStringLiteral("Maps"));
    const QDate day(2026, 12, 7);
    oe::MapValues before{5, 15, 600, 1500, 9000, 160, 80, 100};
    oe::writeRestorePoint(maps, oe::RestoreCause::Reset, before, QDateTime(day, QTime(9, 12, 40)));
    before[2] = 800;
    before[4] = 12000;
    oe::writeRestorePoint(maps, oe::RestoreCause::Load, before, QDateTime(day, QTime(11, 3, 5)));
    const auto action = [&w](const char *name) { return w.findChild<QAction *>(QLatin1String(name)); };
    const auto widget = [&w](const char *name) { return w.findChild<QWidget *>(QLatin1String(name)); };
    if (!action("menuTools_3") || !action("menuTools_4")) {
        say(QStringLiteral("the map tools are not in the Tools menu"));
        return false;
    }
    action("menuTools_3")->trigger();
    QWidget *restore = widget("RestoreDialog");
    if (!restore || !waitFor([restore] { return restore->isVisible(); }))
        return false;
    restore->resize(760, 260);
    spin(100);
    const QPixmap restorePicture = restore->grab();
    restore->close();

    action("menuTools_4")->trigger();
    QWidget *editor = widget("MapEditor");
    if (!editor || !waitFor([editor] { return editor->isVisible(); }))
        return false;
    const auto type = [&w](const char *field, const QString &text) {
        if (auto *edit = w.findChild<QLineEdit *>(QLatin1String(field))) {
            edit->setText(text);
            emit edit->editingFinished();
        }
    };
    type("MapValue_2", QStringLiteral("800"));
    type("MapValue_3", QStringLiteral("12000")); // above Tinj Max: the pair is marked, nothing moved
    editor->resize(760, 330);
    spin(100);
    const QPixmap editorPicture = editor->grab();
    type("MapValue_4", QStringLiteral("14000")); // the pair in order again: the map may be compared
    if (auto *compareButton = w.findChild<QPushButton *>(QStringLiteral("MapEditorCompare")))
        compareButton->click();
    QWidget *compare = widget("MapCompare");
    if (!compare || !waitFor([compare] { return compare->isVisible(); }))
        return false;
    spin(300); // values still unknown are read first
    const QPixmap comparePicture = compare->grab();
    compare->close();
    editor->hide();
    return save(restorePicture, out, QStringLiteral("restore-%1.png").arg(suffix))
           && save(editorPicture, out, QStringLiteral("editor-%1.png").arg(suffix))
           && save(comparePicture, out, QStringLiteral("compare-%1.png").arg(suffix));
}

// The frames of the right column, with the window's own margin around them.
QRect parameterColumn(const oe::MainWindow &w)
{
    QRect area;
    for (const QGroupBox *frame : {w.findChild<QGroupBox *>("Frame7"), w.findChild<QGroupBox *>("Frame2"), w.findChild<QGroupBox *>("Frame3"), w.findChild<QGroupBox *>("Frame4"), w.findChild<QGroupBox *>("Frame6")})
        area = area.united(frame->geometry());
    return area.adjusted(-4, -4, 4, 4);
}

// A program folder with the language file and a config.ini that names the simulated port.
bool prepareFolder(const QTemporaryDir &folder, const QString &code, const QString &languageIni)
{
    if (!folder.isValid() || !QFile::copy(languageIni, folder.filePath(QStringLiteral("Language.ini")))) {
        say(QStringLiteral("cannot prepare a program folder with %1").arg(languageIni));
        return false;
    }
    QFile config(folder.filePath(QStringLiteral("config.ini")));
    if (!config.open(QIODevice::WriteOnly)
        || config.write(QStringLiteral("COM=%1\r\nLanguage=%2\r\n").arg(kComPort, 2, 10, QLatin1Char('0')).arg(code).toLatin1()) < 0) {
        say(QStringLiteral("cannot write %1").arg(config.fileName()));
        return false;
    }
    return true;
}

// A message box would wait for a click nobody makes: while this lives, one is closed, and what it said kept.
struct BoxCloser {
    QString boxText;
    QTimer timer;
    BoxCloser()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxText = box->text();
                box->reject();
            }
        });
        timer.start(50);
    }
};

// Connects the window to the simulated controller; a box on the way fails it, saying what it said.
bool connectWindow(oe::MainWindow &window, const BoxCloser &boxes)
{
    const QString &boxText = boxes.boxText;
    window.connection().COMM_Combo->setCurrentIndex(kComPort - 1);
    window.connection().btnConnect->click();
    const bool connected = waitFor([&] {
        return !boxText.isEmpty() || (window.connection().ResetCmd->isEnabled() && !window.readings().RpmLabel->text().isEmpty());
    });
    if (!connected || !boxText.isEmpty()) {
        say(QStringLiteral("no connection to the simulated controller on COM%1%2")
                .arg(kComPort)
                .arg(boxText.isEmpty() ? QString() : QStringLiteral(": ") + boxText));
        return false;
    }
    spin(50);
    return true;
}

// The connected window's pictures: its parts at 100 %, the whole window on a scaled screen otherwise.
bool connectedPictures(oe::MainWindow &window, const QString &folder, const QDir &out, const QString &suffix, int percent)
{
    if (percent == 100)
        return save(window.grab(), out, QStringLiteral("window-connected-%1.png").arg(suffix))
               && save(window.findChild<QGroupBox *>("Frame1")->grab(), out, QStringLiteral("status-%1.png").arg(suffix))
               && save(window.findChild<QGroupBox *>("Frame5")->grab(), out, QStringLiteral("connection-%1.png").arg(suffix))
               && save(window.findChild<QGroupBox *>("Frame8")->grab(), out, QStringLiteral("maps-%1.png").arg(suffix))
               && save(window.centralWidget()->grab(parameterColumn(window)), out,
                       QStringLiteral("parameters-%1.png").arg(suffix))
               && save(chartPicture(window), out, QStringLiteral("chart-%1.png").arg(suffix))
               && mapToolPictures(window, folder, out, suffix);
    // The whole window on a scaled screen, to look for cut texts and blurred pictures.
    if (!out.mkpath(QStringLiteral("scaled"))
        || !save(window.grab(), out, QStringLiteral("scaled/window-%1-%2.png").arg(suffix).arg(percent)))
        return false;
    if (percent != 150)
        return true;
    // A 1280×800 screen at 150 % with a 48-pixel taskbar leaves 853×501: the window scrolls.
    window.fitInto(QRect(0, 0, 1280 * 2 / 3, (800 - 48) * 2 / 3));
    spin(50);
    return save(window.grab(), out, QStringLiteral("window-small-%1.png").arg(suffix));
}

bool shootLanguage(const QString &code, const QString &languageIni, const QDir &out, int percent)
{
    const QString suffix = code.toLower();
    // Italian shots show the Italian decimal comma, as on an Italian PC.
    QLocale::setDefault(code == QLatin1String("ITA") ? QLocale(QLocale::Italian, QLocale::Italy)
                                                     : QLocale(QLocale::English, QLocale::UnitedKingdom));
    QTemporaryDir folder;
    if (!prepareFolder(folder, code, languageIni))
        return false;
    oe::PtyServer controller;
    QString why;
    if (!controller.open(&why)
        || !oe::createPortLink(oe::portLinkPath(folder.path(), kComPort), controller.slavePath(), &why)) {
        say(QStringLiteral("no simulated controller: %1").arg(why));
        return false;
    }

    oe::MainWindow window(folder.path());
    window.show();
    if (!waitFor([&] { return window.isVisible() && window.findChild<QGroupBox *>("Frame1")->isVisible(); })) {
        say(QStringLiteral("the window did not show"));
        return false;
    }
    spin(50);
    if (percent == 100 && !save(window.grab(), out, QStringLiteral("window-idle-%1.png").arg(suffix)))
        return false;
    const BoxCloser boxes;
    if (!connectWindow(window, boxes))
        return false;
    const bool saved = connectedPictures(window, folder.path(), out, suffix, percent);
    window.connection().btnConnect->click(); // disconnect: the port is closed before the controller goes away
    oe::removePortLink(oe::portLinkPath(folder.path(), kComPort), controller.slavePath());
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    // With a scale, the pictures are taken on a large offscreen screen at that scale; Qt lays out in
    // logical pixels and paints at the screen's ratio, as on a Windows screen at 150 % or 200 %.
    int percent = 100;
    QTemporaryDir screenFolder;
    if (argc == 5 && std::strcmp(argv[1], "--scale") == 0) {
        percent = std::atoi(argv[2]);
        const QString config = screenFolder.filePath(QStringLiteral("screen.json"));
        QFile file(config);
        if (percent < 100 || percent > 400 || !file.open(QIODevice::WriteOnly)
            || file.write(QStringLiteral("{\"screens\": [{\"name\": \"scaled\", \"width\": 4000, \"height\": 3000, "
                                         "\"dpr\": %1}]}").arg(percent / 100.0).toUtf8()) < 0) {
            say(QStringLiteral("cannot set up a screen at %1 %").arg(QString::fromLocal8Bit(argv[2])));
            return 2;
        }
        file.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
        argv += 2;
        argc -= 2;
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("OE Setup"));
    const QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        say(QStringLiteral("usage: oe-helpshots [--scale <percent>] <output folder> <Language.ini>"));
        return 2;
    }
    const QDir out(args[1]);
    if (!out.mkpath(QStringLiteral("."))) {
        say(QStringLiteral("cannot create %1").arg(args[1]));
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    for (const QString &code : {QStringLiteral("ITA"), QStringLiteral("ENG")}) {
        if (!shootLanguage(code, args[2], out, percent))
            return 1;
    }
    say(QStringLiteral("pictures at %1 % in %2 (%3 ms)").arg(percent).arg(out.absolutePath()).arg(clock.elapsed()));
    return 0;
}
