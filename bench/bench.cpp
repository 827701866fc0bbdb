// oe-bench: how close the program comes to the wire's floor, and what it costs while it waits.
//
// The program's own code (window, session, request engine, QSerialPort) runs on this thread; the
// controller is oe-sim in another process, pacing its pty like a 9600-baud wire. Prints a table and
// writes the same figures as CSV. Each section below adds its rows; --only=SECTION runs one.

#include "benchsections.h"

#include <QApplication>
#include <QCommandLineParser>

using namespace bench;

namespace {

struct Section {
    const char *name;
    const char *title; // printed as the section starts
    void (*run)(BenchContext &);
};

// In the order of a whole run: start-up first, while the machine is as quiet as this run gets; the
// cable is pulled last on the shared rig.
const Section kSections[] = {
    {"startup", "start-up", startupSection},
    {"line", "line alone (bare pty client, no program code)", lineSection},
    {"connect", "connect", connectSection},
    {"exchanges", "exchanges", exchangesSection},
    {"map-load", "map load", mapLoadSection},
    {"cli", "oe-cli load", cliSection},
    {"polling", "poll period and CPU while polling", pollingSection},
    {"chart", "CPU with the chart open and a recording running", chartSection},
    {"waiting", "silent controller: CPU and input latency", waitingSection},
    {"noise", "noisy line", noiseSection},
    {"memory", "memory", memorySection},
    {"recording", "a day's recording read back", recordingSection},
};

QString sectionNames()
{
    QStringList names;
    for (const Section &s : kSections)
        names << QLatin1String(s.name);
    return names.join(QStringLiteral(", "));
}

} // namespace

BenchContext::BenchContext(bool quick_, QString sim, QString cli, QString language)
    : quick(quick_), simProgram(std::move(sim)), cliProgram(std::move(cli)), languageIni(std::move(language))
{
}

BenchContext::~BenchContext() = default;

Rig *BenchContext::rig()
{
    if (!m_rig) {
        m_rig = std::make_unique<Rig>(simProgram, languageIni, kComPort,
                                      QStringList{QStringLiteral("--pace"), QStringLiteral("9600")});
        if (!m_rig->ready()) {
            out() << "oe-bench: " << m_rig->error << Qt::endl;
            m_rig.reset();
        }
    }
    return m_rig.get();
}

Rig *BenchContext::connectedRig()
{
    Rig *r = rig();
    if (!r || r->s().state() == oe::Session::State::Connected)
        return r;
    if (r->connectNow())
        return r;
    // After a pulled cable the simulator links its line again a second later.
    waitMs(1500);
    if (r->connectNow())
        return r;
    out() << "oe-bench: cannot connect" << Qt::endl;
    return nullptr;
}

Rig *BenchContext::idleRig()
{
    Rig *r = rig();
    if (r && r->s().state() != oe::Session::State::Idle) {
        waitUntil([r] { return r->quiet(); }, 15000);
        r->w().connection().btnConnect->click(); // disconnect
        waitUntil([r] { return r->s().state() == oe::Session::State::Idle; }, 3000);
    }
    return r;
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
    const QCommandLineOption onlyOption(QStringLiteral("only"),
                                        QStringLiteral("Only this section (%1).").arg(sectionNames()),
                                        QStringLiteral("SECTION"));
    parser.addOptions({quickOption, csvOption, simOption, onlyOption});
    parser.process(app);
    const QString only = parser.value(onlyOption);
    if (!only.isEmpty() && !sectionNames().split(QStringLiteral(", ")).contains(only)) {
        out() << "oe-bench: no section " << only << " (" << sectionNames() << ')' << Qt::endl;
        return 2;
    }

    BenchContext ctx(parser.isSet(quickOption), parser.value(simOption), QStringLiteral(OE_CLI_PROGRAM),
                     QStringLiteral(OE_LANGUAGE_INI));
    out() << "oe-bench: " << (ctx.quick ? "quick" : "full") << " run; floors at 9600 baud 8N1: "
          << num(kShortFloorMs, 1) << " ms (7+1 bytes), " << num(kWriteFloorMs, 1) << " ms (9+1 bytes)" << Qt::endl;
    for (const Section &section : kSections) {
        if (only.isEmpty() || only == QLatin1String(section.name)) {
            out() << section.title << Qt::endl;
            section.run(ctx);
        }
    }

    ctx.rows.print();
    if (parser.isSet(csvOption)) {
        if (ctx.rows.writeCsv(parser.value(csvOption)))
            out() << "CSV: " << parser.value(csvOption) << Qt::endl;
        else
            out() << "oe-bench: cannot write " << parser.value(csvOption) << Qt::endl;
    }
    return ctx.rows.allPass() ? 0 : 1;
}
