// The session's behaviour against the session itself, in virtual time (sessionrig.h): what the poll
// does between and after the connect's reads, a silence and the way back from it, and a read-back
// that goes unanswered.

#include "sessionrig.h"

#include <QSignalSpy>
#include <QTest>

using namespace oe;

namespace {

QByteArray readFrame(int index)
{
    return QByteArray::fromHex("504301") + char(index) + QByteArray(3, '\0');
}
const QByteArray kVersionFrame = QByteArray::fromHex("50430400000000");
const QByteArray kStatusFrame = QByteArray::fromHex("50430300000000");

} // namespace

class TestSessionTime : public QObject
{
    Q_OBJECT
private slots:
    void connectReadsThenPolls();
    void silenceAndBack();
    void lostReadBackLeavesParameterUnknown_data();
    void lostReadBackLeavesParameterUnknown();
};

// The connect: the version, then the eight reads. The poll: a status request 500 ms after the
// previous request ended, again and again; right after each of the first eight, the verification pass
// reads one parameter again.
void TestSessionTime::connectReadsThenPolls()
{
    SessionRig rig;
    QVERIFY(rig.connect());
    QList<QByteArray> expected{kVersionFrame};
    for (int i = 0; i < kParameterCount; ++i)
        expected << readFrame(i);
    QCOMPARE(rig.writtenBytes(), expected);
    QCOMPARE(rig.s().Parameters.TinjMax, 9000);

    rig.written.clear();
    QVERIFY(rig.runUntil([&] { return rig.written.size() >= 19; }));
    for (int i = 0; i < 16; ++i)
        QCOMPARE(rig.written[i].bytes, i % 2 ? readFrame(i / 2) : kStatusFrame);
    QCOMPARE(rig.written[16].bytes, kStatusFrame);
    QCOMPARE(rig.written[17].bytes, kStatusFrame);
    // 500 ms after the reply's first byte (5 ms) and its 50 ms pause.
    QCOMPARE(rig.written[17].atMs - rig.written[16].atMs, 555);
    QVERIFY(!rig.s().verifying());
    QCOMPARE(rig.s().LiveRpm, 1500);
    QCOMPARE(rig.s().LivePause, 80);
}

// Two status requests in a row without an answer: the controller counts as silent, and a read the
// silence left unanswered makes its parameter unknown. The first answer ends the silence; the
// parameter is read again by itself and verified, and the silence's time-outs do not count as noise.
void TestSessionTime::silenceAndBack()
{
    SessionRig rig;
    QVERIFY(rig.connect());
    QVERIFY(rig.runUntil([&] { return !rig.s().verifying(); }));
    QSignalSpy answering(&rig.s(), &Session::controllerAnsweringChanged);
    rig.controller.silent = true;
    QVERIFY(rig.runUntil([&] { return answering.count() == 1; }));
    QCOMPARE(answering.last().value(0).toBool(), false);
    QVERIFY(!rig.s().controllerAnswering());
    QCOMPARE(rig.s().state(), Session::State::Connected);

    bool readEnded = false;
    rig.s().ReadParameter(4, [&readEnded](bool) { readEnded = true; });
    QVERIFY(rig.runUntil([&] { return readEnded; }));
    QVERIFY(!rig.s().parameterKnown(ParameterIndex::TinjMax));
    QVERIFY(rig.s().rereadPending());

    rig.controller.silent = false;
    QVERIFY(rig.runUntil([&] { return answering.count() == 2; }));
    QVERIFY(rig.s().controllerAnswering());
    QVERIFY(rig.runUntil([&] { return rig.s().parameterKnown(ParameterIndex::TinjMax) && !rig.s().verifying(); }));
    QCOMPARE(rig.s().Parameters.TinjMax, 9000);
    QVERIFY(!rig.s().rereadPending());
    QCOMPARE(rig.s().lineFailedPercent(), 0);
}

void TestSessionTime::lostReadBackLeavesParameterUnknown_data()
{
    QTest::addColumn<QString>("sequence");
    QTest::newRow("reset") << "reset";
    QTest::newRow("map load") << "map";
}

// The controller's reset default (or the map's value) is not what was known before: a read-back that
// goes unanswered leaves the parameter unknown, not at its old value, and nothing confirms it.
void TestSessionTime::lostReadBackLeavesParameterUnknown()
{
    QFETCH(QString, sequence);
    SessionRig rig;
    QVERIFY(rig.connect());
    QCOMPARE(rig.s().Parameters.TinjMax, 9000);
    rig.responder = [&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == 4)
            return QByteArray();
        return rig.controller.respond(request);
    };
    rig.controller.params[4] = 5000;
    if (sequence == "reset") {
        QVERIFY(rig.s().reset());
    } else {
        ParameterSet values;
        for (int i = 0; i < kParameterCount; ++i)
            values[ParameterIndex(i)] = rig.controller.params[size_t(i)];
        QVERIFY(rig.s().loadMap(values));
    }
    QVERIFY(rig.runUntilQuiet());
    QVERIFY(!rig.s().parameterKnown(ParameterIndex::TinjMax));
    QVERIFY(rig.s().parameterKnown(ParameterIndex::TinjMin));

    std::optional<VerifiedValues> verified;
    QVERIFY(rig.s().verifiedValues([&verified](const VerifiedValues &v) { verified = v; }));
    QVERIFY(rig.runUntil([&] { return verified.has_value(); }));
    QCOMPARE(verified->unknown(), QList<ParameterIndex>{ParameterIndex::TinjMax});
    QCOMPARE(verified->values.TinjMin, 1500);
}

QTEST_GUILESS_MAIN(TestSessionTime)
#include "tst_sessiontime.moc"
