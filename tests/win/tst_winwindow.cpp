// The Windows program's window on a real COM port with the simulated controller behind it
// (scripts/test-windows links Wine's COM3 to oe-sim's pty; OE_TEST_COM names the port): connect
// shows the controller's version and eight values, and a written value is what the controller
// holds when read back on the next connect. Skips without OE_TEST_COM.

#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "scripteddialogs.h"
#include "sessionwait.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

using namespace oe;

class TestWinWindow : public QObject
{
    Q_OBJECT
private slots:
    void connectReadsThenWriteReachesController();
};

void TestWinWindow::connectReadsThenWriteReachesController()
{
    const int com = qEnvironmentVariableIntValue("OE_TEST_COM");
    if (com <= 0)
        QSKIP("OE_TEST_COM names no port with the simulator behind it");
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QFile::copy(QStringLiteral(OE_LANGUAGE_INI), folder.filePath("Language.ini")));
    QFile config(folder.filePath("config.ini"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("COM=%1\r\nLanguage=ENG\r\n").arg(com, 2, 10, QLatin1Char('0')).toLatin1());
    config.close();

    ScriptedDialogs dialogs;
    MainWindow w(folder.path());
    w.setDialogs(&dialogs);
    const auto connectClick = [&w] {
        w.connection().btnConnect->click();
        return waitSessionQuiet(w.session(), 20000);
    };

    QVERIFY(connectClick());
    QVERIFY2(w.isConnected(), qPrintable(dialogs.texts().join(QLatin1String(" | "))));
    QCOMPARE(w.connection().Label9->text(), QStringLiteral("Ver. 1.3.7"));
    for (int i = 0; i < kParameterCount; ++i)
        QVERIFY2(w.session().parameterKnown(ParameterIndex(i)), qPrintable(QString::number(i)));
    QVERIFY(w.sliders().RpmMinSlider->isEnabled());
    QCOMPARE(w.sliders().RpmMinLabel->text(), QString::number(w.session().Parameters[ParameterIndex::RpmMin]));

    const qint32 before = w.session().Parameters[ParameterIndex::RpmMin];
    const qint32 wanted = before + 50 <= w.sliders().RpmMinSlider->maximum() ? before + 50 : before - 50;
    QSignalSpy written(&w.session(), &Session::writeFinished);
    QVERIFY(w.session().commitParameter(ParameterIndex::RpmMin, wanted));
    QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, 8000);
    QCOMPARE(written[0][1].toBool(), true); // confirmed by the controller's echo
    QVERIFY(waitSessionQuiet(w.session(), 20000));
    QCOMPARE(w.session().Parameters[ParameterIndex::RpmMin], wanted);

    // Disconnect and connect again: the value comes back from the controller itself.
    QVERIFY(connectClick());
    QVERIFY(!w.isConnected());
    QVERIFY(connectClick());
    QVERIFY2(w.isConnected(), qPrintable(dialogs.texts().join(QLatin1String(" | "))));
    QCOMPARE(w.session().Parameters[ParameterIndex::RpmMin], wanted);
    QCOMPARE(w.sliders().RpmMinLabel->text(), QString::number(wanted));
    QCOMPARE(dialogs.shown.isEmpty() ? QString() : dialogs.shown.first().text, QString());

    // Leave the controller as it was for the next run.
    QVERIFY(w.session().commitParameter(ParameterIndex::RpmMin, before));
    QVERIFY(waitSessionQuiet(w.session(), 20000));
}

QTEST_MAIN(TestWinWindow)
#include "tst_winwindow.moc"
