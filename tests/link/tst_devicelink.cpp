#include "devicelink.h"
#include "linktesthelpers.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace oe;
using namespace oe::test;
using namespace std::chrono_literals;

class TestDeviceLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void timersAreNamedChildren();
    void promptExchanges_data();
    void promptExchanges();
    void silentController_data();
    void silentController();
    void wrongAnswerFailsAttempt_data();
    void wrongAnswerFailsAttempt();
    void unusableFrameEndsAttemptAtOnce_data();
    void unusableFrameEndsAttemptAtOnce();
    void writeSucceedsOnSecondTry();
    void silentWriteAfterEqualEcho();
    void writeOutOfRangeSendsNothing_data();
    void writeOutOfRangeSendsNothing();
    void failedReadAppliesNothing();
    void statusReplyDuringReadThenRealAnswer();
    void statusWhileNotConnected();
    void splitReplyIsJoined();
    void gluedBytesAreDiscarded();
    void everyAttemptGetsFullTimeout();
    void outerWaitJudgesItsOwnReply();
    void outerReplyArrivingDuringInnerWait();
    void endSessionEndsWait();
    void endSessionStopsSequence();
    void endSessionEndsNestedWaits();
    void portLostReportedOnce();

private:
    void runOperation(const QString &op);
    QList<int> writtenCodes() const;
    template<typename F>
    void at(int ms, F f) { QTimer::singleShot(ms, Qt::PreciseTimer, m_link.get(), f); }

    std::unique_ptr<FakeSerialPort> m_port;
    std::unique_ptr<RecordingHost> m_host;
    std::unique_ptr<DeviceLink> m_link;
};

void TestDeviceLink::init()
{
    m_port = std::make_unique<FakeSerialPort>();
    m_host = std::make_unique<RecordingHost>();
    m_link = std::make_unique<DeviceLink>(m_port.get(), m_host.get());
    QString error;
    QVERIFY(m_link->openPort(3, &error));
    QCOMPARE(m_port->comPort(), 3);
}

void TestDeviceLink::cleanup()
{
    m_link.reset();
    m_host.reset();
    m_port.reset();
}

void TestDeviceLink::runOperation(const QString &op)
{
    if (op == "read")
        m_link->ReadParameter(4);
    else if (op == "write")
        m_link->WriteParameter(2, 1500);
    else if (op == "version")
        m_link->RequestVersion();
    else if (op == "status")
        m_link->RequestStatus();
    else if (op == "reset")
        m_link->SendReset();
    else
        QFAIL("unknown operation");
}

QList<int> TestDeviceLink::writtenCodes() const
{
    QList<int> codes;
    for (const QByteArray &frame : m_port->writtenBytes())
        codes.append(frameCode(frame));
    return codes;
}

void TestDeviceLink::timersAreNamedChildren()
{
    auto *reply = m_link->findChild<IntervalTimer *>("MSComm1_Timer");
    auto *status = m_link->findChild<IntervalTimer *>("Timer_StatusRequest");
    QCOMPARE(reply, m_link->replyTimer());
    QCOMPARE(status, m_link->statusTimer());
    QCOMPARE(status->interval(), 500);
    QVERIFY(!reply->enabled());
    QVERIFY(!status->enabled());
}

void TestDeviceLink::promptExchanges_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("statusPollAfter");
    QTest::newRow("read") << "read" << hex("50430104000000") << false;
    QTest::newRow("write") << "write" << hex("5043020205dc000000") << true;
    QTest::newRow("version") << "version" << hex("50430400000000") << true;
    QTest::newRow("status") << "status" << hex("50430300000000") << true;
    QTest::newRow("reset") << "reset" << hex("50430a00000000") << false;
}

void TestDeviceLink::promptExchanges()
{
    QFETCH(QString, op);
    QFETCH(QByteArray, frame);
    QFETCH(bool, statusPollAfter);
    m_port->setResponder(promptReply);
    m_link->Connected = true;
    m_link->statusTimer()->setEnabled(true);

    runOperation(op);

    QCOMPARE(m_port->writtenBytes(), QList<QByteArray>{frame});
    QVERIFY(m_link->ReplyOk);
    QCOMPARE(m_link->statusTimer()->enabled(), statusPollAfter);
    QVERIFY(m_host->messages.isEmpty());
    QCOMPARE(m_port->receiveThreshold(), 2);
    QCOMPARE(m_link->pendingWaits(), 0);
    // The reply was read after the settle pause.
    QVERIFY(m_port->pauses().contains(50));
    if (op == "read")
        QCOMPARE(m_host->applied, (QList<QPair<int, qint32>>{{4, 104}}));
    else
        QVERIFY(m_host->applied.isEmpty());
    if (op == "status")
        QCOMPARE(m_host->statuses, (QList<RecordingHost::Status>{{1500, 100, 25, 80}}));
    if (op == "version")
        QCOMPARE(m_host->versions, QStringList{"Ver. 1.2.3"});
    if (op == "write") {
        QCOMPARE(m_link->ReplyIndex, 2);
        QCOMPARE(m_link->ReplyValue, 1500);
    }
}

void TestDeviceLink::silentController_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("messageEntry"); // 0: no message
    QTest::addColumn<bool>("statusPollAfter");
    QTest::newRow("read") << "read" << 300 << 0 << false;
    QTest::newRow("write") << "write" << 300 << 29 << true;
    QTest::newRow("version") << "version" << 300 << 0 << true;
    QTest::newRow("status") << "status" << 500 << 0 << true;
    QTest::newRow("reset") << "reset" << 1000 << 28 << false;
}

void TestDeviceLink::silentController()
{
    QFETCH(QString, op);
    QFETCH(int, timeoutMs);
    QFETCH(int, messageEntry);
    QFETCH(bool, statusPollAfter);
    m_link->Connected = true;
    m_link->statusTimer()->setEnabled(true);
    bool pollOffDuringMessage = false;
    m_host->onMessage = [&] { pollOffDuringMessage = !m_link->statusTimer()->enabled(); };

    runOperation(op);

    const auto &frames = m_port->written();
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames[0].bytes, frames[1].bytes);
    QCOMPARE(frames[1].bytes, frames[2].bytes);
    for (int i = 1; i < frames.size(); ++i) {
        const qint64 gap = frames[i].atMs - frames[i - 1].atMs;
        QVERIFY2(gap >= timeoutMs - 5 && gap <= timeoutMs + 400,
                 qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    if (messageEntry == 0) {
        QVERIFY(m_host->messages.isEmpty());
    } else {
        QCOMPARE(m_host->messages.size(), 1);
        QCOMPARE(m_host->messages.first().first, m_host->caption(messageEntry));
        QCOMPARE(m_host->messages.first().second, m_host->caption(27));
        // The write restarts the poll before its message; the reset leaves it to its caller.
        QCOMPARE(pollOffDuringMessage, !statusPollAfter);
    }
    QCOMPARE(m_link->statusTimer()->enabled(), statusPollAfter);
    QVERIFY(!m_link->replyTimer()->enabled());
    QVERIFY(!m_link->ReplyOk);
    QVERIFY(m_host->applied.isEmpty());
}

void TestDeviceLink::wrongAnswerFailsAttempt_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("messageEntry");
    QTest::newRow("read answered by status") << "read" << hex("43550305dc006400190050") << 0;
    QTest::newRow("read answered for another index") << "read" << hex("435501030007") << 0;
    QTest::newRow("read answered by echo") << "read" << hex("435502040007") << 0;
    QTest::newRow("write echo clamped") << "write" << hex("43550202057d") << 29;
    QTest::newRow("write echo other index") << "write" << hex("4355020305dc") << 29;
    QTest::newRow("write answered by read reply") << "write" << hex("4355010205dc") << 29;
    QTest::newRow("reset answered by status") << "reset" << hex("43550305dc006400190050") << 28;
    QTest::newRow("version answered by reset ack") << "version" << hex("43550a00") << 0;
    QTest::newRow("status answered by echo") << "status" << hex("435502041234") << 0;
}

void TestDeviceLink::wrongAnswerFailsAttempt()
{
    QFETCH(QString, op);
    QFETCH(QByteArray, reply);
    QFETCH(int, messageEntry);
    m_link->Connected = true;
    m_port->setResponder([reply](const QByteArray &) { return reply; });

    runOperation(op);

    QCOMPARE(m_port->written().size(), 3);
    QVERIFY(m_host->applied.isEmpty());
    QVERIFY(!m_link->ReplyOk);
    QCOMPARE(m_host->messages.size(), messageEntry ? 1 : 0);
    if (messageEntry)
        QCOMPARE(m_host->messages.first().first, m_host->caption(messageEntry));
    // What the stray reply carries is still taken in.
    const int code = quint8(reply[2]);
    if (code == 1 || code == 2) {
        QCOMPARE(m_link->ReplyIndex, int(quint8(reply[3])));
        QCOMPARE(m_link->ReplyValue, quint8(reply[4]) * 256 + quint8(reply[5]));
    }
    if (code == 3)
        QCOMPARE(m_host->statuses.size(), 3);
}

void TestDeviceLink::unusableFrameEndsAttemptAtOnce_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("unknown code") << hex("435507000000");
    QTest::newRow("three bytes") << hex("435504");
    QTest::newRow("truncated version") << hex("4355040102");
    QTest::newRow("truncated status") << hex("43550305dc0064001900");
    QTest::newRow("wrong header") << hex("435604010203");
    QTest::newRow("garbage burst") << QByteArray(2000, '\xAA');
}

void TestDeviceLink::unusableFrameEndsAttemptAtOnce()
{
    QFETCH(QByteArray, reply);
    m_port->setResponder([reply](const QByteArray &) { return reply; });
    QElapsedTimer clock;
    clock.start();

    m_link->RequestVersion();

    QCOMPARE(m_port->written().size(), 3);
    QVERIFY(!m_link->Connected);
    QVERIFY(m_host->versions.isEmpty());
    QCOMPARE(m_port->bytesWaiting(), 0);
    // Three time-outs would take 900 ms; each frame ends its attempt about 55 ms after the request.
    QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
}

void TestDeviceLink::writeSucceedsOnSecondTry()
{
    int requests = 0;
    m_port->setResponder([&](const QByteArray &request) {
        return ++requests == 1 ? QByteArray() : promptReply(request);
    });
    QCOMPARE(m_link->WriteParameter(3, 0x1234), DeviceLink::WriteResult::Confirmed);
    QCOMPARE(m_port->writtenBytes(),
             (QList<QByteArray>{hex("504302031234000000"), hex("504302031234000000")}));
    QVERIFY(m_host->messages.isEmpty());
    QVERIFY(m_link->statusTimer()->enabled());
}

void TestDeviceLink::silentWriteAfterEqualEcho()
{
    m_port->setResponder(promptReply);
    QCOMPARE(m_link->WriteParameter(2, 1500), DeviceLink::WriteResult::Confirmed);
    m_port->setResponder({});
    m_port->clearWritten();

    // ReplyIndex/ReplyValue still hold 2/1500 from the last echo: they must not confirm this write.
    QCOMPARE(m_link->WriteParameter(2, 1500), DeviceLink::WriteResult::NotConfirmed);
    QCOMPARE(m_port->written().size(), 3);
    QCOMPARE(m_host->messages.size(), 1);
}

void TestDeviceLink::writeOutOfRangeSendsNothing_data()
{
    QTest::addColumn<qint32>("value");
    QTest::newRow("65536") << 65536;
    QTest::newRow("-1") << -1;
}

void TestDeviceLink::writeOutOfRangeSendsNothing()
{
    QFETCH(qint32, value);
    m_port->setResponder(promptReply);
    m_link->statusTimer()->setEnabled(true);
    QCOMPARE(m_link->WriteParameter(1, value), DeviceLink::WriteResult::OutOfRange);
    QVERIFY(m_port->written().isEmpty());
    QVERIFY(m_host->messages.isEmpty());
    QVERIFY(!m_link->statusTimer()->enabled());
}

void TestDeviceLink::failedReadAppliesNothing()
{
    m_port->setResponder(promptReply);
    QVERIFY(m_link->ReadParameter(2));
    m_port->setResponder({});
    QVERIFY(!m_link->ReadParameter(5));
    QCOMPARE(m_host->applied, (QList<QPair<int, qint32>>{{2, 102}}));
    QCOMPARE(m_port->written().size(), 4);
}

void TestDeviceLink::statusReplyDuringReadThenRealAnswer()
{
    int requests = 0;
    m_port->setResponder([&](const QByteArray &request) {
        return ++requests == 1 ? hex("43550305dc006400190050") : promptReply(request);
    });
    QVERIFY(m_link->ReadParameter(6));
    QCOMPARE(m_port->written().size(), 2);
    QCOMPARE(m_host->applied, (QList<QPair<int, qint32>>{{6, 106}}));
    QCOMPARE(m_host->statuses.size(), 1);
}

void TestDeviceLink::statusWhileNotConnected()
{
    m_port->setResponder(promptReply);
    m_link->RequestStatus();
    QVERIFY(m_port->written().isEmpty());
    QVERIFY(m_link->statusTimer()->enabled());

    // With the session over there is no poll to restart either.
    m_link->endSession();
    m_link->RequestStatus();
    QVERIFY(m_port->written().isEmpty());
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QVERIFY(!m_link->statusTimer()->enabled());
}

void TestDeviceLink::splitReplyIsJoined()
{
    FakeSerialPort *port = m_port.get();
    port->setResponder([port](const QByteArray &) {
        port->deliver(hex("4355"), 5ms);
        port->deliver(hex("04010203"), 25ms); // inside the settle pause
        return QByteArray();
    });
    m_link->RequestVersion();
    QCOMPARE(m_port->written().size(), 1);
    QVERIFY(m_link->Connected);
    QCOMPARE(m_host->versions, QStringList{"Ver. 1.2.3"});
}

void TestDeviceLink::gluedBytesAreDiscarded()
{
    m_port->setResponder([](const QByteArray &) { return hex("435504010203" "435501041234"); });
    m_link->RequestVersion();
    QVERIFY(m_link->Connected);
    QCOMPARE(m_port->bytesWaiting(), 0);
    QCOMPARE(m_link->ReplyIndex, 0);
    QCOMPARE(m_link->ReplyValue, 0);
    // Nothing of the glued read reply is left to answer the next read.
    m_port->setResponder({});
    QVERIFY(!m_link->ReadParameter(4));
}

void TestDeviceLink::everyAttemptGetsFullTimeout()
{
    // A reply timer left running with the same interval must not shorten the first attempt.
    m_link->replyTimer()->setInterval(300);
    m_link->replyTimer()->setEnabled(true);
    QTest::qWait(200);
    m_link->ReadParameter(0);
    const auto &frames = m_port->written();
    QCOMPARE(frames.size(), 3);
    QVERIFY2(frames[1].atMs - frames[0].atMs >= 295,
             qPrintable(QString::number(frames[1].atMs - frames[0].atMs)));
}

void TestDeviceLink::outerWaitJudgesItsOwnReply()
{
    // The controller ignores status requests; a read runs inside the poll's wait and succeeds.
    m_link->Connected = true;
    m_port->setResponder([](const QByteArray &request) {
        return frameCode(request) == 3 ? QByteArray() : promptReply(request);
    });
    bool innerResult = false;
    at(50, [&] { innerResult = m_link->ReadParameter(4); });

    m_link->RequestStatus();

    QVERIFY(innerResult);
    QCOMPARE(m_host->applied, (QList<QPair<int, qint32>>{{4, 104}}));
    // The read's success does not end the poll's attempt: it times out and retries.
    QCOMPARE(writtenCodes(), (QList<int>{3, 1, 3, 3}));
    QVERIFY(m_host->statuses.isEmpty());
    QVERIFY(m_link->statusTimer()->enabled());
    QCOMPARE(m_link->pendingWaits(), 0);
}

void TestDeviceLink::outerReplyArrivingDuringInnerWait()
{
    m_link->Connected = true;
    FakeSerialPort *port = m_port.get();
    port->setResponder([port](const QByteArray &request) {
        if (frameCode(request) == 3)
            port->deliver(hex("43550305dc006400190050"), 100ms);
        else
            port->deliver(promptReply(request), 300ms);
        return QByteArray();
    });
    DeviceLink::WriteResult result = DeviceLink::WriteResult::SessionEnded;
    at(10, [&] { result = m_link->WriteParameter(2, 1500); });

    m_link->RequestStatus();

    // The status reply fails the write's first attempt; the write confirms on its first echo, and
    // the poll takes its reply without asking again.
    QCOMPARE(result, DeviceLink::WriteResult::Confirmed);
    QCOMPARE(writtenCodes(), (QList<int>{3, 2, 2}));
    QCOMPARE(m_host->statuses.size(), 1);
    QVERIFY(m_link->ReplyOk);
    QVERIFY(m_host->messages.isEmpty());
}

void TestDeviceLink::endSessionEndsWait()
{
    at(100, [&] { m_link->endSession(); });
    QElapsedTimer clock;
    clock.start();
    m_link->RequestVersion();
    QVERIFY2(clock.elapsed() < 600, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(m_port->written().size(), 1);
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QVERIFY(!m_link->portOpen());
    QVERIFY(!m_link->statusTimer()->enabled());
    QVERIFY(!m_link->replyTimer()->enabled());
}

void TestDeviceLink::endSessionStopsSequence()
{
    m_port->setReplyDelay(100ms);
    m_port->setResponder(promptReply);
    at(400, [&] { m_link->endSession(); });
    QList<bool> results;
    for (quint8 i = 0; i < 8; ++i)
        results.append(m_link->ReadParameter(i));

    QVERIFY(results.count(true) >= 1);
    QVERIFY(results.count(true) < 8);
    QCOMPARE(m_port->written().size(), results.count(true) + 1);
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QCOMPARE(m_host->applied.size(), results.count(true));
    QVERIFY(!m_link->statusTimer()->enabled());
}

void TestDeviceLink::endSessionEndsNestedWaits()
{
    m_link->Connected = true;
    DeviceLink::WriteResult result = DeviceLink::WriteResult::Confirmed;
    int depthAtEnd = -1;
    at(50, [&] { result = m_link->WriteParameter(1, 10); });
    at(150, [&] {
        depthAtEnd = m_link->pendingWaits();
        m_link->endSession();
    });
    QElapsedTimer clock;
    clock.start();

    m_link->RequestStatus();

    QCOMPARE(depthAtEnd, 2);
    QVERIFY2(clock.elapsed() < 450, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(result, DeviceLink::WriteResult::SessionEnded);
    QCOMPARE(writtenCodes(), (QList<int>{3, 2}));
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QVERIFY(m_host->messages.isEmpty());
    QVERIFY(!m_link->statusTimer()->enabled());
    QCOMPARE(m_link->pendingWaits(), 0);
    QVERIFY(!m_link->Connected);
}

void TestDeviceLink::portLostReportedOnce()
{
    m_link->Connected = true;
    QSignalSpy spy(m_link.get(), &DeviceLink::portLost);
    bool endedBeforeReport = false;
    connect(m_link.get(), &DeviceLink::portLost, this, [&] {
        endedBeforeReport = !m_link->portOpen() && m_link->pendingWaits() == 0;
    });
    at(100, [&] { m_port->loseConnection(); });

    m_link->RequestStatus();

    QCOMPARE(m_port->written().size(), 1);
    QVERIFY(!m_link->statusTimer()->enabled());
    QTRY_COMPARE(spy.count(), 1);
    QVERIFY(endedBeforeReport);
    m_port->loseConnection();
    m_link->RequestStatus();
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(m_port->writesWhileClosed(), 0);

    // A new session reports its own loss.
    QVERIFY(m_link->openPort(3, nullptr));
    m_port->loseConnection();
    QTRY_COMPARE(spy.count(), 2);
}

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_devicelink.moc"
