#include "messagelog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

class TestMessageLog : public QObject
{
    Q_OBJECT
private slots:
    void warningsGoToTheFile();
};

void TestMessageLog::warningsGoToTheFile()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // A folder that does not exist yet, and a log grown past its limit from earlier runs.
    const QString path = QDir(tmp.path()).filePath(QStringLiteral("OE Setup/oe-setup.log"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(kMessageLogLimit + 1, 'x'));
    old.close();

    QVERIFY(installMessageLog(path));
    qWarning("porta non è valida");
    qInstallMessageHandler(nullptr);

    QCOMPARE(QFileInfo(path + QStringLiteral(".old")).size(), kMessageLogLimit + 1);
    QFile log(path);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    QVERIFY2(text.endsWith(" warning porta non \xc3\xa8 valida\r\n"), text.constData());
    QCOMPARE(text.count('\n'), 1);
}

QTEST_GUILESS_MAIN(TestMessageLog)
#include "tst_messagelog.moc"
