// End to end over a real pty: the real QSerialPort opens the fixture's ports/COMn link, as the program
// does, and talks to the simulator on the other side.

#include "simfixture.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

using namespace oe;

namespace {

constexpr int kPatienceMs = 5000;

bool openPort(QSerialPort &port, const QString &path)
{
    port.setPortName(path);
    port.setBaudRate(9600);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}

} // namespace

class TestSimSmoke : public QObject
{
    Q_OBJECT

private slots:
    void versionOverSerialPort();
    void portClosedAndOpenedAgain();
    void hangUpReachesSerialPort();
};

void TestSimSmoke::versionOverSerialPort()
{
    SimFixture fx(3);
    QVERIFY2(fx.isReady(), qPrintable(fx.errorString()));
    QVERIFY(fx.portPath().startsWith(fx.programFolder() + QStringLiteral("/ports/")));
    QSerialPort port;
    QVERIFY2(openPort(port, fx.portPath()), qPrintable(port.errorString()));
    port.write(QByteArray::fromHex("50430400000000"));
    // The simulator runs on this thread: wait with the event loop, never with waitForReadyRead.
    QTRY_VERIFY_WITH_TIMEOUT(port.bytesAvailable() >= 6, kPatienceMs);
    QCOMPARE(port.readAll().toHex(' '), QByteArray("43 55 04 01 03 07"));
    QCOMPARE(fx.requests().size(), 1);
    QCOMPARE(fx.requests()[0].frame, QByteArray::fromHex("50430400000000"));
}

void TestSimSmoke::portClosedAndOpenedAgain()
{
    SimFixture fx(4);
    QVERIFY(fx.isReady());
    QSerialPort port;
    QVERIFY(openPort(port, fx.portPath()));
    port.close();
    QVERIFY2(openPort(port, fx.portPath()), qPrintable(port.errorString()));
    port.write(QByteArray::fromHex("50430104000000"));
    QTRY_VERIFY_WITH_TIMEOUT(port.bytesAvailable() >= 6, kPatienceMs);
    QCOMPARE(port.readAll().toHex(' '), QByteArray("43 55 01 04 23 28"));
}

void TestSimSmoke::hangUpReachesSerialPort()
{
    SimFixture fx(5);
    QVERIFY(fx.isReady());
    QSerialPort port;
    QVERIFY(openPort(port, fx.portPath()));
    QSignalSpy errors(&port, &QSerialPort::errorOccurred);
    // Close on the first loss, as the program must, or the error repeats without end.
    QObject::connect(&port, &QSerialPort::errorOccurred, &port, [&port](QSerialPort::SerialPortError e) {
        if ((e == QSerialPort::ResourceError || e == QSerialPort::ReadError) && port.isOpen())
            port.close();
    });
    fx.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(!port.isOpen(), kPatienceMs);
    bool lost = false;
    for (const QList<QVariant> &e : errors) {
        const auto code = e[0].value<QSerialPort::SerialPortError>();
        lost = lost || code == QSerialPort::ResourceError || code == QSerialPort::ReadError;
    }
    QVERIFY(lost);
}

QTEST_GUILESS_MAIN(TestSimSmoke)
#include "tst_simsmoke.moc"
