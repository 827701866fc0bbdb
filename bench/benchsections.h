#pragma once

// The benchmark's sections: each measures one thing and adds its rows to the shared table. Those that
// drive the program's window share one rig: the window on the real port, oe-sim paced at 9600 baud.

#include "benchrig.h"
#include "benchrows.h"

#include <memory>

namespace bench {

// One byte at 9600 baud 8N1: ten bits.
constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;
constexpr double kSettleMs = 50.0;
constexpr double kShortFloorMs = (7 + 1) * kByteMs + kSettleMs; // read, status, version, reset
constexpr double kWriteFloorMs = (9 + 1) * kByteMs + kSettleMs;
constexpr double kLeadInMs = 10.0;
constexpr double kConnectFloorMs = 9 * kShortFloorMs;        // version + 8 reads
constexpr double kMapFloorMs = 8 * kWriteFloorMs + 8 * kShortFloorMs; // 8 writes + 8 reads
constexpr int kComPort = 3;

class BenchContext
{
public:
    BenchContext(bool quick, QString simProgram, QString cliProgram, QString languageIni);
    ~BenchContext();

    const bool quick;
    const QString simProgram;
    const QString cliProgram;
    const QString languageIni;
    RowTable rows;
    // Samples per exchange figure.
    int samples() const { return quick ? 10 : 40; }

    // The shared rig, started on first use; nullptr (and said why) when oe-sim or the window did not
    // come up.
    Rig *rig();
    // The shared rig with its window connected and polling.
    Rig *connectedRig();
    // The shared rig with its window disconnected (the port free for another client).
    Rig *idleRig();

    // Figures a later section compares with; the defaults stand when their section did not run.
    double statusMedianMs = kShortFloorMs;
    double cpuPollingPercent = std::nan("");
    QList<double> startupRssMiB;

private:
    std::unique_ptr<Rig> m_rig;
};

// Sections, in the order of a whole run (benchmain.cpp holds their table).
void startupSection(BenchContext &ctx);
void lineSection(BenchContext &ctx);
void connectSection(BenchContext &ctx);
void exchangesSection(BenchContext &ctx);
void mapLoadSection(BenchContext &ctx);
void cliSection(BenchContext &ctx);
void recordingSection(BenchContext &ctx);
void pollingSection(BenchContext &ctx);
void chartSection(BenchContext &ctx);
void waitingSection(BenchContext &ctx);
void noiseSection(BenchContext &ctx);
void memorySection(BenchContext &ctx);

// The child processes the start-up and memory sections measure in.
int startupChild(int argc, char *argv[], const QString &folder);
int memoryChild(int argc, char *argv[]);

} // namespace bench
