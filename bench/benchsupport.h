#pragma once

// What the benchmark and the soak share: oe-sim as a separate process, clocks, CPU and memory of this
// process, and a little statistics. Everything waits by running the event loop, never by sleeping:
// the program under measurement lives on this thread.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <functional>
#include <optional>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: the same clock in every process, so a child can tell how long ago
// its parent started it.
inline qint64 monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

inline double monoMs() { return double(monoNs()) / 1e6; }

// User plus system CPU time of this process, in seconds.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Resident memory of this process, in MiB (VmRSS).
inline double residentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Runs the event loop for this long, with a single timer, so that a CPU figure taken across the wait
// counts only what the program does meanwhile.
inline void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// This process's share of a core, in percent, while the event loop runs for this long.
inline double cpuPercentOver(int ms)
{
    const double cpu0 = cpuSeconds(), wall0 = monoMs();
    waitMs(ms);
    return (cpuSeconds() - cpu0) / ((monoMs() - wall0) / 1000.0) * 100.0;
}

// Runs the event loop until done() holds or the limit passes; checks every few milliseconds.
inline bool waitUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() >= limitMs)
            return false;
        waitMs(2);
    }
    return true;
}

// Sorted-sample percentile by nearest rank.
inline double percentile(QList<double> samples, double p)
{
    if (samples.isEmpty())
        return std::nan("");
    std::sort(samples.begin(), samples.end());
    const auto rank = qsizetype(std::ceil(p / 100.0 * double(samples.size())));
    return samples[std::clamp<qsizetype>(rank - 1, 0, samples.size() - 1)];
}

inline double median(const QList<double> &samples)
{
    if (samples.isEmpty())
        return std::nan("");
    QList<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

// oe-sim in its own process, serving COMn in a program folder; commands go to its standard input
// and its report lines are kept.
class SimProcess : public QObject
{
public:
    SimProcess(const QString &program, const QString &folder, int comPort, const QStringList &extra = {})
    {
        m_process.setProgram(program);
        m_process.setArguments(QStringList{QStringLiteral("--folder"), folder, QStringLiteral("--port"),
                                           QStringLiteral("COM%1").arg(comPort)}
                               + extra);
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
            m_pending += m_process.readAllStandardOutput();
            qsizetype end;
            while ((end = m_pending.indexOf('\n')) >= 0) {
                m_lines.append(QString::fromLocal8Bit(m_pending.left(end)));
                m_pending.remove(0, end + 1);
                if (m_lines.last().contains(QLatin1String(" -> /dev/")))
                    ++m_links;
            }
            // Only the latest lines are looked at; a long soak must not grow here.
            if (m_lines.size() > kKeptLines)
                m_lines.remove(0, m_lines.size() - kKeptLines);
        });
    }
    ~SimProcess() override { stop(); }

    // Starts it and waits until its line is linked.
    bool start(QString *why)
    {
        m_process.start();
        if (!m_process.waitForStarted(5000)) {
            *why = m_process.errorString();
            return false;
        }
        if (!waitForLinks(1, 5000)) {
            *why = QStringLiteral("oe-sim did not link its port: %1")
                       .arg(QString::fromLocal8Bit(m_process.readAllStandardError()));
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.write("quit\n");
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }

    void command(const QString &line) { m_process.write((line + QLatin1Char('\n')).toLocal8Bit()); }

    // How often it has linked a line: once at the start and once more after every hang-up.
    int links() const { return m_links; }
    bool waitForLinks(int count, int limitMs)
    {
        return waitUntil([this, count] { return links() >= count || !running(); }, limitMs) && links() >= count;
    }

    // The eight parameters as the controller holds them, in index order.
    std::optional<std::array<int, 8>> params(int limitMs = 3000)
    {
        m_lines.clear();
        command(QStringLiteral("params"));
        std::optional<std::array<int, 8>> found;
        waitUntil([&] {
            for (qsizetype i = 0; i < m_lines.size() && !found; ++i) {
                const QStringList parts = m_lines[i].mid(8).split(QLatin1Char(' '), Qt::SkipEmptyParts);
                if (!m_lines[i].startsWith(QLatin1String("oe-sim: ")) || parts.size() != 8
                    || !parts[0].startsWith(QLatin1String("MinPumpCycles=")))
                    continue;
                std::array<int, 8> values{};
                for (int k = 0; k < 8; ++k)
                    values[size_t(k)] = parts[k].section(QLatin1Char('='), 1).toInt();
                found = values;
            }
            return found.has_value() || !running();
        }, limitMs);
        return found;
    }

    // CPU seconds it has used so far (from /proc), for reporting the simulator's own share.
    double cpuSecondsUsed() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
        return ticks / double(sysconf(_SC_CLK_TCK));
    }

private:
    static constexpr qsizetype kKeptLines = 100;
    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
    int m_links = 0;
};

} // namespace bench
