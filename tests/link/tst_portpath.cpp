#include "portpath.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

class TestPortPath : public QObject
{
    Q_OBJECT
private slots:
    void resolve_data();
    void resolve();
};

void TestPortPath::resolve_data()
{
    QTest::addColumn<int>("comPort");
    QTest::addColumn<QString>("entry");    // what ports/COM<n> is: "", "link", "dangling", "file"
    QTest::addColumn<QString>("expected"); // "<folder>" stands for the program folder
#ifdef Q_OS_WIN
    // Windows names its own ports; a two-digit one only opens through the device namespace.
    QTest::newRow("COM1") << 1 << "" << "\\\\.\\COM1";
    QTest::newRow("COM15") << 15 << "" << "\\\\.\\COM15";
    QTest::newRow("ports entry ignored") << 3 << "file" << "\\\\.\\COM3";
#else
    QTest::newRow("no link, COM1") << 1 << "" << "/dev/ttyS0";
    QTest::newRow("no link, COM15") << 15 << "" << "/dev/ttyS14";
    QTest::newRow("link") << 3 << "link" << "<folder>/ports/COM3";
    QTest::newRow("dangling link") << 7 << "dangling" << "<folder>/ports/COM7";
    QTest::newRow("plain file") << 12 << "file" << "<folder>/ports/COM12";
#endif
}

void TestPortPath::resolve()
{
    QFETCH(int, comPort);
    QFETCH(QString, entry);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkpath("ports"));
    const QString entryPath = folder.filePath(QStringLiteral("ports/COM%1").arg(comPort));
    if (entry == "link")
        QVERIFY(QFile::link("/dev/null", entryPath));
    else if (entry == "dangling")
        QVERIFY(QFile::link(folder.filePath("gone"), entryPath));
    else if (entry == "file") {
        QFile file(entryPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
#ifndef Q_OS_WIN
    // Another port's link never counts.
    QVERIFY(QFile::link("/dev/null", folder.filePath(QStringLiteral("ports/COM%1").arg(comPort + 1))));
#endif

    expected.replace("<folder>", QDir(folder.path()).absolutePath());
    QCOMPARE(resolvePortDevice(comPort, folder.path()), expected);
    // A relative program folder still gives an absolute device path.
    if (entry == "link") {
        const QString previous = QDir::currentPath();
        QDir::setCurrent(folder.path());
        const QString resolved = resolvePortDevice(comPort, ".");
        QDir::setCurrent(previous);
        QCOMPARE(resolved, expected);
    }
}

QTEST_GUILESS_MAIN(TestPortPath)
#include "tst_portpath.moc"
