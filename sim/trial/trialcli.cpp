// oe-cli's writing commands in the simulation: the runner the program uses, on the same controller,
// line and clock as the window's session before it, judged by the same invariants.
#include "trial.h"

#include "clioptions.h"
#include "clirunner.h"
#include "mapfile.h"
#include "valuerule.h"

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>

namespace oe {

namespace {

// A command still running this long after the controller last fell silent does not end.
constexpr qint64 kCliBoundMs = 30000;

// One program folder for every run in the process: a command finds its captions and writes its map
// files there; nothing in it changes how a command runs.
QString cliFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

} // namespace

QStringList Trial::drawCliCommand(const QString &mapPath)
{
    m_intents.clear();
    const qint64 kind = m_cli.below(10);
    if (kind < 4) {
        QStringList arguments{QStringLiteral("set")};
        const qint64 count = m_cli.between(1, 3);
        std::set<int> chosen;
        while (qint64(chosen.size()) < count)
            chosen.insert(int(m_cli.below(kParameterCount)));
        for (const int each : chosen) {
            const auto index = ParameterIndex(each);
            const SliderRange range = sliderRange(index);
            const qint32 value = range.min + range.step * qint32(m_cli.between(0, (range.max - range.min) / range.step));
            arguments << QStringLiteral("%1=%2").arg(mapFileKey(int(index))).arg(value);
            m_intents.insert({int(index), quint16(value)});
        }
        return arguments << QStringLiteral("-p") << QStringLiteral("COM3");
    }
    const ParameterSet values = drawMap();
    MapValues map{};
    for (int i = 0; i < kParameterCount; ++i) {
        map[size_t(i)] = values[ParameterIndex(i)];
        if (map[size_t(i)] >= 0 && map[size_t(i)] <= 0xffff)
            m_intents.insert({i, quint16(map[size_t(i)])});
    }
    QString error;
    if (!writeMapFile(mapPath, map, &error))
        fail(QStringLiteral("simulation"), QStringLiteral("cannot write %1: %2").arg(mapPath, error));
    QStringList arguments{kind < 7 ? QStringLiteral("load") : QStringLiteral("program"), mapPath,
                          QStringLiteral("-p"), QStringLiteral("COM3"), QStringLiteral("--no-backup")};
    if (kind < 7)
        arguments << QStringLiteral("--yes");
    return arguments;
}

void Trial::runCli()
{
    // The technician is done: the window lets go of the port, and the cable goes to oe-cli's.
    m_technicianTimer->stop();
    m_releaseTimer->stop();
    m_pullTimer->stop();
    m_held.reset();
    m_windowSession->disconnectNow();
    m_clock.runUntil(m_clock.nowMs(), m_failed, [this] { check(); });
    if (m_failed)
        return;

    const QString mapPath = QDir(cliFolder()).filePath(QStringLiteral("trial-%1.map").arg(m_options.seed));
    const QStringList arguments = drawCliCommand(mapPath);
    const CliParseResult parsed = parseCliArguments(arguments);
    if (!parsed.ok)
        return fail(QStringLiteral("simulation"), QStringLiteral("oe-cli %1: %2").arg(arguments.join(' '), parsed.error));
    log("oe-cli starts (%1: 0 set, 1 load, 2 program)",
        arguments[0] == QLatin1String("set") ? 0 : arguments[0] == QLatin1String("load") ? 1 : 2);
    ++m_figures.cliRuns;

    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    std::optional<int> exitCode;
    {
        CliRunner runner(parsed.options, cliFolder(), [](const QString &) { return std::optional<QByteArray>("y"); });
        runner.runOn(
            [this](const CliPort &, QObject *parent) {
                auto *port = new SimulatedPort(&m_clock);
                attachPort(port);
                auto *session = new Session(port, parent, &m_clock);
                m_session = session;
                watchSession(session, false);
                return session;
            },
            &out, &err);
        QObject::connect(&runner, &CliRunner::finished, &m_timers, [&exitCode, this](int code) {
            exitCode = code;
            log("oe-cli ended with exit status %1", code);
        });
        m_inCli = true;
        runner.start();
        const qint64 end = m_clock.nowMs() + 2 * kCliBoundMs;
        while (!m_failed && !exitCode && m_clock.nowMs() < end)
            m_clock.runUntil(qMin(m_clock.nowMs() + 100, end), m_failed, [this] { check(); });
        if (!m_failed && !exitCode && m_clock.nowMs() - qMax(m_controller->silentUntil(), end - 2 * kCliBoundMs) > kCliBoundMs)
            fail(QStringLiteral("progress"), QStringLiteral("oe-cli %1 still runs after %2 ms while the controller answers")
                                                 .arg(arguments.join(' ')).arg(2 * kCliBoundMs));
        m_session = m_windowSession.get();
    }
    m_inCli = false;
    if (exitCode == 0)
        ++m_figures.cliDone;
    if (m_failed)
        m_outcome.lastEvents << QStringLiteral("oe-cli %1").arg(arguments.join(' '))
                             << QString::fromUtf8(err.data()).split(QLatin1Char('\n'));
    QFile::remove(mapPath);
}

} // namespace oe
