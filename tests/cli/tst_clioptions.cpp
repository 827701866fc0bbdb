#include "clioptions.h"
#include "cliwords.h"
#include "mapfile.h"

#include <QtTest>

using namespace oe;

namespace {

// What a parse made of the command line, in one comparable line.
QString summary(const CliOptions &o)
{
    static const char *const names[] = {"help", "ports", "info", "save", "load", "set", "reset", "watch",
                                        "verify", "backup", "program", "version"};
    QStringList parts{QString::fromLatin1(names[int(o.command)])};
    for (const CliPort &port : o.ports)
        parts << (port.comPort > 0 ? QStringLiteral("COM%1").arg(port.comPort) : port.device);
    if (!o.file.isEmpty())
        parts << o.file;
    for (const auto &[index, value] : o.values)
        parts << QStringLiteral("%1=%2").arg(mapFileKey(int(index))).arg(value);
    if (o.yes)
        parts << QStringLiteral("yes");
    if (o.allowOutsideRange)
        parts << QStringLiteral("outside");
    if (o.byPosition)
        parts << QStringLiteral("by-position");
    if (o.json)
        parts << QStringLiteral("json");
    if (!o.language.isEmpty())
        parts << o.language;
    if (o.seconds > 0)
        parts << QStringLiteral("%1s").arg(o.seconds);
    if (o.wait)
        parts << QStringLiteral("wait");
    if (!o.logFile.isEmpty())
        parts << QStringLiteral("log=") + o.logFile;
    if (o.noBackup)
        parts << QStringLiteral("no-backup");
    if (!o.note.isEmpty())
        parts << QStringLiteral("note=") + o.note;
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestCliOptions : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void answers_data();
    void answers();
};

void TestCliOptions::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected"); // the summary, or "error: " and a piece of the message

    QTest::newRow("ports needs no port") << "ports" << "ports";
    QTest::newRow("COM port, any case") << "-p com3 info" << "info COM3";
    QTest::newRow("device path") << "info --port /dev/ttyUSB0" << "info /dev/ttyUSB0";
    QTest::newRow("options after the command") << "load std.map -p COM15 --yes --json --lang ita"
                                                << "load COM15 std.map yes json ITA";
    QTest::newRow("inline values") << "--port=COM2 watch --seconds=5" << "watch COM2 5s";
    QTest::newRow("set, names in any case") << "-p COM1 set tinjmax=12000 RpmMin=650"
                                            << "set COM1 TinjMax=12000 RpmMin=650";
    QTest::newRow("help wins") << "bogus --help" << "help";
    QTest::newRow("version") << "--version" << "version";
    QTest::newRow("no port: config.ini's, later") << "info" << "info";
    QTest::newRow("backup to the default place") << "-p COM3 backup" << "backup COM3";
    QTest::newRow("program on several ports") << "program line.map -p COM3 -p /dev/ttyUSB1 --wait --log l.jsonl"
                                              << "program COM3 /dev/ttyUSB1 line.map wait log=l.jsonl";
    QTest::newRow("save with a note") << "-p COM3 save a.map --note=Rossi" << "save COM3 a.map note=Rossi";
    QTest::newRow("note not for load") << "-p COM3 load a.map --note x" << "error: --note is for save and backup";
    QTest::newRow("load without backup") << "-p COM3 load a.map --no-backup" << "load COM3 a.map no-backup";

    QTest::newRow("no command") << "-p COM3" << "error: no command";
    QTest::newRow("unknown command") << "-p COM3 flash" << "error: unknown command";
    QTest::newRow("second -p") << "-p COM3 -p COM4 load a.map" << "error: takes one port";
    QTest::newRow("same port twice") << "program a.map -p COM3 -p com3" << "error: given twice";
    QTest::newRow("--wait not program") << "-p COM3 load a.map --wait" << "error: for program only";
    QTest::newRow("--no-backup not a write") << "-p COM3 info --no-backup" << "error: --no-backup";
    QTest::newRow("unknown option") << "-p COM3 info --force" << "error: unknown option";
    QTest::newRow("-p without value") << "info -p" << "error: -p wants a port";
    QTest::newRow("COM0") << "-p COM0 info" << "error: COM1 to COM15";
    QTest::newRow("COM16") << "-p COM16 info" << "error: COM1 to COM15";
    QTest::newRow("bare device name") << "-p ttyUSB0 info" << "error: neither";
    QTest::newRow("save without file") << "-p COM3 save" << "error: one file";
    QTest::newRow("load with two files") << "-p COM3 load a.map b.map" << "error: one file";
    QTest::newRow("info with extra") << "-p COM3 info now" << "error: unexpected";
    QTest::newRow("set without pairs") << "-p COM3 set" << "error: NAME=VALUE";
    QTest::newRow("set unknown name") << "-p COM3 set TinjMid=100" << "error: NAME=VALUE";
    QTest::newRow("set without =") << "-p COM3 set TinjMax" << "error: NAME=VALUE";
    // A value is the value rule's to judge, with the file's words and status 4 (tst_cli).
    QTest::newRow("set value kept as given") << "-p COM3 set TinjMax=12k RpmMin=7OO" << "set COM3 TinjMax=12k RpmMin=7OO";
    QTest::newRow("load allowing") << "-p COM3 load a.map --allow-outside-range --by-position"
                                   << "load COM3 a.map outside by-position";
    QTest::newRow("by-position for load and program") << "-p COM3 set TinjMax=100 --by-position" << "error: is for load and program";
    QTest::newRow("outside range not for info") << "-p COM3 info --allow-outside-range" << "error: is for load, program and set";
    QTest::newRow("set twice") << "-p COM3 set TinjMax=100 tinjmax=200" << "error: given twice";
    QTest::newRow("language") << "-p COM3 info --lang FRA" << "error: ITA or ENG";
    QTest::newRow("seconds not watch") << "-p COM3 info --seconds 3" << "error: for watch only";
    QTest::newRow("seconds zero") << "-p COM3 watch --seconds 0" << "error: --seconds";
    QTest::newRow("seconds not a number") << "-p COM3 watch --seconds x" << "error: --seconds";
}

void TestCliOptions::parse()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    const CliParseResult result = parseCliArguments(line.split(QLatin1Char(' ')));
    if (expected.startsWith(QLatin1String("error: "))) {
        QVERIFY2(!result.ok, qPrintable(summary(result.options)));
        QVERIFY2(result.error.contains(expected.mid(7)), qPrintable(result.error));
    } else {
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(summary(result.options), expected);
    }
}

void TestCliOptions::answers_data()
{
    QTest::addColumn<QByteArray>("typed");
    QTest::addColumn<bool>("italian");
    QTest::addColumn<bool>("yes");
    QTest::newRow("y") << QByteArray("y\r") << false << true;
    QTest::newRow("YES") << QByteArray(" YES ") << false << true;
    QTest::newRow("s in English") << QByteArray("s") << false << false;
    QTest::newRow("s") << QByteArray("s") << true << true;
    QTest::newRow("si") << QByteArray("Si") << true << true;
    QTest::newRow("sì UTF-8") << QByteArray("s\xc3\xac") << true << true;
    QTest::newRow("sì code page 850") << QByteArray("s\x8d\r\n") << true << true;
    QTest::newRow("sì code page 1252") << QByteArray("s\xec") << true << true;
    QTest::newRow("y in Italian") << QByteArray("y") << true << false;
    QTest::newRow("no") << QByteArray("no") << true << false;
    QTest::newRow("empty") << QByteArray() << false << false;
}

// An answer is yes only in the words of the language the question was asked in.
void TestCliOptions::answers()
{
    QFETCH(QByteArray, typed);
    QFETCH(bool, italian);
    QFETCH(bool, yes);
    QCOMPARE(cliAnswerIsYes(typed, italian), yes);
}

QTEST_GUILESS_MAIN(TestCliOptions)
#include "tst_clioptions.moc"
