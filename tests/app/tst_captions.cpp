#include "dialogs.h"
#include "languagefile.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "qttranslations.h"
#include "testfiles.h"
#include "scripteddialogs.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTranslator>
#include <QtTest>

using namespace oe;

namespace {
// A program folder with the shipped Language.ini and the given config.ini.
void makeFolder(const QTemporaryDir &dir, const QByteArray &config)
{
    QVERIFY(QFile::copy(QStringLiteral(OE_LANGUAGE_INI), dir.filePath("Language.ini")));
    if (!config.isNull())
        writeFile(dir.filePath("config.ini"), config);
}
} // namespace

class TestCaptions : public QObject
{
    Q_OBJECT
private slots:
    void startUpInConfiguredLanguage_data();
    void startUpInConfiguredLanguage();
    void menuSwitchesAndSurvivesRestart();
    void languageItemsKeepTheirCaptions();
    void brokenLanguageFileAtStartUp_data();
    void brokenLanguageFileAtStartUp();
    void missingSectionFallsBackToOtherLanguage();
    void sectionBrokenPartWayIsNotMixedIn();
    void menuWithBrokenLanguageKeepsChoice();
    void menuWhenConfigCannotBeWritten();
    void aboutAndHelp();
    void qtDialogsFollowTheLanguage();
};

void TestCaptions::startUpInConfiguredLanguage_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("connect");
    QTest::addColumn<QString>("loadMap");
    QTest::newRow("ITA") << QByteArray("COM=01\r\nLanguage=ITA\r\n") << "CONNETTI" << "Carica Mappa";
    QTest::newRow("ENG") << QByteArray("COM=01\r\nLanguage=ENG\r\n") << "CONNECT" << "Load Map";
}

void TestCaptions::startUpInConfiguredLanguage()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, connect);
    QFETCH(QString, loadMap);
    QTemporaryDir dir;
    makeFolder(dir, config);
    MainWindow window(dir.path());
    QCOMPARE(window.connection().btnConnect->text(), connect);
    QCOMPARE(window.maps().cmdLoadMap->text(), loadMap);
    QVERIFY(!window.sliders().Label4->text().isEmpty());
    QVERIFY(!window.findChild<QGroupBox *>("Frame7")->title().isEmpty());
    QVERIFY(window.connection().Label9->text().isEmpty()); // the version label never takes a caption
    QCOMPARE(window.findChild<QGroupBox *>("Frame1")->title(), QString("Status"));
}

void TestCaptions::menuSwitchesAndSurvivesRestart()
{
    QTemporaryDir dir;
    makeFolder(dir, "COM=07\r\nLanguage=ITA\r\n");
    {
        MainWindow window(dir.path());
        ScriptedDialogs dialogs;
        window.setDialogs(&dialogs);
        QCOMPARE(window.connection().ResetCmd->text(), QString("RESET"));
        window.findChild<QAction *>("menuLingua_1")->trigger();
        QCOMPARE(window.ConfigLines()[1], QString("Language=ENG"));
        QCOMPARE(window.connection().btnConnect->text(), QString("CONNECT"));
        QCOMPARE(window.language().menuLinguaTop->title(), QString("&Language"));
        QVERIFY(!window.language().menuLingua[0]->isChecked() && window.language().menuLingua[1]->isChecked());
        window.language().menuLingua[1]->trigger(); // the language already in use stays checked
        QVERIFY(window.language().menuLingua[1]->isChecked());
        QCOMPARE(readFile(dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ENG\r\n"));
        QVERIFY(dialogs.shown.isEmpty());
    }
    MainWindow again(dir.path());
    QCOMPARE(again.connection().btnConnect->text(), QString("CONNECT"));
    QVERIFY(again.language().menuLingua[1]->isChecked());
    again.findChild<QAction *>("menuLingua_0")->trigger();
    QCOMPARE(again.connection().btnConnect->text(), QString("CONNETTI"));
    QVERIFY(again.language().menuLingua[0]->isChecked() && !again.language().menuLingua[1]->isChecked());
    QCOMPARE(readFile(dir.filePath("config.ini")), QByteArray("COM=07\r\nLanguage=ITA\r\n"));
}

void TestCaptions::languageItemsKeepTheirCaptions()
{
    QTemporaryDir dir;
    makeFolder(dir, "COM=01\r\nLanguage=ENG\r\n");
    MainWindow window(dir.path());
    // Each language by its own name, with an access key.
    QCOMPARE(window.findChild<QAction *>("menuLingua_0")->text(), QString("&Italiano"));
    QCOMPARE(window.findChild<QAction *>("menuLingua_1")->text(), QString("&English"));
    QCOMPARE(window.findChild<QMenu *>("menuInfoTop")->title().remove('&'), QString("Info"));
}

void TestCaptions::brokenLanguageFileAtStartUp_data()
{
    QTest::addColumn<QByteArray>("language"); // null: no file at all
    QTest::addColumn<QString>("mentioned");
    QTest::addColumn<QString>("system");      // the system's language: the built-in texts shown
    QTest::newRow("missing") << QByteArray() << "Language.ini" << "ITA";
    QTest::newRow("no sections") << QByteArray("just text\r\n") << "no section" << "ENG";
    QTest::newRow("bad item") << QByteArray("[ITA]\r\n0005 CONNETTI\r\n1001 x\r\n[END LANGUAGE]\r\n[ENG]\r\nxx\r\n")
                              << "1001 x" << "ITA";
}

void TestCaptions::brokenLanguageFileAtStartUp()
{
    QFETCH(QByteArray, language);
    QFETCH(QString, mentioned);
    QFETCH(QString, system);
    const QLocale previous;
    QLocale::setDefault(QLocale(system == "ITA" ? QLocale::Italian : QLocale::English));
    const auto restore = qScopeGuard([previous] { QLocale::setDefault(previous); });
    CaptionTable shipped;
    QVERIFY(loadLanguage(QStringLiteral(OE_LANGUAGE_INI), system, shipped).sectionFound);

    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=01\r\nLanguage=ITA\r\n");
    if (!language.isNull())
        writeFile(dir.filePath("Language.ini"), language);
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    QTRY_COMPARE(dialogs.shown.size(), 1);
    QVERIFY2(dialogs.shown[0].text.contains("Language.ini"), qPrintable(dialogs.shown[0].text));
    QVERIFY2(dialogs.shown[0].text.contains(mentioned), qPrintable(dialogs.shown[0].text));
    QVERIFY(dialogs.shown[0].text.startsWith(shipped.text(82) + "\n"));
    // One whole language, each control with its own caption.
    QCOMPARE(window.connection().btnConnect->text(), shipped.text(5));
    QCOMPARE(window.findChild<QGroupBox *>("Frame2")->title(), shipped.text(7));
    QCOMPARE(window.findChild<QGroupBox *>("Frame7")->title(), shipped.text(31));
    QCOMPARE(window.sliders().Label6->text(), shipped.text(15));
    QCOMPARE(window.maps().cmdLoadMap->text(), shipped.text(32));
    QCOMPARE(window.language().menuLinguaTop->title(), shipped.text(Caption::LanguageMenuKeyed));
    for (int entry : {26, 27, 41, 80})
        QCOMPARE(window.caption(entry), shipped.text(entry));
    QCoreApplication::processEvents();
    QCOMPARE(dialogs.shown.size(), 1);
}

void TestCaptions::missingSectionFallsBackToOtherLanguage()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=01\r\nLanguage=ENG\r\n");
    writeFile(dir.filePath("Language.ini"), "[ITA]\r\n0005 CONNETTI\r\n0032 Carica\r\n[END LANGUAGE]\r\n");
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    QCoreApplication::processEvents();
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(window.connection().btnConnect->text(), QString("CONNETTI"));
    QCOMPARE(window.maps().cmdLoadMap->text(), QString("Carica"));
    QCOMPARE(window.maps().cmdSaveMap->text(), QString("Salva Mappa")); // not in the file: kept
    QCOMPARE(window.ConfigLines()[1], QString("Language=ENG")); // the choice itself is not rewritten
}

// A section that breaks after some of its items is not used at all: the other language comes in whole,
// with no Italian caption left among the English ones.
void TestCaptions::sectionBrokenPartWayIsNotMixedIn()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=01\r\nLanguage=ITA\r\n");
    writeFile(dir.filePath("Language.ini"), "[ITA]\r\n0005 CONNETTI\r\n0032 Carica\r\n1001 x\r\n[END LANGUAGE]\r\n"
                                            "[ENG]\r\n0005 CONNECT\r\n0033 Save\r\n[END LANGUAGE]\r\n");
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    QCoreApplication::processEvents();
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(window.connection().btnConnect->text(), QString("CONNECT"));
    QCOMPARE(window.maps().cmdSaveMap->text(), QString("Save"));
    QCOMPARE(window.maps().cmdLoadMap->text(), QString("Carica Mappa")); // the design-time caption, not the broken section's
}

void TestCaptions::menuWithBrokenLanguageKeepsChoice()
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config.ini"), "COM=03\r\nLanguage=ITA\r\n");
    writeFile(dir.filePath("Language.ini"),
              "[ITA]\r\n0005 CONNETTI\r\n[END LANGUAGE]\r\n[ENG]\r\n0005 CONNECT\r\n0006\r\n[END LANGUAGE]\r\n");
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    window.findChild<QAction *>("menuLingua_1")->trigger();
    QCOMPARE(dialogs.shown.size(), 1);
    QVERIFY(dialogs.shown[0].text.contains("Language.ini"));
    QCOMPARE(window.ConfigLines()[1], QString("Language=ITA"));
    QCOMPARE(window.connection().btnConnect->text(), QString("CONNETTI"));
    QVERIFY(window.language().menuLingua[0]->isChecked() && !window.language().menuLingua[1]->isChecked());
    QCOMPARE(readFile(dir.filePath("config.ini")), QByteArray("COM=03\r\nLanguage=ITA\r\n"));
}

void TestCaptions::menuWhenConfigCannotBeWritten()
{
    QTemporaryDir dir;
    makeFolder(dir, QByteArray());
    QVERIFY(QDir(dir.path()).mkdir("config.ini")); // a folder in the way: every write fails
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    window.findChild<QAction *>("menuLingua_1")->trigger();
    QCOMPARE(window.connection().btnConnect->text(), QString("CONNECT"));
    QCOMPARE(dialogs.shown.size(), 1);
    // What, where and why.
    QCOMPARE(dialogs.shown[0].text, window.Captions().text(42) + '\n'
                                        + QDir::toNativeSeparators(dir.filePath("config.ini")) + '\n'
                                        + window.Captions().text(77));
    QCOMPARE(dialogs.shown[0].title, window.Captions().text(27));
    QVERIFY(!dialogs.shown[0].text.isEmpty());
}

void TestCaptions::aboutAndHelp()
{
    QTemporaryDir dir;
    makeFolder(dir, "COM=01\r\nLanguage=ITA\r\n");
    MainWindow window(dir.path());
    ScriptedDialogs dialogs;
    window.setDialogs(&dialogs);
    window.findChild<QAction *>("menuLingua_1")->trigger();
    window.findChild<QAction *>("menuInfo_1")->trigger();
    QCOMPARE(dialogs.shown.size(), 1);
    QCOMPARE(dialogs.shown[0].text, window.Captions().text(30));
    QVERIFY(dialogs.shown[0].text.contains("OE Setup"));
    QCOMPARE(dialogs.shown[0].title, window.Captions().text(27));
    window.findChild<QAction *>("menuInfo_0")->trigger(); // no Help.chm: nothing happens
    QVERIFY(dialogs.openedDocuments.isEmpty());
    writeFile(dir.filePath("Help.chm"), "x");
    window.findChild<QAction *>("menuInfo_0")->trigger();
    QCOMPARE(dialogs.openedDocuments, QStringList{dir.filePath("Help.chm")});
    QCOMPARE(dialogs.shown.size(), 1);
}

// Qt's own buttons follow a live switch both ways, and a box for a step that cannot be undone
// leaves Cancel as the default.
void TestCaptions::qtDialogsFollowTheLanguage()
{
    QTemporaryDir dir;
    makeFolder(dir, "COM=01\r\nLanguage=ENG\r\n");
    QVERIFY2(QTranslator().load("qtbase_it", QtTranslations::searchFolders(dir.path()).last()),
             "qtbase_it.qm is missing: install qt6-translations-l10n (scripts/test does)");
    const auto buttons = [](QWidget *parent) {
        const auto box = makeQuestionBox(parent, "text", "title", QString(), true);
        return QStringList{box->button(QMessageBox::Ok)->text(), box->button(QMessageBox::Cancel)->text(),
                           box->defaultButton()->text()};
    };
    {
        MainWindow window(dir.path());
        QCOMPARE(buttons(&window), (QStringList{"OK", "Cancel", "Cancel"}));
        window.language().menuLingua[0]->trigger();
        QCOMPARE(buttons(&window), (QStringList{"OK", "Annulla", "Annulla"}));
        window.language().menuLingua[1]->trigger();
        QCOMPARE(buttons(&window), (QStringList{"OK", "Cancel", "Cancel"}));
        window.language().menuLingua[0]->trigger();
    }
    QCOMPARE(buttons(nullptr)[1], QString("Cancel")); // a closed window leaves no translation behind
}

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
