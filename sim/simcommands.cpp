// oe-sim's commands on standard input: one table, which the help text and the reply to an unknown
// command are printed from.

#include "simprogram.h"

#include "enginemodel.h"
#include "portlink.h"

namespace oe {

namespace {

const char *const kParameterNames[] = {"MinPumpCycles", "MaxPumpCycles", "RpmMin", "TinjMin",
                                       "TinjMax", "MinLoadPumpPause", "MaxLoadPumpPause", "RpmMultiplier"};

int parameterNamed(const QString &name)
{
    for (int i = 0; i < simparam::Count; ++i) {
        if (name.compare(QLatin1String(kParameterNames[i]), Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString parameterList(const ControllerSim &sim)
{
    QStringList parts;
    for (int i = 0; i < simparam::Count; ++i)
        parts << QStringLiteral("%1=%2").arg(QLatin1String(kParameterNames[i])).arg(sim.parameter(i));
    return parts.join(QLatin1Char(' '));
}

// The usage column of the help; a longer usage gets a line of its own.
constexpr int kUsageWidth = 16;

} // namespace

// "1.3.7": three numbers 0 to 255.
std::optional<ControllerSim::Version> parseSimVersion(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 3)
        return std::nullopt;
    ControllerSim::Version version{};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const uint n = parts[i].toUInt(&ok);
        if (!ok || n > 255)
            return std::nullopt;
        version[size_t(i)] = quint8(n);
    }
    return version;
}

const std::vector<SimCommand> &SimProgram::commands()
{
    static const std::vector<SimCommand> table = {
        {"fault", "fault SPEC", "set fault modes as with --fault (\"fault none\" clears them)", &SimProgram::fault},
        {"engine", "engine on|off", "start or stop the engine (stopped: engine speed 0)", &SimProgram::engine},
        {"params", "params", "print the eight parameters", &SimProgram::params},
        {"hangup", "hangup", "close the line now (it comes back after a second)", &SimProgram::hangup},
        {"unplug", "unplug", "the controller leaves the line: nothing is answered (the pty stays)", &SimProgram::unplug},
        {"plug", "plug [NAME=VALUE...] [firmware=A.B.C]",
         "a new controller on the line: other values (drawn at random, or as given)", &SimProgram::plug},
        {"quit", "quit", "stop", nullptr},
    };
    return table;
}

QString SimProgram::commandHelp()
{
    QString text = QStringLiteral("Commands on standard input while running:\n");
    for (const SimCommand &c : commands()) {
        const QString usage = QLatin1String(c.usage);
        text += usage.size() <= kUsageWidth
                    ? QStringLiteral("  %1 %2\n").arg(usage, -kUsageWidth).arg(QLatin1String(c.help))
                    : QStringLiteral("  %1\n  %2 %3\n").arg(usage, QString(kUsageWidth, QLatin1Char(' ')),
                                                             QLatin1String(c.help));
    }
    return text + QStringLiteral("With several --port, a command may start with the port it is for (\"COM4 unplug\"); "
                                 "without\none it is for every port.\n");
}

void SimProgram::runLine(QString line)
{
    // "COM4 unplug": for that port only.
    SimPort *target = nullptr;
    if (const std::optional<int> named = parseComPort(line.section(QLatin1Char(' '), 0, 0))) {
        for (auto &port : m_ports) {
            if (port->comPort == *named)
                target = port.get();
        }
        if (!target) {
            simOut() << "oe-sim: COM" << *named << " is not served here" << Qt::endl;
            return;
        }
        line = line.section(QLatin1Char(' '), 1).trimmed();
    }
    const QString name = line.section(QLatin1Char(' '), 0, 0).toLower();
    const QString argument = line.section(QLatin1Char(' '), 1).trimmed();
    if (name.isEmpty())
        return;
    if (name == u"quit" || name == u"exit") {
        QCoreApplication::quit();
        return;
    }
    const SimCommand *command = nullptr;
    for (const SimCommand &c : commands()) {
        if (c.run && name == QLatin1String(c.name))
            command = &c;
    }
    for (auto &port : m_ports) {
        if ((target && target != port.get()) || (command && (this->*command->run)(*port, argument)))
            continue;
        QStringList usages;
        for (const SimCommand &c : commands())
            usages << QLatin1String(c.usage);
        simOut() << "oe-sim: commands: [COMn] " << usages.join(QStringLiteral(" | ")) << Qt::endl;
    }
}

bool SimProgram::fault(SimPort &port, const QString &argument)
{
    ControllerSim &sim = port.server.sim();
    SimFaults changed = sim.faults();
    QString why;
    if (changed.apply(argument, &why)) {
        sim.setFaults(changed);
        simOut() << "oe-sim: " << prefix(port) << "faults " << changed.describe() << Qt::endl;
    } else {
        simOut() << "oe-sim: " << why << Qt::endl;
    }
    return true;
}

bool SimProgram::engine(SimPort &port, const QString &argument)
{
    if (argument != u"on" && argument != u"off")
        return false;
    ControllerSim &sim = port.server.sim();
    sim.setEngineRunning(argument == u"on");
    simOut() << "oe-sim: " << prefix(port) << "engine " << (sim.engineRunning() ? "running" : "stopped") << Qt::endl;
    return true;
}

bool SimProgram::params(SimPort &port, const QString &)
{
    const ControllerSim &sim = port.server.sim();
    simOut() << "oe-sim: " << prefix(port) << (sim.present() ? parameterList(sim) : QStringLiteral("no controller"))
             << Qt::endl;
    return true;
}

bool SimProgram::hangup(SimPort &port, const QString &)
{
    port.server.hangUp();
    return true;
}

bool SimProgram::unplug(SimPort &port, const QString &)
{
    port.server.sim().unplug();
    simOut() << "oe-sim: " << prefix(port) << "controller unplugged" << Qt::endl;
    return true;
}

bool SimProgram::plug(SimPort &port, const QString &argument)
{
    ControllerSim &sim = port.server.sim();
    SimParameters values = randomSimParameters(port.random);
    ControllerSim::Version version = sim.version();
    for (const QString &pair : argument.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString name = pair.section(QLatin1Char('='), 0, 0);
        const QString value = pair.section(QLatin1Char('='), 1);
        if (name.compare(QLatin1String("firmware"), Qt::CaseInsensitive) == 0) {
            const std::optional<ControllerSim::Version> given = parseSimVersion(value);
            if (!given) {
                simOut() << "oe-sim: firmware=A.B.C, three numbers 0 to 255" << Qt::endl;
                return true;
            }
            version = *given;
            continue;
        }
        const int index = parameterNamed(name);
        bool ok = false;
        const uint number = value.toUInt(&ok);
        if (index < 0 || !ok || number > 65535) {
            simOut() << "oe-sim: plug wants NAME=VALUE (a parameter's name, 0 to 65535), not \"" << pair << '"'
                     << Qt::endl;
            return true;
        }
        values[size_t(index)] = quint16(number);
    }
    sim.plugIn(values, version);
    simOut() << "oe-sim: " << prefix(port) << "controller plugged in: firmware " << version[0] << '.' << version[1]
             << '.' << version[2] << ", " << parameterList(sim) << Qt::endl;
    return true;
}

} // namespace oe
