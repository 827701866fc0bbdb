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
    const double virtualHours = double(f.virtualMs + f.cliMs) / 3600000.0;
    out() << "sessions:       " << f.sessions << " (" << QString::number(virtualHours, 'f', 2) << " virtual hours)\n"
          << "requests:       " << f.requests << " (" << f.frames << " frames, " << f.tries << " tries, "
          << f.answeredTries << " answered)\n"
          << "technician:     " << f.connects << " connects, " << f.commits << " commits, " << f.mapLoads
          << " map loads, " << f.resets << " resets, " << f.rereads << " read-agains, " << f.saves << " saves, "
          << f.boxes << " boxes\n"
          << "oe-cli:         " << f.cliRuns << " runs, " << f.cliDone << " done\n"
          << "line-made:      " << f.lineMadeAnswers << " answers taken\n"
          << "faults:        ";
    for (int i = 0; i < int(Fault::Count); ++i)
        out() << (i ? ", " : " ") << faultName(Fault(i)) << " " << f.faults[size_t(i)];
    out() << "\n";
    if (cpuSeconds > 0) {
        const double perMinute = double(f.sessions) / cpuSeconds * 60.0;
        out() << "speed:          " << QString::number(perMinute, 'f', 0) << " sessions of one virtual minute per "
              << "minute of a core (" << QString::number(double(f.virtualMs + f.cliMs) / 1000.0 / cpuSeconds, 'f', 0)
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
    QStringList on;
    for (int i = 0; i < int(Check::Count); ++i) {
        if (options.checks[Check(i)])
            on << checkName(Check(i));
    }
    QTextStream(&file) << "seed=" << options.seed << "\nminutes=" << options.virtualMs / 60000 << "\nchecks="
                       << on.join(QLatin1Char(',')) << "\n";
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
        else if (key == QLatin1String("checks")) {
            options->checks.on.fill(false);
            for (const QString &name : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (const std::optional<Check> check = checkFromName(name))
                    options->checks.on[size_t(*check)] = true;
            }
        }
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
    parser.addOption({QStringLiteral("check"), QStringLiteral("Also judge this invariant (see --list-checks); repeatable."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("skip"), QStringLiteral("Do not judge this invariant; repeatable."), QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("all-checks"), QStringLiteral("Judge every invariant, also those off by default.")});
    parser.addOption({QStringLiteral("list-checks"), QStringLiteral("List the invariants that can be switched, and which are on.")});
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
    if (parser.isSet(QStringLiteral("all-checks")))
        base.checks.on.fill(true);
    for (const QString &option : {QStringLiteral("check"), QStringLiteral("skip")}) {
        for (const QString &name : parser.values(option)) {
            const std::optional<Check> check = checkFromName(name);
            if (!check) {
                out() << "no such check: " << name << " (see --list-checks)\n";
                return 2;
            }
            base.checks.on[size_t(*check)] = option == QLatin1String("check");
        }
    }
    if (parser.isSet(QStringLiteral("list-checks"))) {
        for (int i = 0; i < int(Check::Count); ++i)
            out() << checkName(Check(i)) << (base.checks[Check(i)] ? "  on\n" : "  off\n");
        return 0;
    }
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
    QStringList off;
    for (int i = 0; i < int(Check::Count); ++i) {
        if (!base.checks[Check(i)])
            off << checkName(Check(i));
    }
    out() << "fresh seeds from " << seed << " for " << seconds << " s"
          << (off.isEmpty() ? QString() : " (not judged: " + off.join(QStringLiteral(", ")) + ")") << "\n";
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
