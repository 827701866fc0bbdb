// oe-trial: runs sessions of a technician with a controller on a bad line in virtual time, one seed
// each, and checks the invariants after every event. The first broken one stops the run with the
// seed, the invariant and the last events; --replay runs that seed again, exactly.

#include "trial.h"
#include "trialbench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <ctime>
#include <QFile>
#include <QTextStream>

#include <random>

using namespace oe;

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void printFigures(const TrialFigures &f, double cpuSeconds)
{
    const double virtualHours = double(f.virtualMs) / 3600000.0;
    out() << "sessions:       " << f.sessions << " (" << QString::number(virtualHours, 'f', 2) << " virtual hours)\n"
          << "requests:       " << f.requests << " (" << f.frames << " frames, " << f.tries << " tries, "
          << f.answeredTries << " answered)\n"
          << "technician:     " << f.connects << " connects, " << f.commits << " commits, " << f.mapLoads
          << " map loads, " << f.resets << " resets, " << f.rereads << " read-agains, " << f.saves << " saves, "
          << f.boxes << " boxes\n"
          << "faults:        ";
    for (int i = 0; i < int(Fault::Count); ++i)
        out() << (i ? ", " : " ") << faultName(Fault(i)) << " " << f.faults[size_t(i)];
    out() << "\n";
    if (cpuSeconds > 0) {
        const double perMinute = double(f.sessions) / cpuSeconds * 60.0;
        out() << "speed:          " << QString::number(perMinute, 'f', 0) << " sessions of one virtual minute per "
              << "minute of a core (" << QString::number(double(f.virtualMs) / 1000.0 / cpuSeconds, 'f', 0)
              << "x the wire)\n";
    }
    out().flush();
}

void printFailure(const TrialOptions &options, const TrialOutcome &outcome, const QString &replayPath)
{
    out() << "\nINVARIANT BROKEN: " << outcome.invariant << "\n"
          << "seed " << options.seed << ", virtual minutes " << options.virtualMs / 60000 << ", at " << outcome.atMs << " ms\n"
          << outcome.detail << "\n\nlast events:\n";
    for (const QString &line : outcome.lastEvents)
        out() << "  " << line << "\n";
    if (!replayPath.isEmpty())
        out() << "\nreplay: oe-trial --replay " << replayPath << "\n";
    out().flush();
}

QString writeReplay(const TrialOptions &options)
{
    const QString path = QStringLiteral("trial-%1.replay").arg(options.seed);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return {};
    QTextStream(&file) << "seed=" << options.seed << "\nminutes=" << options.virtualMs / 60000 << "\n";
    return path;
}

bool readReplay(const QString &path, TrialOptions *options)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        if (key == QLatin1String("seed"))
            options->seed = value.toULongLong();
        else if (key == QLatin1String("minutes"))
            options->virtualMs = value.toLongLong() * 60000;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Runs simulated sessions against the invariants."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("seconds"), QStringLiteral("Run fresh seeds for this many seconds (default 60)."), QStringLiteral("N"), QStringLiteral("60")});
    parser.addOption({QStringLiteral("seed"), QStringLiteral("Run this one seed."), QStringLiteral("S")});
    parser.addOption({QStringLiteral("first-seed"), QStringLiteral("Fresh seeds start here (default: drawn)."), QStringLiteral("S")});
    parser.addOption({QStringLiteral("minutes"), QStringLiteral("Virtual minutes per session (default 1)."), QStringLiteral("M"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("replay"), QStringLiteral("Run the seed a failed run wrote."), QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("bench"), QStringLiteral("Measure the receive path and the simulation's speed.")});
    parser.addOption({QStringLiteral("quick"), QStringLiteral("With --bench: shorter stretches.")});
    parser.addOption({QStringLiteral("csv"), QStringLiteral("With --bench: write the figures as CSV here."), QStringLiteral("FILE")});
    parser.process(app);

    if (parser.isSet(QStringLiteral("bench"))) {
        const QList<BenchFigure> figures = trialBench(parser.isSet(QStringLiteral("quick")));
        bool ok = true;
        QFile csv(parser.value(QStringLiteral("csv")));
        const bool writeCsv = parser.isSet(QStringLiteral("csv")) && csv.open(QIODevice::WriteOnly | QIODevice::Text);
        QTextStream csvOut(&csv);
        if (writeCsv)
            csvOut << "figure,unit,value,goal,result\n";
        out() << "\n| figure | unit | value | goal | result |\n|---|---|---|---|---|\n";
        for (const BenchFigure &f : figures) {
            const QString result = f.goal.isEmpty() ? QStringLiteral("-") : f.pass ? QStringLiteral("pass") : QStringLiteral("FAIL");
            const QString value = QString::number(f.value, 'f', f.value < 10 ? 4 : 0);
            out() << "| " << f.figure << " | " << f.unit << " | " << value << " | " << f.goal << " | " << result << " |\n";
            if (writeCsv)
                csvOut << '"' << f.figure << "\"," << f.unit << ',' << value << ",\"" << f.goal << "\"," << result << "\n";
            ok = ok && f.pass;
        }
        out().flush();
        return ok ? 0 : 1;
    }

    TrialOptions base;
    base.virtualMs = qMax(1LL, parser.value(QStringLiteral("minutes")).toLongLong()) * 60000;

    std::optional<quint64> single;
    if (parser.isSet(QStringLiteral("replay"))) {
        if (!readReplay(parser.value(QStringLiteral("replay")), &base)) {
            out() << "cannot read " << parser.value(QStringLiteral("replay")) << "\n";
            return 2;
        }
        single = base.seed;
    } else if (parser.isSet(QStringLiteral("seed"))) {
        single = parser.value(QStringLiteral("seed")).toULongLong();
    }

    QElapsedTimer wall;
    wall.start();
    const std::clock_t cpuStart = std::clock();
    const auto cpuSeconds = [cpuStart] { return double(std::clock() - cpuStart) / CLOCKS_PER_SEC; };
    TrialFigures total;
    const auto runOne = [&](quint64 seed) {
        TrialOptions options = base;
        options.seed = seed;
        const TrialOutcome outcome = runTrial(options);
        total.add(outcome.figures);
        if (!outcome.ok)
            printFailure(options, outcome, single ? QString() : writeReplay(options));
        return outcome.ok;
    };

    if (single) {
        const bool ok = runOne(*single);
        printFigures(total, 0);
        out() << (ok ? "seed " + QString::number(*single) + ": every invariant held\n" : QString());
        return ok ? 0 : 1;
    }

    const qint64 seconds = qMax(1LL, parser.value(QStringLiteral("seconds")).toLongLong());
    quint64 seed = parser.isSet(QStringLiteral("first-seed")) ? parser.value(QStringLiteral("first-seed")).toULongLong()
                                                              : (quint64(std::random_device{}()) << 20);
    out() << "fresh seeds from " << seed << " for " << seconds << " s\n";
    out().flush();
    bool ok = true;
    while (wall.elapsed() < seconds * 1000) {
        if (!runOne(seed++)) {
            ok = false;
            break;
        }
    }
    printFigures(total, cpuSeconds());
    out() << (ok ? "every invariant held\n" : "");
    return ok ? 0 : 1;
}
