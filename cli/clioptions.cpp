#include "clioptions.h"

#include "datafolder.h"
#include "configfile.h"
#include "mapfile.h"

#include <QDir>

#include <QRegularExpression>

#include <optional>

namespace oe {

namespace {

using Command = CliOptions::Command;

// What a command takes after its name.
enum class Takes { Nothing, OneFile, OptionalFile, Pairs };

struct CommandSpec {
    const char *name;
    Command command;
    Takes takes;
    const char *usage; // for the help; empty: "-p PORT <name>"
    const char *help;  // lines after the first are the help's continuation lines
};

// The commands, in the help's order.
const CommandSpec kCommands[] = {
    {"ports", Command::Ports, Takes::Nothing, "ports", "COM1..COM15: which lead to a device, and which"},
    {"info", Command::Info, Takes::Nothing, "", "firmware version, the eight parameters, one status reading"},
    {"save", Command::Save, Takes::OneFile, "-p PORT save FILE.map",
     "read the eight parameters and write them to a map file, with the\n"
     "firmware, the time and --note's text as where it came from"},
    {"load", Command::Load, Takes::OneFile, "-p PORT load FILE.map",
     "check the file, show the changes, ask (unless --yes), write the\n"
     "values that differ, read all eight back and compare"},
    {"set", Command::Set, Takes::Pairs, "-p PORT set NAME=VALUE...",
     "write the named parameters (MinPumpCycles, MaxPumpCycles, RpmMin,\n"
     "TinjMin, TinjMax, MinLoadPumpPause, MaxLoadPumpPause,\n"
     "RpmMultiplier; the controller's units), read them back and compare"},
    {"reset", Command::Reset, Takes::Nothing, "", "reset the controller (asks unless --yes), then read back"},
    {"watch", Command::Watch, Takes::Nothing, "",
     "one line per status reply, with its time, until Ctrl+C or --seconds;\n"
     "\"---\" once two polls in a row went unanswered (and status 3 if still\n"
     "so); with --json one JSON object per line as each reply comes"},
    {"verify", Command::Verify, Takes::OneFile, "-p PORT verify FILE.map",
     "compare the controller's eight values with the file; writes nothing\n"
     "(status 0: they match, 5: they differ)"},
    {"backup", Command::Backup, Takes::OptionalFile, "-p PORT backup [FILE|DIR]",
     "save the controller's values to a map (default:\n"
     "Maps/Backups/<date>-<time>-<port>-<firmware>.map)"},
    {"program", Command::Program, Takes::OneFile, "program FILE.map -p PORT [-p PORT...] [--wait] [--log FILE]",
     "on each port at once: identify, back up, write the values that\n"
     "differ, read back and compare; --wait: then wait for that\n"
     "controller to go and the next to come, until Ctrl+C"},
};

// What the options read, before the command is known.
struct Parsed {
    CliOptions options;
    QStringList portTexts;
    bool help = false;
    bool version = false;
    bool secondsGiven = false;
};

// A plain decimal integer, optional sign: a script's typo must not turn into a value.
bool strictInteger(const QString &text, qint64 *value)
{
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    *value = text.toLongLong();
    return true;
}

QString setText(QString *field, const QString &value, const char *wants)
{
    *field = value;
    return value.isEmpty() ? QLatin1String(wants) : QString();
}

QString readLanguage(Parsed &p, const QString &code)
{
    p.options.language = code.toUpper();
    if (p.options.language != QLatin1String("ITA") && p.options.language != QLatin1String("ENG"))
        return QStringLiteral("--lang wants ITA or ENG, not \"%1\"").arg(code);
    return {};
}

QString readSeconds(Parsed &p, const QString &text)
{
    qint64 seconds = 0;
    if (!strictInteger(text, &seconds) || seconds < 1 || seconds > 86400)
        return QStringLiteral("--seconds wants a whole number from 1 to 86400");
    p.options.seconds = int(seconds);
    p.secondsGiven = true;
    return {};
}

struct OptionSpec {
    const char *shortName; // "" when it has none
    const char *longName;
    const char *valueName; // nullptr for a switch
    const char *help;      // lines after the first are the help's continuation lines
    const char *onlyFor;   // the commands that take it, space-separated; nullptr: any
    const char *wants;     // a value option's word when its value is missing
    // Takes the value (empty for a switch); returns why it is refused, or nothing.
    QString (*apply)(Parsed &, const QString &value);
    // Whether the option was given (for the onlyFor check).
    bool (*given)(const Parsed &);
};

// The options, in the help's order.
const OptionSpec kOptions[] = {
    {"-p", "--port", "PORT",
     "COM1 to COM15 as the window names them, or a device path (default: the\n"
     "port in config.ini); one only, except for program",
     nullptr, "-p wants a port: COM1 to COM15 or a device path",
     [](Parsed &p, const QString &v) {
         p.portTexts << v;
         return v.isEmpty() ? QStringLiteral("-p wants a port: COM1 to COM15 or a device path") : QString();
     },
     nullptr},
    {"-y", "--yes", nullptr, "do not ask before load or reset", nullptr, nullptr,
     [](Parsed &p, const QString &) { p.options.yes = true; return QString(); }, nullptr},
    {"", "--allow-outside-range", nullptr, "load, program, set: send values beyond a slider's range (refused\n"
     "otherwise)", "load program set", nullptr,
     [](Parsed &p, const QString &) { p.options.allowOutsideRange = true; return QString(); },
     [](const Parsed &p) { return p.options.allowOutsideRange; }},
    {"", "--by-position", nullptr, "load, program: take lines named otherwise than their place by their\n"
     "place (refused otherwise)", "load program", nullptr,
     [](Parsed &p, const QString &) { p.options.byPosition = true; return QString(); },
     [](const Parsed &p) { return p.options.byPosition; }},
    {"", "--no-backup", nullptr, "load, reset, program: no backup of the controller's values first",
     "load reset program", nullptr,
     [](Parsed &p, const QString &) { p.options.noBackup = true; return QString(); },
     [](const Parsed &p) { return p.options.noBackup; }},
    {"", "--wait", nullptr, "program: one controller after another on each port", "program", nullptr,
     [](Parsed &p, const QString &) { p.options.wait = true; return QString(); },
     [](const Parsed &p) { return p.options.wait; }},
    {"", "--log", "FILE", "program: append one JSON line per controller to FILE", "program", "--log wants a file",
     [](Parsed &p, const QString &v) { return setText(&p.options.logFile, v, "--log wants a file"); },
     [](const Parsed &p) { return !p.options.logFile.isEmpty(); }},
    {"", "--note", "TEXT", "save, backup: one line kept in the map with its firmware and time\n"
     "(vehicle, customer)", "save backup", "--note wants a text (vehicle, customer)",
     [](Parsed &p, const QString &v) { p.options.note = v; return QString(); },
     [](const Parsed &p) { return !p.options.note.isEmpty(); }},
    {"", "--folder", "DIR", "use DIR as the program folder (config.ini, Language.ini, ports/, Maps/)", nullptr,
     "--folder wants the program folder to use",
     [](Parsed &p, const QString &v) { return setText(&p.options.folder, v, "--folder wants the program folder to use"); },
     nullptr},
    {"", "--json", nullptr, "print one JSON document instead of text", nullptr, nullptr,
     [](Parsed &p, const QString &) { p.options.json = true; return QString(); }, nullptr},
    {"", "--lang", "ITA|ENG", "captions from Language.ini (default: config.ini's language, else English)", nullptr,
     "--lang wants ITA or ENG", readLanguage, nullptr},
    {"", "--seconds", "N", "watch for N seconds", "watch", "--seconds wants a whole number from 1 to 86400",
     readSeconds, [](const Parsed &p) { return p.secondsGiven; }},
    {"", "--version", nullptr, "the program's version and Qt's", nullptr, nullptr,
     [](Parsed &p, const QString &) { p.version = true; return QString(); }, nullptr},
    {"-h", "--help", nullptr, "this text", nullptr, nullptr,
     [](Parsed &p, const QString &) { p.help = true; return QString(); }, nullptr},
};

// What oe-cli's exit statuses mean, for the help.
const struct {
    CliExit code;
    const char *meaning;
} kExitTexts[] = {
    {CliExit::Done, "done and verified"},
    {CliExit::Usage, "usage error"},
    {CliExit::PortNotOpened, "the port cannot be opened (the reason is printed)"},
    {CliExit::NoAnswer, "the controller does not answer, or not to every request"},
    {CliExit::InvalidInput, "the file or the values are refused (the line or value and why), or the file cannot be\n"
                            "written; nothing was sent"},
    {CliExit::ReadBackDiffers, "the controller refused a write, the read-back differs from what was written, or\n"
                               "verify found differences (named)"},
    {CliExit::Interrupted, "interrupted by Ctrl+C, or the question was declined; what was sent is reported"},
    {CliExit::LogFailed, "program: values were sent but the log could not be written (stderr and the JSON\n"
                         "summary's log_error say why)"},
};

CliParseResult fail(const QString &error)
{
    CliParseResult result;
    result.error = error;
    return result;
}

CliParseResult success(const CliOptions &options)
{
    CliParseResult result;
    result.ok = true;
    result.options = options;
    return result;
}

const OptionSpec *optionNamed(const QString &arg)
{
    for (const OptionSpec &o : kOptions) {
        if (arg == QLatin1String(o.longName) || (*o.shortName && arg == QLatin1String(o.shortName)))
            return &o;
    }
    return nullptr;
}

// "watch" → "watch only"; "load program set" → "load, program and set".
QString commandList(const char *names)
{
    QStringList list = QString::fromLatin1(names).split(QLatin1Char(' '));
    if (list.size() == 1)
        return list.first() + QStringLiteral(" only");
    const QString last = list.takeLast();
    return list.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The options, one argument after another; the rest are the command and its arguments.
QString readOptions(const QStringList &arguments, Parsed &p, QStringList *positional)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        std::optional<QString> inlineValue;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            inlineValue = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
        }
        const OptionSpec *option = optionNamed(arg);
        if (!option) {
            if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1)
                return QStringLiteral("unknown option \"%1\"").arg(arguments[i]);
            *positional << arguments[i];
            continue;
        }
        QString value;
        if (option->valueName) {
            if (!inlineValue && i + 1 >= arguments.size())
                return QLatin1String(option->wants);
            value = inlineValue ? *inlineValue : arguments[++i];
        }
        if (const QString why = option->apply(p, value); !why.isEmpty())
            return why;
    }
    return {};
}

// The options given that the command does not take.
QString checkOptionsFor(const Parsed &p, const QString &command)
{
    for (const OptionSpec &o : kOptions) {
        if (!o.onlyFor || !o.given || !o.given(p))
            continue;
        if (!QString::fromLatin1(o.onlyFor).split(QLatin1Char(' ')).contains(command))
            return QStringLiteral("%1 is for %2").arg(QLatin1String(o.longName), commandList(o.onlyFor));
    }
    return {};
}

// The command's own arguments into the options.
QString readCommandArguments(const CommandSpec &spec, QStringList positional, CliOptions &options)
{
    const QString name = QLatin1String(spec.name);
    switch (spec.takes) {
    case Takes::Nothing:
        break;
    case Takes::OneFile:
        if (positional.size() != 1)
            return QStringLiteral("%1 wants one file").arg(name);
        options.file = positional.takeFirst();
        break;
    case Takes::OptionalFile:
        if (positional.size() > 1)
            return QStringLiteral("%1 wants at most one file or folder").arg(name);
        if (!positional.isEmpty())
            options.file = positional.takeFirst();
        break;
    case Takes::Pairs:
        if (positional.isEmpty())
            return QStringLiteral("set wants NAME=VALUE pairs, e.g. TinjMax=12000");
        for (const QString &pair : std::as_const(positional)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            ParameterIndex index{};
            if (eq < 0 || !parameterFromName(pair.left(eq), &index))
                return QStringLiteral("\"%1\" is not NAME=VALUE with a parameter's name (%2)")
                    .arg(pair, mapFileKey(0) + QStringLiteral(", … ") + mapFileKey(kParameterCount - 1));
            for (const auto &[seen, unused] : std::as_const(options.values)) {
                if (seen == index)
                    return QStringLiteral("%1 is given twice").arg(mapFileKey(int(index)));
            }
            options.values.append({index, pair.mid(eq + 1)});
        }
        positional.clear();
        break;
    }
    if (!positional.isEmpty())
        return QStringLiteral("unexpected \"%1\" after %2").arg(positional.first(), name);
    return {};
}

// The -p ports: one, except for program; ports takes none.
QString readPorts(const QStringList &texts, const QString &name, CliOptions &options)
{
    if (options.command == Command::Ports)
        return {};
    // A second -p used to replace the first without a word: the wrong controller would be written.
    if (texts.size() > 1 && options.command != Command::Program)
        return QStringLiteral("%1 takes one port, -p was given %2 times (program serves several)").arg(name).arg(texts.size());
    for (const QString &text : texts) {
        CliPort port;
        QString error;
        if (!parseCliPort(text, &port, &error))
            return error;
        for (const CliPort &seen : std::as_const(options.ports)) {
            if (seen.text.compare(text, Qt::CaseInsensitive) == 0)
                return QStringLiteral("%1 is given twice").arg(text);
        }
        options.ports << port;
    }
    if (!options.ports.isEmpty()) {
        options.port = options.ports.first().text;
        options.comPort = options.ports.first().comPort;
        options.device = options.ports.first().device;
    }
    return {};
}

// Help lines: the label in a column of width, the text beside it and its continuation lines under it.
// A longer label has the text on a line of its own (a command) or two blanks after it (an option).
enum class LongLabel { OwnLine, Beside };
QString helpLines(const QString &label, const char *text, int width, LongLabel longLabel)
{
    const QString indent(2 + width + 1, QLatin1Char(' '));
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    QString result = label.size() <= width            ? QStringLiteral("  %1 %2\n").arg(label, -width).arg(lines.first())
                     : longLabel == LongLabel::Beside ? QStringLiteral("  %1  %2\n").arg(label, lines.first())
                                                      : QStringLiteral("  %1\n%2%3\n").arg(label, indent, lines.first());
    for (qsizetype i = 1; i < lines.size(); ++i)
        result += indent + lines[i] + QLatin1Char('\n');
    return result;
}

} // namespace

bool parameterFromName(const QString &name, ParameterIndex *index)
{
    for (int i = 0; i < kParameterCount; ++i) {
        if (name.compare(mapFileKey(i), Qt::CaseInsensitive) == 0) {
            *index = ParameterIndex(i);
            return true;
        }
    }
    return false;
}

bool parseCliPort(const QString &text, CliPort *port, QString *error)
{
    static const QRegularExpression com(QStringLiteral("^COM([0-9]{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    *port = CliPort{text, 0, {}};
    const auto match = com.match(text);
    if (match.hasMatch()) {
        port->comPort = match.captured(1).toInt();
        if (port->comPort >= 1 && port->comPort <= 15)
            return true;
        *error = QStringLiteral("the port list runs from COM1 to COM15, not %1").arg(text);
        return false;
    }
    if (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\'))) {
        port->device = text;
        return true;
    }
    *error = QStringLiteral("\"%1\" is neither COM1 to COM15 nor a device path").arg(text);
    return false;
}

bool applyConfiguredPort(CliOptions *options, const QString &programFolder, QString *error)
{
    using Command = CliOptions::Command;
    if (!options->ports.isEmpty() || options->command == Command::Help || options->command == Command::Version ||
        options->command == Command::Ports)
        return true;
    const QString path = QDir(dataFolderFor(programFolder)).filePath(QStringLiteral("config.ini"));
    const ConfigReadResult config = readConfigFile(path);
    const int comPort = config.linesRead > 0 ? portFromLine(config.lines[0]) : 0;
    if (comPort < 1 || comPort > 15) {
        *error = QStringLiteral("no -p given, and %1 names no port: -p COM3 (or a device path)").arg(path);
        return false;
    }
    CliPort port;
    parseCliPort(QStringLiteral("COM%1").arg(comPort), &port, error);
    options->ports = {port};
    options->port = port.text;
    options->comPort = port.comPort;
    options->device.clear();
    return true;
}

CliParseResult parseCliArguments(const QStringList &arguments)
{
    Parsed p;
    QStringList positional;
    if (const QString why = readOptions(arguments, p, &positional); !why.isEmpty())
        return fail(why);
    if (p.help || p.version) {
        CliOptions options;
        options.command = p.help ? Command::Help : Command::Version;
        return success(options);
    }
    if (positional.isEmpty()) {
        QStringList names;
        for (const CommandSpec &c : kCommands)
            names << QLatin1String(c.name);
        return fail(QStringLiteral("no command given (%1)").arg(names.join(QStringLiteral(", "))));
    }
    const QString name = positional.takeFirst();
    const CommandSpec *spec = nullptr;
    for (const CommandSpec &c : kCommands) {
        if (name == QLatin1String(c.name))
            spec = &c;
    }
    if (!spec)
        return fail(QStringLiteral("unknown command \"%1\"").arg(name));
    p.options.command = spec->command;
    for (const QString &why : {checkOptionsFor(p, name), readCommandArguments(*spec, positional, p.options),
                               readPorts(p.portTexts, name, p.options)}) {
        if (!why.isEmpty())
            return fail(why);
    }
    return success(p.options);
}

QString cliUsage()
{
    QString text = QStringLiteral("Usage: oe-cli [options] COMMAND [arguments]\n\n");
    for (const CommandSpec &c : kCommands) {
        const QString usage = *c.usage ? QLatin1String(c.usage) : QStringLiteral("-p PORT %1").arg(QLatin1String(c.name));
        text += helpLines(usage, c.help, 27, LongLabel::OwnLine);
    }
    text += QStringLiteral("\nOptions:\n");
    for (const OptionSpec &o : kOptions) {
        QString label = *o.shortName ? QStringLiteral("%1, %2").arg(QLatin1String(o.shortName), QLatin1String(o.longName))
                                     : QLatin1String(o.longName);
        if (o.valueName)
            label += QLatin1Char(' ') + QLatin1String(o.valueName);
        text += helpLines(label, o.help, 18, LongLabel::Beside);
    }
    text += QStringLiteral("\nResults go to stdout; progress and questions to stderr.\n\nExit status:\n");
    for (const auto &e : kExitTexts)
        text += QStringLiteral("  %1  %2").arg(int(e.code)).arg(QString::fromUtf8(e.meaning).replace(
                                                                QLatin1Char('\n'), QStringLiteral("\n     ")))
                + QLatin1Char('\n');
    return text;
}

} // namespace oe
