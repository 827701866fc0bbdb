// oe-bench: how close the program comes to the wire's floor, and what it costs while it waits.
//
// The program's own code (window, session, request engine, QSerialPort) runs on this thread; the
// controller is oe-sim in another process, pacing its pty like a 9600-baud wire. Prints a table and
// writes the same figures as CSV.

#include "benchprogram.h"
#include "benchrig.h"
#include "chartwindow.h"
#include "enginemodel.h"
#include "mapfile.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTextStream>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>

using namespace bench;
using oe::Request;
using oe::Session;

namespace {

// One byte at 9600 baud 8N1: ten bits.
constexpr double kByteMs = 10.0 * 1000.0 / 9600.0;
constexpr double kSettleMs = 50.0;
constexpr double kShortFloorMs = (7 + 1) * kByteMs + kSettleMs; // read, status, version, reset
constexpr double kWriteFloorMs = (9 + 1) * kByteMs + kSettleMs;
constexpr double kLeadInMs = 10.0;
constexpr int kComPort = 3;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

struct Row {
    QString figure;
    QString unit;
    qsizetype samples = 0;
    double median = std::nan("");
    double p95 = std::nan("");
    double floor = std::nan("");
    QString goal;
    int pass = -1; // -1 no goal, 0 fail, 1 pass
    QString note;
};

QList<Row> g_rows;

Row &addRow(const QString &figure, const QString &unit, const QList<double> &samples, double floor = std::nan(""))
{
    Row row;
    row.figure = figure;
    row.unit = unit;
    row.samples = samples.size();
    row.median = median(samples);
    row.p95 = percentile(samples, 95);
    row.floor = floor;
    g_rows.append(row);
    out() << "  " << figure << ": median " << QString::number(row.median, 'f', 2) << ' ' << unit << ", p95 "
          << QString::number(row.p95, 'f', 2) << " (" << samples.size() << " samples)" << Qt::endl;
    return g_rows.last();
}

void setGoal(Row &row, const QString &goal, bool pass)
{
    row.goal = goal;
    row.pass = pass ? 1 : 0;
}

QString num(double v, int decimals = 1)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

void printTable()
{
    const QStringList head{"figure", "unit", "n", "median", "p95", "floor", "median/floor", "goal", "result"};
    QList<QStringList> cells;
    for (const Row &r : g_rows)
        cells.append({r.figure, r.unit, QString::number(r.samples), num(r.median, 2), num(r.p95, 2), num(r.floor, 1),
                      std::isnan(r.floor) ? QStringLiteral("-") : num(r.median / r.floor, 3), r.goal,
                      r.pass < 0 ? QStringLiteral("-") : r.pass ? QStringLiteral("pass") : QStringLiteral("FAIL")});
    QList<qsizetype> width;
    for (const QString &h : head)
        width.append(h.size());
    for (const QStringList &c : cells)
        for (int i = 0; i < c.size(); ++i)
            width[i] = std::max(width[i], c[i].size());
    const auto line = [&](const QStringList &c) {
        QString text = QStringLiteral("|");
        for (int i = 0; i < c.size(); ++i)
            text += QLatin1Char(' ') + (i == 0 || i == 7 ? c[i].leftJustified(width[i]) : c[i].rightJustified(width[i]))
                    + QStringLiteral(" |");
        out() << text << Qt::endl;
    };
    out() << Qt::endl;
    line(head);
    QStringList rule;
    for (qsizetype w : width)
        rule.append(QString(w, QLatin1Char('-')));
    out() << "|-" << rule.join(QStringLiteral("-|-")) << "-|" << Qt::endl;
    for (const QStringList &c : cells)
        line(c);
    for (const Row &r : g_rows) {
        if (!r.note.isEmpty())
            out() << "  " << r.figure << ": " << r.note << Qt::endl;
    }
}

bool writeCsv(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream csv(&file);
    csv << "figure,unit,samples,median,p95,floor,ratio,goal,result\n";
    const auto quoted = [](QString s) { return QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'); };
    for (const Row &r : g_rows)
        csv << quoted(r.figure) << ',' << r.unit << ',' << r.samples << ',' << num(r.median, 3) << ','
            << num(r.p95, 3) << ',' << num(r.floor, 3) << ','
            << (std::isnan(r.floor) ? QStringLiteral("-") : num(r.median / r.floor, 4)) << ',' << quoted(r.goal)
            << ',' << (r.pass < 0 ? "-" : r.pass ? "pass" : "fail") << '\n';
    csv.flush();
    return file.commit();
}

// ---- The line alone: a bare pty client against the paced simulator, no program code.

struct LineTimes {
    QList<double> firstByte;
    QList<double> secondByte;
};

LineTimes lineOnly(const QString &portPath, int samples)
{
    LineTimes times;
    const int fd = ::open(portPath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return times;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const QByteArray status = QByteArray::fromHex("50430300000000");
    for (int i = 0; i < samples; ++i) {
        tcflush(fd, TCIOFLUSH);
        const double t0 = monoMs();
        if (::write(fd, status.constData(), size_t(status.size())) != status.size())
            break;
        pollfd p{fd, POLLIN, 0};
        char sink[64];
        int got = 0;
        while (got < 11 && ::poll(&p, 1, got ? 100 : 500) == 1) {
            const ssize_t n = ::read(fd, sink, got < 2 ? 1 : sizeof sink);
            if (n <= 0)
                break;
            got += int(n);
            if (got == 1)
                times.firstByte.append(monoMs() - t0);
            if (got == 2)
                times.secondByte.append(monoMs() - t0);
        }
        ::usleep(20000);
    }
    ::close(fd);
    return times;
}

// ---- Exchanges through the session

enum class Kind { Read, Write, Status, Version, Reset };

struct ExchangeTimes {
    QList<double> fromFrame; // the frame handed to the port → the result
    QList<double> fromCall;  // the session asked → the result (a write's lead-in included)
    QList<double> line;      // the frame handed to the port → the first receive event
    QList<double> own;       // the first receive event → the result, less the 50 ms pause
    int failed = 0;
};

ExchangeTimes exchanges(Rig &rig, Kind kind, int samples)
{
    ExchangeTimes times;
    QEventLoop loop;
    double called = 0;
    int done = 0;
    std::function<void()> one;
    const auto finished = [&](bool ok) {
        const double now = monoMs();
        if (ok) {
            times.fromFrame.append(now - rig.port->lastWriteMs);
            times.fromCall.append(now - called);
            times.line.append(rig.port->lastReceiveMs - rig.port->lastWriteMs);
            times.own.append(now - rig.port->lastReceiveMs - kSettleMs);
        } else {
            ++times.failed;
        }
        if (++done >= samples)
            loop.quit();
        else
            QTimer::singleShot(20, one); // a short rest, so no tail of the last reply is about
    };
    const qint32 rpmMin = rig.s().Parameters.RpmMin;
    one = [&] {
        called = monoMs();
        switch (kind) {
        case Kind::Read: rig.s().ReadParameter(2, finished); break;
        case Kind::Write: rig.s().WriteParameter(2, rpmMin, finished); break;
        case Kind::Version: rig.s().RequestVersion(finished); break;
        case Kind::Reset: rig.s().SendReset(finished); break;
        case Kind::Status:
            rig.s().engine()->submit(Request::status(), [&](const oe::RequestResult &r) { finished(r.answered()); });
            break;
        }
    };
    QTimer::singleShot(0, one);
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
    guard.start(samples * 4000);
    loop.exec();
    return times;
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

struct Startup {
    QList<double> paintedMs;
    QList<double> rssMiB;
};

Startup startups(const QString &self, const QString &languageIni, int samples)
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
        child.start(self, {QStringLiteral("--startup-child"), folder.path()});
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
    int nextMark = 1000;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
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
    run.seconds = double(clock.elapsed()) / 1000.0;
    for (auto &rig : rigs)
        QObject::disconnect(&rig->s(), &Session::liveReadingsChanged, &loop, nullptr);
    return run;
}

// The memory run in a process of its own: the bench's own windows, chart and earlier runs would
// otherwise be counted as the program's. Prints "rss=polls,MiB" lines and the run's totals.
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

// Two map files whose values differ in every line and stay within the sliders' ranges.
bool writeMaps(const QString &a, const QString &b)
{
    QString why;
    // Both within the sliders' ranges and in order: oe-cli refuses to send a value beyond a slider.
    return oe::writeMapFile(a, {4, 20, 1500, 3000, 9000, 200, 100, 100}, &why)
           && oe::writeMapFile(b, {6, 24, 1800, 3500, 9500, 240, 80, 120}, &why);
}

} // namespace

// A line with noise between the replies, as a running engine puts on it: how many tries get their
// reply, and how many connects end with every parameter read and right.
struct NoisyRun {
    int tries = 0;
    int answered = 0;
    int connects = 0;
    int complete = 0;
};

NoisyRun noisyLine(const QString &simProgram, const QString &languageIni, int bytesPerSecond, int connects, int pollMs)
{
    NoisyRun run;
    Rig rig(simProgram, languageIni, kComPort,
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
    const oe::SimParameters expected = oe::defaultSimParameters();
    for (int i = 0; i < connects; ++i) {
        if (rig.connectNow()) {
            ++run.connects;
            // The identification too: its reply carries nothing that could be checked.
            QStringList wrong;
            if (rig.w().connection().Label9->text() != QStringLiteral("Ver. 1.3.7"))
                wrong << rig.w().connection().Label9->text();
            for (int p = 0; p < oe::kParameterCount; ++p) {
                const auto index = oe::ParameterIndex(p);
                if (!rig.s().parameterKnown(index))
                    wrong << QStringLiteral("parameter %1 unknown").arg(p);
                else if (rig.s().Parameters[index] != expected[size_t(p)])
                    wrong << QStringLiteral("parameter %1 = %2").arg(p).arg(rig.s().Parameters[index]);
            }
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

void noiseRows(const QString &simProgram, const QString &languageIni, bool quick)
{
    for (const int bytesPerSecond : {100, 500}) {
        out() << "noise, " << bytesPerSecond << " bytes/s" << Qt::endl;
        const int connects = 10;
        const NoisyRun run = noisyLine(simProgram, languageIni, bytesPerSecond, connects, quick ? 10000 : 30000);
        const double share = run.tries > 0 ? 100.0 * run.answered / run.tries : 0;
        const double goal = bytesPerSecond <= 100 ? 95 : 80;
        Row &tries = addRow(QStringLiteral("noise %1 bytes/s: tries answered").arg(bytesPerSecond), QStringLiteral("%"),
                            {share});
        setGoal(tries, QStringLiteral(">= %1 %").arg(goal), share >= goal);
        tries.note = QStringLiteral("%1 of %2 tries, over %3 connects and the polls after them")
                         .arg(run.answered).arg(run.tries).arg(connects);
        Row &full = addRow(QStringLiteral("noise %1 bytes/s: connects with every parameter read").arg(bytesPerSecond),
                           QStringLiteral("of %1").arg(connects), {double(run.complete)});
        setGoal(full, QStringLiteral("%1 of %1").arg(connects), run.complete == connects);
        full.note = QStringLiteral("%1 connected; each with the controller's version, and every parameter known "
                                   "and holding the controller's value")
                        .arg(run.connects);
    }
}

// oe-cli program on one and on four paced controllers: side by side, four cost little more than one.
void programRows(const QString &simProgram, const QString &cliProgram, bool quick)
{
    out() << "oe-cli program on 1 and 4 ports" << Qt::endl;
    const int runs = quick ? 3 : 8;
    const ProgramFigures one = programRuns(simProgram, cliProgram, 1, runs);
    const ProgramFigures four = programRuns(simProgram, cliProgram, 4, runs);
    for (const ProgramFigures *f : {&one, &four}) {
        const QString ports = f->ports == 1 ? QStringLiteral("1 port") : QStringLiteral("%1 ports").arg(f->ports);
        // Per controller: the identification twice, every value read until two answers agree after the
        // connect and after the writes (32 reads), and the eight writes.
        Row &wall = addRow(QStringLiteral("oe-cli program, %1 (42 exchanges each)").arg(ports),
                           QStringLiteral("ms"), f->wallMs, 34 * kShortFloorMs + 8 * kWriteFloorMs);
        wall.note = f->error.isEmpty() ? QStringLiteral("process start to exit, backups included; %1 of %2 runs failed")
                                             .arg(f->failed).arg(runs)
                                       : f->error;
        if (!f->error.isEmpty() || f->failed > 0)
            setGoal(wall, QStringLiteral("every run programs every controller"), false);
        addRow(QStringLiteral("CPU, oe-cli program, %1").arg(ports), QStringLiteral("% of a core"), f->cpuPercent).note =
            QStringLiteral("oe-cli's user + system time over its run");
    }
    const double ratio = median(four.wallMs) / median(one.wallMs);
    Row &row = addRow(QStringLiteral("oe-cli program: 4 ports / 1 port"), QStringLiteral("x"), {ratio});
    setGoal(row, QStringLiteral("<= 1.2"), ratio <= 1.2);
    row.note = QStringLiteral("medians of the two rows above; in a row the four would take 4x");
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--startup-child") == 0)
        return startupChild(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc == 6 && qstrcmp(argv[1], "--memory-child") == 0)
        return memoryChild(argc, argv);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Benchmarks of OE Setup against the wire's floor."));
    parser.addHelpOption();
    const QCommandLineOption quickOption(QStringLiteral("quick"), QStringLiteral("Fewer samples (about a minute)."));
    const QCommandLineOption csvOption(QStringLiteral("csv"), QStringLiteral("Write the figures as CSV here."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("The oe-sim program."),
                                       QStringLiteral("PATH"), QStringLiteral(OE_SIM_PROGRAM));
    const QCommandLineOption noiseOption(QStringLiteral("noise-only"), QStringLiteral("Only the rows of the noisy line."));
    const QCommandLineOption programOption(QStringLiteral("program-only"),
                                           QStringLiteral("Only the rows of oe-cli program on 1 and 4 ports."));
    parser.addOptions({quickOption, csvOption, simOption, noiseOption, programOption});
    parser.process(app);
    const bool quick = parser.isSet(quickOption);
    const QString simProgram = parser.value(simOption);
    const QString cliProgram = QStringLiteral(OE_CLI_PROGRAM);
    const QString languageIni = QStringLiteral(OE_LANGUAGE_INI);
    if (parser.isSet(noiseOption) || parser.isSet(programOption)) {
        if (parser.isSet(noiseOption))
            noiseRows(simProgram, languageIni, quick);
        if (parser.isSet(programOption))
            programRows(simProgram, cliProgram, quick);
        printTable();
        return std::none_of(g_rows.cbegin(), g_rows.cend(), [](const Row &r) { return r.pass == 0; }) ? 0 : 1;
    }
    const int n = quick ? 10 : 40;

    out() << "oe-bench: " << (quick ? "quick" : "full") << " run; floors at 9600 baud 8N1: "
          << num(kShortFloorMs, 1) << " ms (7+1 bytes), " << num(kWriteFloorMs, 1) << " ms (9+1 bytes)" << Qt::endl;

    // Start-up first, while the machine is as quiet as this run gets.
    out() << "start-up" << Qt::endl;
    const Startup startup = startups(QCoreApplication::applicationFilePath(), languageIni, quick ? 5 : 15);
    setGoal(addRow(QStringLiteral("start-up to first paint"), QStringLiteral("ms"), startup.paintedMs),
            QStringLiteral("<= 300 ms"), median(startup.paintedMs) <= 300 && !startup.paintedMs.isEmpty());

    Rig rig(simProgram, languageIni, kComPort, {QStringLiteral("--pace"), QStringLiteral("9600")});
    if (!rig.ready()) {
        out() << "oe-bench: " << rig.error << Qt::endl;
        return 2;
    }

    out() << "line alone (bare pty client, no program code)" << Qt::endl;
    const LineTimes line = lineOnly(rig.path(QStringLiteral("ports/COM3")), n);
    Row &first = addRow(QStringLiteral("line alone: status out, first reply byte in"), QStringLiteral("ms"),
                        line.firstByte, 8 * kByteMs);
    first.note = QStringLiteral("the paced simulator and the pty, no program code: its excess over the floor is "
                                "outside the program");
    setGoal(first, QStringLiteral("<= floor + 0.2 ms"), first.median <= 8 * kByteMs + 0.2);
    Row &second = addRow(QStringLiteral("line alone: status out, second reply byte in"), QStringLiteral("ms"),
                         line.secondByte, 9 * kByteMs);
    second.note = QStringLiteral("for comparison: the program's receive event comes on the first byte, so the first "
                                 "row plus the 50 ms pause is the soonest it can decode a reply on this line");

    out() << "connect" << Qt::endl;
    QList<double> connects;
    double connectStarted = 0;
    QObject::connect(&rig.s(), &Session::stateChanged, [&](Session::State state) {
        if (state == Session::State::Connected && connectStarted > 0) {
            connects.append(monoMs() - connectStarted);
            connectStarted = 0;
        }
    });
    // The line's share of each connect: from every frame to the first receive event after it.
    QList<double> connectsNet, openTimes;
    double lineTotal = 0;
    int framesSeen = 0;
    double firstFrame = 0;
    QList<double> identToRead;
    double identifiedAt = 0;
    const QMetaObject::Connection onIdentified =
        QObject::connect(&rig.s(), &Session::identified, [&] { identifiedAt = monoMs(); });
    rig.port->onWrite = [&](const QByteArray &) {
        if (framesSeen++ == 0)
            firstFrame = monoMs();
        if (framesSeen == 2)
            identToRead.append(monoMs() - identifiedAt);
    };
    rig.port->onFirstReceive = [&] { lineTotal += rig.port->lastReceiveMs - rig.port->lastWriteMs; };
    for (int i = 0; i < (quick ? 5 : 15); ++i) {
        lineTotal = 0;
        framesSeen = 0;
        const double started = monoMs();
        connectStarted = started;
        if (!rig.connectNow())
            out() << "  connect failed" << Qt::endl;
        if (framesSeen == 9 && connects.size() == i + 1) {
            openTimes.append(firstFrame - started);
            // As if the line had delivered each reply's first byte at wire speed after its frame.
            connectsNet.append(connects.last() - lineTotal + 9 * 8 * kByteMs);
        }
        rig.w().connection().btnConnect->click(); // disconnect
        waitMs(100);
    }
    rig.port->onWrite = {};
    rig.port->onFirstReceive = {};
    QObject::disconnect(onIdentified);
    const double connectFloor = 9 * kShortFloorMs;
    setGoal(addRow(QStringLiteral("connect (version + 8 reads)"), QStringLiteral("ms"), connects, connectFloor),
            QStringLiteral("<= 9 x floor + 20 ms = %1").arg(num(connectFloor + 20)), median(connects) <= connectFloor + 20);
    Row &net = addRow(QStringLiteral("connect, on a line at wire speed"), QStringLiteral("ms"), connectsNet, connectFloor);
    net.note = QStringLiteral("no goal (the row above is judged); each frame's time to its first receive event replaced "
                              "by the wire's 8 bytes (8.3 ms): the program's own share plus what any program on this "
                              "line must wait");
    addRow(QStringLiteral("connect: click to first frame (opening the port)"), QStringLiteral("ms"), openTimes);
    addRow(QStringLiteral("connect: identification to first read frame"), QStringLiteral("ms"), identToRead).note =
        QStringLiteral("what the window does on identification before the reads go on; config.ini is written "
                       "after the reads, since its flush to disk took ~7 ms here");

    if (!rig.connectNow()) {
        out() << "oe-bench: cannot connect" << Qt::endl;
        return 2;
    }

    out() << "exchanges" << Qt::endl;
    rig.s().holdPoll(true);
    waitUntil([&] { return rig.quiet(); }, 3000);
    const struct {
        Kind kind;
        const char *name;
        double floor;
    } kinds[] = {{Kind::Read, "read", kShortFloorMs},       {Kind::Write, "write", kWriteFloorMs},
                 {Kind::Status, "status", kShortFloorMs},   {Kind::Version, "version", kShortFloorMs},
                 {Kind::Reset, "reset", kShortFloorMs}};
    double statusMedian = kShortFloorMs;
    for (const auto &k : kinds) {
        const ExchangeTimes t = exchanges(rig, k.kind, n);
        Row &row = addRow(QStringLiteral("exchange: %1").arg(QLatin1String(k.name)), QStringLiteral("ms"), t.fromFrame,
                          k.floor);
        setGoal(row, QStringLiteral("<= floor + 3 ms"), row.median <= k.floor + 3 && t.failed == 0);
        row.note = QStringLiteral("frame to first receive event (the line: the frame and one reply byte at wire speed): "
                                  "median %1 ms; receive event to result, less the 50 ms pause (the program): "
                                  "median %2 ms, p95 %3 ms")
                       .arg(num(median(t.line), 2), num(median(t.own), 2), num(percentile(t.own, 95), 2));
        if (t.failed)
            row.note += QStringLiteral("; %1 not answered").arg(t.failed);
        if (k.kind == Kind::Status) {
            statusMedian = row.median;
            Row &own = addRow(QStringLiteral("exchange: status, the program's own share"), QStringLiteral("ms"), t.own);
            setGoal(own, QStringLiteral("<= 3 ms"), own.median <= 3);
            own.note = QStringLiteral("receive event to result, less the 50 ms pause: the settle timer's lateness and the "
                                      "decoding; the line's part is outside the program");
        }
        if (k.kind == Kind::Write) {
            Row &lead = addRow(QStringLiteral("exchange: write, with its 10 ms lead-in"), QStringLiteral("ms"), t.fromCall,
                               k.floor + kLeadInMs);
            setGoal(lead, QStringLiteral("<= floor + 10 ms + 3 ms"), lead.median <= k.floor + kLeadInMs + 3);
            lead.note = QStringLiteral("timed from the session's call: the program rests 10 ms before every write "
                                       "frame by design, so this row's floor carries it");
        }
    }

    out() << "map load" << Qt::endl;
    const QString mapA = rig.path(QStringLiteral("Maps/a.map")), mapB = rig.path(QStringLiteral("Maps/b.map"));
    writeMaps(mapA, mapB);
    rig.s().holdPoll(false);
    QList<double> loads;
    double loadStarted = 0;
    QObject::connect(&rig.s(), &Session::mapLoaded, [&](const oe::MapLoadResult &) { loads.append(monoMs() - loadStarted); });
    for (int i = 0; i < (quick ? 4 : 12); ++i) {
        waitUntil([&] { return rig.quiet(); }, 3000);
        rig.dialogs.openAnswers = {i % 2 ? mapB : mapA};
        loadStarted = monoMs();
        rig.w().maps().cmdLoadMap->click();
        waitUntil([&] { return loads.size() > i; }, 10000);
        waitMs(50);
    }
    const double mapFloor = 8 * kWriteFloorMs + 8 * kShortFloorMs;
    addRow(QStringLiteral("map load (8 writes + 8 reads)"), QStringLiteral("ms"), loads, mapFloor).note =
        QStringLiteral("no goal; includes the eight 10 ms write lead-ins (%1 ms floor with them)").arg(num(mapFloor + 80));

    out() << "oe-cli load" << Qt::endl;
    // The console program on the same line: the window lets go of the port for it.
    rig.w().connection().btnConnect->click();
    QList<double> cliLoads, cliWhole;
    int cliFailed = 0;
    QString cliWhy; // the first failed run's last word
    for (int i = 0; i < (quick ? 3 : 8); ++i) {
        QProcess cli;
        double started = 0, firstStep = 0;
        QByteArray err;
        QObject::connect(&cli, &QProcess::readyReadStandardError, [&] {
            err += cli.readAllStandardError();
            if (firstStep == 0 && err.contains("load 1/16"))
                firstStep = monoMs();
        });
        started = monoMs();
        cli.start(cliProgram, {QStringLiteral("--folder"), rig.folder.path(), QStringLiteral("-p"), rig.path(QStringLiteral("ports/COM3")),
                               QStringLiteral("load"), i % 2 ? mapB : mapA, QStringLiteral("--yes")});
        waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 20000);
        const double ended = monoMs();
        if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0 || firstStep == 0) {
            if (cliFailed++ == 0)
                cliWhy = QString::fromUtf8(err).trimmed().section(QLatin1Char('\n'), -1);
            continue;
        }
        cliWhole.append(ended - started);
        cliLoads.append(ended - firstStep);
    }
    Row &cliLoad = addRow(QStringLiteral("oe-cli load (8 writes + 8 reads)"), QStringLiteral("ms"), cliLoads, mapFloor);
    cliLoad.note = QStringLiteral("from its first progress line to the end of the process; no goal; with the eight "
                                  "10 ms lead-ins the floor is %1 ms, and oe-cli then reads the eight values once "
                                  "more, judging the read-back only when two answers agree (%2 ms more)%3")
                       .arg(num(mapFloor + 80), num(8 * kShortFloorMs),
                            cliFailed ? QStringLiteral("; %1 runs failed, the first with: %2").arg(cliFailed).arg(cliWhy)
                                      : QString());
    addRow(QStringLiteral("oe-cli load, whole command"), QStringLiteral("ms"), cliWhole, connectFloor + mapFloor).note =
        QStringLiteral("process start to exit: start-up, connect (version + 8 reads), the load and the read-back");
    if (!rig.connectNow()) {
        out() << "oe-bench: cannot connect again" << Qt::endl;
        return 2;
    }

    out() << "poll period and CPU while polling" << Qt::endl;
    QList<double> statusWrites;
    rig.port->onWrite = [&](const QByteArray &frame) {
        if (frame.size() == 7 && quint8(frame[2]) == 3)
            statusWrites.append(monoMs());
    };
    waitUntil([&] { return rig.quiet(); }, 3000);
    // The reads above are checked once more in the gaps between polls; the period is the poll's alone.
    waitUntil([&] { return !rig.s().verifying(); }, 20000);
    waitMs(1200);
    statusWrites.clear();
    const int periods = quick ? 12 : 40;
    // One plain wait across the whole stretch: a checking loop here would cost more CPU than the poll.
    const double cpuPolling = cpuPercentOver(int((periods + 0.5) * (statusMedian + 500)));
    QList<double> pollPeriods;
    for (qsizetype i = 1; i < statusWrites.size(); ++i)
        pollPeriods.append(statusWrites[i] - statusWrites[i - 1]);
    const double pollTarget = statusMedian + 500;
    Row &poll = addRow(QStringLiteral("poll period"), QStringLiteral("ms"), pollPeriods, kShortFloorMs + 500);
    setGoal(poll, QStringLiteral("= status exchange + 500 ms = %1 +- 1 %").arg(num(pollTarget)),
            std::abs(poll.median - pollTarget) <= pollTarget / 100);
    setGoal(addRow(QStringLiteral("CPU, connected and polling"), QStringLiteral("%"), {cpuPolling}),
            QStringLiteral("<= 1 %"), cpuPolling <= 1.0);
    rig.port->onWrite = {};

    out() << "CPU with the chart open and a recording running" << Qt::endl;
    rig.w().tools().menuTools[0]->trigger();
    rig.dialogs.saveAnswers = {rig.path(QStringLiteral("Recordings/bench.csv"))};
    rig.w().tools().menuTools[1]->trigger();
    oe::ChartWindow *chart = rig.w().tools().chartWindow();
    const double toolsMs = (periods + 0.5) * (statusMedian + 500);
    // One row per way of looking at the chart: its default size and span, the longest span, and the
    // window grown to a large screen; each with the repaints and the plot pixels drawn afresh a second.
    auto chartRow = [&](const QString &name) {
        oe::ChartView *view = chart->view();
        waitMs(500); // the whole drawing a change of size or span asks for is not the steady cost
        const bool running = chart->isVisible() && rig.w().findChild<oe::Recorder *>()->isRecording();
        const int paints0 = view->paintCount();
        const qint64 pixels0 = view->pixelsDrawn();
        const int whole0 = view->wholeDrawings();
        const double cpu = cpuPercentOver(int(toolsMs));
        const double seconds = toolsMs / 1000;
        Row &row = addRow(name, QStringLiteral("%"), {cpu});
        setGoal(row, QStringLiteral("<= 0.5 %"), running && cpu <= 0.5);
        // The chart's share beside the polling row of the same run: a busy host slows every row of a
        // run alike (the silent controller's row too), which the share above polling mostly cancels.
        row.note = running ? QStringLiteral("%1x%2 plot: %3 repaints and %4 pixels drawn a second, %5 whole drawings; "
                                            "%6 % above polling without the chart in this run (%7 %)")
                                 .arg(view->width())
                                 .arg(view->height())
                                 .arg(num((view->paintCount() - paints0) / seconds, 1))
                                 .arg(num((view->pixelsDrawn() - pixels0) / seconds, 0))
                                 .arg(view->wholeDrawings() - whole0)
                                 .arg(num(cpu - cpuPolling, 2))
                                 .arg(num(cpuPolling, 2))
                           : QStringLiteral("the chart or the recording did not start");
    };
    chartRow(QStringLiteral("CPU, polling, chart open, recording"));
    chart->spanBox()->setCurrentIndex(chart->spanBox()->count() - 1);
    chartRow(QStringLiteral("CPU, polling, chart open (10-minute span), recording"));
    chart->spanBox()->setCurrentIndex(1);
    chart->resize(1920, 1050);
    chartRow(QStringLiteral("CPU, polling, chart open (1920x1050 window), recording"));
    rig.w().tools().menuTools[1]->trigger();
    chart->close();

    out() << "silent controller: CPU and input latency" << Qt::endl;
    Probe probe;
    rig.sim->command(QStringLiteral("fault silent"));
    waitMs(300);
    const double cpuSilent = cpuPercentOver(quick ? 4000 : 10000);
    setGoal(addRow(QStringLiteral("CPU, waiting on a silent controller"), QStringLiteral("%"), {cpuSilent}),
            QStringLiteral("<= 1 %"), cpuSilent <= 1.0);
    probe.button = rig.w().maps().cmdSaveMap; // the scripted save dialog answers Cancel
    const QList<double> latencySilent = inputLatency(probe, quick ? 3000 : 8000);
    Row &ls = addRow(QStringLiteral("input latency, reply awaited (silent)"), QStringLiteral("ms"), latencySilent);
    setGoal(ls, QStringLiteral("<= 20 ms"), ls.p95 <= 20);
    ls.note = QStringLiteral("a thread posts an event every 23.3 ms; the window's thread clicks cmdSaveMap on it; "
                             "posting to end of click. Worst: %1 ms").arg(num(percentile(latencySilent, 100), 2));
    rig.sim->command(QStringLiteral("fault none,delay=120"));
    waitMs(300);
    const QList<double> latencySlow = inputLatency(probe, quick ? 3000 : 8000);
    Row &lw = addRow(QStringLiteral("input latency, slow controller (delay 120 ms)"), QStringLiteral("ms"), latencySlow);
    setGoal(lw, QStringLiteral("<= 20 ms"), lw.p95 <= 20);
    lw.note = QStringLiteral("as above, with replies coming and the settle pause running. Worst: %1 ms")
                  .arg(num(percentile(latencySlow, 100), 2));
    probe.button = nullptr;
    rig.sim->command(QStringLiteral("fault none"));
    waitMs(1500);

    out() << "cable pulled" << Qt::endl;
    const int messagesBefore = int(rig.dialogs.shown.size());
    rig.sim->command(QStringLiteral("hangup"));
    const double cpuPulled = cpuPercentOver(2000);
    Row &pulled = addRow(QStringLiteral("CPU, 2 s after the cable is pulled"), QStringLiteral("%"), {cpuPulled});
    setGoal(pulled, QStringLiteral("<= 1 %"), cpuPulled <= 1.0);
    pulled.note = QStringLiteral("session %1 after the hang-up, %2 message(s) shown")
                      .arg(rig.s().state() == Session::State::Idle ? QStringLiteral("idle") : QStringLiteral("NOT idle"))
                      .arg(rig.dialogs.shown.size() - messagesBefore);
    out() << "  sim CPU over the whole paced run: " << num(rig.sim->cpuSecondsUsed(), 2) << " s" << Qt::endl;

    noiseRows(simProgram, languageIni, quick);
    programRows(simProgram, cliProgram, quick);

    out() << "memory" << Qt::endl;
    Row &startRss = addRow(QStringLiteral("resident memory after start-up"), QStringLiteral("MiB"), startup.rssMiB);
    // The goal is in MB (10^6 bytes); the figures are in MiB.
    constexpr double kGoalMiB = 60e6 / (1024.0 * 1024.0);
    setGoal(startRss, QStringLiteral("<= 60 MB (57.2 MiB)"), startRss.median <= kGoalMiB);
    startRss.note = QStringLiteral("the start-up child, 500 ms after its first paint");
    const int windows = 4;
    const MemoryRun mem = memoryRunInChild(simProgram, languageIni, windows, quick ? 2000 : 10000);
    QList<double> endRss;
    double warm = std::nan(""), last = std::nan("");
    for (const auto &[polls, mib] : mem.rss) {
        out() << "  after " << polls << " polls: " << num(mib, 2) << " MiB" << Qt::endl;
        if (polls == 1000)
            warm = mib;
        last = mib;
    }
    if (!mem.rss.isEmpty())
        endRss.append(last);
    Row &memRow = addRow(QStringLiteral("resident memory after %1 polls").arg(mem.polls), QStringLiteral("MiB"), endRss);
    const double growth = last - warm;
    setGoal(memRow, QStringLiteral("<= 60 MB (57.2 MiB), flat (<= 1 MiB from poll 1000 on)"),
            last <= kGoalMiB && growth <= 1.0 && mem.polls >= (quick ? 2000 : 10000));
    memRow.note = QStringLiteral("%1 windows in a process of their own, each on its own unpaced oe-sim, status requests back to "
                                 "back through Session::RequestStatus (%2 s, %3 restarted); growth from poll 1000: "
                                 "%4 MiB")
                      .arg(windows).arg(num(mem.seconds)).arg(mem.failed).arg(num(growth, 2));

    printTable();
    if (parser.isSet(csvOption)) {
        if (writeCsv(parser.value(csvOption)))
            out() << "CSV: " << parser.value(csvOption) << Qt::endl;
        else
            out() << "oe-bench: cannot write " << parser.value(csvOption) << Qt::endl;
    }
    const bool allPass = std::none_of(g_rows.cbegin(), g_rows.cend(), [](const Row &r) { return r.pass == 0; });
    return allPass ? 0 : 1;
}
