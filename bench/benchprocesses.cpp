// Start-up and memory, each measured in a child process of its own: the bench's own windows, chart
// and earlier runs would otherwise be counted as the program's.

#include "benchsections.h"

#include <QApplication>

using oe::Session;

namespace bench {

namespace {

// ---- Start-up: a child process builds the window as main.cpp does and reports its first paint.

class FirstPaint : public QObject
{
public:
    QWidget *window = nullptr;
    bool seen = false;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!seen && event->type() == QEvent::Paint && window && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window() == window) {
            seen = true;
            // Timed once the paint pass that holds this event is through.
            QTimer::singleShot(0, [] {
                const double ms = double(monoNs() - qgetenv("OE_BENCH_T0_NS").toLongLong()) / 1e6;
                out() << "painted_ms=" << QString::number(ms, 'f', 3) << Qt::endl;
                QTimer::singleShot(500, [] {
                    out() << "rss_mib=" << QString::number(residentMiB(), 'f', 2) << Qt::endl;
                    QCoreApplication::quit();
                });
            });
        }
        return false;
    }
};

struct Startup {
    QList<double> paintedMs;
    QList<double> rssMiB;
};

Startup startups(const QString &languageIni, int samples)
{
    Startup result;
    QTemporaryDir folder;
    QFile::copy(languageIni, QDir(folder.path()).filePath(QStringLiteral("Language.ini")));
    QString why;
    oe::writeConfigFile(QDir(folder.path()).filePath(QStringLiteral("config.ini")),
                        {oe::portLine(kComPort), QStringLiteral("Language=ENG")}, &why);
    for (int i = 0; i < samples; ++i) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OE_BENCH_T0_NS"), QString::number(monoNs()));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup-child"), folder.path()});
        if (!child.waitForFinished(20000)) {
            child.kill();
            child.waitForFinished();
            continue;
        }
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("painted_ms="))
                result.paintedMs.append(line.mid(11).toDouble());
            else if (line.startsWith("rss_mib="))
                result.rssMiB.append(line.mid(8).toDouble());
        }
    }
    return result;
}

// ---- Memory: many status exchanges back to back on several windows at once, each with its own
// unpaced simulator, so ten thousand of them take minutes rather than hours.

struct MemoryRun {
    int polls = 0;
    QList<QPair<int, double>> rss; // polls done → MiB
    int failed = 0;
    double seconds = 0;
};

// Each session asks for the next status as soon as the last is answered, until totalPolls.
void pollBackToBack(std::vector<std::unique_ptr<Rig>> &rigs, MemoryRun &run, int totalPolls)
{
    int nextMark = 1000;
    QEventLoop loop;
    for (auto &rig : rigs) {
        Session *session = &rig->s();
        session->holdPoll(true);
        QObject::connect(session, &Session::liveReadingsChanged, &loop, [&, session] {
            ++run.polls;
            if (run.polls >= nextMark) {
                run.rss.append({run.polls, residentMiB()});
                nextMark += 1000;
            }
            if (run.polls >= totalPolls)
                loop.quit();
            else
                session->RequestStatus(); // queued behind the one being answered: back to back
        });
        session->RequestStatus();
    }
    // A status that went unanswered ends its chain; start it again.
    QTimer restart;
    QObject::connect(&restart, &QTimer::timeout, &loop, [&] {
        for (auto &rig : rigs) {
            if (!rig->s().engine()->busy() && run.polls < totalPolls) {
                ++run.failed;
                rig->s().RequestStatus();
            }
        }
    });
    restart.start(1000);
    loop.exec();
    for (auto &rig : rigs)
        QObject::disconnect(&rig->s(), &Session::liveReadingsChanged, &loop, nullptr);
}

MemoryRun memoryRun(const QString &simProgram, const QString &languageIni, int windows, int totalPolls)
{
    MemoryRun run;
    std::vector<std::unique_ptr<Rig>> rigs;
    for (int i = 0; i < windows; ++i) {
        rigs.push_back(std::make_unique<Rig>(simProgram, languageIni, kComPort + i, QStringList()));
        if (!rigs.back()->ready() || !rigs.back()->connectNow()) {
            out() << "  memory: window " << i << " did not connect: " << rigs.back()->error << Qt::endl;
            return run;
        }
    }
    waitMs(300);
    run.rss.append({0, residentMiB()});
    QElapsedTimer clock;
    clock.start();
    pollBackToBack(rigs, run, totalPolls);
    run.seconds = double(clock.elapsed()) / 1000.0;
    return run;
}

MemoryRun memoryRunInChild(const QString &simProgram, const QString &languageIni, int windows, int totalPolls)
{
    MemoryRun run;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--memory-child"), simProgram, languageIni, QString::number(windows),
                 QString::number(totalPolls)});
    if (!child.waitForFinished(30 * 60 * 1000)) {
        child.kill();
        child.waitForFinished();
        out() << "  memory: the child did not finish" << Qt::endl;
        return run;
    }
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("rss=")) {
            const QList<QByteArray> parts = line.mid(4).split(',');
            run.rss.append({parts.value(0).toInt(), parts.value(1).toDouble()});
        } else if (line.startsWith("polls=")) {
            run.polls = line.mid(6).toInt();
        } else if (line.startsWith("failed=")) {
            run.failed = line.mid(7).toInt();
        } else if (line.startsWith("seconds=")) {
            run.seconds = line.mid(8).toDouble();
        } else if (!line.trimmed().isEmpty()) {
            out() << "  " << QString::fromLocal8Bit(line) << Qt::endl;
        }
    }
    return run;
}

// The goal is in MB (10^6 bytes); the figures are in MiB.
constexpr double kGoalMiB = 60e6 / (1024.0 * 1024.0);

} // namespace

int startupChild(int argc, char *argv[], const QString &folder)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OE Setup"));
    FirstPaint watcher;
    app.installEventFilter(&watcher);
    oe::MainWindow window(folder);
    watcher.window = &window;
    window.show();
    return app.exec();
}

int memoryChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const MemoryRun run = memoryRun(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                                    QByteArray(argv[4]).toInt(), QByteArray(argv[5]).toInt());
    for (const auto &[polls, mib] : run.rss)
        out() << "rss=" << polls << ',' << QString::number(mib, 'f', 3) << Qt::endl;
    out() << "polls=" << run.polls << Qt::endl << "failed=" << run.failed << Qt::endl
          << "seconds=" << QString::number(run.seconds, 'f', 1) << Qt::endl;
    return 0;
}

void startupSection(BenchContext &ctx)
{
    const Startup startup = startups(ctx.languageIni, ctx.quick ? 5 : 15);
    ctx.startupRssMiB = startup.rssMiB;
    ctx.rows.add(QStringLiteral("start-up to first paint"), QStringLiteral("ms"), startup.paintedMs)
        .setGoal(QStringLiteral("<= 300 ms"), median(startup.paintedMs) <= 300 && !startup.paintedMs.isEmpty());
}

void memorySection(BenchContext &ctx)
{
    if (ctx.startupRssMiB.isEmpty()) // the start-up section did not run
        ctx.startupRssMiB = startups(ctx.languageIni, 3).rssMiB;
    Row &startRss = ctx.rows.add(QStringLiteral("resident memory after start-up"), QStringLiteral("MiB"), ctx.startupRssMiB);
    startRss.setGoal(QStringLiteral("<= 60 MB (57.2 MiB)"), startRss.median <= kGoalMiB);
    startRss.note = QStringLiteral("the start-up child, 500 ms after its first paint");
    const int windows = 4;
    const int polls = ctx.quick ? 2000 : 10000;
    const MemoryRun mem = memoryRunInChild(ctx.simProgram, ctx.languageIni, windows, polls);
    double warm = std::nan(""), last = std::nan("");
    for (const auto &[done, mib] : mem.rss) {
        out() << "  after " << done << " polls: " << num(mib, 2) << " MiB" << Qt::endl;
        if (done == 1000)
            warm = mib;
        last = mib;
    }
    Row &memRow = ctx.rows.add(QStringLiteral("resident memory after %1 polls").arg(mem.polls), QStringLiteral("MiB"),
                               mem.rss.isEmpty() ? QList<double>{} : QList<double>{last});
    const double growth = last - warm;
    memRow.setGoal(QStringLiteral("<= 60 MB (57.2 MiB), flat (<= 1 MiB from poll 1000 on)"),
                   last <= kGoalMiB && growth <= 1.0 && mem.polls >= polls);
    memRow.note = QStringLiteral("%1 windows in a process of their own, each on its own unpaced oe-sim, status requests back to "
                                 "back through Session::RequestStatus (%2 s, %3 restarted); growth from poll 1000: "
                                 "%4 MiB")
                      .arg(windows).arg(num(mem.seconds)).arg(mem.failed).arg(num(growth, 2));
}

} // namespace bench
