#include "clocaleguard.h"
#include "mapfile.h"
#include "tinydisk.h"

#include <QtTest>

#include <sys/stat.h>

using namespace oe;

Q_DECLARE_METATYPE(MapFileError::Kind)
Q_DECLARE_METATYPE(oe::FileFault)

namespace {

using Kind = MapFileError::Kind;

const QList<QByteArray> kGoodLines = {
    "MinPumpCycles=5",     "MaxPumpCycles=10",     "RpmMin=1500",          "TinjMin=100",
    "TinjMax=2000",        "MinLoadPumpPause=800", "MaxLoadPumpPause=200", "RpmMultiplier=100",
};
const QList<int> kGoodValues = {5, 10, 1500, 100, 2000, 800, 200, 100};

QByteArray join(const QList<QByteArray> &lines, const QByteArray &end = "\r\n")
{
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line + end;
    return out;
}

// The good file with line n (from 1) replaced, or appended when n is past the end.
QByteArray withLine(int n, const QByteArray &text)
{
    QList<QByteArray> lines = kGoodLines;
    while (lines.size() < n)
        lines.append("Extra=1");
    lines[n - 1] = text;
    return join(lines);
}

QList<int> withValue(int index, int value)
{
    QList<int> values = kGoodValues;
    values[index] = value;
    return values;
}

QList<int> toList(const MapValues &values)
{
    return QList<int>(values.begin(), values.end());
}

bool writeBytes(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class TestMapFile : public QObject
{
    Q_OBJECT
private slots:
    void parsing_data();
    void parsing();
    void roundTrip();
    void italianCLocale();
    void oddFiles_data();
    void oddFiles();
    void failedSaveKeepsOldFile();
    void keyNotes_data();
    void keyNotes();
};

void TestMapFile::parsing_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<int>>("values"); // when the file loads
    QTest::addColumn<Kind>("kind");          // when it is refused
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("detail");

    const auto loads = [](const char *name, const QByteArray &data, const QList<int> &values) {
        QTest::newRow(name) << data << values << Kind::CannotRead << -1 << QString();
    };
    const auto refused = [](const char *name, const QByteArray &data, Kind kind, int line,
                            const QString &detail = QString()) {
        QTest::newRow(name) << data << QList<int>() << kind << line << detail;
    };

    loads("as saved", join(kGoodLines), kGoodValues);
    loads("CR only", join(kGoodLines, "\r"), kGoodValues);
    loads("LF only", join(kGoodLines, "\n"), kGoodValues);
    loads("no final line end", join(kGoodLines).chopped(2), kGoodValues);
    loads("byte-order mark", "\xEF\xBB\xBF" + join(kGoodLines), kGoodValues);
    loads("position decides, not key", withLine(1, "RpmMin=7"), withValue(0, 7));
    loads("any key text", withLine(2, "  whatever = 7"), withValue(1, 7));
    loads("blank before value", withLine(3, "RpmMin= 1500"), kGoodValues);
    loads("12.5 to even", withLine(3, "RpmMin=12.5"), withValue(2, 12));
    loads("13.5 to even", withLine(3, "RpmMin=13.5"), withValue(2, 14));
    loads("second = ends value", withLine(3, "RpmMin=15=00"), withValue(2, 15));
    loads("0 outside slider", withLine(1, "MinPumpCycles=0"), withValue(0, 0));
    loads("65535 outside slider", withLine(8, "RpmMultiplier=65535"), withValue(7, 65535));
    loads("nine lines", withLine(9, "Note=1"), kGoodValues);
    loads("eleven lines", withLine(11, "Note=1"), kGoodValues);
    // Lines 9 to 11 are read as the format reads them: a number from the start, or 0.
    loads("origin lines", join(kGoodLines + QList<QByteArray>{"Firmware=1.3.7", "Saved=2026-12-08 07:01:39",
                                                              "Note=\"12345678901 Monster, Rossi\""}),
          kGoodValues);
    loads("text in extra line", withLine(10, "Extra=abc"), kGoodValues);
    loads("70000 in extra line", withLine(9, "Extra=70000"), kGoodValues);
    loads("pump pair equal", withLine(2, "MaxPumpCycles=5"), withValue(1, 5));
    loads("tinj pair equal", withLine(4, "TinjMin=2000"), withValue(3, 2000));
    loads("pause pair equal", withLine(7, "MaxLoadPumpPause=800"), withValue(6, 800));

    refused("empty file", QByteArray(), Kind::TooFewLines, 0);
    refused("seven lines", join(kGoodLines.first(7)), Kind::TooFewLines, 7);
    refused("twelve lines", withLine(12, "Note=1"), Kind::TooManyLines, 12);
    refused("twelfth line empty", withLine(11, "Note=1") + "\r\n", Kind::TooManyLines, 12);
    refused("empty line", withLine(4, ""), Kind::BlankLine, 4);
    refused("blank line", withLine(2, " \t "), Kind::BlankLine, 2);
    refused("blank line after eighth", join(kGoodLines) + "\r\n", Kind::BlankLine, 9);
    refused("no =", withLine(5, "TinjMax 2000"), Kind::NoEquals, 5);
    refused("abc", withLine(3, "RpmMin=abc"), Kind::NotANumber, 3, "abc");
    refused("letter O for zero", withLine(3, "RpmMin=8OO"), Kind::NotANumber, 3, "8OO");
    refused("grouping comma", withLine(3, "RpmMin=1,500"), Kind::NotANumber, 3, "1,500");
    refused("junk after the number", withLine(3, "RpmMin=12abc"), Kind::NotANumber, 3, "12abc");
    refused("empty value", withLine(3, "RpmMin= "), Kind::NotANumber, 3, "");
    refused("sign only", withLine(3, "RpmMin=-"), Kind::NotANumber, 3, "-");
    refused("70000", withLine(4, "TinjMin=70000"), Kind::OutOfRange, 4, "70000");
    refused("negative", withLine(4, "TinjMin= -1"), Kind::OutOfRange, 4, "-1");
    refused("65535.5 rounds past", withLine(4, "TinjMin=65535.5"), Kind::OutOfRange, 4, "65535.5");
    refused("past int32", withLine(4, "TinjMin=99999999999"), Kind::OutOfRange, 4, "99999999999");
    refused("bad extra line", withLine(10, "Note"), Kind::NoEquals, 10);
    refused("blank extra line", withLine(9, "  "), Kind::BlankLine, 9);
    refused("extra line past int32", withLine(9, "Note=12345678901 Monster"), Kind::ExtraOutOfRange, 9, "12345678901 Monster");
    refused("extra line blanks skipped", withLine(11, "Note=1234 5678 901"), Kind::ExtraOutOfRange, 11, "1234 5678 901");
    refused("first fault wins", join(kGoodLines.first(5)).replace("Cycles=10", "Cycles=x"), Kind::NotANumber, 2, "x");
    refused("NUL byte", withLine(2, QByteArray("MaxPumpCycles=1\0" "0", 16)), Kind::NotText, 2);
    refused("binary", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), Kind::NotText, 1);
    refused("non-ASCII", withLine(6, "MinLoadPumpPause=8\xe9"), Kind::NotText, 6);
    refused("too large", QByteArray(kMapMaxFileSize + 1, 'x'), Kind::TooLarge, 0);
    // A line fault comes first: the value rule judges the pairs of a file read whole (tst_valuerule).
    refused("crossed and short", join({"MinPumpCycles=5", "MaxPumpCycles=1", "RpmMin=1500"}), Kind::TooFewLines, 3);
}

void TestMapFile::parsing()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<int>, values);
    QFETCH(Kind, kind);
    QFETCH(int, line);
    QFETCH(QString, detail);

    const MapReadResult result = parseMap(data);
    QCOMPARE(result.ok, line < 0);
    if (result.ok) {
        QCOMPARE(toList(result.values), values);
    } else {
        QCOMPARE(result.error.kind, kind);
        QCOMPARE(result.error.line, line);
        QCOMPARE(result.error.detail, detail);
    }
}

void TestMapFile::roundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("test.map");
    QVERIFY(writeBytes(path, "old contents, longer than the new ones will be ........................"
                             "........................................................................"
                             "........................................................................"));
    const MapValues values = {0, 50, 6000, 50, 30000, 2400, 80, 65535};
    QString error;
    QVERIFY2(writeMapFile(path, values, &error), qPrintable(error));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("MinPumpCycles=0\r\nMaxPumpCycles=50\r\nRpmMin=6000\r\n"
                                        "TinjMin=50\r\nTinjMax=30000\r\nMinLoadPumpPause=2400\r\n"
                                        "MaxLoadPumpPause=80\r\nRpmMultiplier=65535\r\n"));
    const MapReadResult read = readMapFile(path);
    QVERIFY(read.ok);
    QCOMPARE(read.values, values);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"test.map"});

    // The whole signed range is written as it is held, and a negative value is refused on loading.
    const QByteArray negative = formatMap({INT32_MIN, 0, 0, 0, 0, 0, 0, -7});
    QVERIFY(negative.startsWith("MinPumpCycles=-2147483648\r\n"));
    QVERIFY(negative.endsWith("\r\nRpmMultiplier=-7\r\n"));
    QCOMPARE(parseMap(negative).error, (MapFileError{Kind::OutOfRange, 1, "-2147483648"}));

    const QList<QByteArray> lines = formatMap(values).split('\n');
    for (int i = 0; i < kMapValueCount; ++i)
        QVERIFY(lines[i].startsWith(mapFileKey(i).toLatin1() + '='));
    QCOMPARE(mapFileKey(kMapValueCount), QString());

    // The origin: one ASCII line each, and what is written reads back as it was meant.
    const MapOrigin origin = mapOrigin(firmwareVersionText({1, 3, 7}), QDateTime({2026, 12, 8}, {7, 1, 39}),
                                       QStringLiteral("  99999999999 Città\r\nRossi\t€ "));
    QCOMPARE(origin.note, QStringLiteral("99999999999 Citta Rossi ?"));
    QVERIFY(formatMap(values, origin).endsWith("RpmMultiplier=65535\r\nFirmware=1.3.7\r\n"
                                               "Saved=2026-12-08 07:01:39\r\nNote=\"99999999999 Citta Rossi ?\"\r\n"));
    const MapReadResult withOrigin = parseMap(formatMap(values, origin));
    QVERIFY(withOrigin.ok);
    QCOMPARE(withOrigin.origin, origin);
    // A firmware text no lenient reader could take as a number in range is quoted like the note.
    QVERIFY(formatMap(values, {"99999999999", {}, {}}).endsWith("Firmware=\"99999999999\"\r\n"));
    QCOMPARE(parseMap(formatMap(values, {"99999999999", {}, {}})).origin.firmware, QStringLiteral("99999999999"));
}

// A desktop with a comma as its decimal separator must not change what a map file means.
void TestMapFile::italianCLocale()
{
    CLocaleGuard locale(kItalianLocale);
    if (!locale.ok())
        QSKIP(kNoItalianLocale);
    QCOMPARE(CLocaleGuard::decimalPoint(), ',');
    const MapReadResult result = parseMap(withLine(3, "RpmMin=13.5"));
    QVERIFY(result.ok);
    QCOMPARE(result.values[2], 14);
}

void TestMapFile::oddFiles_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("line");
    QTest::addColumn<FileFault>("fault");
    QTest::newRow("100 MB") << "sparse" << Kind::TooLarge << 0 << FileFault::None;
    QTest::newRow("binary") << "binary" << Kind::NotText << 1 << FileFault::None;
    QTest::newRow("folder") << "folder" << Kind::CannotRead << 0 << FileFault::NotAFile;
    QTest::newRow("deleted") << "deleted" << Kind::CannotRead << 0 << FileFault::NotFound;
    // Opening a pipe would wait for a writer.
    QTest::newRow("pipe") << "pipe" << Kind::CannotRead << 0 << FileFault::NotAFile;
}

void TestMapFile::oddFiles()
{
    QFETCH(QString, what);
    QFETCH(Kind, kind);
    QFETCH(int, line);
    QFETCH(FileFault, fault);

    QTemporaryDir dir;
    const QString path = dir.filePath("odd.map");
    if (what == "sparse") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(100 << 20));
    } else if (what == "binary") {
        QByteArray junk(4096, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 37 + 11) & 0xff);
        QVERIFY(writeBytes(path, junk));
    } else if (what == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (what == "deleted") {
        QVERIFY(writeBytes(path, join(kGoodLines)));
        QVERIFY(QFile::remove(path));
    } else if (what == "pipe") {
        QCOMPARE(::mkfifo(path.toLocal8Bit().constData(), 0600), 0);
    }

    const MapReadResult result = readMapFile(path);
    QVERIFY(!result.ok);
    QCOMPARE(result.error.kind, kind);
    QCOMPARE(result.error.line, line);
    QCOMPARE(result.error.detail.isEmpty(), kind != Kind::CannotRead);
    QCOMPARE(result.error.fault, fault);
}

// A save that fails midway (disk full) must leave the old map whole and no temporary file behind.
void TestMapFile::failedSaveKeepsOldFile()
{
    TinyDisk disk;
    if (!disk.ready())
        QSKIP("cannot mount a small tmpfs here (needs root)");

    const QString path = disk.filePath("saved.map");
    const MapValues old = {1, 2, 3, 4, 5, 7, 6, 8};
    QVERIFY(writeMapFile(path, old, nullptr));
    QFile filler(disk.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(1024, 'f');
    while (filler.write(block) == block.size()) {
    }
    filler.close();

    QString error;
    FileProblem problem;
    QVERIFY(!writeMapFile(path, {10, 20, 30, 40, 50, 60, 70, 80}, &error, &problem));
    QVERIFY(!error.isEmpty());
    QCOMPARE(problem.fault, FileFault::DiskFull);
    const MapReadResult read = readMapFile(path);
    QVERIFY(read.ok);
    QCOMPARE(read.values, old);
    QCOMPARE(QDir(disk.filePath("")).entryList(QDir::Files), (QStringList{"filler", "saved.map"}));
}

void TestMapFile::keyNotes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<int>>("lines"); // the lines noted
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("as saved") << join(kGoodLines) << QList<int>{} << QStringList{};
    QTest::newRow("case and blanks") << withLine(3, " rpmmin\t= 1500").replace("TinjMax=", "TINJMAX =")
                                     << QList<int>{} << QStringList{};
    QTest::newRow("Foo") << withLine(3, "Foo=1500") << QList<int>{3} << QStringList{"Foo"};
    QTest::newRow("no key") << withLine(8, "=100") << QList<int>{8} << QStringList{""};
    QTest::newRow("keys swapped")
        << join(kGoodLines).replace("MinPumpCycles=5", "MaxPumpCycles=5").replace("MaxPumpCycles=10", "MinPumpCycles=10")
        << QList<int>{1, 2} << QStringList{"MaxPumpCycles", "MinPumpCycles"};
    QTest::newRow("extra lines are never read") << withLine(9, "Foo=1") << QList<int>{} << QStringList{};
}

// The key never decides where a value goes, but a line named otherwise is reported, one note per line.
void TestMapFile::keyNotes()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<int>, lines);
    QFETCH(QStringList, keys);
    const MapReadResult result = parseMap(data);
    QVERIFY(result.ok);
    QList<MapKeyNote> expected;
    for (int i = 0; i < lines.size(); ++i)
        expected.append({lines[i], keys[i]});
    QCOMPARE(result.keyNotes, expected);
}

QTEST_APPLESS_MAIN(TestMapFile)
#include "tst_mapfile.moc"
