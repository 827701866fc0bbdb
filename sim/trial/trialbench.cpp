#include "trialbench.h"

#include "session.h"
#include "simulatedport.h"
#include "trial.h"
#include "virtualclock.h"

#include <ctime>

namespace oe {

namespace {

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// A controller that answers every frame at once and never errs.
QByteArray promptAnswer(const QByteArray &frame)
{
    const char code = frame[2];
    const QByteArray header = QByteArray::fromHex("4355") + QByteArray(1, code);
    switch (code) {
    case 1: return header + frame.mid(3, 1) + QByteArray::fromHex("0032");
    case 2: return header + frame.mid(3, 3);
    case 3: return header + QByteArray::fromHex("05dc006400190050");
    case 4: return header + QByteArray::fromHex("010307");
    case 10: return header + QByteArray(1, '\0');
    default: return {};
    }
}

// Noise one byte at a time, gapMs apart, from here to untilMs; none of it begins a reply.
void scheduleNoise(SimulatedPort &port, qint64 fromMs, qint64 untilMs, double gapMs)
{
    quint32 state = 12345;
    int i = 0;
    for (double at = fromMs; at < untilMs; at += gapMs, ++i) {
        state = state * 1664525u + 1013904223u;
        char byte = char(state >> 24);
        if (byte == 'C')
            byte = 'c';
        port.deliver(QByteArray(1, byte), qint64(at));
    }
}

// The CPU share of a session connected and polling a prompt controller while noise comes in.
double pollingShare(qint64 virtualMs, double noiseGapMs)
{
    VirtualClock clock;
    auto *port = new SimulatedPort(&clock);
    Session session(port, nullptr, &clock);
    port->setWriteHandler([&](const QByteArray &frame) { port->deliver(promptAnswer(frame), clock.nowMs() + 3); });
    session.connectTo(3);
    const bool stop = false;
    clock.runUntil(2000, stop, [] {});
    scheduleNoise(*port, clock.nowMs(), clock.nowMs() + virtualMs, noiseGapMs);
    const double start = cpuSeconds();
    clock.runUntil(clock.nowMs() + virtualMs, stop, [] {});
    return (cpuSeconds() - start) / (double(virtualMs) / 1000.0) * 100.0;
}

// The CPU share of a flood on a controller that never answers: status requests time out one after
// the other while bytes keep coming.
double floodShare(qint64 virtualMs, double gapMs)
{
    VirtualClock clock;
    SimulatedPort port(&clock);
    RequestEngine engine(&port, nullptr, &clock);
    engine.open(3, nullptr);
    std::function<void(const RequestResult &)> again = [&](const RequestResult &) { engine.submit(Request::status(), again); };
    engine.submit(Request::status(), again);
    scheduleNoise(port, 0, virtualMs, gapMs);
    const bool stop = false;
    const double start = cpuSeconds();
    clock.runUntil(virtualMs, stop, [] {});
    return (cpuSeconds() - start) / (double(virtualMs) / 1000.0) * 100.0;
}

} // namespace

QList<BenchFigure> trialBench(bool quick)
{
    QList<BenchFigure> figures;
    const qint64 stretch = quick ? 120000 : 600000;
    const double noise = pollingShare(stretch, 2.0);
    figures.append({QStringLiteral("receive path, polling, 500 noise bytes/s"), QStringLiteral("% of a core"), noise,
                    QStringLiteral("<= 0.5 %"), noise <= 0.5,
                    QStringLiteral("session + engine on a virtual clock, one receive event per byte")});
    const double quiet = pollingShare(stretch, 1e9);
    figures.append({QStringLiteral("receive path, polling, no noise"), QStringLiteral("% of a core"), quiet, {}, true, {}});
    const double flood = floodShare(stretch, 1000.0 / 960.0);
    figures.append({QStringLiteral("receive path, flood 960 bytes/s, no reply"), QStringLiteral("% of a core"), flood,
                    QStringLiteral("<= 1 %"), flood <= 1.0, QStringLiteral("status tries time out back to back")});

    TrialFigures total;
    const double start = cpuSeconds();
    const int sessions = quick ? 200 : 1000;
    for (int i = 0; i < sessions; ++i) {
        TrialOptions options;
        options.seed = 900000 + quint64(i);
        total.add(runTrial(options).figures);
    }
    const double spent = qMax(1e-9, cpuSeconds() - start);
    const double perMinute = double(total.sessions) / spent * 60.0;
    figures.append({QStringLiteral("simulation: sessions of one virtual minute per minute of a core"),
                    QStringLiteral("sessions"), perMinute, QStringLiteral(">= 2000"), perMinute >= 2000,
                    QStringLiteral("%1 seeds").arg(sessions)});
    const double speed = double(total.virtualMs) / 1000.0 / spent;
    figures.append({QStringLiteral("simulation: virtual time per CPU time"), QStringLiteral("x"), speed,
                    QStringLiteral(">= 1000"), speed >= 1000, {}});
    return figures;
}

} // namespace oe
