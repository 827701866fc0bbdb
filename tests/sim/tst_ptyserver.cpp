// The simulator over a real pty: replies, the timed fault modes, hang-ups, and the port links.

#include "portlink.h"
#include "ptyclient.h"
#include "ptyserver.h"
#include "simfixture.h"
#include "simlink.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

namespace {

const QByteArray kVersionRequest = QByteArray::fromHex("50430400000000");
const QByteArray kVersionReply = QByteArray::fromHex("435504010307");
constexpr int kPatienceMs = 5000;  // generous: only a broken simulator comes near it

SimFaults faults(const char *spec)
{
    SimFaults f;
    if (!f.apply(QString::fromLatin1(spec), nullptr))
        qFatal("bad fault spec %s", spec);
    return f;
}

} // namespace

class TestPtyServer : public QObject
{
    Q_OBJECT

private slots:
    void answersOverPty();
    void delayHoldsReplyBack();
    void lateComesAfterLongestTimeout();
    void splitWritesTwoParts();
    void pacedLineTakesWireTime();
    void hangUpClosesLine();
    void hangUpFaultAfterNthFrame();
    void reopenAfterHangUp();
    void programSideMayCloseAndReopen();
    void requestSignalAndLog();

    void parseComPort_data();
    void parseComPort();
    void linkCreatedAndRemoved();
    void liveLinkIsNotReplaced();
};

void TestPtyServer::answersOverPty()
{
    SimFixture fx;
    QVERIFY2(fx.isReady(), qPrintable(fx.errorString()));
    QCOMPARE(QFileInfo(fx.portPath()).symLinkTarget(), fx.server().slavePath());
    QVERIFY(QFileInfo(fx.server().slavePath()).isAbsolute());
    PtyClient client(fx.portPath());
    QVERIFY(client.isOpen());
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(kPatienceMs, 6).toHex(' '), kVersionReply.toHex(' '));
}

void TestPtyServer::delayHoldsReplyBack()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setFaults(faults("delay=400"));
    PtyClient client(fx.portPath());
    QElapsedTimer sent;
    sent.start();
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(300), QByteArray());  // timers never fire early
    QCOMPARE(client.read(kPatienceMs, 6).toHex(' '), kVersionReply.toHex(' '));
    QVERIFY(sent.elapsed() >= 395);
}

void TestPtyServer::lateComesAfterLongestTimeout()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setFaults(faults("late"));
    PtyClient client(fx.portPath());
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(1000), QByteArray());  // the longest reply time-out is 1000 ms
    QCOMPARE(client.read(kPatienceMs, 6).toHex(' '), kVersionReply.toHex(' '));
}

void TestPtyServer::splitWritesTwoParts()
{
    // A gap long enough that this test cannot read across it even on a busy machine.
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setFaults(faults("split=700"));
    fx.sim().setEngineOverride(EngineReading{1500, 5250});
    QSignalSpy written(&fx.server(), &PtyServer::bytesWritten);
    PtyClient client(fx.portPath());
    QVERIFY(client.write(QByteArray::fromHex("50430300000000")));
    const QByteArray first = client.read(kPatienceMs, 1);
    QCOMPARE(first.toHex(' '), QByteArray("43 55 03 05 dc"));
    QCOMPARE(client.read(400), QByteArray());
    QCOMPARE(client.read(kPatienceMs, 6).toHex(' '), QByteArray("14 82 00 0a 00 78"));
    QCOMPARE(written.size(), 2);
}

void TestPtyServer::pacedLineTakesWireTime()
{
    // At 9600 baud a byte is ten bits, 1.042 ms: the 7-byte request is taken in over 7.3 ms and the
    // 11-byte status reply goes out over 11.5 ms. Only a lower bound: a busy machine may be slower.
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.setPace(9600);
    fx.sim().setEngineOverride(EngineReading{1500, 5250});
    QSignalSpy written(&fx.server(), &PtyServer::bytesWritten);
    PtyClient client(fx.portPath());
    QElapsedTimer sent;
    sent.start();
    QVERIFY(client.write(QByteArray::fromHex("50430300000000")));
    const QByteArray reply = client.read(kPatienceMs, 11);
    const qint64 tookMs = sent.elapsed();
    QCOMPARE(reply.toHex(' '), QByteArray("43 55 03 05 dc 14 82 00 0a 00 78"));
    QVERIFY2(tookMs >= 18, qPrintable(QStringLiteral("%1 ms").arg(tookMs)));
    QTRY_COMPARE(written.size(), 1);  // reported once, when the last byte is out
}

void TestPtyServer::hangUpClosesLine()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    QSignalSpy hung(&fx.server(), &PtyServer::hungUp);
    PtyClient client(fx.portPath());
    QVERIFY(!client.hungUp(50));
    fx.hangUp();
    QVERIFY(client.hungUp(kPatienceMs));
    QVERIFY(!fx.server().isOpen());
    QCOMPARE(hung.size(), 1);
    fx.hangUp();  // a second hang-up is harmless and not reported again
    QCOMPARE(hung.size(), 1);
}

void TestPtyServer::hangUpFaultAfterNthFrame()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.sim().setFaults(faults("hangup=2"));
    PtyClient client(fx.portPath());
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(kPatienceMs, 6), kVersionReply);
    QVERIFY(!client.hungUp(100));
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(kPatienceMs, 6), kVersionReply);  // the Nth frame is still answered
    QVERIFY(client.hungUp(kPatienceMs));
    QVERIFY(!fx.server().isOpen());
}

void TestPtyServer::reopenAfterHangUp()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    fx.hangUp();
    QVERIFY(fx.reopen());
    QCOMPARE(QFileInfo(fx.portPath()).symLinkTarget(), fx.server().slavePath());
    PtyClient client(fx.portPath());
    QVERIFY(client.write(kVersionRequest));
    QCOMPARE(client.read(kPatienceMs, 6), kVersionReply);
}

void TestPtyServer::programSideMayCloseAndReopen()
{
    // We hold a slave descriptor ourselves, so the program closing its port is no hang-up for us.
    SimFixture fx;
    QVERIFY(fx.isReady());
    {
        PtyClient client(fx.portPath());
        QVERIFY(client.write(kVersionRequest));
        QCOMPARE(client.read(kPatienceMs, 6), kVersionReply);
    }
    QTest::qWait(100);
    QVERIFY(fx.server().isOpen());
    PtyClient again(fx.portPath());
    QVERIFY(again.write(kVersionRequest));
    QCOMPARE(again.read(kPatienceMs, 6), kVersionReply);
}

void TestPtyServer::requestSignalAndLog()
{
    SimFixture fx;
    QVERIFY(fx.isReady());
    QSignalSpy received(&fx.server(), &PtyServer::requestReceived);
    PtyClient client(fx.portPath());
    const qint64 before = fx.elapsedMs();
    QVERIFY(client.write(QByteArray::fromHex("FF5043040000000050430102000000")));
    QCOMPARE(client.read(kPatienceMs, 12).size(), 12);
    QCOMPARE(received.size(), 2);
    QCOMPARE(received[0][0].toByteArray(), kVersionRequest);
    QCOMPARE(fx.requests().size(), 2);
    QCOMPARE(fx.requests()[1].frame, QByteArray::fromHex("50430102000000"));
    QVERIFY(fx.requests()[0].atMs >= before && fx.requests()[0].atMs <= fx.elapsedMs());
}

void TestPtyServer::parseComPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");  // 0: rejected
    QTest::newRow("COM3") << "COM3" << 3;
    QTest::newRow("com15") << "com15" << 15;
    QTest::newRow("bare") << "7" << 7;
    QTest::newRow("COM0") << "COM0" << 0;
    QTest::newRow("COM16") << "COM16" << 0;
    QTest::newRow("word") << "COMX" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("device path") << "/dev/ttyUSB0" << 0;
}

void TestPtyServer::parseComPort()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(oe::parseComPort(text).value_or(0), port);
}

void TestPtyServer::linkCreatedAndRemoved()
{
    QTemporaryDir dir;
    const QString link = portLinkPath(dir.path(), 4);
    QCOMPARE(link, dir.path() + QStringLiteral("/ports/COM4"));
    QString error;
    // A dangling link without a record is a user's (an adapter unplugged): never replaced.
    QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/ports")));
    QVERIFY(QFile::link(QStringLiteral("/nonexistent/pts/99"), link));
    QVERIFY(!createPortLink(link, QStringLiteral("/dev/null"), &error));
    QVERIFY2(error.startsWith(QStringLiteral("COM4 -> /nonexistent/pts/99: the device is not present")),
             qPrintable(error));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/nonexistent/pts/99"));
    // The same link recorded by a simulator that has gone is replaced.
    SimLinkRecord gone = ownSimRecord(QStringLiteral("/nonexistent/pts/99"));
    gone.started += 1;
    QVERIFY(writeSimRecord(link, gone, &error));
    QVERIFY2(createPortLink(link, QStringLiteral("/dev/null"), &error), qPrintable(error));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
    QCOMPARE(readSimRecord(link).value_or(SimLinkRecord{}).pty, QStringLiteral("/dev/null"));
    QCOMPARE(int(simLinkState(link)), int(SimLinkState::Live));
    // Only a link to what we linked is removed.
    QVERIFY(!removePortLink(link, QStringLiteral("/dev/zero")));
    QVERIFY(QFileInfo(link).isSymLink());
    QVERIFY(removePortLink(link, QStringLiteral("/dev/null")));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(simRecordPath(link)));
}

void TestPtyServer::liveLinkIsNotReplaced()
{
    QTemporaryDir dir;
    const QString link = portLinkPath(dir.path(), 3);
    QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/ports")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), link));  // stands for a real adapter
    QString error;
    QVERIFY(!createPortLink(link, QStringLiteral("/dev/zero"), &error));
    QVERIFY(error.contains(QStringLiteral("/dev/null")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/null"));
    // Our own earlier line may be re-pointed.
    QVERIFY(createPortLink(link, QStringLiteral("/dev/zero"), &error, QStringLiteral("/dev/null")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), QStringLiteral("/dev/zero"));
    // A plain file is never replaced.
    const QString file = portLinkPath(dir.path(), 5);
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(!createPortLink(file, QStringLiteral("/dev/zero"), &error));
    QVERIFY(!QFileInfo(file).isSymLink());
}

QTEST_GUILESS_MAIN(TestPtyServer)
#include "tst_ptyserver.moc"
