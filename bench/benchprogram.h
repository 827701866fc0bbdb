#pragma once

// oe-cli program on several simulated controllers at once: what a batch costs against one controller.

#include <QList>
#include <QString>

namespace bench {

struct ProgramFigures {
    int ports = 0;
    QList<double> wallMs;     // process start to exit, one controller per port
    QList<double> cpuPercent; // oe-cli's user + system time over its wall time, in % of one core
    int failed = 0;           // runs that did not end with every controller programmed
    QString error;
};

// Runs `oe-cli program` runs times on ports paced ports (COM3 upwards, one oe-sim process serving
// them, paced at 9600 baud); each run writes all eight values on every controller.
ProgramFigures programRuns(const QString &simProgram, const QString &cliProgram, int ports, int runs);

} // namespace bench
