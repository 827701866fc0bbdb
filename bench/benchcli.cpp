// oe-cli on the paced line: a map load beside the window's, and `program` on one and on four ports.

#include "benchprogram.h"
#include "benchsections.h"

namespace bench {

QStringList benchMaps(Rig &rig); // benchwire.cpp

namespace {

struct CliLoads {
    QList<double> load;  // first progress line to exit
    QList<double> whole; // process start to exit
    int failed = 0;
    QString why; // the first failed run's last word
};

CliLoads cliLoads(BenchContext &ctx, Rig &rig, int runs)
{
    CliLoads loads;
    const QStringList maps = benchMaps(rig);
    for (int i = 0; i < runs; ++i) {
        QProcess cli;
        double firstStep = 0;
        QByteArray err;
        QObject::connect(&cli, &QProcess::readyReadStandardError, [&] {
            err += cli.readAllStandardError();
            if (firstStep == 0 && err.contains("load 1/16"))
                firstStep = monoMs();
        });
        const double started = monoMs();
        cli.start(ctx.cliProgram, {QStringLiteral("--folder"), rig.folder.path(), QStringLiteral("-p"),
                                   rig.path(QStringLiteral("ports/COM3")), QStringLiteral("load"), maps[i % 2],
                                   QStringLiteral("--yes")});
        waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 20000);
        const double ended = monoMs();
        if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0 || firstStep == 0) {
            if (loads.failed++ == 0)
                loads.why = QString::fromUtf8(err).trimmed().section(QLatin1Char('\n'), -1);
            continue;
        }
        loads.whole.append(ended - started);
        loads.load.append(ended - firstStep);
    }
    return loads;
}

void programRows(BenchContext &ctx)
{
    const int runs = ctx.quick ? 3 : 8;
    const ProgramFigures one = programRuns(ctx.simProgram, ctx.cliProgram, 1, runs);
    const ProgramFigures four = programRuns(ctx.simProgram, ctx.cliProgram, 4, runs);
    for (const ProgramFigures *f : {&one, &four}) {
        const QString ports = f->ports == 1 ? QStringLiteral("1 port") : QStringLiteral("%1 ports").arg(f->ports);
        // Per controller: the identification twice, every value read until two answers agree after the
        // connect and after the writes (32 reads), and the eight writes.
        Row &wall = ctx.rows.add(QStringLiteral("oe-cli program, %1 (42 exchanges each)").arg(ports),
                                 QStringLiteral("ms"), f->wallMs, 34 * kShortFloorMs + 8 * kWriteFloorMs);
        wall.note = f->error.isEmpty() ? QStringLiteral("process start to exit, backups included; %1 of %2 runs failed")
                                             .arg(f->failed).arg(runs)
                                       : f->error;
        if (!f->error.isEmpty() || f->failed > 0)
            wall.setGoal(QStringLiteral("every run programs every controller"), false);
        ctx.rows.add(QStringLiteral("CPU, oe-cli program, %1").arg(ports), QStringLiteral("% of a core"), f->cpuPercent)
            .note = QStringLiteral("oe-cli's user + system time over its run");
    }
    const double ratio = median(four.wallMs) / median(one.wallMs);
    Row &row = ctx.rows.add(QStringLiteral("oe-cli program: 4 ports / 1 port"), QStringLiteral("x"), {ratio});
    row.setGoal(QStringLiteral("<= 1.2"), ratio <= 1.2);
    row.note = QStringLiteral("medians of the two rows above; in a row the four would take 4x");
}

} // namespace

void cliSection(BenchContext &ctx)
{
    // The console program on the window's line: the window lets go of the port for it.
    if (Rig *rig = ctx.idleRig()) {
        const CliLoads loads = cliLoads(ctx, *rig, ctx.quick ? 3 : 8);
        ctx.rows.add(QStringLiteral("oe-cli load (8 writes + 8 reads)"), QStringLiteral("ms"), loads.load, kMapFloorMs)
            .note = QStringLiteral("from its first progress line to the end of the process; no goal; with the eight "
                                   "10 ms lead-ins the floor is %1 ms, and oe-cli then reads the eight values once "
                                   "more, judging the read-back only when two answers agree (%2 ms more)%3")
                        .arg(num(kMapFloorMs + 80), num(8 * kShortFloorMs),
                             loads.failed ? QStringLiteral("; %1 runs failed, the first with: %2").arg(loads.failed).arg(loads.why)
                                          : QString());
        ctx.rows.add(QStringLiteral("oe-cli load, whole command"), QStringLiteral("ms"), loads.whole,
                     kConnectFloorMs + kMapFloorMs)
            .note = QStringLiteral("process start to exit: start-up, connect (version + 8 reads), the load and the read-back");
    }
    out() << "oe-cli program on 1 and 4 ports" << Qt::endl;
    programRows(ctx);
}

} // namespace bench
