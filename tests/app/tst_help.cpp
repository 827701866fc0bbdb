#include "helpdocument.h"
#include "testfiles.h"
#include "windowrig.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QSlider>
#include <QtTest>

#include <cstdlib>

namespace {
// Whatever the window opens reaches us here instead of a viewer.
class OpenedUrls : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

// The scripted boxes and desktop, but documents go the real way: through QDesktopServices.
class DesktopDialogs : public ScriptedDialogs
{
public:
    bool openDocument(const QUrl &url) override { return QtDialogs().openDocument(url); }
};

void putHelpFiles(const QString &folder, bool chm, bool html)
{
    QDir dir(folder);
    if (chm)
        writeFile(dir.filePath("Help.chm"), "ITSF");
    if (html) {
        for (const char *lang : {"ita", "eng"}) {
            QVERIFY(dir.mkpath(QStringLiteral("help/%1").arg(lang)));
            writeFile(dir.filePath(QStringLiteral("help/%1/index.html").arg(lang)), "<html></html>");
        }
    }
}
} // namespace

class TestHelp : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void helpOpensTheRightDocument_data();
    void helpOpensTheRightDocument();
    void desktopViewerQuery_data();
    void desktopViewerQuery();
    void noProgramForTheManual();

private:
    OpenedUrls m_opened;
};

void TestHelp::init()
{
    m_opened.urls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
}

void TestHelp::cleanup()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void TestHelp::helpOpensTheRightDocument_data()
{
    QTest::addColumn<bool>("f1");        // F1 in the window, else the menu item
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<bool>("chmViewer");
    QTest::addColumn<bool>("chm");       // Help.chm in the program folder
    QTest::addColumn<bool>("html");      // help/ita and help/eng in the program folder
    QTest::addColumn<QString>("opened"); // relative to the program folder; empty: nothing opened

    struct Row {
        const char *name;
        bool connected;
        const char *language;
        bool windows, chmViewer, chm, html;
        const char *opened;
    };
    const Row rows[] = {
        {"Windows", false, "ITA", true, false, true, true, "Help.chm#ita/index.html"},
        {"Windows, English", false, "ENG", true, false, true, true, "Help.chm#eng/index.html"},
        {"Windows, Help.chm missing", false, "ENG", true, false, false, true, "help/eng/index.html"},
        {"CHM viewer", false, "ENG", false, true, true, true, "Help.chm"},
        {"CHM viewer, connected", true, "ITA", false, true, true, true, "Help.chm"},
        {"no CHM viewer, Italian", false, "ITA", false, false, true, true, "help/ita/index.html"},
        {"no CHM viewer, English", false, "ENG", false, false, true, true, "help/eng/index.html"},
        {"no CHM viewer, connected", true, "ENG", false, false, true, true, "help/eng/index.html"},
        {"CHM viewer, Help.chm missing", false, "ITA", false, true, false, true, "help/ita/index.html"},
        {"no CHM viewer, only Help.chm", false, "ENG", false, false, true, false, ""},
        {"no document", false, "ITA", true, true, false, false, ""},
        {"no document, connected", true, "ENG", false, true, false, false, ""},
    };
    for (bool f1 : {true, false}) {
        for (const Row &r : rows) {
            QTest::addRow("%s: %s", f1 ? "F1" : "menu", r.name)
                << f1 << r.connected << QByteArray(r.language) << r.windows << r.chmViewer << r.chm
                << r.html << QString::fromLatin1(r.opened);
        }
    }
}

// Help asks the desktop for exactly one document, or none, and changes nothing else: no box, nothing
// sent to the controller, the view as it was.
void TestHelp::helpOpensTheRightDocument()
{
    QFETCH(bool, f1);
    QFETCH(bool, connected);
    QFETCH(QByteArray, language);
    QFETCH(bool, windows);
    QFETCH(bool, chmViewer);
    QFETCH(bool, chm);
    QFETCH(bool, html);
    QFETCH(QString, opened);

    Rig rig("COM=07\r\nLanguage=" + language + "\r\n");
    DesktopDialogs dialogs;
    dialogs.viewers = {windows, chmViewer};
    rig.w().setDialogs(&dialogs);
    putHelpFiles(rig.dir.path(), chm, html);
    if (connected)
        QVERIFY(rig.connect());
    rig.w().show();
    QVERIFY(QTest::qWaitForWindowActive(&rig.w()));
    const QList<QByteArray> sentBefore = rig.port->writtenBytes();
    const QString rpmBefore = rig.w().sliders().RpmMinLabel->text();

    if (f1)
        QTest::keyClick(rig.w().sliders().RpmMinSlider, Qt::Key_F1);
    else
        rig.w().findChild<QAction *>("menuInfo_0")->trigger();

    QList<QUrl> expected;
    if (!opened.isEmpty()) {
        expected << QUrl::fromLocalFile(rig.dir.filePath(opened.section(u'#', 0, 0)));
        if (opened.contains(u'#'))
            expected[0].setFragment(opened.section(u'#', 1));
#ifdef Q_OS_WIN
        if (opened.contains(u'#'))
            QSKIP("a page inside Help.chm goes to hh.exe, not through the URL handler");
#endif
    }
    QCOMPARE(m_opened.urls, expected);
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(rig.port->writtenBytes(), sentBefore);
    QCOMPARE(rig.w().isConnected(), connected);
    QCOMPARE(rig.w().connection().ResetCmd->isEnabled(), connected);
    QCOMPARE(rig.w().sliders().RpmMinLabel->text(), rpmBefore);
    QVERIFY(rig.w().connection().btnConnect->isEnabled());
}

void TestHelp::desktopViewerQuery_data()
{
    QTest::addColumn<QByteArray>("script"); // the xdg-mime on PATH; null: none at all
    QTest::addColumn<bool>("chmViewer");
    QTest::newRow("names a viewer")
        << QByteArray("[ \"$*\" = 'query default application/vnd.ms-htmlhelp' ] && echo xchm.desktop\nexit 0\n")
        << true;
    QTest::newRow("no default application") << QByteArray("exit 0\n") << false;
    QTest::newRow("fails") << QByteArray("echo xchm.desktop\nexit 2\n") << false;
    QTest::newRow("hangs") << QByteArray("exec sleep 20\n") << false;
    QTest::newRow("no xdg-mime") << QByteArray() << false;
}

void TestHelp::desktopViewerQuery()
{
#ifdef Q_OS_WIN
    QSKIP("Windows always has its help viewer");
#else
    QFETCH(QByteArray, script);
    QFETCH(bool, chmViewer);
    QTemporaryDir bin;
    if (!script.isNull()) {
        const QString path = bin.filePath("xdg-mime");
        writeFile(path, "#!/bin/sh\n" + script);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    // Only our folder and the shell's own on PATH, so a real xdg-mime cannot answer instead.
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + (script.isNull() ? "" : ":/usr/bin:/bin"));
    const HelpViewers viewers = desktopHelpViewers();
    qputenv("PATH", savedPath);
    QCOMPARE(viewers.windows, false);
    QCOMPARE(viewers.chmViewer, chmViewer);
#endif
}

// The desktop refuses the document (no handler: offscreen opens nothing): the user gets its full path.
void TestHelp::noProgramForTheManual()
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("a real desktop would open the manual");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    Rig rig;
    DesktopDialogs dialogs;
    rig.w().setDialogs(&dialogs);
    putHelpFiles(rig.dir.path(), true, true);
    rig.w().findChild<QAction *>("menuInfo_0")->trigger();
    QCOMPARE(dialogs.shown.size(), 1);
    const QString path = QDir::toNativeSeparators(rig.dir.filePath("Help.chm"));
    QCOMPARE(dialogs.shown[0].text, rig.entry(73).replace("%1", path));
    QCOMPARE(dialogs.shown[0].title, rig.entry(27));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
