#include "clioptions.h"

#include "datafolder.h"
#include "configfile.h"
#include "mapfile.h"

#include <QDir>

#include <QRegularExpression>

namespace oe {

namespace {

struct CommandName {
    const char *name;
    CliOptions::Command command;
};

constexpr CommandName kCommands[] = {
    {"ports", CliOptions::Command::Ports}, {"info", CliOptions::Command::Info},
    {"save", CliOptions::Command::Save},   {"load", CliOptions::Command::Load},
    {"set", CliOptions::Command::Set},     {"reset", CliOptions::Command::Reset},
    {"watch", CliOptions::Command::Watch}, {"verify", CliOptions::Command::Verify},
    {"backup", CliOptions::Command::Backup}, {"program", CliOptions::Command::Program},
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

CliParseResult fail(const QString &error)
{
    CliParseResult result;
    result.error = error;
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
    CliOptions options;
    QStringList positional;
    QStringList portTexts;
    bool help = false;
    bool version = false;
    bool secondsGiven = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString arg = arguments[i];
        QString inlineValue;
        bool hasInline = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            inlineValue = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
            hasInline = true;
        }
        const auto value = [&](QString *out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size())
                return false;
            *out = arguments[++i];
            return true;
        };
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            help = true;
        } else if (arg == QLatin1String("--json")) {
            options.json = true;
        } else if (arg == QLatin1String("-y") || arg == QLatin1String("--yes")) {
            options.yes = true;
        } else if (arg == QLatin1String("--allow-outside-range")) {
            options.allowOutsideRange = true;
        } else if (arg == QLatin1String("--by-position")) {
            options.byPosition = true;
        } else if (arg == QLatin1String("--version")) {
            version = true;
        } else if (arg == QLatin1String("--wait")) {
            options.wait = true;
        } else if (arg == QLatin1String("--no-backup")) {
            options.noBackup = true;
        } else if (arg == QLatin1String("--log")) {
            if (!value(&options.logFile) || options.logFile.isEmpty())
                return fail(QStringLiteral("--log wants a file"));
        } else if (arg == QLatin1String("--folder")) {
            if (!value(&options.folder) || options.folder.isEmpty())
                return fail(QStringLiteral("--folder wants the program folder to use"));
        } else if (arg == QLatin1String("-p") || arg == QLatin1String("--port")) {
            QString text;
            if (!value(&text) || text.isEmpty())
                return fail(QStringLiteral("-p wants a port: COM1 to COM15 or a device path"));
            portTexts << text;
        } else if (arg == QLatin1String("--lang")) {
            QString code;
            if (!value(&code))
                return fail(QStringLiteral("--lang wants ITA or ENG"));
            options.language = code.toUpper();
            if (options.language != QLatin1String("ITA") && options.language != QLatin1String("ENG"))
                return fail(QStringLiteral("--lang wants ITA or ENG, not \"%1\"").arg(code));
        } else if (arg == QLatin1String("--seconds")) {
            QString text;
            qint64 seconds = 0;
            if (!value(&text) || !strictInteger(text, &seconds) || seconds < 1 || seconds > 86400)
                return fail(QStringLiteral("--seconds wants a whole number from 1 to 86400"));
            options.seconds = int(seconds);
            secondsGiven = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return fail(QStringLiteral("unknown option \"%1\"").arg(arguments[i]));
        } else {
            positional << arguments[i];
        }
    }
    if (help) {
        CliParseResult result;
        result.ok = true;
        result.options.command = CliOptions::Command::Help;
        return result;
    }
    if (version) {
        CliParseResult result;
        result.ok = true;
        result.options.command = CliOptions::Command::Version;
        return result;
    }
    if (positional.isEmpty())
        return fail(QStringLiteral("no command given (ports, info, save, load, set, reset, watch, verify, backup, program)"));

    const QString name = positional.takeFirst();
    bool known = false;
    for (const CommandName &c : kCommands) {
        if (name == QLatin1String(c.name)) {
            options.command = c.command;
            known = true;
        }
    }
    if (!known)
        return fail(QStringLiteral("unknown command \"%1\"").arg(name));

    using Command = CliOptions::Command;
    const Command command = options.command;
    if (secondsGiven && command != Command::Watch)
        return fail(QStringLiteral("--seconds is for watch only"));
    if (options.allowOutsideRange && command != Command::Load && command != Command::Set && command != Command::Program)
        return fail(QStringLiteral("--allow-outside-range is for load, program and set"));
    if (options.byPosition && command != Command::Load && command != Command::Program)
        return fail(QStringLiteral("--by-position is for load and program"));
    if ((options.wait || !options.logFile.isEmpty()) && command != Command::Program)
        return fail(QStringLiteral("--wait and --log are for program only"));
    if (options.noBackup && command != Command::Load && command != Command::Reset && command != Command::Program)
        return fail(QStringLiteral("--no-backup is for load, reset and program"));
    if (command == Command::Save || command == Command::Load || command == Command::Verify ||
        command == Command::Program) {
        if (positional.size() != 1)
            return fail(QStringLiteral("%1 wants one file").arg(name));
        options.file = positional.takeFirst();
    } else if (command == Command::Backup) {
        if (positional.size() > 1)
            return fail(QStringLiteral("backup wants at most one file or folder"));
        if (!positional.isEmpty())
            options.file = positional.takeFirst();
    } else if (command == Command::Set) {
        if (positional.isEmpty())
            return fail(QStringLiteral("set wants NAME=VALUE pairs, e.g. TinjMax=12000"));
        for (const QString &pair : std::as_const(positional)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            ParameterIndex index{};
            if (eq < 0 || !parameterFromName(pair.left(eq), &index))
                return fail(QStringLiteral("\"%1\" is not NAME=VALUE with a parameter's name (%2)")
                                .arg(pair, mapFileKey(0) + QStringLiteral(", … ") + mapFileKey(kParameterCount - 1)));
            for (const auto &[seen, unused] : std::as_const(options.values)) {
                if (seen == index)
                    return fail(QStringLiteral("%1 is given twice").arg(mapFileKey(int(index))));
            }
            options.values.append({index, pair.mid(eq + 1)});
        }
        positional.clear();
    }
    if (!positional.isEmpty())
        return fail(QStringLiteral("unexpected \"%1\" after %2").arg(positional.first(), name));

    if (command != Command::Ports) {
        // A second -p used to replace the first without a word: the wrong controller would be written.
        if (portTexts.size() > 1 && command != Command::Program)
            return fail(QStringLiteral("%1 takes one port, -p was given %2 times (program serves several)")
                            .arg(name).arg(portTexts.size()));
        for (const QString &text : std::as_const(portTexts)) {
            CliPort port;
            QString error;
            if (!parseCliPort(text, &port, &error))
                return fail(error);
            for (const CliPort &seen : std::as_const(options.ports)) {
                if (seen.text.compare(text, Qt::CaseInsensitive) == 0)
                    return fail(QStringLiteral("%1 is given twice").arg(text));
            }
            options.ports << port;
        }
        if (!options.ports.isEmpty()) {
            options.port = options.ports.first().text;
            options.comPort = options.ports.first().comPort;
            options.device = options.ports.first().device;
        }
    }

    CliParseResult result;
    result.ok = true;
    result.options = options;
    return result;
}

QString cliUsage()
{
    return QStringLiteral(
        "Usage: oe-cli [options] COMMAND [arguments]\n"
        "\n"
        "  ports                       COM1..COM15: which lead to a device, and which\n"
        "  -p PORT info                firmware version, the eight parameters, one status reading\n"
        "  -p PORT save FILE.map       read the eight parameters and write them to a map file\n"
        "  -p PORT load FILE.map       check the file, show the changes, ask (unless --yes), write the\n"
        "                              values that differ, read all eight back and compare\n"
        "  -p PORT set NAME=VALUE...   write the named parameters (MinPumpCycles, MaxPumpCycles, RpmMin,\n"
        "                              TinjMin, TinjMax, MinLoadPumpPause, MaxLoadPumpPause,\n"
        "                              RpmMultiplier; the controller's units), read them back and compare\n"
        "  -p PORT reset               reset the controller (asks unless --yes), then read back\n"
        "  -p PORT watch               one line per status reply, with its time, until Ctrl+C or --seconds;\n"
        "                              \"---\" once two polls in a row went unanswered (and status 3 if still\n"
        "                              so); with --json one JSON object per line as each reply comes\n"
        "  -p PORT verify FILE.map     compare the controller's eight values with the file; writes nothing\n"
        "                              (status 0: they match, 5: they differ)\n"
        "  -p PORT backup [FILE|DIR]   save the controller's values to a map (default:\n"
        "                              Maps/Backups/<date>-<time>-<port>-<firmware>.map)\n"
        "  program FILE.map -p PORT [-p PORT...] [--wait] [--log FILE]\n"
        "                              on each port at once: identify, back up, write the values that\n"
        "                              differ, read back and compare; --wait: then wait for that\n"
        "                              controller to go and the next to come, until Ctrl+C\n"
        "\n"
        "Options:\n"
        "  -p, --port PORT    COM1 to COM15 as the window names them, or a device path (default: the\n"
        "                     port in config.ini); one only, except for program\n"
        "  -y, --yes          do not ask before load or reset\n"
        "  --allow-outside-range  load, program, set: send values beyond a slider's range (refused\n"
        "                     otherwise)\n"
        "  --by-position      load, program: take lines named otherwise than their place by their\n"
        "                     place (refused otherwise)\n"
        "  --no-backup        load, reset, program: no backup of the controller's values first\n"
        "  --wait             program: one controller after another on each port\n"
        "  --log FILE         program: append one JSON line per controller to FILE\n"
        "  --folder DIR       use DIR as the program folder (config.ini, Language.ini, ports/, Maps/)\n"
        "  --json             print one JSON document instead of text\n"
        "  --lang ITA|ENG     captions from Language.ini (default: config.ini's language, else English)\n"
        "  --seconds N        watch for N seconds\n"
        "  --version          the program's version and Qt's\n"
        "  -h, --help         this text\n"
        "\n"
        "Results go to stdout; progress and questions to stderr.\n"
        "\n"
        "Exit status:\n"
        "  0  done and verified\n"
        "  1  usage error\n"
        "  2  the port cannot be opened (the reason is printed)\n"
        "  3  the controller does not answer, or not to every request\n"
        "  4  the file or the values are refused (the line or value and why), or the file cannot be\n"
        "     written; nothing was sent\n"
        "  5  the controller refused a write, the read-back differs from what was written, or\n"
        "     verify found differences (named)\n"
        "  6  interrupted by Ctrl+C, or the question was declined; what was sent is reported\n"
        "  7  program: values were sent but the log could not be written (stderr and the JSON\n"
        "     summary's log_error say why)\n");
}

} // namespace oe
