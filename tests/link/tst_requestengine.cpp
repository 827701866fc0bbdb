#include "linktesthelpers.h"
#include "requestengine.h"
#include "simulatedport.h"
#include "virtualclock.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>

using namespace oe;
using namespace oe::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(oe::Request)
Q_DECLARE_METATYPE(oe::TryEnd)

class TestRequestEngine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void promptExchanges_data();
    void promptExchanges();
    void silentController_data();
    void silentController();
    void otherRepliesAreSetAside_data();
    void otherRepliesAreSetAside();
    void noiseIsNoReply_data();
    void noiseIsNoReply();
    void frameThatCannotBeRightEndsTryAtOnce_data();
    void frameThatCannotBeRightEndsTryAtOnce();
    void replyFoundInNoise_data();
    void replyFoundInNoise();
    void replyTimingOnAVirtualClock_data();
    void replyTimingOnAVirtualClock();
    void slowReplyIsAwaited();
    void eachTryEndsForItsOwnReason();
    void writeSucceedsOnSecondTry();
    void silentWriteAfterEqualEcho();
    void writeOutOfRangeSendsNothing();
    void splitReplyIsJoined();
    void gluedBytesAreDiscarded();
    void everyTryGetsFullTimeout();
    void overlappingRequestsGoOutOnceInOrder_data();
    void overlappingRequestsGoOutOnceInOrder();
    void lateRepliesNeverAnswerTheWrongRequest();
    void dropEndsEverything();
    void portLostReportedOnce();
    void hangUpInsideATry_data();
    void hangUpInsideATry();
    void boxOpenedFromAHandler_data();
    void boxOpenedFromAHandler();

private:
    // Submits and runs the event loop until the request ends (or a generous limit passes).
    std::optional<RequestResult> run(const Request &request, int limitMs = 5000);
    QList<int> writtenCodes() const;

    std::unique_ptr<FakeSerialPort> m_port;
    std::unique_ptr<RequestEngine> m_engine;
};

void TestRequestEngine::init()
{
    m_port = std::make_unique<FakeSerialPort>();
    m_engine = std::make_unique<RequestEngine>(m_port.get());
    QVERIFY(m_engine->open(3, nullptr));
    QCOMPARE(m_port->comPort(), 3);
}

void TestRequestEngine::cleanup()
{
    m_engine.reset();
    m_port.reset();
}

std::optional<RequestResult> TestRequestEngine::run(const Request &request, int limitMs)
{
    std::optional<RequestResult> result;
    m_engine->submit(request, [&result](const RequestResult &r) { result = r; });
    QElapsedTimer clock;
    clock.start();
    while (!result && clock.elapsed() < limitMs)
        QTest::qWait(5);
    return result;
}

QList<int> TestRequestEngine::writtenCodes() const
{
    QList<int> codes;
    for (const QByteArray &frame : m_port->writtenBytes())
        codes.append(frameCode(frame));
    return codes;
}

void TestRequestEngine::promptExchanges_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read") << Request::read(4) << hex("50430104000000");
    QTest::newRow("write") << Request::write(2, 1500) << hex("5043020205dc000000");
    QTest::newRow("version") << Request::version() << hex("50430400000000");
    QTest::newRow("status") << Request::status() << hex("50430300000000");
    QTest::newRow("reset") << Request::reset() << hex("50430a00000000");
}

void TestRequestEngine::promptExchanges()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, frame);
    m_port->setResponder(promptReply);
    QSignalSpy statuses(m_engine.get(), &RequestEngine::statusReceived);
    QElapsedTimer clock;
    clock.start();

    const auto result = run(request);

    QVERIFY(result);
    QVERIFY(result->answered());
    QCOMPARE(result->framesSent, 1);
    QCOMPARE(m_port->writtenBytes(), QList<QByteArray>{frame});
    QVERIFY(m_engine->ReplyOk());
    QVERIFY(!m_engine->busy());
    QVERIFY(!m_engine->replyTimer()->enabled());
    QCOMPARE(m_port->receiveThreshold(), 1);
    // Decoded after the settle pause that follows the first byte (the fake answers in 5 ms).
    QVERIFY2(clock.elapsed() >= 50, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(statuses.count(), request.kind == Request::Kind::Status ? 1 : 0);
    if (request.kind == Request::Kind::ReadParameter)
        QCOMPARE(result->reply.value, 104);
    if (request.kind == Request::Kind::WriteParameter) {
        QCOMPARE(m_engine->ReplyIndex(), 2);
        QCOMPARE(m_engine->ReplyValue(), 1500);
    }
    if (request.kind == Request::Kind::Version)
        QCOMPARE(result->reply.version, (std::array<quint8, 3>{1, 2, 3}));
}

void TestRequestEngine::silentController_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("read") << Request::read(0) << 300;
    QTest::newRow("write") << Request::write(1, 10) << 300;
    QTest::newRow("version") << Request::version() << 300;
    QTest::newRow("status") << Request::status() << 500;
    QTest::newRow("reset") << Request::reset() << 1000;
}

void TestRequestEngine::silentController()
{
    QFETCH(Request, request);
    QFETCH(int, timeoutMs);

    const auto result = run(request);

    QVERIFY(result);
    QCOMPARE(result->outcome, RequestResult::Outcome::NotAnswered);
    const auto &frames = m_port->written();
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames[0].bytes, frames[2].bytes);
    for (int i = 1; i < frames.size(); ++i) {
        const qint64 gap = frames[i].atMs - frames[i - 1].atMs;
        QVERIFY2(gap >= timeoutMs - 5 && gap <= timeoutMs + 400, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    QVERIFY(!m_engine->replyTimer()->enabled());
    QVERIFY(!m_engine->ReplyOk());
    QVERIFY(m_engine->ReplyDone());
    QVERIFY(!result->bytesReceived);
}

// A well-formed reply to something else neither ends the try nor sends the frame again: the try
// waits out its time-out. Only a status reply is still taken in.
void TestRequestEngine::otherRepliesAreSetAside_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("read answered by status") << Request::read(4) << hex("43550305dc006400190050") << 300;
    QTest::newRow("read answered for another index") << Request::read(4) << hex("435501030007") << 300;
    QTest::newRow("read answered by echo") << Request::read(4) << hex("435502040007") << 300;
    QTest::newRow("write echo other index") << Request::write(2, 1500) << hex("4355020305dc") << 300;
    QTest::newRow("write answered by read reply") << Request::write(2, 1500) << hex("4355010205dc") << 300;
    QTest::newRow("reset answered by status") << Request::reset() << hex("43550305dc006400190050") << 1000;
    QTest::newRow("version answered by reset ack") << Request::version() << hex("43550a00") << 300;
    QTest::newRow("status answered by echo") << Request::status() << hex("435502041234") << 500;
}

void TestRequestEngine::otherRepliesAreSetAside()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, timeoutMs);
    m_port->setResponder([reply](const QByteArray &) { return reply; });
    QSignalSpy statuses(m_engine.get(), &RequestEngine::statusReceived);

    const auto result = run(request);

    QVERIFY(result);
    QVERIFY(!result->answered());
    const auto &frames = m_port->written();
    QCOMPARE(frames.size(), 3);
    for (int i = 1; i < frames.size(); ++i) {
        const qint64 gap = frames[i].atMs - frames[i - 1].atMs;
        QVERIFY2(gap >= timeoutMs - 5, qPrintable(QStringLiteral("gap %1 ms").arg(gap)));
    }
    QCOMPARE(statuses.count(), quint8(reply[2]) == 3 ? 3 : 0);
    QCOMPARE(m_engine->ReplyIndex(), 0);
    QCOMPARE(m_engine->ReplyValue(), 0);
}

// Bytes that hold no frame answering the request are line noise: the try waits for the real reply
// until its time-out, and the request says that bytes came.
void TestRequestEngine::noiseIsNoReply_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("unknown code") << Request::version() << hex("435507000000");
    QTest::newRow("three bytes") << Request::version() << hex("435504");
    QTest::newRow("truncated version") << Request::version() << hex("4355040102");
    QTest::newRow("truncated status") << Request::status() << hex("43550305dc0064001900");
    QTest::newRow("wrong header") << Request::version() << hex("435604010203");
    QTest::newRow("garbage burst") << Request::version() << QByteArray(2000, '\xAA');
}

void TestRequestEngine::noiseIsNoReply()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, reply);
    m_port->setResponder([reply](const QByteArray &) { return reply; });
    QSignalSpy tries(m_engine.get(), &RequestEngine::tryEnded);

    const auto result = run(request);

    QVERIFY(result);
    QVERIFY(!result->answered());
    QVERIFY(result->bytesReceived);
    QCOMPARE(m_port->written().size(), 3);
    QCOMPARE(tries.count(), 3);
    for (const QList<QVariant> &end : tries)
        QCOMPARE(end.at(0).value<TryEnd>(), TryEnd::Noise);
}

// A frame that answers the request but whose values cannot be right is the reply with a bit flipped
// or a value refused: nothing better is coming, so the try ends after the settle pause.
void TestRequestEngine::frameThatCannotBeRightEndsTryAtOnce_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("write echo clamped") << Request::write(2, 1500) << hex("43550202057d");
    QTest::newRow("engine speed 17237") << Request::status() << hex("435503435505dc00640019");
    QTest::newRow("pump time 82 s") << Request::status() << hex("43550305dc0064100000 50");
    QTest::newRow("two identifications disagree") << Request::version() << hex("435504010203" "435504860afd");
}

void TestRequestEngine::frameThatCannotBeRightEndsTryAtOnce()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, reply);
    m_port->setResponder([reply](const QByteArray &) { return reply; });
    QSignalSpy tries(m_engine.get(), &RequestEngine::tryEnded);
    QSignalSpy statuses(m_engine.get(), &RequestEngine::statusReceived);
    QElapsedTimer clock;
    clock.start();

    const auto result = run(request);

    QVERIFY(result);
    QVERIFY(!result->answered());
    QCOMPARE(m_port->written().size(), 3);
    QCOMPARE(m_port->bytesWaiting(), 0);
    QCOMPARE(statuses.count(), 0);
    QCOMPARE(m_engine->ReplyValue(), 0);
    QCOMPARE(tries.count(), 3);
    QCOMPARE(tries.last().at(0).value<TryEnd>(), TryEnd::BadFrame);
    // Three time-outs would take 900 ms or more; each frame ends its try about 55 ms after the request.
    QVERIFY2(clock.elapsed() < 700, qPrintable(QString::number(clock.elapsed())));
}

// What the controller sent, with the line's noise around it: the reply is found, once.
void TestRequestEngine::replyFoundInNoise_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint32>("value"); // read: the value; status: the speed; version: its first number
    QTest::newRow("noise before") << Request::status() << hex("a5ff4312") + hex("43550305dc006400190050") << 1500;
    QTest::newRow("false start before") << Request::read(4) << hex("435501ff") + hex("435501040064") << 100;
    QTest::newRow("false start holding the header")
        << Request::status() << hex("435503") + hex("43550305dc006400190050") << 1500;
    QTest::newRow("stale reply glued in front")
        << Request::status() << hex("43550303e8006400190050") + hex("43550305dc006400190050") << 1500;
    QTest::newRow("stale read glued in front") << Request::read(2) << hex("4355010205dc" "435501020258") << 600;
    QTest::newRow("header cut off after it") << Request::version() << hex("435504010203" "4355") << 1;
    QTest::newRow("out of range value, then the real one")
        << Request::read(0) << hex("4355010000c8" "435501000005") << 5;
    // A parameter holds whatever the controller stored: beyond its slider is still an answer.
    QTest::newRow("multiplier beyond its slider") << Request::read(7) << hex("4355010700fa") << 250;
    QTest::newRow("erased memory") << Request::read(4) << hex("43550104ffff") << 65535;
}

void TestRequestEngine::replyFoundInNoise()
{
    QFETCH(Request, request);
    QFETCH(QByteArray, bytes);
    QFETCH(qint32, value);
    m_port->setResponder([bytes](const QByteArray &) { return bytes; });
    QSignalSpy statuses(m_engine.get(), &RequestEngine::statusReceived);

    const auto result = run(request);

    QVERIFY(result && result->answered());
    QCOMPARE(result->framesSent, 1);
    switch (request.kind) {
    case Request::Kind::Status:
        QCOMPARE(result->reply.rpm, value);
        QCOMPARE(statuses.count(), 1);
        QCOMPARE(statuses.first().at(0).value<DecodedReply>().rpm, value);
        break;
    case Request::Kind::ReadParameter:
        QCOMPARE(result->reply.value, value);
        QCOMPARE(m_engine->ReplyValue(), value);
        break;
    default:
        QCOMPARE(result->reply.version[0], value);
        break;
    }
}

// Noise in the first try, then silence, then the reply: what the line quality counts.
void TestRequestEngine::eachTryEndsForItsOwnReason()
{
    int tries = 0;
    m_port->setResponder([&tries](const QByteArray &request) {
        switch (++tries) {
        case 1: return hex("a5435603ff");
        case 2: return QByteArray();
        default: return promptReply(request);
        }
    });
    QSignalSpy ends(m_engine.get(), &RequestEngine::tryEnded);
    const auto result = run(Request::version());
    QVERIFY(result && result->answered());
    QVERIFY(result->bytesReceived);
    QList<TryEnd> seen;
    for (const QList<QVariant> &end : ends)
        seen << end.at(0).value<TryEnd>();
    QCOMPARE(seen, (QList<TryEnd>{TryEnd::Noise, TryEnd::TimedOut, TryEnd::Answered}));
}

// Bytes as they reach the port, in virtual milliseconds after the request went out.
using Arrivals = QList<QPair<int, QByteArray>>;

// When a try ends, to the millisecond, on a virtual clock: the answer is taken 50 ms after its first
// byte, whenever in the wait it came and in however many pieces, and the wait always ends.
void TestRequestEngine::replyTimingOnAVirtualClock_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<Arrivals>("arrivals");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<int>("endMs");
    QTest::addColumn<int>("frames");
    // The last byte of 323 (0x0143) is "C", which also begins any reply.
    QTest::newRow("late split read ending in C")
        << Request::read(2) << Arrivals{{265, hex("43")}, {277, hex("5501020143")}} << true << 315 << 1;
    QTest::newRow("status whose pause ends in C")
        << Request::status() << Arrivals{{5, hex("43550305dc0064001901" "43")}} << true << 55 << 1;
    QTest::newRow("prompt read ending in C, noise after it")
        << Request::read(2) << Arrivals{{5, hex("4355010201" "43")}, {20, hex("a5")}} << true << 55 << 1;
    QTest::newRow("frame begun in time finishes in its grace")
        << Request::read(2) << Arrivals{{295, hex("435501")}, {330, hex("020143")}} << true << 345 << 1;
    QTest::newRow("header begun in time, never finished")
        << Request::read(2) << Arrivals{{290, hex("435501")}} << false << 340 + 2 * 300 << 3;
    QTest::newRow("frame begun after the time-out answers the next try")
        << Request::read(2) << Arrivals{{301, hex("435501020143")}} << true << 351 << 2;
    QTest::newRow("a later frame still coming holds the answer")
        << Request::read(2) << Arrivals{{5, hex("435501020064")}, {30, hex("4355")}, {70, hex("01020065")}}
        << true << 80 << 1;
}

void TestRequestEngine::replyTimingOnAVirtualClock()
{
    QFETCH(Request, request);
    QFETCH(Arrivals, arrivals);
    QFETCH(bool, answered);
    QFETCH(int, endMs);
    QFETCH(int, frames);
    VirtualClock clock;
    SimulatedPort port(&clock);
    RequestEngine engine(&port, nullptr, &clock);
    int written = 0;
    // Only the first try is answered.
    port.setWriteHandler([&](const QByteArray &) {
        if (written++ == 0)
            for (const auto &[atMs, bytes] : arrivals)
                port.deliver(bytes, clock.nowMs() + atMs);
    });
    QVERIFY(engine.open(3, nullptr));
    std::optional<RequestResult> result;
    qint64 endedAt = -1;
    bool deadlineLost = false;
    engine.submit(request, [&](const RequestResult &r) {
        result = r;
        endedAt = clock.nowMs();
    });
    const bool done = false;
    clock.runUntil(10000, done, [&] { deadlineLost = deadlineLost || !engine.deadlineHeld(); });

    QVERIFY(!deadlineLost);
    QVERIFY2(result, "the request never ended");
    QCOMPARE(result->answered(), answered);
    QCOMPARE(endedAt, endMs);
    QCOMPARE(result->framesSent, frames);
    if (answered && request.kind == Request::Kind::ReadParameter)
        QCOMPARE(result->reply.value, arrivals.size() == 3 ? 0x65 : 0x0143);
}

// A reply whose bytes trickle in, further apart than the settle pause allows for in all.
void TestRequestEngine::slowReplyIsAwaited()
{
    FakeSerialPort *port = m_port.get();
    port->setResponder([port](const QByteArray &) {
        const QByteArray reply = hex("43550305dc006400190050");
        for (int i = 0; i < reply.size(); ++i)
            port->deliver(reply.mid(i, 1), std::chrono::milliseconds(5 + 30 * i));
        return QByteArray();
    });
    const auto result = run(Request::status());
    QVERIFY(result && result->answered());
    QCOMPARE(result->framesSent, 1);
    QCOMPARE(result->reply.pause, 80);
}

void TestRequestEngine::writeSucceedsOnSecondTry()
{
    int requests = 0;
    m_port->setResponder([&](const QByteArray &request) {
        return ++requests == 1 ? QByteArray() : promptReply(request);
    });
    const auto result = run(Request::write(3, 0x1234));
    QVERIFY(result && result->answered());
    QCOMPARE(result->framesSent, 2);
    QCOMPARE(m_port->writtenBytes(), (QList<QByteArray>{hex("504302031234000000"), hex("504302031234000000")}));
}

void TestRequestEngine::silentWriteAfterEqualEcho()
{
    m_port->setResponder(promptReply);
    QVERIFY(run(Request::write(2, 1500))->answered());
    m_port->setResponder({});
    m_port->clearWritten();
    // ReplyIndex/ReplyValue still hold 2/1500 from the last echo: they must not confirm this write.
    QVERIFY(!run(Request::write(2, 1500))->answered());
    QCOMPARE(m_port->written().size(), 3);
}

void TestRequestEngine::writeOutOfRangeSendsNothing()
{
    m_port->setResponder(promptReply);
    for (qint32 value : {65536, -1}) {
        const auto result = run(Request::write(1, value));
        QVERIFY(result);
        QCOMPARE(result->outcome, RequestResult::Outcome::OutOfRange);
    }
    QVERIFY(m_port->written().isEmpty());
}

void TestRequestEngine::splitReplyIsJoined()
{
    FakeSerialPort *port = m_port.get();
    port->setResponder([port](const QByteArray &) {
        port->deliver(hex("4355"), 5ms);
        port->deliver(hex("04010203"), 25ms); // inside the settle pause
        return QByteArray();
    });
    const auto result = run(Request::version());
    QVERIFY(result && result->answered());
    QCOMPARE(m_port->written().size(), 1);
}

void TestRequestEngine::gluedBytesAreDiscarded()
{
    m_port->setResponder([](const QByteArray &) { return hex("435504010203" "435501041234"); });
    QVERIFY(run(Request::version())->answered());
    QCOMPARE(m_port->bytesWaiting(), 0);
    QCOMPARE(m_engine->ReplyIndex(), 0);
    // Nothing of the glued read reply is left to answer the next read.
    m_port->setResponder({});
    QVERIFY(!run(Request::read(4))->answered());
}

void TestRequestEngine::everyTryGetsFullTimeout()
{
    // A reply timer left running with the same interval must not shorten the first try.
    m_engine->replyTimer()->setInterval(300);
    m_engine->replyTimer()->setEnabled(true);
    QTest::qWait(200);
    run(Request::read(0));
    const auto &frames = m_port->written();
    QCOMPARE(frames.size(), 3);
    QVERIFY2(frames[1].atMs - frames[0].atMs >= 295, qPrintable(QString::number(frames[1].atMs - frames[0].atMs)));
}

// A technician's clicks against a controller that answers 150 ms late: whatever is asked while a
// request is on the wire goes out after its reply, each frame exactly once, in the order asked.
void TestRequestEngine::overlappingRequestsGoOutOnceInOrder_data()
{
    QTest::addColumn<QList<Request>>("requests");
    QTest::addColumn<QList<int>>("codes");
    QTest::newRow("write during a status") << QList<Request>{Request::status(), Request::write(2, 1500)}
                                          << QList<int>{3, 2};
    QTest::newRow("reset during a status") << QList<Request>{Request::status(), Request::reset(), Request::read(0)}
                                          << QList<int>{3, 10, 1};
    QTest::newRow("writes during reads")
        << QList<Request>{Request::read(0), Request::read(1), Request::write(1, 20), Request::read(2)}
        << QList<int>{1, 1, 2, 1};
}

void TestRequestEngine::overlappingRequestsGoOutOnceInOrder()
{
    QFETCH(QList<Request>, requests);
    QFETCH(QList<int>, codes);
    m_port->setReplyDelay(150ms);
    m_port->setResponder(promptReply);
    QList<int> answered;
    for (int i = 0; i < requests.size(); ++i) {
        // Each one a little after the one before, while that one still waits for its reply.
        QTimer::singleShot(i * 40, m_engine.get(), [&, i] {
            m_engine->submit(requests[i], [&answered, i](const RequestResult &r) {
                if (r.answered())
                    answered.append(i);
            });
        });
    }
    QTRY_COMPARE_WITH_TIMEOUT(answered.size(), requests.size(), 5000);
    QCOMPARE(writtenCodes(), codes);
    QList<int> inOrder;
    for (int i = 0; i < requests.size(); ++i)
        inOrder.append(i);
    QCOMPARE(answered, inOrder);
    // No frame goes out while another waits: each follows the previous reply's settle pause.
    const auto &frames = m_port->written();
    for (int i = 1; i < frames.size(); ++i)
        QVERIFY2(frames[i].atMs - frames[i - 1].atMs >= 195, qPrintable(QString::number(frames[i].atMs - frames[i - 1].atMs)));
}

// A controller slower than the time-out: each try's reply comes after the next try went out. The
// late reply answers the same request or is set aside; it never shifts replies onto other requests.
void TestRequestEngine::lateRepliesNeverAnswerTheWrongRequest()
{
    m_port->setReplyDelay(350ms);
    m_port->setResponder(promptReply);
    QList<qint32> values;
    for (quint8 index : {3, 4, 5})
        m_engine->submit(Request::read(index), [&values](const RequestResult &r) {
            values.append(r.answered() ? r.reply.value : -1);
        });
    QTRY_COMPARE_WITH_TIMEOUT(values.size(), 3, 8000);
    QCOMPARE(values, (QList<qint32>{103, 104, 105}));
    QCOMPARE(writtenCodes(), (QList<int>{1, 1, 1, 1, 1, 1}));
    QList<int> indices;
    for (const QByteArray &frame : m_port->writtenBytes())
        indices.append(quint8(frame[3]));
    QCOMPARE(indices, (QList<int>{3, 3, 4, 4, 5, 5}));
}

void TestRequestEngine::dropEndsEverything()
{
    m_port->setReplyDelay(100ms);
    m_port->setResponder(promptReply);
    int callbacks = 0;
    for (quint8 index = 0; index < 8; ++index)
        m_engine->submit(Request::read(index), [&callbacks](const RequestResult &) { ++callbacks; });
    QTRY_COMPARE(callbacks, 2);
    m_engine->close();
    QVERIFY(!m_engine->busy());
    QTest::qWait(400);
    QCOMPARE(callbacks, 2);
    QCOMPARE(m_port->written().size(), 3);
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QVERIFY(!m_engine->replyTimer()->enabled());
    // Nothing queues on a closed port.
    m_engine->submit(Request::status(), [&callbacks](const RequestResult &) { ++callbacks; });
    QTest::qWait(50);
    QCOMPARE(m_port->written().size(), 3);
}

void TestRequestEngine::portLostReportedOnce()
{
    QSignalSpy spy(m_engine.get(), &RequestEngine::portLost);
    bool endedBeforeReport = false;
    connect(m_engine.get(), &RequestEngine::portLost, this,
            [&] { endedBeforeReport = !m_engine->isOpen() && !m_engine->busy(); });
    m_engine->submit(Request::status());
    m_engine->submit(Request::read(1));
    QTimer::singleShot(100, m_engine.get(), [&] { m_port->loseConnection(); });

    QTRY_COMPARE(spy.count(), 1);
    QVERIFY(endedBeforeReport);
    QCOMPARE(m_port->written().size(), 1);
    m_port->loseConnection();
    QTest::qWait(50);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(m_port->writesWhileClosed(), 0);

    // A new session reports its own loss.
    QVERIFY(m_engine->open(3, nullptr));
    m_port->loseConnection();
    QTRY_COMPARE(spy.count(), 2);
}

// The loss is reported from inside a port call of a try; the try must not go on with the request the
// loss dropped.
void TestRequestEngine::hangUpInsideATry_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("framesSent");
    QTest::newRow("stale input dropped before the first try") << int(FakeSerialPort::Call::Read) << 1 << 0;
    QTest::newRow("stale input dropped before a retry") << int(FakeSerialPort::Call::Read) << 2 << 1;
    QTest::newRow("write of a retry") << int(FakeSerialPort::Call::Write) << 2 << 1;
}

void TestRequestEngine::hangUpInsideATry()
{
    QFETCH(int, call);
    QFETCH(int, nth);
    QFETCH(int, framesSent);
    m_port->setResponder({}); // silent, so the read is tried again
    QSignalSpy lost(m_engine.get(), &RequestEngine::portLost);
    int callbacks = 0;
    m_port->hangUpInside(FakeSerialPort::Call(call), nth);
    m_engine->submit(Request::read(2), [&callbacks](const RequestResult &) { ++callbacks; });
    m_engine->submit(Request::status(), [&callbacks](const RequestResult &) { ++callbacks; });
    QTRY_COMPARE(lost.count(), 1);
    QTest::qWait(400);
    QCOMPARE(m_port->written().size(), framesSent);
    QCOMPARE(m_port->writesWhileClosed(), 0);
    QCOMPARE(callbacks, 0);
    QVERIFY(!m_engine->busy());
    QVERIFY(!m_engine->replyTimer()->enabled());
    QCOMPARE(lost.count(), 1);
}

// A handler that opens a modal box runs a nested event loop: while it is open the reply's deadline,
// noise and the next requests go on in it. The request in flight and the ones after it must end
// exactly as without the box, each once, with its own reply.
void TestRequestEngine::boxOpenedFromAHandler_data()
{
    QTest::addColumn<QString>("handler");
    QTest::addColumn<Request>("first");
    QTest::newRow("status reply") << "status" << Request::status();
    QTest::newRow("status set aside during a read") << "status" << Request::read(4);
    QTest::newRow("try ended") << "try" << Request::status();
    QTest::newRow("request done") << "done" << Request::read(4);
}

void TestRequestEngine::boxOpenedFromAHandler()
{
    QFETCH(QString, handler);
    QFETCH(Request, first);
    VirtualClock clock;
    SimulatedPort port(&clock);
    RequestEngine engine(&port, nullptr, &clock);
    QList<int> codes;
    port.setWriteHandler([&](const QByteArray &frame) {
        codes.append(frameCode(frame));
        if (codes.size() == 1 && first.kind == Request::Kind::ReadParameter)
            port.deliver(hex("43550305dc006400190050"), clock.nowMs() + 2); // a late status before the reply
        port.deliver(promptReply(frame), clock.nowMs() + 5);
        port.deliver(hex("a5"), clock.nowMs() + 70);
    });
    QVERIFY(engine.open(3, nullptr));
    bool deadlineLost = false;
    const auto check = [&] { deadlineLost = deadlineLost || !engine.deadlineHeld(); };
    int boxes = 0;
    const auto openBox = [&] {
        if (boxes++ > 0)
            return;
        const bool never = false;
        clock.runUntil(clock.nowMs() + 3000, never, check);
    };
    if (handler == "status")
        connect(&engine, &RequestEngine::statusReceived, this, openBox);
    if (handler == "try")
        connect(&engine, &RequestEngine::tryEnded, this, openBox);
    QList<QPair<int, qint32>> results; // index of the request, its value (-1 unanswered)
    const QList<Request> requests{first, Request::read(2), Request::read(3), Request::status()};
    for (int i = 0; i < requests.size(); ++i) {
        engine.submit(requests[i], [&, i](const RequestResult &r) {
            results.append({i, !r.answered() ? -1 : r.reply.kind == ReplyKind::Status ? r.reply.rpm : r.reply.value});
            if (handler == "done" && i == 0)
                openBox();
        });
    }
    const bool never = false;
    clock.runUntil(10000, never, check);

    QCOMPARE(boxes > 0, true);
    QVERIFY(!deadlineLost);
    const qint32 firstValue = first.kind == Request::Kind::Status ? 1500 : 104;
    QCOMPARE(results, (QList<QPair<int, qint32>>{{0, firstValue}, {1, 102}, {2, 103}, {3, 1500}}));
    QCOMPARE(codes, (QList<int>{int(first.replyCode()), 1, 1, 3})); // each once, in order
    QVERIFY(!engine.busy());
}

QTEST_GUILESS_MAIN(TestRequestEngine)
#include "tst_requestengine.moc"
