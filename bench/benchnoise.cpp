// A line with noise between the replies, as a running engine puts on it: how many tries get their
// reply, and how many connects end with every parameter read and right.

#include "benchsections.h"

#include "enginemodel.h"

#include <QLabel>

namespace bench {

namespace {

struct NoisyRun {
    int tries = 0;
    int answered = 0;
    int connects = 0;
    int complete = 0;
};

// What a connect on the noisy line got wrong: the identification (its reply carries nothing that could
// be checked) and every parameter.
QStringList wrongAfterConnect(Rig &rig)
{
    QStringList wrong;
    const oe::SimParameters expected = oe::defaultSimParameters();
    if (rig.w().connection().Label9->text() != QStringLiteral("Ver. 1.3.7"))
        wrong << rig.w().connection().Label9->text();
    for (int p = 0; p < oe::kParameterCount; ++p) {
        const auto index = oe::ParameterIndex(p);
        if (!rig.s().parameterKnown(index))
            wrong << QStringLiteral("parameter %1 unknown").arg(p);
        else if (rig.s().Parameters[index] != expected[size_t(p)])
            wrong << QStringLiteral("parameter %1 = %2").arg(p).arg(rig.s().Parameters[index]);
    }
    return wrong;
}

NoisyRun noisyLine(const BenchContext &ctx, int bytesPerSecond, int connects, int pollMs)
{
    NoisyRun run;
    Rig rig(ctx.simProgram, ctx.languageIni, kComPort,
            {QStringLiteral("--pace"), QStringLiteral("9600"), QStringLiteral("--fault"),
             QStringLiteral("noise=%1").arg(bytesPerSecond)});
    if (!rig.ready()) {
        out() << "  " << rig.error << Qt::endl;
        return run;
    }
    QObject::connect(rig.s().engine(), &oe::RequestEngine::tryEnded, [&run](oe::TryEnd end) {
        ++run.tries;
        run.answered += end == oe::TryEnd::Answered;
    });
    for (int i = 0; i < connects; ++i) {
        if (rig.connectNow()) {
            ++run.connects;
            const QStringList wrong = wrongAfterConnect(rig);
            run.complete += wrong.isEmpty();
            if (!wrong.isEmpty())
                out() << "  connect " << i + 1 << ": " << wrong.join(QStringLiteral(", ")) << Qt::endl;
        }
        if (i + 1 < connects) {
            rig.w().connection().btnConnect->click(); // disconnect
            waitMs(100);
        }
    }
    waitMs(pollMs);
    return run;
}

} // namespace

void noiseSection(BenchContext &ctx)
{
    for (const int bytesPerSecond : {100, 500}) {
        out() << "noise, " << bytesPerSecond << " bytes/s" << Qt::endl;
        const int connects = 10;
        const NoisyRun run = noisyLine(ctx, bytesPerSecond, connects, ctx.quick ? 10000 : 30000);
        const double share = run.tries > 0 ? 100.0 * run.answered / run.tries : 0;
        const double goal = bytesPerSecond <= 100 ? 95 : 80;
        Row &tries = ctx.rows.add(QStringLiteral("noise %1 bytes/s: tries answered").arg(bytesPerSecond),
                                  QStringLiteral("%"), {share});
        tries.setGoal(QStringLiteral(">= %1 %").arg(goal), share >= goal);
        tries.note = QStringLiteral("%1 of %2 tries, over %3 connects and the polls after them")
                         .arg(run.answered).arg(run.tries).arg(connects);
        Row &full = ctx.rows.add(QStringLiteral("noise %1 bytes/s: connects with every parameter read").arg(bytesPerSecond),
                                 QStringLiteral("of %1").arg(connects), {double(run.complete)});
        full.setGoal(QStringLiteral("%1 of %1").arg(connects), run.complete == connects);
        full.note = QStringLiteral("%1 connected; each with the controller's version, and every parameter known "
                                   "and holding the controller's value")
                        .arg(run.connects);
    }
}

} // namespace bench
