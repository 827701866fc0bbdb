// The simulator's protocol core, without a pty: replies byte for byte, resynchronisation, bad input,
// the engine model and what each fault mode does to the replies.

#include "controllersim.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <bit>

using namespace oe;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// All reply bytes of a feed in order, ignoring timing.
QByteArray replies(const QList<SimOutput> &outputs)
{
    QByteArray all;
    for (const SimOutput &out : outputs)
        all += out.bytes;
    return all;
}

// A simulator whose engine holds still, so status replies are known.
ControllerSim steadySim(quint16 rpm = 1500, quint16 tinj = 5250)
{
    ControllerSim sim;
    sim.setEngineOverride(EngineReading{rpm, tinj});
    return sim;
}

} // namespace

class TestControllerSim : public QObject
{
    Q_OBJECT

private slots:
    void replyPerRequest_data();
    void replyPerRequest();
    void writeIsStoredAndReadBack();
    void resetRestoresDefaults();
    void defaultsKeepRangesAndInterlocks();
    void resynchronises_data();
    void resynchronises();
    void partialFrameAcrossFeeds();
    void stalePartialFrameIsDropped();
    void randomBytesNeverCrashAndFramesAreFound();
    void burstAnswersEveryFrame();
    void requestLogHasTimes();

    void pumpTiming_data();
    void pumpTiming();
    void engineOffReportsZero();
    void engineRevsSmoothly();
    void multiplierScalesReportedSpeed();

    void faultShapesReply_data();
    void faultShapesReply();
    void faultDropFirst();
    void faultSilentStillLogs();
    void faultHangUpAfter();
    void faultSplit();
    void faultsOfANoisyLine();
    void faultEchoClamp_data();
    void faultEchoClamp();
    void faultSpec_data();
    void faultSpec();
};

void TestControllerSim::replyPerRequest_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    // Engine held at 1500 rpm, injection 5250: load half-way between TinjMin 1500 and TinjMax 9000.
    QTest::newRow("status") << hex("50 43 03 00 00 00 00") << hex("43 55 03 05 DC 14 82 00 0A 00 78");
    QTest::newRow("read TinjMax") << hex("50 43 01 04 00 00 00") << hex("43 55 01 04 23 28");
    QTest::newRow("read MinPumpCycles") << hex("50 43 01 00 00 00 00") << hex("43 55 01 00 00 05");
    QTest::newRow("read RpmMultiplier") << hex("50 43 01 07 00 00 00") << hex("43 55 01 07 00 64");
    QTest::newRow("read beyond the eight") << hex("50 43 01 09 00 00 00") << hex("43 55 01 09 00 00");
    QTest::newRow("write RpmMin=1500") << hex("50 43 02 02 05 DC 00 00 00") << hex("43 55 02 02 05 DC");
    QTest::newRow("write stores any 16 bits") << hex("50 43 02 03 FF FF 00 00 00") << hex("43 55 02 03 FF FF");
    QTest::newRow("version") << hex("50 43 04 00 00 00 00") << hex("43 55 04 01 03 07");
    QTest::newRow("reset") << hex("50 43 0A 00 00 00 00") << hex("43 55 0A 00");
    QTest::newRow("unknown code 5") << hex("50 43 05 00 00 00 00") << QByteArray();
}

void TestControllerSim::replyPerRequest()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    ControllerSim sim = steadySim();
    const QList<SimOutput> outputs = sim.feed(request, 0);
    QCOMPARE(hexBytes(replies(outputs)), hexBytes(reply));
    if (!reply.isEmpty()) {
        QCOMPARE(outputs.size(), 1);
        QCOMPARE(outputs[0].delayMs, 0);
        QCOMPARE(outputs[0].splitAt, 0);
        QVERIFY(!outputs[0].hangUp);
    }
}

void TestControllerSim::writeIsStoredAndReadBack()
{
    ControllerSim sim;
    sim.feed(hex("50 43 02 02 05 DC 00 00 00"), 0);
    QCOMPARE(sim.parameter(simparam::RpmMin), 1500);
    QCOMPARE(hexBytes(replies(sim.feed(hex("50 43 01 02 00 00 00"), 1))), QStringLiteral("43 55 01 02 05 DC"));
    // A write to an index the controller does not have changes none of the eight.
    const SimParameters before = sim.parameters();
    QCOMPARE(hexBytes(replies(sim.feed(hex("50 43 02 08 00 07 00 00 00"), 2))), QStringLiteral("43 55 02 08 00 07"));
    QCOMPARE(sim.parameters(), before);
}

void TestControllerSim::resetRestoresDefaults()
{
    ControllerSim sim;
    sim.setVersion({2, 0, 1});
    sim.feed(hex("50 43 02 04 75 30 00 00 00"), 0);
    sim.feed(hex("50 43 02 00 00 32 00 00 00"), 0);
    QVERIFY(sim.parameters() != defaultSimParameters());
    QCOMPARE(hexBytes(replies(sim.feed(hex("50 43 0A 00 00 00 00"), 1))), QStringLiteral("43 55 0A 00"));
    QCOMPARE(sim.parameters(), defaultSimParameters());
    QCOMPARE(hexBytes(replies(sim.feed(hex("50 43 04 00 00 00 00"), 2))), QStringLiteral("43 55 04 02 00 01"));
}

void TestControllerSim::defaultsKeepRangesAndInterlocks()
{
    const SimParameters p = defaultSimParameters();
    for (int i = 0; i < simparam::Count; ++i)
        QCOMPARE(clampToSliderRange(i, p[size_t(i)]), p[size_t(i)]);
    QVERIFY(p[simparam::MaxPumpCycles] >= p[simparam::MinPumpCycles]);
    QVERIFY(p[simparam::TinjMax] >= p[simparam::TinjMin]);
    QVERIFY(p[simparam::MaxLoadPumpPause] <= p[simparam::MinLoadPumpPause]);
    // The engine idles above RpmMin, so a user without hardware sees the pump work.
    QVERIFY(EngineModel::kIdleRpm - 20 > p[simparam::RpmMin]);
}

void TestControllerSim::resynchronises_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    const QByteArray version = hex("50 43 04 00 00 00 00");
    const QString versionReply = QStringLiteral("43 55 04 01 03 07");
    QTest::newRow("junk before") << hex("FF 00 12 43 55") + version << versionReply;
    QTest::newRow("lone P before") << hex("50 50 50") + version << versionReply;
    QTest::newRow("P then not C") << hex("50 44 50") + version << versionReply;
    QTest::newRow("header with unknown code") << hex("50 43 63") + version << versionReply;
    QTest::newRow("cut-off status before") << hex("50 43 03 00") + version << versionReply;
    QTest::newRow("cut-off write before") << hex("50 43 02 01 00") + version << versionReply;
    QTest::newRow("cut-off read before") << hex("50 43 01 03") + version << versionReply;
    QTest::newRow("junk after") << version + hex("00 FF 50") << versionReply;
    QTest::newRow("two frames and junk")
        << hex("AA") + version + hex("BB CC") + hex("50 43 01 04 00 00 00") << versionReply + QStringLiteral(" 43 55 01 04 23 28");
    QTest::newRow("only junk") << hex("01 02 03 43 55 04 01 03 07") << QString();
    QTest::newRow("nonzero padding is no request") << hex("50 43 04 00 00 00 01") << QString();
}

void TestControllerSim::resynchronises()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    ControllerSim sim;
    QCOMPARE(hexBytes(replies(sim.feed(input, 0))), expected);
}

void TestControllerSim::partialFrameAcrossFeeds()
{
    // A frame arriving a few bytes at a time, with its header split, is answered once complete.
    ControllerSim sim;
    const QByteArray frame = hex("FF 50 43 02 02 05 DC 00 00 00");
    for (qsizetype i = 0; i + 1 < frame.size(); ++i)
        QVERIFY(sim.feed(frame.mid(i, 1), i).isEmpty());
    QCOMPARE(hexBytes(replies(sim.feed(frame.right(1), 20))), QStringLiteral("43 55 02 02 05 DC"));
    QCOMPARE(sim.requests().size(), 1);
}

void TestControllerSim::stalePartialFrameIsDropped()
{
    // A write cut off after its index must not swallow the next request that comes much later.
    ControllerSim sim;
    QVERIFY(sim.feed(hex("50 43 02 02"), 0).isEmpty());
    const QList<SimOutput> out =
        sim.feed(hex("50 43 04 00 00 00 00"), ControllerSim::kStalePartialMs + 300);
    QCOMPARE(hexBytes(replies(out)), QStringLiteral("43 55 04 01 03 07"));
}

void TestControllerSim::randomBytesNeverCrashAndFramesAreFound()
{
    // Junk with request frames spliced in at random places and fed in random-sized pieces: every
    // frame is answered in order. Junk is kept free of "P" so it cannot start a frame by chance.
    QRandomGenerator rng(20240607);
    ControllerSim sim;
    QByteArray stream;
    QStringList expected;
    for (int i = 0; i < 400; ++i) {
        const int junkLength = rng.bounded(0, 30);
        for (int j = 0; j < junkLength; ++j) {
            char c = char(rng.bounded(256));
            stream.append(c == 'P' ? char(0xFF) : c);
        }
        const quint8 index = quint8(rng.bounded(8));
        stream += hex("50 43 01 00 00 00 00");
        stream[stream.size() - 4] = char(index);
        QByteArray reply = hex("43 55 01");
        reply.append(char(index));
        reply.append(char(sim.parameter(index) >> 8));
        reply.append(char(sim.parameter(index) & 0xFF));
        expected << hexBytes(reply);
    }
    QStringList got;
    qsizetype pos = 0;
    while (pos < stream.size()) {
        const qsizetype n = rng.bounded(1, 40);
        for (const SimOutput &out : sim.feed(stream.mid(pos, n), 0))
            got << hexBytes(out.bytes);
        pos += n;
    }
    QCOMPARE(got.join(u'|'), expected.join(u'|'));

    // Pure noise, "P" and "C" included: no crash, and only frames that really are requests answered.
    for (int round = 0; round < 50; ++round) {
        QByteArray noise(int(rng.bounded(1, 5000)), '\0');
        for (char &c : noise)
            c = char(rng.bounded(256));
        for (const SimOutput &out : sim.feed(noise, 0))
            QCOMPARE(out.bytes.left(2), hex("43 55"));
    }
}

void TestControllerSim::burstAnswersEveryFrame()
{
    ControllerSim sim;
    QByteArray burst;
    for (int i = 0; i < 1000; ++i)
        burst += hex("50 43 03 00 00 00 00");
    const QList<SimOutput> out = sim.feed(burst, 0);
    QCOMPARE(out.size(), 1000);
    QCOMPARE(sim.requestCount(), 1000);
    QCOMPARE(sim.discardedBytes(), 0);
}

void TestControllerSim::requestLogHasTimes()
{
    ControllerSim sim;
    sim.feed(hex("50 43 04 00 00 00 00 FF"), 10);
    sim.feed(hex("50 43 03 00 00 00 00"), 25);
    QCOMPARE(sim.requests().size(), 2);
    QCOMPARE(sim.requests()[0].atMs, 10);
    QCOMPARE(sim.requests()[0].frame, hex("50 43 04 00 00 00 00"));
    QCOMPARE(sim.requests()[1].atMs, 25);
    QCOMPARE(sim.discardedBytes(), 1);
}

void TestControllerSim::pumpTiming_data()
{
    QTest::addColumn<int>("rpm");
    QTest::addColumn<int>("tinj");
    QTest::addColumn<int>("pump");
    QTest::addColumn<int>("pause");
    // Defaults: pump 5..15, pause 160..80 over injection 1500..9000, RpmMin 600.
    QTest::newRow("below TinjMin: minimum load") << 2000 << 1000 << 5 << 160;
    QTest::newRow("at TinjMin") << 2000 << 1500 << 5 << 160;
    QTest::newRow("half load") << 2000 << 5250 << 10 << 120;
    QTest::newRow("quarter load") << 2000 << 3375 << 8 << 140;
    QTest::newRow("at TinjMax") << 2000 << 9000 << 15 << 80;
    QTest::newRow("above TinjMax: full load") << 2000 << 20000 << 15 << 80;
    QTest::newRow("at RpmMin: no pumping") << 600 << 5250 << 0 << 0;
    QTest::newRow("just above RpmMin") << 601 << 5250 << 10 << 120;
    QTest::newRow("engine stopped") << 0 << 0 << 0 << 0;
}

void TestControllerSim::pumpTiming()
{
    QFETCH(int, rpm);
    QFETCH(int, tinj);
    QFETCH(int, pump);
    QFETCH(int, pause);
    const PumpTiming t = oe::pumpTiming(defaultSimParameters(), rpm, tinj);
    QCOMPARE(int(t.pump), pump);
    QCOMPARE(int(t.pause), pause);
}

void TestControllerSim::engineOffReportsZero()
{
    ControllerSim sim;
    sim.setEngineRunning(false);
    for (qint64 ms : {0, 6500, 9000})
        QCOMPARE(hexBytes(sim.statusReply(ms)), QStringLiteral("43 55 03 00 00 00 00 00 00 00 00"));
    sim.setEngineRunning(true);
    QVERIFY(sim.engineAt(9000).rpm > 0);
}

void TestControllerSim::engineRevsSmoothly()
{
    // Over two cycles: idles near idle speed, reaches the peak, and never jumps by more than a
    // running engine could in 100 ms.
    int lowest = 65535;
    int highest = 0;
    int previous = EngineModel::sample(0).rpm;
    for (qint64 ms = 0; ms < 2 * EngineModel::kCycleMs; ms += 100) {
        const EngineReading r = EngineModel::sample(ms);
        lowest = std::min<int>(lowest, r.rpm);
        highest = std::max<int>(highest, r.rpm);
        QVERIFY2(std::abs(int(r.rpm) - previous) < 300, qPrintable(QString::number(ms)));
        previous = r.rpm;
        QVERIFY(r.tinj >= EngineModel::kIdleTinj && r.tinj <= EngineModel::kPeakTinj);
    }
    QVERIFY(lowest < EngineModel::kIdleRpm + 50 && lowest > EngineModel::kIdleRpm - 50);
    QVERIFY(highest > EngineModel::kPeakRpm - 50);
    // Load follows the throttle: more injection at speed than at idle.
    QVERIFY(EngineModel::sample(9000).tinj > EngineModel::sample(1000).tinj);
}

void TestControllerSim::multiplierScalesReportedSpeed()
{
    ControllerSim sim = steadySim(2000, 5250);
    sim.setParameter(simparam::RpmMultiplier, 150);
    QCOMPARE(hexBytes(sim.statusReply(0).mid(3, 2)), QStringLiteral("0B B8"));  // 3000
}

void TestControllerSim::faultShapesReply_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("delayMs");
    const QByteArray version = hex("50 43 04 00 00 00 00");
    QTest::newRow("delay") << "delay=250" << version << hex("43 55 04 01 03 07") << 250;
    QTest::newRow("late default") << "late" << version << hex("43 55 04 01 03 07") << 1200;
    QTest::newRow("late overrides delay") << "delay=20,late=1500" << version << hex("43 55 04 01 03 07") << 1500;
    QTest::newRow("wrong header") << "wrong-header" << version << hex("43 56 04 01 03 07") << 0;
    QTest::newRow("short") << "short" << version << hex("43 55 04 01 03") << 0;
    QTest::newRow("short reset") << "short" << hex("50 43 0A 00 00 00 00") << hex("43 55 0A") << 0;
    QTest::newRow("short by 8") << "short=8" << hex("50 43 03 00 00 00 00") << hex("43 55 03") << 0;
    QTest::newRow("unknown code") << "unknown-code" << version << hex("43 55 07 01 03 07") << 0;
    QTest::newRow("garbage before") << "garbage-before" << version << hex("FF 00 A5 43 55 04 01 03 07") << 0;
    QTest::newRow("garbage after") << "garbage-after=2" << version << hex("43 55 04 01 03 07 FF 00") << 0;
}

void TestControllerSim::faultShapesReply()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, delayMs);
    ControllerSim sim = steadySim();
    SimFaults faults;
    QVERIFY(faults.apply(fault, nullptr));
    sim.setFaults(faults);
    const QList<SimOutput> out = sim.feed(request, 0);
    QCOMPARE(out.size(), 1);
    QCOMPARE(hexBytes(out[0].bytes), hexBytes(reply));
    QCOMPARE(out[0].delayMs, delayMs);
    QCOMPARE(out[0].splitAt, 0);
}

void TestControllerSim::faultDropFirst()
{
    ControllerSim sim;
    sim.setFaults(SimFaults{.dropFirst = 2});
    const QByteArray write = hex("50 43 02 02 00 64 00 00 00");
    QVERIFY(sim.feed(write, 0).isEmpty());
    QVERIFY(sim.feed(write, 1).isEmpty());
    // A dropped write was never heard: nothing stored.
    QCOMPARE(sim.parameter(simparam::RpmMin), defaultSimParameters()[simparam::RpmMin]);
    QCOMPARE(hexBytes(replies(sim.feed(write, 2))), QStringLiteral("43 55 02 02 00 64"));
    QCOMPARE(sim.parameter(simparam::RpmMin), 100);
    QCOMPARE(sim.requests().size(), 3);
    // Setting the faults again starts the count again.
    sim.setFaults(sim.faults());
    QVERIFY(sim.feed(write, 3).isEmpty());
}

void TestControllerSim::faultSilentStillLogs()
{
    ControllerSim sim;
    sim.setFaults(SimFaults{.silent = true});
    QVERIFY(sim.feed(hex("50 43 04 00 00 00 00 50 43 03 00 00 00 00"), 5).isEmpty());
    QCOMPARE(sim.requests().size(), 2);
}

void TestControllerSim::faultHangUpAfter()
{
    ControllerSim sim;
    sim.setFaults(SimFaults{.hangUpAfter = 2});
    const QByteArray three = hex("50 43 04 00 00 00 00 50 43 03 00 00 00 00 50 43 04 00 00 00 00");
    const QList<SimOutput> out = sim.feed(three, 0);
    QCOMPARE(out.size(), 2);
    QVERIFY(!out[0].hangUp);
    QVERIFY(out[1].hangUp);
    QCOMPARE(out[1].bytes.left(3), hex("43 55 03"));  // the second frame is still answered
    QCOMPARE(sim.requests().size(), 2);               // the third never reached a live line
    QVERIFY(sim.feed(hex("50 43 04 00 00 00 00"), 1).isEmpty());
    sim.restartLine();
    QCOMPARE(sim.feed(hex("50 43 04 00 00 00 00"), 2).size(), 1);

    // Silent and hanging up: an output with nothing to write, only the hang-up.
    ControllerSim quiet;
    quiet.setFaults(SimFaults{.silent = true, .hangUpAfter = 1});
    const QList<SimOutput> hang = quiet.feed(hex("50 43 04 00 00 00 00"), 0);
    QCOMPARE(hang.size(), 1);
    QVERIFY(hang[0].bytes.isEmpty());
    QVERIFY(hang[0].hangUp);
}

void TestControllerSim::faultSplit()
{
    ControllerSim sim = steadySim();
    SimFaults faults;
    QVERIFY(faults.apply(QStringLiteral("split"), nullptr));
    sim.setFaults(faults);
    const QList<SimOutput> out = sim.feed(hex("50 43 03 00 00 00 00"), 0);
    QCOMPARE(out.size(), 1);
    QCOMPARE(out[0].bytes.size(), 11);
    QCOMPARE(out[0].splitAt, 5);
    QCOMPARE(out[0].splitGapMs, SimFaults::kDefaultSplitGapMs);
    QVERIFY(SimFaults::kDefaultSplitGapMs > 50);
    // The shortest reply still splits with two bytes first, enough to wake the program's receiver.
    const QList<SimOutput> reset = sim.feed(hex("50 43 0A 00 00 00 00"), 1);
    QCOMPARE(reset[0].splitAt, 2);
}

void TestControllerSim::faultsOfANoisyLine()
{
    ControllerSim sim = steadySim();
    const QByteArray read = hex("50 43 01 03 00 00 00");
    const QByteArray clean = replies(sim.feed(read, 0));
    // Every reply with exactly one bit flipped.
    sim.setFaults(SimFaults{.flipPercent = 100});
    QSet<QByteArray> seen;
    for (int i = 0; i < 50; ++i) {
        const QByteArray flipped = replies(sim.feed(read, i));
        QCOMPARE(flipped.size(), clean.size());
        int bits = 0;
        for (qsizetype b = 0; b < clean.size(); ++b)
            bits += std::popcount(quint8(clean[b] ^ flipped[b]));
        QCOMPARE(bits, 1);
        seen.insert(flipped);
    }
    QVERIFY(seen.size() > 10); // not always the same bit

    // Byte by byte.
    sim.setFaults(SimFaults{.byteGapMs = 20});
    const QList<SimOutput> spaced = sim.feed(read, 0);
    QCOMPARE(spaced[0].byteGapMs, 20);
    QCOMPARE(spaced[0].bytes, clean);

    // Noise at its rate, in 10 ms steps over 20 s, with reply-like starts among it.
    sim.setFaults(SimFaults{.noisePerSecond = 500});
    QByteArray noise;
    for (qint64 ms = 0; ms <= 20000; ms += 10)
        noise += sim.noise(ms);
    QVERIFY2(noise.size() > 8000 && noise.size() < 12000, qPrintable(QString::number(noise.size())));
    QVERIFY(noise.count(hex("43 55 03")) >= 10);
    sim.setFaults({});
    QVERIFY(sim.noise(30000).isEmpty());
}

void TestControllerSim::faultEchoClamp_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("stored");
    QTest::newRow("RpmMin above range") << 2 << 7000 << 6000;
    QTest::newRow("RpmMin off step") << 2 << 1234 << 1200;
    QTest::newRow("MinPumpCycles 0") << 0 << 0 << 1;
    QTest::newRow("MaxPumpCycles 1") << 1 << 1 << 2;
    QTest::newRow("TinjMax 40000") << 4 << 40000 << 30000;
    QTest::newRow("pause 79") << 5 << 79 << 80;
    QTest::newRow("pause 2401") << 6 << 2401 << 2400;
    QTest::newRow("multiplier 255") << 7 << 255 << 200;
    QTest::newRow("multiplier 155") << 7 << 155 << 150;
    QTest::newRow("in range unchanged") << 3 << 1500 << 1500;
    QTest::newRow("refused: the value held") << 0 << 10 << -5;
}

void TestControllerSim::faultEchoClamp()
{
    QFETCH(int, index);
    QFETCH(int, sent);
    QFETCH(int, stored);
    ControllerSim sim;
    sim.setFaults(SimFaults{.echoClamp = true, .refuseWriteMask = stored < 0 ? 1 : 0});
    if (stored < 0)
        stored = sim.parameter(index);
    QByteArray frame = hex("50 43 02 00 00 00 00 00 00");
    frame[3] = char(index);
    frame[4] = char(sent >> 8);
    frame[5] = char(sent & 0xFF);
    const QByteArray reply = replies(sim.feed(frame, 0));
    QCOMPARE(reply.size(), 6);
    QCOMPARE(quint8(reply[4]) * 256 + quint8(reply[5]), stored);
    QCOMPARE(int(sim.parameter(index)), stored);
}

void TestControllerSim::faultSpec_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("described");
    QTest::newRow("silent") << "silent" << true << "silent";
    QTest::newRow("list") << "delay=200, drop=2 ,split" << true << "delay=200,drop=2,split=100";
    QTest::newRow("defaults") << "late,garbage-before,garbage-after,short" << true
                              << "short=1,garbage-before=3,garbage-after=3,late=1200";
    QTest::newRow("flag off") << "echo-clamp,echo-clamp=off" << true << "none";
    QTest::newRow("none clears") << "hangup=3,none,unknown-code" << true << "unknown-code";
    QTest::newRow("noisy line") << "noise=100,flip=5,gap=20" << true << "noise=100,flip=5,gap=20";
    QTest::newRow("refused writes") << "refuse-write,refuse-write=3" << true << "refuse-write=3";
    QTest::newRow("flip above 100 %") << "flip=101" << false << "none";
    QTest::newRow("case") << "Wrong-Header" << true << "wrong-header";
    QTest::newRow("unknown name") << "sulky" << false << "none";
    QTest::newRow("value required") << "drop" << false << "none";
    QTest::newRow("negative") << "delay=-5" << false << "none";
    QTest::newRow("not a number") << "delay=soon" << false << "none";
    QTest::newRow("too large") << "garbage-before=1000" << false << "none";
    QTest::newRow("bad flag value") << "silent=maybe" << false << "none";
    QTest::newRow("bad item spoils all") << "silent,bogus" << false << "none";
    QTest::newRow("empty") << "" << false << "none";
}

void TestControllerSim::faultSpec()
{
    QFETCH(QString, spec);
    QFETCH(bool, ok);
    QFETCH(QString, described);
    SimFaults faults;
    QString error;
    QCOMPARE(faults.apply(spec, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    QCOMPARE(faults.describe(), described);
    // What describe() writes reads back as the same faults.
    SimFaults again;
    QVERIFY(again.apply(faults.describe(), nullptr));
    QCOMPARE(again, faults);
}

QTEST_GUILESS_MAIN(TestControllerSim)
#include "tst_controllersim.moc"
