#pragma once

#include <QList>
#include <QString>

namespace oe {

// Figures of the receive path and of the simulation itself, measured in virtual time: the CPU time the
// code takes for what a stretch of the wire brings, as a share of one core.
struct BenchFigure {
    QString figure;
    QString unit;
    double value = 0;
    QString goal;
    bool pass = true;
    QString note;
};

QList<BenchFigure> trialBench(bool quick);

} // namespace oe
