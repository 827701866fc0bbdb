#include "intervaltimer.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "testfiles.h"
#include "scripteddialogs.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QtTest>

using namespace oe;

namespace {
QColor backColor(const QLabel *label)
{
    return label->palette().color(QPalette::Window);
}
} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
private slots:
    void portFromConfig_data();
    void portFromConfig();
    void missingConfigUsesDefaults();
    void badConfigStartsPromptly_data();
    void badConfigStartsPromptly();
    void idleViewAfterStartUp();
    void resetViewKeepsNothingShown();
    void layoutControlsExist();
    void fitsTheWorkArea_data();
    void fitsTheWorkArea();
    void portListValidatesOnFocusLeave();
    void closingStopsTimers();
};

void TestStartup::portFromConfig_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("comPort");
    QTest::newRow("COM=07") << QByteArray("COM=07\r\nLanguage=ITA\r\n") << 7;
    QTest::newRow("COM=15") << QByteArray("COM=15\r\nLanguage=ITA\r\n") << 15;
    QTest::newRow("COM=99") << QByteArray("COM=99\r\nLanguage=ITA\r\n") << 15;
    QTest::newRow("COM=") << QByteArray("COM=\r\nLanguage=ITA\r\n") << 0;
    QTest::newRow("COM=7") << QByteArray("COM=7\r\nLanguage=ITA\r\n") << 0;
    QTest::newRow("empty first line") << QByteArray("\r\nLanguage=ITA\r\n") << 0;
    QTest::newRow("-1") << QByteArray("COM-1\r\nLanguage=ITA\r\n") << 0;
    QTest::newRow("CR only") << QByteArray("COM=03\rLanguage=ITA\r") << 3;
    QTest::newRow("LF only") << QByteArray("COM=11\nLanguage=ITA\n") << 11;
}

void TestStartup::portFromConfig()
{
    QFETCH(QByteArray, config);
    QFETCH(int, comPort);
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), config);
    MainWindow window(dir.path());
    QCOMPARE(window.ComPort(), comPort);
    QCOMPARE(window.connection().COMM_Combo->currentIndex(), comPort - 1);
    if (comPort > 0)
        QCOMPARE(window.connection().COMM_Combo->currentText(), QString("COM%1").arg(comPort));
    QCOMPARE(window.connection().COMM_Combo->count(), 15);
    QCOMPARE(window.connection().COMM_Combo->itemText(0), QString("COM1"));
    QCOMPARE(window.connection().COMM_Combo->itemText(14), QString("COM15"));
    QCOMPARE(window.ConfigLines()[1], QString("Language=ITA"));
}

void TestStartup::missingConfigUsesDefaults()
{
    QTemporaryDir dir;
    {
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        MainWindow window(dir.path());
        QCOMPARE(window.ComPort(), 1);
        QCOMPARE(window.ConfigLines()[0], QString("COM=01"));
        QCOMPARE(window.ConfigLines()[1], QString("Language=ITA"));
        QVERIFY(!QFile::exists(dir.filePath("config.ini"))); // created by the first write, not here
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    writeFile(dir.filePath("config.ini"), "COM=04");
    MainWindow window(dir.path());
    QCOMPARE(window.ComPort(), 4);
    QCOMPARE(window.ConfigLines()[1], QString("Language=ENG"));
    QLocale::setDefault(QLocale::c());
}

void TestStartup::badConfigStartsPromptly_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("asDirectory");
    QTest::addColumn<bool>("asMissing"); // defaults, and the next save writes both lines anew
    QTest::newRow("binary junk") << QByteArray("\x00\xff\x13\x37\r\x80\x81", 7) << false << true;
    QTest::newRow("nul bytes") << QByteArray("COM\0=05\r\n\0\0\0", 12) << false << true;
    QTest::newRow("random bytes with a text-like line") << QByteArray("COM=05\r\nLa\x1b\x02\xe4\x91=ITA\r\n")
                                                        << false << true;
    QTest::newRow("50 MB line") << QByteArray(50 << 20, '7') << false << false;
    QTest::newRow("directory") << QByteArray() << true << false;
}

void TestStartup::badConfigStartsPromptly()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, asDirectory);
    QFETCH(bool, asMissing);
    QTemporaryDir dir;
    if (asDirectory)
        QVERIFY(QDir(dir.path()).mkdir("config.ini"));
    else
        writeFile(dir.filePath("config.ini"), content);
    MainWindow window(dir.path());
    QVERIFY(window.ComPort() >= 0 && window.ComPort() <= 15);
    QCOMPARE(window.ConfigLines()[1].isEmpty(), false);
    QVERIFY(!window.connection().btnConnect->text().isEmpty());
    if (!asMissing)
        return;
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    QVERIFY(QFile::copy(QStringLiteral(OE_LANGUAGE_INI), dir.filePath("Language.ini")));
    QCOMPARE(window.ComPort(), 1);
    QCOMPARE(window.connection().COMM_Combo->currentText(), QString("COM1"));
    window.findChild<QAction *>("menuLingua_1")->trigger();
    QCOMPARE(readFile(dir.filePath("config.ini")), QByteArray("COM=01\r\nLanguage=ENG\r\n"));
    QVERIFY(dialogs.shown.isEmpty());
}

void TestStartup::idleViewAfterStartUp()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=02\r\nLanguage=ITA\r\n");
    MainWindow window(dir.path());
    const QList<QPair<const char *, int>> sliders{
        {"RpmMinSlider", 0},        {"TinjMinSlider", 50},       {"TinjMaxSlider", 50},
        {"PumpMinSlider", 1},       {"PumpMaxSlider", 2},        {"SliderPausaAlMinimo", 80},
        {"SliderPausaAlMassimo", 80}, {"RpmMultiplierSlider", 5}};
    for (const auto &[name, lower] : sliders) {
        auto *slider = window.findChild<QSlider *>(name);
        QVERIFY2(slider, name);
        QVERIFY2(!slider->isEnabled(), name);
        QCOMPARE(slider->value(), lower);
        QCOMPARE(slider->minimum(), lower);
    }
    for (const char *name : {"RpmLabel", "TinjLabel", "PumpLabel", "PauseLabel", "RpmMinLabel",
                             "TinjMinLabel", "TinjMaxLabel", "PumpMinLabel", "PumpMaxLabel",
                             "PausaMinLabel", "PausaMaxLabel", "RpmMultiplierLabel", "Label9"}) {
        auto *label = window.findChild<QLabel *>(name);
        QVERIFY2(label, name);
        QVERIFY2(label->text().isEmpty(), name);
    }
    QCOMPARE(backColor(window.readings().Label3), QColor(192, 192, 0));
    QVERIFY(!window.maps().cmdLoadMap->isEnabled());
    QVERIFY(!window.maps().cmdSaveMap->isEnabled());
    QVERIFY(!window.connection().ResetCmd->isEnabled());
    QVERIFY(window.connection().btnConnect->isEnabled());
    QVERIFY(window.connection().COMM_Combo->isEnabled());
    for (const char *name : {"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"}) {
        auto *timer = window.findChild<IntervalTimer *>(name);
        QVERIFY2(timer, name);
        QVERIFY2(!timer->enabled(), name);
    }
}

void TestStartup::resetViewKeepsNothingShown()
{
    QTemporaryDir dir;
    MainWindow window(dir.path());
    window.sliders().PumpMaxSlider->setEnabled(true);
    window.sliders().PumpMaxSlider->setValue(30);
    window.readings().RpmLabel->setText("1500");
    window.connection().Label9->setText("Ver. 1.2.3");
    window.connection().ResetCmd->setEnabled(true);
    window.connection().COMM_Combo->setEnabled(false);
    window.ResetView();
    QCOMPARE(window.sliders().PumpMaxSlider->value(), 2);
    QVERIFY(!window.sliders().PumpMaxSlider->isEnabled());
    QVERIFY(window.readings().RpmLabel->text().isEmpty());
    QVERIFY(window.connection().Label9->text().isEmpty());
    QVERIFY(!window.connection().ResetCmd->isEnabled());
    QVERIFY(!window.connection().COMM_Combo->isEnabled()); // not the view's business
}

void TestStartup::layoutControlsExist()
{
    QTemporaryDir dir;
    MainWindow window(dir.path());
    QCOMPARE(window.windowTitle(), QString("KESTRO - OE Setup"));
    QCOMPARE(window.objectName(), QString("Form1"));
    QVERIFY(!window.windowIcon().isNull());
    const QList<QPair<const char *, QRect>> geometry{
        {"Frame1", {16, 7, 193, 201}},   {"RpmLabel", {88, 32, 89, 33}},
        {"Frame5", {16, 298, 193, 144}}, {"btnConnect", {32, 48, 129, 25}},
        {"Frame6", {216, 413, 303, 129}}, {"SliderPausaAlMassimo", {8, 88, 190, 33}},
        {"Image1", {14, 443, 189, 116}}};
    for (const auto &[name, rect] : geometry) {
        auto *widget = window.findChild<QWidget *>(name);
        QVERIFY2(widget, name);
        QCOMPARE(widget->geometry(), rect);
    }
    const QList<QPair<const char *, std::array<int, 5>>> sliders{
        {"RpmMinSlider", {0, 6000, 50, 500, 1000}},   {"TinjMinSlider", {50, 30000, 50, 50, 5000}},
        {"PumpMaxSlider", {2, 50, 1, 5, 5}},          {"SliderPausaAlMinimo", {80, 2400, 1, 5, 100}},
        {"RpmMultiplierSlider", {5, 20, 1, 1, 1}}};
    for (const auto &[name, p] : sliders) {
        auto *slider = window.findChild<QSlider *>(name);
        QVERIFY2(slider, name);
        QCOMPARE(slider->minimum(), p[0]);
        QCOMPARE(slider->maximum(), p[1]);
        QCOMPARE(slider->singleStep(), p[2]);
        QCOMPARE(slider->pageStep(), p[3]);
        QCOMPARE(slider->tickInterval(), p[4]);
    }
    for (const char *name : {"menuLingua_0", "menuLingua_1", "menuInfo_0", "menuInfo_1"})
        QVERIFY2(window.findChild<QAction *>(name), name);
    QCOMPARE(window.findChild<QAction *>("menuInfo_0")->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(window.findChild<QAction *>("menuLingua_1")->text().remove('&'), QString("English"));
}

void TestStartup::fitsTheWorkArea_data()
{
    QTest::addColumn<QRect>("workArea");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("1920x1080 at 100 %") << QRect(0, 0, 1920, 1040) << false;
    // 1280×800 at 150 % with a taskbar: the layout's 590 pixels of height do not fit.
    QTest::newRow("1280x800 at 150 %") << QRect(0, 0, 853, 501) << true;
    QTest::newRow("second screen, small") << QRect(1920, 100, 600, 480) << true;
    // The sizes a technician's laptop has, with a 40-pixel panel, in the layout's pixels.
    QTest::newRow("1024x768 at 100 %") << QRect(0, 0, 1024, 728) << false;
    QTest::newRow("1024x768 at 125 %") << QRect(0, 0, 819, 582) << true;
    QTest::newRow("1024x768 at 150 %") << QRect(0, 0, 683, 485) << true;
    QTest::newRow("1366x768 at 150 %") << QRect(0, 0, 911, 485) << true;
    QTest::newRow("1920x1080 at 200 %") << QRect(0, 27, 960, 513) << true;
}

void TestStartup::fitsTheWorkArea()
{
    QFETCH(QRect, workArea);
    QFETCH(bool, scrolls);
    QTemporaryDir dir;
    MainWindow window(dir.path());
    window.layout()->activate();
    const QSize whole = window.size();
    QWidget *client = window.centralWidget();
    const QSize clientSize = client->size();
    window.fitInto(workArea);
    auto *scroll = qobject_cast<QScrollArea *>(window.centralWidget());
    QCOMPARE(bool(scroll), scrolls);
    // The layout itself is never squeezed: what does not fit scrolls.
    QCOMPARE(client->size(), clientSize);
    if (!scrolls) {
        QCOMPARE(window.size(), whole);
        return;
    }
    QCOMPARE(scroll->widget(), client);
    QVERIFY(workArea.contains(window.geometry()));
    QVERIFY(window.height() < whole.height());
}

void TestStartup::portListValidatesOnFocusLeave()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=01\r\nLanguage=ITA\r\n");
    MainWindow window(dir.path());
    ScriptedDialogs dialogs; // no Language.ini here: the start-up complaint goes to the script
    window.setDialogs(&dialogs);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    window.connection().COMM_Combo->setFocus();
    QTRY_VERIFY(window.connection().COMM_Combo->hasFocus());
    window.connection().COMM_Combo->setCurrentIndex(2);
    QCOMPARE(window.ComPort(), 1); // not yet: only when the focus leaves the list
    window.connection().ResetCmd->setEnabled(true);
    window.connection().ResetCmd->setFocus();
    QTRY_COMPARE(window.ComPort(), 3);
    window.connection().COMM_Combo->setFocus();
    QTRY_VERIFY(window.connection().COMM_Combo->hasFocus());
    window.connection().COMM_Combo->setCurrentIndex(-1);
    window.connection().ResetCmd->setFocus();
    QTRY_COMPARE(window.ComPort(), 0);
}

void TestStartup::closingStopsTimers()
{
    QTemporaryDir dir;
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    const QStringList names{"MSComm1_Timer", "Timer_StatusRequest", "TimerLampeggio", "TimerPausaLampeggio"};
    for (const QString &name : names) {
        auto *timer = window.findChild<IntervalTimer *>(name);
        timer->setInterval(1000);
        timer->setEnabled(true);
        QVERIFY(timer->ticking());
    }
    window.show();
    QVERIFY(window.close());
    for (const QString &name : names) {
        auto *timer = window.findChild<IntervalTimer *>(name);
        QVERIFY2(!timer->enabled(), qPrintable(name));
        QVERIFY2(!timer->ticking(), qPrintable(name));
    }
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
