// What the program costs while it waits: polling, the chart, a silent or slow controller, a pulled
// cable; and how soon it takes input meanwhile.

#include "benchsections.h"

#include <QAction>
#include <QComboBox>

#include <atomic>
#include <thread>

using oe::Session;

namespace bench {

namespace {

// The event loop's time across this many poll periods.
int pollStretchMs(const BenchContext &ctx)
{
    const int periods = ctx.quick ? 12 : 40;
    return int((periods + 0.5) * (ctx.statusMedianMs + 500));
}

// ---- Input latency: a thread posts events to the window's thread as the window system would; the
// window's thread handles each by clicking a button, and the time from posting to the end of the
// click is the latency.

class Probe : public QObject
{
public:
    static inline const QEvent::Type kType = QEvent::Type(QEvent::registerEventType());
    struct Event : QEvent {
        explicit Event(double at) : QEvent(kType), postedMs(at) {}
        double postedMs;
    };
    QPushButton *button = nullptr;
    QList<double> latencies;

    bool event(QEvent *e) override
    {
        if (e->type() != kType)
            return QObject::event(e);
        if (button && button->isEnabled())
            button->click();
        latencies.append(monoMs() - static_cast<Event *>(e)->postedMs);
        return true;
    }
};

QList<double> inputLatency(Probe &probe, int durationMs)
{
    probe.latencies.clear();
    std::atomic<bool> stop{false};
    std::thread poster([&] {
        // An odd period, so the probes fall at every phase of the exchanges.
        while (!stop) {
            QCoreApplication::postEvent(&probe, new Probe::Event(monoMs()));
            std::this_thread::sleep_for(std::chrono::microseconds(23'300));
        }
    });
    waitMs(durationMs);
    stop = true;
    poster.join();
    waitMs(50);
    return probe.latencies;
}

void latencyRow(BenchContext &ctx, Probe &probe, const QString &figure, const QString &note)
{
    const QList<double> latency = inputLatency(probe, ctx.quick ? 3000 : 8000);
    Row &row = ctx.rows.add(figure, QStringLiteral("ms"), latency);
    row.setGoal(QStringLiteral("<= 20 ms"), row.p95 <= 20);
    row.note = note.arg(num(percentile(latency, 100), 2));
}

// One row per way of looking at the chart, with the repaints and the plot pixels drawn afresh a second.
void chartRow(BenchContext &ctx, Rig &rig, const QString &name)
{
    oe::ChartWindow *chart = rig.w().tools().chartWindow();
    oe::ChartView *view = chart->view();
    waitMs(500); // the whole drawing a change of size or span asks for is not the steady cost
    const bool running = chart->isVisible() && rig.w().findChild<oe::Recorder *>()->isRecording();
    const int paints0 = view->paintCount();
    const qint64 pixels0 = view->pixelsDrawn();
    const int whole0 = view->wholeDrawings();
    const int stretchMs = pollStretchMs(ctx);
    const double cpu = cpuPercentOver(stretchMs);
    const double seconds = stretchMs / 1000.0;
    Row &row = ctx.rows.add(name, QStringLiteral("%"), {cpu});
    row.setGoal(QStringLiteral("<= 0.5 %"), running && cpu <= 0.5);
    // The chart's share beside the polling row of the same run: a busy host slows every row of a
    // run alike (the silent controller's row too), which the share above polling mostly cancels.
    row.note = running ? QStringLiteral("%1x%2 plot: %3 repaints and %4 pixels drawn a second, %5 whole drawings; "
                                        "%6 % above polling without the chart in this run (%7 %)")
                             .arg(view->width())
                             .arg(view->height())
                             .arg(num((view->paintCount() - paints0) / seconds, 1))
                             .arg(num((view->pixelsDrawn() - pixels0) / seconds, 0))
                             .arg(view->wholeDrawings() - whole0)
                             .arg(num(cpu - ctx.cpuPollingPercent, 2))
                             .arg(num(ctx.cpuPollingPercent, 2))
                       : QStringLiteral("the chart or the recording did not start");
}

} // namespace

void pollingSection(BenchContext &ctx)
{
    Rig *rig = ctx.connectedRig();
    if (!rig)
        return;
    QList<double> statusWrites;
    rig->port->onWrite = [&](const QByteArray &frame) {
        if (frame.size() == 7 && quint8(frame[2]) == 3)
            statusWrites.append(monoMs());
    };
    waitUntil([&] { return rig->quiet(); }, 3000);
    // The reads of the connect are checked once more in the gaps between polls; the period is the poll's alone.
    waitUntil([&] { return !rig->s().verifying(); }, 20000);
    waitMs(1200);
    statusWrites.clear();
    // One plain wait across the whole stretch: a checking loop here would cost more CPU than the poll.
    ctx.cpuPollingPercent = cpuPercentOver(pollStretchMs(ctx));
    rig->port->onWrite = {};
    QList<double> pollPeriods;
    for (qsizetype i = 1; i < statusWrites.size(); ++i)
        pollPeriods.append(statusWrites[i] - statusWrites[i - 1]);
    const double pollTarget = ctx.statusMedianMs + 500;
    ctx.rows.add(QStringLiteral("poll period"), QStringLiteral("ms"), pollPeriods, kShortFloorMs + 500)
        .setGoal(QStringLiteral("= status exchange + 500 ms = %1 +- 1 %").arg(num(pollTarget)),
                 std::abs(median(pollPeriods) - pollTarget) <= pollTarget / 100);
    ctx.rows.add(QStringLiteral("CPU, connected and polling"), QStringLiteral("%"), {ctx.cpuPollingPercent})
        .setGoal(QStringLiteral("<= 1 %"), ctx.cpuPollingPercent <= 1.0);
}

void chartSection(BenchContext &ctx)
{
    Rig *rig = ctx.connectedRig();
    if (!rig)
        return;
    rig->w().tools().menuTools[0]->trigger();
    rig->dialogs.saveAnswers = {rig->path(QStringLiteral("Recordings/bench.csv"))};
    rig->w().tools().menuTools[1]->trigger();
    oe::ChartWindow *chart = rig->w().tools().chartWindow();
    // Its default size and span, the longest span, and the window grown to a large screen.
    chartRow(ctx, *rig, QStringLiteral("CPU, polling, chart open, recording"));
    chart->spanBox()->setCurrentIndex(chart->spanBox()->count() - 1);
    chartRow(ctx, *rig, QStringLiteral("CPU, polling, chart open (10-minute span), recording"));
    chart->spanBox()->setCurrentIndex(1);
    chart->resize(1920, 1050);
    chartRow(ctx, *rig, QStringLiteral("CPU, polling, chart open (1920x1050 window), recording"));
    rig->w().tools().menuTools[1]->trigger();
    chart->close();
}

void waitingSection(BenchContext &ctx)
{
    Rig *rig = ctx.connectedRig();
    if (!rig)
        return;
    Probe probe;
    rig->sim->command(QStringLiteral("fault silent"));
    waitMs(300);
    const double cpuSilent = cpuPercentOver(ctx.quick ? 4000 : 10000);
    ctx.rows.add(QStringLiteral("CPU, waiting on a silent controller"), QStringLiteral("%"), {cpuSilent})
        .setGoal(QStringLiteral("<= 1 %"), cpuSilent <= 1.0);
    probe.button = rig->w().maps().cmdSaveMap; // the scripted save dialog answers Cancel
    latencyRow(ctx, probe, QStringLiteral("input latency, reply awaited (silent)"),
               QStringLiteral("a thread posts an event every 23.3 ms; the window's thread clicks cmdSaveMap on it; "
                              "posting to end of click. Worst: %1 ms"));
    rig->sim->command(QStringLiteral("fault none,delay=120"));
    waitMs(300);
    latencyRow(ctx, probe, QStringLiteral("input latency, slow controller (delay 120 ms)"),
               QStringLiteral("as above, with replies coming and the settle pause running. Worst: %1 ms"));
    probe.button = nullptr;
    rig->sim->command(QStringLiteral("fault none"));
    waitMs(1500);

    out() << "cable pulled" << Qt::endl;
    const int messagesBefore = int(rig->dialogs.shown.size());
    rig->sim->command(QStringLiteral("hangup"));
    const double cpuPulled = cpuPercentOver(2000);
    Row &pulled = ctx.rows.add(QStringLiteral("CPU, 2 s after the cable is pulled"), QStringLiteral("%"), {cpuPulled});
    pulled.setGoal(QStringLiteral("<= 1 %"), cpuPulled <= 1.0);
    pulled.note = QStringLiteral("session %1 after the hang-up, %2 message(s) shown")
                      .arg(rig->s().state() == Session::State::Idle ? QStringLiteral("idle") : QStringLiteral("NOT idle"))
                      .arg(rig->dialogs.shown.size() - messagesBefore);
    out() << "  sim CPU over the whole paced run: " << num(rig->sim->cpuSecondsUsed(), 2) << " s" << Qt::endl;
}

} // namespace bench
