#include "replydecoder.h"
#include "replyscanner.h"

#include <QTest>

using namespace oe;

Q_DECLARE_METATYPE(oe::ReplyKind)
Q_DECLARE_METATYPE(oe::Request)

// Bytes as they reach the port, in milliseconds after the request went out.
using Arrivals = QList<QPair<int, QByteArray>>;

class TestReplyDecoder : public QObject
{
    Q_OBJECT
private slots:
    void kinds_data();
    void kinds();
    void status_data();
    void status();
    void parameterAndEcho_data();
    void parameterAndEcho();
    void version();
    void neverReadsPastTheEnd_data();
    void neverReadsPastTheEnd();
    void largeBurst();
    void scanFindsFramesInNoise_data();
    void scanFindsFramesInNoise();
    void scannerVerdicts_data();
    void scannerVerdicts();
    void scannerBetweenRequests();
};

void TestReplyDecoder::kinds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ReplyKind>("kind");
    QTest::newRow("empty") << QByteArray() << ReplyKind::Ignored;
    QTest::newRow("3 bytes") << QByteArray::fromHex("435503") << ReplyKind::Ignored;
    QTest::newRow("unknown code 7") << QByteArray::fromHex("435507000000") << ReplyKind::Ignored;
    QTest::newRow("unknown code 0") << QByteArray::fromHex("435500000000") << ReplyKind::Ignored;
    QTest::newRow("wrong second byte") << QByteArray::fromHex("4356030000") << ReplyKind::BadHeader;
    QTest::newRow("wrong first byte") << QByteArray::fromHex("5043030000000000000000")
                                      << ReplyKind::BadHeader;
    QTest::newRow("short garbage") << QByteArray::fromHex("ffff") << ReplyKind::Ignored;
    QTest::newRow("reset") << QByteArray::fromHex("43550a00") << ReplyKind::Reset;
    QTest::newRow("reset with more") << QByteArray::fromHex("43550a0012345678") << ReplyKind::Reset;
    QTest::newRow("reset 3 bytes") << QByteArray::fromHex("43550a") << ReplyKind::Ignored;
    QTest::newRow("read 5 bytes") << QByteArray::fromHex("4355010412") << ReplyKind::Truncated;
    QTest::newRow("echo 4 bytes") << QByteArray::fromHex("43550204") << ReplyKind::Truncated;
    QTest::newRow("version 5 bytes") << QByteArray::fromHex("4355040102") << ReplyKind::Truncated;
    QTest::newRow("status 10 bytes") << QByteArray::fromHex("435503" "05dc00640019" "00")
                                     << ReplyKind::Truncated;
    QTest::newRow("status 4 bytes") << QByteArray::fromHex("43550305") << ReplyKind::Truncated;
    QTest::newRow("read") << QByteArray::fromHex("435501040000") << ReplyKind::Parameter;
    QTest::newRow("echo") << QByteArray::fromHex("435502041234") << ReplyKind::Echo;
    QTest::newRow("status") << QByteArray::fromHex("43550305dc006400190050") << ReplyKind::Status;
    QTest::newRow("version") << QByteArray::fromHex("435504010203") << ReplyKind::Version;
    QTest::newRow("two frames glued") << QByteArray::fromHex("435502041234" "43550a00")
                                      << ReplyKind::Echo;
}

void TestReplyDecoder::kinds()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ReplyKind, kind);
    QCOMPARE(decodeReply(bytes).kind, kind);
}

void TestReplyDecoder::status_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<qint32>("rpm");
    QTest::addColumn<qint32>("tinj");
    QTest::addColumn<qint32>("pump");
    QTest::addColumn<qint32>("pause");
    QTest::newRow("example") << QByteArray::fromHex("43550305dc006400190050") << 1500 << 100 << 25 << 80;
    QTest::newRow("rpm 0") << QByteArray::fromHex("43550300000064001900 50") << 0 << 100 << 25 << 80;
    QTest::newRow("pause 0") << QByteArray::fromHex("43550305dc006400190000") << 1500 << 100 << 25 << 0;
    QTest::newRow("all ones, unsigned")
        << QByteArray::fromHex("435503ffffffffffffffff") << 65535 << 65535 << 65535 << 65535;
    QTest::newRow("byte order") << QByteArray::fromHex("43550301020304050607 08") << 0x0102 << 0x0304
                                << 0x0506 << 0x0708;
}

void TestReplyDecoder::status()
{
    QFETCH(QByteArray, bytes);
    const DecodedReply reply = decodeReply(bytes);
    QCOMPARE(reply.kind, ReplyKind::Status);
    QTEST(reply.rpm, "rpm");
    QTEST(reply.tinj, "tinj");
    QTEST(reply.pump, "pump");
    QTEST(reply.pause, "pause");
}

void TestReplyDecoder::parameterAndEcho_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ReplyKind>("kind");
    QTest::addColumn<qint32>("index");
    QTest::addColumn<qint32>("value");
    QTest::newRow("echo 4 = 0x1234") << QByteArray::fromHex("435502041234") << ReplyKind::Echo << 4 << 4660;
    QTest::newRow("read 7 = 155") << QByteArray::fromHex("43550107009b") << ReplyKind::Parameter << 7 << 155;
    QTest::newRow("read 2 = 65535") << QByteArray::fromHex("43550102ffff") << ReplyKind::Parameter << 2
                                    << 65535;
    QTest::newRow("index 255") << QByteArray::fromHex("435501ff0100") << ReplyKind::Parameter << 255 << 256;
}

void TestReplyDecoder::parameterAndEcho()
{
    QFETCH(QByteArray, bytes);
    const DecodedReply reply = decodeReply(bytes);
    QTEST(reply.kind, "kind");
    QTEST(reply.index, "index");
    QTEST(reply.value, "value");
}

void TestReplyDecoder::version()
{
    const DecodedReply reply = decodeReply(QByteArray::fromHex("435504010203"));
    QCOMPARE(reply.kind, ReplyKind::Version);
    QCOMPARE(reply.version, (std::array<quint8, 3>{1, 2, 3}));
    QCOMPARE(decodeReply(QByteArray::fromHex("435504ff0a00")).version,
             (std::array<quint8, 3>{255, 10, 0}));
}

void TestReplyDecoder::neverReadsPastTheEnd_data()
{
    // A view that stops short of a complete frame sitting in memory: decoding the bytes past the
    // view's end would turn these into complete replies.
    QTest::addColumn<QByteArray>("memory");
    QTest::addColumn<int>("length");
    QTest::newRow("status") << QByteArray::fromHex("43550305dc006400190050") << 10;
    QTest::newRow("read") << QByteArray::fromHex("435501041234") << 5;
    QTest::newRow("echo") << QByteArray::fromHex("435502041234") << 4;
    QTest::newRow("version") << QByteArray::fromHex("435504010203") << 5;
}

void TestReplyDecoder::neverReadsPastTheEnd()
{
    QFETCH(QByteArray, memory);
    QFETCH(int, length);
    const DecodedReply reply = decodeReply(QByteArrayView(memory.constData(), length));
    QCOMPARE(reply.kind, ReplyKind::Truncated);
    QCOMPARE(reply.value, 0);
    QCOMPARE(reply.rpm, 0);
    QCOMPARE(reply.version, (std::array<quint8, 3>{}));
}

void TestReplyDecoder::largeBurst()
{
    QByteArray burst = QByteArray::fromHex("435502041234");
    burst += QByteArray(4096, '\xAA');
    const DecodedReply reply = decodeReply(burst);
    QCOMPARE(reply.kind, ReplyKind::Echo);
    QCOMPARE(reply.value, 0x1234);
    QCOMPARE(decodeReply(QByteArray(4096, 'C')).kind, ReplyKind::BadHeader);
}

// Starts of the complete and unfinished frames found, as "start:code" lists.
void TestReplyDecoder::scanFindsFramesInNoise_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("complete");
    QTest::addColumn<QString>("unfinished");
    QTest::newRow("noise only") << QByteArray::fromHex("a5ff00435aff43") << "" << "6:0";
    QTest::newRow("reply inside noise") << QByteArray::fromHex("ff00a5" "435504010203" "5aff") << "3:4" << "";
    QTest::newRow("false starts skipped")
        << QByteArray::fromHex("435507ff" "4356" "435504010203") << "6:4" << "";
    QTest::newRow("false start holding the real header")
        << QByteArray::fromHex("435503" "43550305dc006400190050") << "0:3,3:3" << "";
    QTest::newRow("two glued") << QByteArray::fromHex("43550a00" "435501041234") << "0:10,4:1" << "";
    QTest::newRow("header at the end") << QByteArray::fromHex("435501041234" "4355") << "0:1" << "6:0";
    QTest::newRow("code known, data missing") << QByteArray::fromHex("ff43550305dc") << "" << "1:3";
}

void TestReplyDecoder::scanFindsFramesInNoise()
{
    QFETCH(QByteArray, bytes);
    const FrameScan scan = scanFrames(bytes);
    const auto list = [](const QList<FrameAt> &frames) {
        QStringList items;
        for (const FrameAt &frame : frames)
            items << QStringLiteral("%1:%2").arg(frame.start).arg(frame.reply.code);
        return items.join(QLatin1Char(','));
    };
    QTEST(list(scan.complete), "complete");
    QTEST(list(scan.unfinished), "unfinished");
    for (const FrameAt &frame : scan.complete)
        QCOMPARE(frame.reply.kind, decodeReply(bytes.sliced(frame.start)).kind);
}

// What a look at a try's bytes decides, at a given moment after the request went out.
void TestReplyDecoder::scannerVerdicts_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<Arrivals>("arrivals");
    QTest::addColumn<int>("lookAt");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("setAside");
    const QByteArray status = QByteArray::fromHex("43550305dc006400190050");
    const QByteArray read = QByteArray::fromHex("435501020143");
    QTest::newRow("answer waits for its pause") << Request::read(2) << Arrivals{{5, read}} << 20 << "wait 55" << 0;
    QTest::newRow("answer taken at its due time") << Request::read(2) << Arrivals{{5, read}} << 55 << "answered 323" << 0;
    QTest::newRow("frame begun in time holds the time-out")
        << Request::read(2) << Arrivals{{295, read.first(3)}} << 300 << "wait 345" << 0;
    QTest::newRow("frame begun in time, never finished")
        << Request::read(2) << Arrivals{{290, read.first(3)}} << 340 << "no answer" << 0;
    QTest::newRow("frame begun after the time-out") << Request::read(2) << Arrivals{{301, read}} << 351 << "no answer" << 0;
    QTest::newRow("noise") << Request::version() << Arrivals{{5, QByteArray::fromHex("a5ff43")}} << 300 << "no answer" << 0;
    QTest::newRow("clamped echo") << Request::write(2, 1500) << Arrivals{{5, QByteArray::fromHex("43550202057d")}} << 55
                                  << "bad frame" << 0;
    QTest::newRow("late status set aside, then the reply")
        << Request::read(2) << Arrivals{{2, status}, {5, read}} << 55 << "answered 323" << 1;
    QTest::newRow("stale status glued in front")
        << Request::status() << Arrivals{{5, QByteArray::fromHex("43550303e8006400190050") + status}} << 55
        << "answered 1500" << 0;
    QTest::newRow("reply after a flood")
        << Request::version() << Arrivals{{5, QByteArray(9000, '\xAA')}, {6, QByteArray::fromHex("435504010203")}} << 56
        << "answered 1" << 0;
}

void TestReplyDecoder::scannerVerdicts()
{
    QFETCH(Request, request);
    QFETCH(Arrivals, arrivals);
    QFETCH(int, lookAt);
    ReplyScanner scanner;
    int setAside = 0;
    for (const auto &[atMs, bytes] : arrivals) {
        scanner.append(bytes, atMs);
        setAside += int(scanner.look(&request, request.timeout.count(), atMs).setAside.size());
    }
    const ScanVerdict verdict = scanner.look(&request, request.timeout.count(), lookAt);
    QString text;
    switch (verdict.step) {
    case ScanVerdict::Step::Wait: text = QStringLiteral("wait %1").arg(verdict.nextLookAt); break;
    case ScanVerdict::Step::Answered:
        text = QStringLiteral("answered %1").arg(verdict.reply.kind == ReplyKind::Status    ? verdict.reply.rpm
                                                 : verdict.reply.kind == ReplyKind::Version ? verdict.reply.version[0]
                                                                                            : verdict.reply.value);
        break;
    case ScanVerdict::Step::BadFrame: text = QStringLiteral("bad frame"); break;
    case ScanVerdict::Step::NoAnswer: text = QStringLiteral("no answer"); break;
    }
    QTEST(text, "verdict");
    QTEST(setAside + int(verdict.setAside.size()), "setAside");
    QVERIFY(scanner.heardBytes());
    QVERIFY(scanner.bytes().size() <= ReplyScanner::kInputLimit);
}

// With no request open, only a frame still coming in is kept, and a believable reply is set aside once.
void TestReplyDecoder::scannerBetweenRequests()
{
    ReplyScanner scanner;
    scanner.append(QByteArray::fromHex("a5" "43550305dc006400190050" "ff" "4355"), 10);
    const ScanVerdict verdict = scanner.look(nullptr, 0, 10);
    QCOMPARE(verdict.setAside.size(), 1);
    QCOMPARE(verdict.setAside.first().rpm, 1500);
    QCOMPARE(scanner.bytes(), QByteArray::fromHex("4355"));
    scanner.append(QByteArray::fromHex("0305dc006400190050"), 20);
    QCOMPARE(scanner.look(nullptr, 0, 20).setAside.size(), 1);
    QVERIFY(scanner.bytes().isEmpty());
}

QTEST_GUILESS_MAIN(TestReplyDecoder)
#include "tst_replydecoder.moc"
