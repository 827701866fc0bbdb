#include "linktesthelpers.h"
#include "qtserialport.h"
#include "requestengine.h"
#include "simlink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace oe;
using namespace std::chrono_literals;

// QtSerialPort against a pseudo-terminal: the test holds the master side, the port opens the
// slave through <program folder>/ports/COM4.
class TestQtSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void openFailureReason_data();
    void openFailureReason();
    void simulatorRecordDecidesOpen_data();
    void simulatorRecordDecidesOpen();
    void writesExactBytes();
    void receiveEventAtThreshold();
    void readAllTakesBytesThatArrivedDuringPause();
    void discardDropsEverything();
    void staleBytesAreDroppedOnOpen();
    void hangUpClosesAndReportsOnce();
    void linkExchangeAndHangUp();

private:
    void masterWrite(const QByteArray &bytes);
    QByteArray masterRead(int count);

    QTemporaryDir m_folder;
    int m_master = -1;
};

void TestQtSerialPort::init()
{
    QVERIFY(m_folder.isValid());
    char name[256] = {};
    int slave = -1;
    QVERIFY(::openpty(&m_master, &slave, name, nullptr, nullptr) == 0);
    ::close(slave);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    QDir(m_folder.path()).mkpath("ports");
    QFile::remove(m_folder.filePath("ports/COM4"));
    QVERIFY(QFile::link(QString::fromLocal8Bit(name), m_folder.filePath("ports/COM4")));
}

void TestQtSerialPort::cleanup()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void TestQtSerialPort::masterWrite(const QByteArray &bytes)
{
    QCOMPARE(::write(m_master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
}

QByteArray TestQtSerialPort::masterRead(int count)
{
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (received.size() < count && clock.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        char buffer[64];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
        else
            QThread::msleep(2);
    }
    return received;
}

void TestQtSerialPort::openFailureReason_data()
{
    QTest::addColumn<QString>("target"); // where ports/COM9 leads: "missing", "file", "held" (COM4's pty, open elsewhere)
    QTest::addColumn<PortOpenError>("reason");
    QTest::newRow("missing device") << "missing" << PortOpenError::NotFound;
    QTest::newRow("not a tty") << "file" << PortOpenError::NotATty;
    QTest::newRow("in use") << "held" << PortOpenError::InUse;
}

void TestQtSerialPort::openFailureReason()
{
    QFETCH(QString, target);
    QFETCH(PortOpenError, reason);
    QString device = m_folder.filePath("nothing-here");
    QtSerialPort holder(m_folder.path());
    if (target == "file") {
        device = m_folder.filePath("plain-file");
        QFile file(device);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (target == "held") {
        device = QFileInfo(m_folder.filePath("ports/COM4")).symLinkTarget();
        QVERIFY(holder.open(4, nullptr));
    }
    QFile::remove(m_folder.filePath("ports/COM9"));
    QVERIFY(QFile::link(device, m_folder.filePath("ports/COM9")));
    QtSerialPort port(m_folder.path());
    QSignalSpy lost(&port, &SerialPort::portLost);
    QString error;
    QVERIFY(!port.open(9, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(port.openError(), reason);
    QCOMPARE(port.device(), device); // the link's target, not the link
    QVERIFY(!port.isOpen());
    port.close(); // closing a port that never opened is harmless
    QCOMPARE(lost.count(), 0);
    QVERIFY(port.open(4, nullptr) || target == "held");
    QCOMPARE(port.openError(), target == "held" ? reason : PortOpenError::None);
}

void TestQtSerialPort::simulatorRecordDecidesOpen_data()
{
    QTest::addColumn<QString>("record"); // "": none; "live", "gone", "reused pid", "other pty"
    QTest::addColumn<bool>("opens");
    QTest::newRow("no record: a user's or a test's link") << "" << true;
    QTest::newRow("simulator running") << "live" << true;
    QTest::newRow("simulator gone") << "gone" << false;
    QTest::newRow("its pid now another process's") << "reused pid" << false;
    QTest::newRow("record left from an earlier link") << "other pty" << true;
}

void TestQtSerialPort::simulatorRecordDecidesOpen()
{
    QFETCH(QString, record);
    QFETCH(bool, opens);
    const QString link = m_folder.filePath("ports/COM4");
    SimLinkRecord written = ownSimRecord(QFileInfo(link).symLinkTarget());
    if (record == "gone") {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        written.pid = child;
    } else if (record == "reused pid") {
        written.started += 1;
    } else if (record == "other pty") {
        written.pid = 0x7ffffffe;
        written.pty = "/dev/pts/999999";
    }
    if (!record.isEmpty())
        QVERIFY(writeSimRecord(link, written, nullptr));

    QtSerialPort port(m_folder.path());
    QString error;
    QCOMPARE(port.open(4, &error), opens);
    if (opens)
        return;
    QVERIFY2(error.contains(written.pty) && error.contains(QString::number(written.pid)), qPrintable(error));
    QVERIFY(!port.isOpen());
    QCOMPARE(port.device(), written.pty);
    QCOMPARE(port.openError(), PortOpenError::Other);
}

void TestQtSerialPort::writesExactBytes()
{
    QtSerialPort port(m_folder.path());
    QString error;
    QVERIFY2(port.open(4, &error), qPrintable(error));
    const QByteArray frame = QByteArray::fromHex("504302ff00ff000000");
    port.write(frame);
    QCOMPARE(masterRead(frame.size()).toHex(' '), frame.toHex(' '));
}

void TestQtSerialPort::receiveEventAtThreshold()
{
    QtSerialPort port(m_folder.path());
    QVERIFY(port.open(4, nullptr));
    port.setReceiveThreshold(2);
    QSignalSpy received(&port, &SerialPort::receiveEvent);
    masterWrite("C");
    QVERIFY(!received.wait(150));
    masterWrite("U");
    QVERIFY(received.wait(2000));
    QCOMPARE(port.readAll(), QByteArray("CU"));
}

void TestQtSerialPort::readAllTakesBytesThatArrivedDuringPause()
{
    QtSerialPort port(m_folder.path());
    QVERIFY(port.open(4, nullptr));
    port.setReceiveThreshold(2);
    QByteArray read;
    int events = 0;
    connect(&port, &SerialPort::receiveEvent, this, [&] {
        ++events;
        masterWrite(QByteArray::fromHex("04010203")); // the rest of the frame, on the wire now
        QThread::msleep(50);
        read = port.readAll();
        port.discardInput();
    });
    masterWrite(QByteArray::fromHex("4355"));
    QTRY_COMPARE(events, 1);
    QCOMPARE(read.toHex(' '), QByteArray::fromHex("435504010203").toHex(' '));
    QTest::qWait(100);
    QCOMPARE(events, 1);
}

void TestQtSerialPort::discardDropsEverything()
{
    QtSerialPort port(m_folder.path());
    QVERIFY(port.open(4, nullptr));
    masterWrite(QByteArray(300, 'x'));
    QTest::qWait(100);
    port.discardInput();
    QThread::msleep(20);
    QCOMPARE(port.readAll(), QByteArray());
}

void TestQtSerialPort::staleBytesAreDroppedOnOpen()
{
    {
        QtSerialPort first(m_folder.path());
        QVERIFY(first.open(4, nullptr));
        first.close();
    }
    masterWrite("stale bytes");
    QtSerialPort port(m_folder.path());
    QVERIFY(port.open(4, nullptr));
    QThread::msleep(30);
    QCOMPARE(port.readAll(), QByteArray());
}

void TestQtSerialPort::hangUpClosesAndReportsOnce()
{
    QtSerialPort port(m_folder.path());
    QVERIFY(port.open(4, nullptr));
    port.setReceiveThreshold(2);
    QSignalSpy lost(&port, &SerialPort::portLost);
    ::close(m_master);
    m_master = -1;
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!port.isOpen());
    QTest::qWait(100);
    QCOMPARE(lost.count(), 1);
    port.write("PC"); // a closed port takes writes without complaint
    QCOMPARE(port.readAll(), QByteArray());
}

void TestQtSerialPort::linkExchangeAndHangUp()
{
    QtSerialPort port(m_folder.path());
    RequestEngine engine(&port);
    QVERIFY(engine.open(4, nullptr));

    // A controller that answers identification and nothing else.
    QByteArray requests;
    QSocketNotifier notifier(m_master, QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, this, [&] {
        char buffer[64];
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return;
        requests.append(buffer, n);
        if (requests.endsWith(QByteArray::fromHex("50430400000000")))
            masterWrite(QByteArray::fromHex("435504010203"));
    });
    std::optional<RequestResult> version;
    engine.submit(Request::version(), [&](const RequestResult &r) { version = r; });
    QTRY_VERIFY(version.has_value());
    QVERIFY(version->answered());
    QCOMPARE(version->reply.version, (std::array<quint8, 3>{1, 2, 3}));
    QCOMPARE(requests.toHex(' '), QByteArray::fromHex("50430400000000").toHex(' '));

    QSignalSpy lost(&engine, &RequestEngine::portLost);
    QTimer::singleShot(100, this, [&] {
        notifier.setEnabled(false);
        ::close(m_master);
        m_master = -1;
    });
    QElapsedTimer clock;
    clock.start();
    bool statusEnded = false;
    engine.submit(Request::status(), [&](const RequestResult &) { statusEnded = true; });
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY2(clock.elapsed() < 450, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!engine.isOpen());
    QVERIFY(!engine.busy());
    QTest::qWait(600);
    QCOMPARE(lost.count(), 1);
    QVERIFY(!statusEnded); // dropped with the session, not reported as unanswered
}

QTEST_GUILESS_MAIN(TestQtSerialPort)
#include "tst_qtserialport.moc"
