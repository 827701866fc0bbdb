#include "portcatalog.h"
#include "portpath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

class TestPortPath : public QObject
{
    Q_OBJECT
private slots:
    void resolve_data();
    void resolve();
#ifdef Q_OS_WIN
    void windowsCatalog();
#else
    void catalog_data();
    void catalog();
    void adapterLinkNeverReplaces();
#endif
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

#ifdef Q_OS_WIN
// Windows names its ports itself (no file can even be called COM4 there): only what the system lists
// is present.
void TestPortPath::windowsCatalog()
{
    QTemporaryDir folder;
    const QList<SystemPort> system = {{"COM5", "", true}};
    const QList<ComPortInfo> ports = listComPorts(folder.path(), system);
    QCOMPARE(ports.size(), 15);
    QCOMPARE(ports[4].device, QString("COM5"));
    QVERIFY(ports[4].present && !ports[4].linked);
    QCOMPARE(ports[3].device, QString("COM4"));
    QVERIFY(!ports[3].present && !ports[3].linked);
    QVERIFY(unlinkedUsbAdapters(ports, system).isEmpty());
}
#else
void TestPortPath::catalog_data()
{
    QTest::addColumn<QString>("entry");  // ports/COM5: "", "link" (to the adapter), "dangling"
    QTest::addColumn<bool>("listed");    // the system lists the adapter (a USB device) and /dev/ttyS4
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("device"); // "<adapter>" and "<gone>" stand for the temporary paths
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("adapterUnlinked");
    QTest::newRow("built-in port with hardware") << "" << true << true << "/dev/ttyS4" << "16550A" << true;
    QTest::newRow("built-in port without") << "" << false << false << "/dev/ttyS4" << "" << false;
    QTest::newRow("link to an adapter") << "link" << true << true << "<adapter>" << "FT232R USB UART" << false;
    QTest::newRow("link to a pty") << "link" << false << true << "<adapter>" << "" << false;
    QTest::newRow("dangling link") << "dangling" << true << false << "<gone>" << "" << true;
}

void TestPortPath::catalog()
{
    QFETCH(QString, entry);
    QFETCH(bool, listed);
    QFETCH(bool, present);
    QFETCH(QString, device);
    QFETCH(QString, description);
    QFETCH(bool, adapterUnlinked);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkpath("ports"));
    const QString adapter = QDir(folder.path()).absoluteFilePath("ttyUSB0");
    const QString gone = QDir(folder.path()).absoluteFilePath("ttyUSB9");
    QFile node(adapter);
    QVERIFY(node.open(QIODevice::WriteOnly));
    if (entry == "link")
        QVERIFY(QFile::link(adapter, folder.filePath("ports/COM5")));
    else if (entry == "dangling")
        QVERIFY(QFile::link(gone, folder.filePath("ports/COM5")));
    QList<SystemPort> system;
    if (listed)
        system = {{"/dev/ttyS4", "16550A", false}, {adapter, "FT232R USB UART", true}};

    const QList<ComPortInfo> ports = listComPorts(folder.path(), system);
    QCOMPARE(ports.size(), 15);
    for (int n = 1; n <= 15; ++n)
        QCOMPARE(ports[n - 1].comPort, n);
    const ComPortInfo &com5 = ports[4];
    device.replace("<adapter>", adapter).replace("<gone>", gone);
    QCOMPARE(com5.present, present);
    QCOMPARE(com5.device, device);
    QCOMPARE(com5.description, description);
    QCOMPARE(com5.dangling, entry == "dangling");
    QCOMPARE(com5.linked, !entry.isEmpty());
    QVERIFY(!ports[3].present && !ports[5].present); // neighbours without hardware or link
    const QList<SystemPort> unlinked = unlinkedUsbAdapters(ports, system);
    QCOMPARE(unlinked.size(), adapterUnlinked ? 1 : 0);
    if (adapterUnlinked)
        QCOMPARE(unlinked[0].device, adapter);
}

void TestPortPath::adapterLinkNeverReplaces()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    // No ports/ folder yet: the link makes it.
    QCOMPARE(freeAdapterComPort(folder.path()), 3);
    QString error;
    QVERIFY2(makePortLink(folder.path(), 3, "/dev/ttyUSB0", &error), qPrintable(error));
    QVERIFY(QFile::link(folder.filePath("gone"), folder.filePath("ports/COM4")));
    QCOMPARE(freeAdapterComPort(folder.path()), 5); // a dangling link is not free either
    QVERIFY(!makePortLink(folder.path(), 3, "/dev/ttyACM0", &error));
    QVERIFY(!makePortLink(folder.path(), 4, "/dev/ttyACM0", &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(QFileInfo(folder.filePath("ports/COM3")).symLinkTarget(), "/dev/ttyUSB0");
    QCOMPARE(QFileInfo(folder.filePath("ports/COM4")).symLinkTarget(), folder.filePath("gone"));
    for (int n = 5; n <= 15; ++n)
        QVERIFY(makePortLink(folder.path(), n, "/dev/ttyACM0", nullptr));
    QCOMPARE(freeAdapterComPort(folder.path()), 0);
}
#endif

QTEST_GUILESS_MAIN(TestPortPath)
#include "tst_portpath.moc"
