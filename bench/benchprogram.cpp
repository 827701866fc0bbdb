#include "benchprogram.h"

#include "benchsupport.h"
#include "mapfile.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace bench {

namespace {

// CPU seconds of the children this process has waited for.
double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

ProgramFigures programRuns(const QString &simProgram, const QString &cliProgram, int ports, int runs)
{
    ProgramFigures figures;
    figures.ports = ports;
    QTemporaryDir folder;
    QStringList extra{QStringLiteral("--pace"), QStringLiteral("9600")};
    for (int i = 1; i < ports; ++i)
        extra << QStringLiteral("--port") << QStringLiteral("COM%1").arg(3 + i);
    SimProcess sim(simProgram, folder.path(), 3, extra);
    if (!sim.start(&figures.error) || !sim.waitForLinks(ports, 5000)) {
        if (figures.error.isEmpty())
            figures.error = QStringLiteral("oe-sim did not link %1 ports").arg(ports);
        return figures;
    }
    // Two maps that differ in every value: each run writes all eight on every controller.
    const QString mapA = QDir(folder.path()).filePath(QStringLiteral("a.map"));
    const QString mapB = QDir(folder.path()).filePath(QStringLiteral("b.map"));
    oe::writeMapFile(mapA, {6, 16, 650, 1550, 9050, 170, 90, 110}, nullptr);
    oe::writeMapFile(mapB, {7, 17, 700, 1600, 9100, 180, 100, 120}, nullptr);
    for (int run = 0; run < runs; ++run) {
        QStringList arguments{QStringLiteral("--folder"), folder.path(), QStringLiteral("program"), run % 2 ? mapB : mapA};
        for (int i = 0; i < ports; ++i)
            arguments << QStringLiteral("-p") << QStringLiteral("COM%1").arg(3 + i);
        QProcess cli;
        const double cpu0 = childrenCpuSeconds();
        const double started = monoMs();
        cli.start(cliProgram, arguments);
        waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 30000);
        const double wall = monoMs() - started;
        if (cli.state() != QProcess::NotRunning || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
            cli.kill();
            cli.waitForFinished(3000);
            ++figures.failed;
            continue;
        }
        figures.wallMs.append(wall);
        figures.cpuPercent.append((childrenCpuSeconds() - cpu0) / (wall / 1000.0) * 100.0);
    }
    return figures;
}

} // namespace bench
