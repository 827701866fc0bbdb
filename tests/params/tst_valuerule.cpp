#include "valuerule.h"
#include "writeplan.h"

#include <QRandomGenerator>

#include <QTest>

using namespace oe;

using Refusal = ValueVerdict::Refusal;
using P = ParameterIndex;

class TestValueRule : public QObject
{
    Q_OBJECT
private slots:
    void verdict_data();
    void verdict();
    void sliderScale();
    void maps_data();
    void maps();
    void writePlan_data();
    void writePlan();
    void writePlanKeepsPairsAtEveryStep();
    void writePlanRunStopsAtFirstFailure_data();
    void writePlanRunStopsAtFirstFailure();
};

namespace {
// How the row's caller judges: "slider" (the window: step, pair), "file" (exact, beyond the slider
// allowed, no pair), "command" (exact, pair, beyond the slider refused), "command+" (allowed).
ValueContext contextFor(const QString &caller, int partner)
{
    ValueContext c;
    c.sliderStep = caller == QLatin1String("slider");
    c.allowBeyondSlider = caller == QLatin1String("file") || caller == QLatin1String("command+");
    c.pairCheck = caller != QLatin1String("file");
    if (partner >= 0)
        c.partnerValue = partner;
    return c;
}
} // namespace

// One row per case: the text as given, what is written, and what the verdict says changed.
void TestValueRule::verdict_data()
{
    QTest::addColumn<P>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caller");
    QTest::addColumn<int>("partner"); // -1: unknown
    QTest::addColumn<Refusal>("refusal");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("changes"); // r rounded, s stepped, h held by the partner, b beyond the slider

    auto row = [](const char *name, P index, const QString &text, const char *caller, int partner, Refusal refusal,
                  int value = 0, const char *changes = "") {
        QTest::newRow(name) << index << text << QString::fromLatin1(caller) << partner << refusal << value
                            << QString::fromLatin1(changes);
    };
    // Clean numbers only.
    row("plain", P::RpmMin, "1500", "file", -1, Refusal::None, 1500);
    row("blanks around", P::RpmMin, " \t1500 ", "file", -1, Refusal::None, 1500);
    row("plus sign", P::RpmMin, "+1500", "file", -1, Refusal::None, 1500);
    row("letter O", P::RpmMin, "8OO", "file", -1, Refusal::NotANumber);
    row("grouping comma", P::RpmMin, "1,500", "file", -1, Refusal::NotANumber);
    row("trailing letter", P::RpmMin, "12a", "file", -1, Refusal::NotANumber);
    row("empty", P::RpmMin, "", "file", -1, Refusal::NotANumber);
    row("blank inside", P::RpmMin, "1 500", "file", -1, Refusal::NotANumber);
    row("point without digits after", P::RpmMin, "12.", "file", -1, Refusal::NotANumber);
    row("point first", P::RpmMin, ".5", "file", -1, Refusal::NotANumber);
    row("sign only", P::RpmMin, "-", "file", -1, Refusal::NotANumber);
    row("two signs", P::RpmMin, "--5", "file", -1, Refusal::NotANumber);
    row("exponent", P::RpmMin, "1e3", "file", -1, Refusal::NotANumber);
    // Rounding, halves to even, and the wire.
    row("13.5 up to even", P::TinjMin, "13.5", "file", -1, Refusal::None, 14, "rb");
    row("12.5 down to even", P::RpmMin, "12.5", "file", -1, Refusal::None, 12, "r");
    row("multiplier 1.5", P::RpmMultiplier, "1.5", "file", -1, Refusal::None, 2, "rb");
    row("whole fraction", P::RpmMin, "1500.0", "file", -1, Refusal::None, 1500);
    row("negative", P::RpmMin, "-1", "file", -1, Refusal::OutsideWire);
    row("past the wire", P::TinjMax, "65536", "file", -1, Refusal::OutsideWire);
    row("rounds past the wire", P::TinjMax, "65535.5", "file", -1, Refusal::OutsideWire);
    row("huge", P::TinjMax, QString(400, u'9'), "file", -1, Refusal::OutsideWire);
    // The slider's range: marked where allowed, refused where not.
    row("40000 in a file", P::TinjMax, "40000", "file", -1, Refusal::None, 40000, "b");
    row("40000 typed", P::TinjMax, "40000", "slider", 9000, Refusal::BeyondSlider, 0, "b");
    row("40000 command", P::TinjMax, "40000", "command", 9000, Refusal::BeyondSlider, 0, "b");
    row("40000 command allowed", P::TinjMax, "40000", "command+", 9000, Refusal::None, 40000, "b");
    row("below the slider", P::MinPumpCycles, "0", "slider", 30, Refusal::BeyondSlider, 0, "b");
    row("slider ends", P::TinjMax, "30000", "slider", 50, Refusal::None, 30000);
    // The step: the window's only; a file or a command is exact.
    row("9234 typed", P::TinjMax, "9234", "slider", 50, Refusal::None, 9200, "s");
    row("9234 command", P::TinjMax, "9234", "command", 50, Refusal::None, 9234);
    row("multiplier 155 typed", P::RpmMultiplier, "155", "slider", -1, Refusal::None, 150, "s");
    row("rpm typed on the step", P::RpmMin, "6000", "slider", -1, Refusal::None, 6000);
    // The pair rule: held at the partner's value, never past it.
    row("tinj min over max", P::TinjMin, "12000", "slider", 9000, Refusal::None, 9000, "h");
    row("tinj max under min", P::TinjMax, "3000", "command", 5000, Refusal::None, 5000, "h");
    row("held at an off-step partner", P::TinjMax, "1010", "slider", 1234, Refusal::None, 1234, "sh");
    row("pump max under min", P::MaxPumpCycles, "20", "slider", 30, Refusal::None, 30, "h");
    row("pump min over max", P::MinPumpCycles, "35", "slider", 20, Refusal::None, 20, "h");
    row("pause max over min", P::MaxLoadPumpPause, "500", "slider", 400, Refusal::None, 400, "h");
    row("pause min under max", P::MinLoadPumpPause, "300", "slider", 400, Refusal::None, 400, "h");
    row("equal pair", P::TinjMin, "9000", "slider", 9000, Refusal::None, 9000);
    row("partner unknown", P::TinjMin, "9000", "slider", -1, Refusal::PartnerUnknown);
    row("no partner", P::RpmMin, "1500", "command", -1, Refusal::None, 1500);
    row("crossed pair in a file", P::TinjMin, "12000", "file", -1, Refusal::None, 12000);
}

void TestValueRule::verdict()
{
    QFETCH(P, index);
    QFETCH(QString, text);
    QFETCH(QString, caller);
    QFETCH(int, partner);
    QFETCH(Refusal, refusal);
    QFETCH(int, value);
    QFETCH(QString, changes);

    const ValueVerdict v = judgeValue(index, text, contextFor(caller, partner));
    QCOMPARE(v.refusal, refusal);
    QCOMPARE(v.text, text.trimmed());
    if (refusal == Refusal::NotANumber || refusal == Refusal::OutsideWire)
        return;
    QCOMPARE(v.beyondSlider, changes.contains(u'b'));
    if (refusal != Refusal::None)
        return;
    QCOMPARE(v.value, value);
    QCOMPARE(v.rounded, changes.contains(u'r'));
    QCOMPARE(v.stepped, changes.contains(u's'));
    QCOMPARE(v.heldBy, changes.contains(u'h') ? pairPartner(index) : std::nullopt);
    QCOMPARE(v.changed(), changes.contains(u'r') || changes.contains(u's') || changes.contains(u'h'));
    // A number judges as its text does.
    const ValueVerdict fromNumber = judgeValue(index, v.rounded ? text.toDouble() : double(v.number),
                                               contextFor(caller, partner));
    QCOMPARE(fromNumber.value, v.value);
    QCOMPARE(fromNumber.refusal, v.refusal);
}

// Every slider position gives a value the rule takes unchanged: the slider and the rule agree.
void TestValueRule::sliderScale()
{
    const ValueContext slider = contextFor(QStringLiteral("slider"), 0);
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const SliderRange range = sliderRange(index);
        for (int position = positionFromField(index, range.min); position <= positionFromField(index, range.max); ++position) {
            ValueContext own = slider;
            own.pairCheck = false;
            const qint32 field = fieldFromPosition(index, position);
            const ValueVerdict v = judgeValue(index, double(field), own);
            QVERIFY2(v.accepted() && !v.changed(), qPrintable(QStringLiteral("%1 at %2").arg(i).arg(position)));
        }
    }
    QCOMPARE(positionFromField(P::RpmMultiplier, 350), 20); // a read above 200 % stands at the slider's end
}

void TestValueRule::maps_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("crossedLine"); // 0: the pairs stand
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("marks"); // per line: r rounded, b beyond the slider, x both, . neither

    const QByteArray good = "MinPumpCycles=5\r\nMaxPumpCycles=10\r\nRpmMin=1500\r\nTinjMin=1000\r\n"
                            "TinjMax=2000\r\nMinLoadPumpPause=800\r\nMaxLoadPumpPause=200\r\nRpmMultiplier=100\r\n";
    auto with = [&](const char *from, const char *to) { return QByteArray(good).replace(from, to); };
    QTest::newRow("good") << good << 0 << "" << "........";
    QTest::newRow("decimal") << with("TinjMin=1000", "TinjMin=999.5") << 0 << "" << "...r....";
    QTest::newRow("40000") << with("TinjMax=2000", "TinjMax=40000") << 0 << "" << "....b...";
    QTest::newRow("multiplier 1.5") << with("RpmMultiplier=100", "RpmMultiplier=1.5") << 0 << "" << ".......x";
    QTest::newRow("pump pair crossed") << with("MinPumpCycles=5", "MinPumpCycles=11") << 2
                                       << "MinPumpCycles 11 > MaxPumpCycles 10" << "........";
    QTest::newRow("tinj pair crossed") << with("TinjMin=1000", "TinjMin=20000").replace("TinjMax=2000", "TinjMax=5000")
                                       << 5 << "TinjMin 20000 > TinjMax 5000" << "........";
    QTest::newRow("pause lines swapped")
        << with("MinLoadPumpPause=800\r\nMaxLoadPumpPause=200", "MaxLoadPumpPause=200\r\nMinLoadPumpPause=800") << 7
        << "MinLoadPumpPause 200 < MaxLoadPumpPause 800" << "........";
    QTest::newRow("pairs equal") << with("MaxPumpCycles=10", "MaxPumpCycles=5").replace("MaxLoadPumpPause=200", "MaxLoadPumpPause=800")
                                 << 0 << "" << "........";
}

void TestValueRule::maps()
{
    QFETCH(QByteArray, file);
    QFETCH(int, crossedLine);
    QFETCH(QString, detail);
    QFETCH(QString, marks);

    const MapReadResult read = parseMap(file);
    QVERIFY(read.ok);
    const MapCheck check = checkMap(read);
    QCOMPARE(check.ok, crossedLine == 0);
    if (!check.ok) {
        QCOMPARE(check.refusal, (MapFileError{MapFileError::Kind::CrossedPair, crossedLine, detail}));
        return;
    }
    QString got;
    for (const ValueVerdict &v : check.values) {
        QVERIFY(v.accepted());
        got += v.rounded && v.beyondSlider ? u'x' : v.rounded ? u'r' : v.beyondSlider ? u'b' : u'.';
    }
    QCOMPARE(got, marks);
    QCOMPARE(check.anyBeyondSlider(), marks.contains(u'b') || marks.contains(u'x'));
}


namespace {
// Eight values, "-" where the controller's value is not confirmed.
KnownValues knownFrom(const QString &text)
{
    KnownValues known;
    const QStringList parts = text.split(u' ');
    for (int i = 0; i < kParameterCount; ++i)
        if (parts[i] != QLatin1String("-"))
            known[i] = parts[i].toInt();
    return known;
}

ParameterSet setFrom(const QString &text)
{
    ParameterSet set;
    const QStringList parts = text.split(u' ');
    for (int i = 0; i < kParameterCount; ++i)
        set[ParameterIndex(i)] = parts[i].toInt();
    return set;
}

bool pairsHold(const KnownValues &v)
{
    for (int i = 0; i < kParameterCount; ++i) {
        const auto partner = pairPartner(ParameterIndex(i));
        if (partner && v[i] && v[int(*partner)] && !pairHolds(ParameterIndex(i), *v[i], *v[int(*partner)]))
            return false;
    }
    return true;
}
} // namespace

// One row per plan: what the controller holds, what is wanted (marked by mask, "1" per parameter),
// and the order of writes as indexes, or the refusal with the judged parameter and its partner.
void TestValueRule::writePlan_data()
{
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("order"); // "4 3", or "crossed 3 4", "unknown 4 3"

    const QString base = "2 10 1000 1500 12000 800 200 100";
    QTest::newRow("nothing changes") << base << base << "11111111" << "";
    QTest::newRow("raise tinj past max: max first") << base << "2 10 1000 14000 15000 800 200 100" << "11111111" << "4 3";
    QTest::newRow("raise tinj within: min first") << base << "2 10 1000 5000 15000 800 200 100" << "11111111" << "3 4";
    QTest::newRow("lower tinj below min: min first") << base << "2 10 1000 100 1000 800 200 100" << "11111111" << "3 4";
    QTest::newRow("lower pauses: max-load pause first") << base << "2 10 1000 1500 12000 150 100 100" << "11111111" << "6 5";
    QTest::newRow("raise pauses past: min-load pause first") << base << "2 10 1000 1500 12000 2000 900 100" << "11111111" << "5 6";
    QTest::newRow("raise pump cycles past") << base << "20 30 1000 1500 12000 800 200 100" << "11111111" << "1 0";
    QTest::newRow("lower pump cycles") << "20 30 1000 1500 12000 800 200 100" << base << "11111111" << "0 1";
    QTest::newRow("unpaired in index order") << base << "2 10 3000 1500 12000 800 200 150" << "11111111" << "2 7";
    QTest::newRow("every pair and the rest") << base << "20 30 3000 14000 15000 150 100 150" << "11111111" << "1 0 2 4 3 6 5 7";
    QTest::newRow("mask leaves a change out") << base << "20 30 3000 1500 12000 800 200 100" << "00111111" << "2";
    QTest::newRow("one half crosses the held partner") << base << "2 10 1000 13000 12000 800 200 100" << "00011111" << "crossed 3 4";
    QTest::newRow("wanted pair crossed") << base << "2 10 1000 9000 8000 800 200 100" << "11111111" << "crossed 3 4";
    QTest::newRow("pause pair crossed") << base << "2 10 1000 1500 12000 200 300 100" << "11111111" << "crossed 6 5";
    QTest::newRow("partner unknown, one half written") << "2 10 1000 1500 - 800 200 100" << "2 10 1000 2000 12000 800 200 100" << "11110111" << "unknown 3 4";
    QTest::newRow("partner unknown, both written, lower first safe") << "2 10 1000 - 12000 800 200 100" << "2 10 1000 2000 13000 800 200 100" << "11111111" << "3 4";
    QTest::newRow("partner unknown, both written, upper first safe") << "2 10 1000 1500 - 800 200 100" << "2 10 1000 2000 13000 800 200 100" << "11111111" << "4 3";
    QTest::newRow("both unknown") << "2 10 1000 - - 800 200 100" << "2 10 1000 2000 13000 800 200 100" << "11111111" << "unknown 3 4";
    QTest::newRow("unknown unpaired is written") << "2 10 - 1500 12000 800 200 100" << base << "11111111" << "2";
    QTest::newRow("erased memory put right") << "2 10 1000 65535 65535 800 200 100" << "2 10 1000 1500 12000 800 200 100" << "11111111" << "3 4";
}

void TestValueRule::writePlan()
{
    QFETCH(QString, held);
    QFETCH(QString, wanted);
    QFETCH(QString, mask);
    QFETCH(QString, order);
    ParameterMask write{};
    for (int i = 0; i < kParameterCount; ++i)
        write[i] = mask[i] == u'1';
    const WritePlan plan = planWrites(knownFrom(held), setFrom(wanted), write);
    QString got;
    if (!plan.ok())
        got = QStringLiteral("%1 %2 %3")
                  .arg(plan.refusal == WritePlan::Refusal::Crossed ? "crossed" : "unknown")
                  .arg(int(plan.index))
                  .arg(int(plan.partner));
    for (const PlannedWrite &w : plan.writes) {
        got += (got.isEmpty() ? "" : " ") + QString::number(int(w.index));
        QCOMPARE(w.value, setFrom(wanted)[w.index]);
    }
    QCOMPARE(got, order);
}

// Whatever the controller holds in order and whatever is wanted in order, no single write of the plan
// leaves a pair crossed.
void TestValueRule::writePlanKeepsPairsAtEveryStep()
{
    QRandomGenerator random(20261208);
    for (int round = 0; round < 20000; ++round) {
        KnownValues held;
        ParameterSet wanted;
        auto orderedPair = [&] {
            const qint32 a = qint32(random.bounded(6)), b = qint32(random.bounded(6));
            return a <= b ? std::pair{a, b} : std::pair{b, a};
        };
        for (auto [lo, hi] : {std::pair{0, 1}, std::pair{3, 4}, std::pair{6, 5}}) {
            const auto h = orderedPair();
            const auto w = orderedPair();
            held[lo] = h.first;
            held[hi] = h.second;
            wanted[ParameterIndex(lo)] = w.first;
            wanted[ParameterIndex(hi)] = w.second;
        }
        held[2] = held[7] = 0;
        const WritePlan plan = planWrites(held, wanted);
        QVERIFY(plan.ok());
        KnownValues controller = held;
        for (const PlannedWrite &w : plan.writes) {
            controller[int(w.index)] = w.value;
            QVERIFY2(pairsHold(controller), qPrintable(QStringLiteral("round %1").arg(round)));
        }
        for (int i = 0; i < kParameterCount; ++i)
            QCOMPARE(controller[i].value_or(0), i == 2 || i == 7 ? 0 : wanted[ParameterIndex(i)]);
    }
}

// Echoes in plan order: the first that is not the value sent stops the plan and nothing after it
// goes out.
void TestValueRule::writePlanRunStopsAtFirstFailure_data()
{
    QTest::addColumn<QList<int>>("echoes"); // -1 unanswered
    QTest::addColumn<QString>("outcomes");  // per parameter: . unchanged, w written, r refused, u unanswered, n not sent
    // Plan: 2 (3000, echoed first), then 4 (15000), 3 (14000).
    QTest::newRow("all echoed") << QList<int>{15000, 14000} << "..www...";
    QTest::newRow("upper bound refused") << QList<int>{12000} << "..wnr...";
    QTest::newRow("second unanswered") << QList<int>{15000, -1} << "..wuw...";
    QTest::newRow("clamped last") << QList<int>{15000, 13000} << "..wrw...";
}

void TestValueRule::writePlanRunStopsAtFirstFailure()
{
    QFETCH(QList<int>, echoes);
    QFETCH(QString, outcomes);
    WritePlanRun run(planWrites(knownFrom("2 10 1000 1500 12000 800 200 100"),
                                setFrom("2 10 3000 14000 15000 800 200 100")));
    // A plan in index order of pairs: the injection-time pair comes after RpmMin.
    QCOMPARE(run.next()->index, ParameterIndex::RpmMin);
    QVERIFY(run.echoed(3000));
    for (int echo : echoes)
        if (!run.finished())
            run.echoed(echo < 0 ? std::nullopt : std::optional<qint32>(echo));
    QVERIFY(run.finished());
    QVERIFY(!run.next());
    QString got;
    const char marks[] = {'.', 'w', 'r', 'u', 'n'};
    for (WriteOutcome o : run.result().outcome)
        got += QLatin1Char(marks[int(o)]);
    QCOMPARE(got, outcomes);
    QCOMPARE(run.result().complete(), outcomes == "..www...");
}

QTEST_APPLESS_MAIN(TestValueRule)
#include "tst_valuerule.moc"
