#include "captiontable.h"
#include "builtincaptions.h"
#include "languagefile.h"
#include "maptexts.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

using Entries = QMap<int, QString>;
Q_DECLARE_METATYPE(Entries)

namespace {

// Every entry holds a marker first, so a test sees any entry the load touched.
CaptionTable markedTable()
{
    CaptionTable table;
    for (int i = 0; i <= CaptionTable::kLastEntry; ++i)
        table.set(i, QStringLiteral("old%1").arg(i));
    return table;
}

CaptionTable markedTableWith(const Entries &changes)
{
    CaptionTable table = markedTable();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        table.set(it.key(), it.value());
    return table;
}

QList<int> usedEntries()
{
    QList<int> entries;
    for (int i = 0; i <= 17; ++i)
        entries << i;
    for (int i = 26; i <= 54; ++i)
        entries << i;
    for (int i = 60; i <= 62; ++i)
        entries << i;
    for (int i = 70; i <= 77; ++i)
        entries << i;
    for (int i = 80; i <= 82; ++i)
        entries << i;
    entries << 90 << 91;
    for (int i = 100; i <= 113; ++i)
        entries << i;
    for (int i = 120; i <= 132; ++i)
        entries << i;
    entries << 140 << 141 << 142;
    for (int i = 160; i <= 167; ++i)
        entries << i;
    for (int i = 180; i <= 199; ++i)
        entries << i;
    for (int i = 250; i <= 279; ++i)
        entries << i;
    for (int i = 300; i <= 313; ++i) // where a map came from, a recording opened
        entries << i;
    for (int i = 320; i <= 325; ++i) // restore points' origin, the editor's pairs and empty fields
        entries << i;
    for (int i = 400; i <= 424; ++i) // a lost port and its wait, the paused readings, keyed menus
        entries << i;
    for (int i = 200; i <= 249; ++i) // oe-cli's own words
        entries << i;
    for (int i = 280; i <= 295; ++i) // oe-cli's program verdicts and stops
        entries << i;
    for (int i = 330; i <= 342; ++i) // oe-cli's port list
        entries << i;
    return entries;
}

} // namespace

class TestLanguageFile : public QObject
{
    Q_OBJECT

private slots:
    void captionTableRange();
    void reading_data();
    void reading();
    void decoding_data();
    void decoding();
    void missingEntryKeepsEarlierLanguage();
    void fileFailures();
    void badInput_data();
    void badInput();
    void shippedFile_data();
    void shippedFile();
    void mapErrorTexts_data();
    void mapErrorTexts();
};

void TestLanguageFile::captionTableRange()
{
    CaptionTable table;
    QVERIFY(table.set(0, QStringLiteral("a")));
    QVERIFY(table.set(1000, QStringLiteral("b")));
    QVERIFY(!table.set(1001, QStringLiteral("c")));
    QVERIFY(!table.set(-1, QStringLiteral("d")));
    QCOMPARE(table.text(0), QStringLiteral("a"));
    QCOMPARE(table.text(1000), QStringLiteral("b"));
    QCOMPARE(table.text(1001), QString());
    QCOMPARE(table.text(-1), QString());
    QCOMPARE(table.text(500), QString());
}

void TestLanguageFile::reading_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("failedLine");
    QTest::addColumn<Entries>("changed");

    // Every row loads the code "ITA".
    QTest::newRow("two entries") << QByteArray("[ITA]\r\n0005 CONNETTI\r\n0032 Carica Mappa\r\n[END LANGUAGE]\r\n")
        << true << true << 0 << Entries{{5, "CONNETTI"}, {32, "Carica Mappa"}};
    QTest::newRow("header case differs") << QByteArray("[ita]\r\n0005 x\r\n[END LANGUAGE]\r\n")
        << true << false << 0 << Entries{};
    QTest::newRow("header with more text") << QByteArray("[ITA] x\r\n0005 x\r\n")
        << true << false << 0 << Entries{};
    QTest::newRow("no section") << QByteArray("[ENG]\r\n0005 CONNECT\r\n[END LANGUAGE]\r\n")
        << true << false << 0 << Entries{};
    QTest::newRow("empty file") << QByteArray() << true << false << 0 << Entries{};
    QTest::newRow("blanks inside number") << QByteArray("[ITA]\r\n5    Text\r\n")
        << true << true << 0 << Entries{{5, "Text"}};
    QTest::newRow("entry 1001") << QByteArray("[ITA]\r\n0001 a\r\n1001 x\r\n0002 b\r\n")
        << false << true << 3 << Entries{{1, "a"}};
    QTest::newRow("negative entry") << QByteArray("[ITA]\r\n-001 x\r\n") << false << true << 2 << Entries{};
    QTest::newRow("entry 0") << QByteArray("[ITA]\r\n0000 x\r\n") << true << true << 0 << Entries{{0, "x"}};
    QTest::newRow("halves to even") << QByteArray("[ITA]\r\n2.5  a\r\n3.5  b\r\n")
        << true << true << 0 << Entries{{2, "a"}, {4, "b"}};
    QTest::newRow("blank lines") << QByteArray("\r\n[ITA]\r\n\r\n0001 a\r\n   \r\n\r\n0002 b\r\n\r\n[END LANGUAGE]\r\n\r\n")
        << true << true << 0 << Entries{{1, "a"}, {2, "b"}};
    QTest::newRow("quoted commas") << QByteArray("[ITA]\r\n\"0026 a, b, c\"\r\n0027 t\r\n")
        << true << true << 0 << Entries{{26, "a, b, c"}, {27, "t"}};
    QTest::newRow("text after closing quote dropped") << QByteArray("[ITA]\r\n\"0005 a, b\" junk,0006 c\r\n")
        << true << true << 0 << Entries{{5, "a, b"}, {6, "c"}};
    QTest::newRow("quoted line ends") << QByteArray("[ITA]\r\n\"0030 one\r\ntwo\rthree\nfour\"\r\n0031 x\r\n")
        << true << true << 0 << Entries{{30, "one\ntwo\nthree\nfour"}, {31, "x"}};
    QTest::newRow("line count after quoted line ends") << QByteArray("[ITA]\r\n\"0030 a\r\nb\"\r\nxy\r\n")
        << false << true << 4 << Entries{{30, "a\nb"}};
    QTest::newRow("no end marker reads next section") << QByteArray("[ITA]\r\n0001 a\r\n[ENG]\r\n0001 b\r\n")
        << true << true << 0 << Entries{{0, ""}, {1, "b"}};
    QTest::newRow("end marker stops") << QByteArray("[ITA]\r\n0001 a\r\n[END LANGUAGE]\r\n0002 b\r\n[ITA]\r\n0003 c\r\n")
        << true << true << 0 << Entries{{1, "a"}};
    QTest::newRow("other section first") << QByteArray("[ENG]\r\n0001 e\r\n[END LANGUAGE]\r\n[ITA]\r\n0001 i\r\n[END LANGUAGE]\r\n")
        << true << true << 0 << Entries{{1, "i"}};
    QTest::newRow("item too short") << QByteArray("[ITA]\r\n0001 a\r\n0002\r\n0003 c\r\n")
        << false << true << 3 << Entries{{1, "a"}};
    QTest::newRow("item of five characters") << QByteArray("[ITA]\r\n0007 \r\n") << true << true << 0 << Entries{{7, ""}};
    QTest::newRow("comma splits text") << QByteArray("[ITA]\r\n0026 fallita, controllare il cavo\r\n")
        << true << true << 0 << Entries{{26, "fallita"}, {0, "ollare il cavo"}};
    QTest::newRow("comma leaves short item") << QByteArray("[ITA]\r\n0026 a, b\r\n0027 t\r\n")
        << false << true << 2 << Entries{{26, "a"}};
    QTest::newRow("items on one line") << QByteArray("[ITA],0001 a,,0002 b\r\n") << true << true << 0 << Entries{{1, "a"}, {2, "b"}};
    QTest::newRow("later duplicate wins") << QByteArray("[ITA]\r\n0005 a\r\n0005 b\r\n") << true << true << 0 << Entries{{5, "b"}};
    QTest::newRow("leading and trailing blanks") << QByteArray("  [ITA] \t\r\n \t0005 CONNETTI  \r\n\"0006 x  \"\r\n  [END LANGUAGE] \r\n0007 y\r\n")
        << true << true << 0 << Entries{{5, "CONNETTI"}, {6, "x  "}};
    QTest::newRow("CR line ends") << QByteArray("[ITA]\r0001 a\r\r0002 b\r[END LANGUAGE]\r") << true << true << 0 << Entries{{1, "a"}, {2, "b"}};
    QTest::newRow("LF line ends") << QByteArray("[ITA]\n0001 a\n\n0002 b\n[END LANGUAGE]\n") << true << true << 0 << Entries{{1, "a"}, {2, "b"}};
    QTest::newRow("unbalanced quote") << QByteArray("[ITA]\r\n0001 a\r\n\"0002 b\r\n[END LANGUAGE]\r\n0003 c")
        << true << true << 0 << Entries{{1, "a"}, {2, "b\n[END LANGUAGE]\n0003 c"}};
    QTest::newRow("empty quoted item ignored") << QByteArray("[ITA]\r\n\"\"\r\n0001 a\r\n") << true << true << 0 << Entries{{1, "a"}};
    QTest::newRow("NUL bytes kept in text") << QByteArray("[ITA]\n0001 a\0b\n", 15) << true << true << 0 << Entries{{1, QString("a") + QChar(0) + "b"}};
}

void TestLanguageFile::reading()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, ok);
    QFETCH(bool, found);
    QFETCH(int, failedLine);
    QFETCH(Entries, changed);

    CaptionTable table = markedTable();
    const LanguageLoadResult result = loadLanguageData(file, QStringLiteral("ITA"), table);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.sectionFound, found);
    QCOMPARE(result.failedLine, failedLine);
    QCOMPARE(result.error.isEmpty(), ok);
    if (!ok) {
        QVERIFY(result.error.contains(QStringLiteral("Language.ini")));
        QVERIFY(result.error.contains(QStringLiteral("line %1").arg(failedLine)));
        QVERIFY(result.error.contains(result.failedItem));
    }
    for (int i = 0; i <= CaptionTable::kLastEntry; ++i)
        QCOMPARE(table.text(i), markedTableWith(changed).text(i));
}

void TestLanguageFile::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QByteArray("RESET") << QStringLiteral("RESET");
    QTest::newRow("UTF-8") << QByteArray("Velocit\xC3\xA0 \xE2\x82\xAC") << QStringLiteral("Velocità €");
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xEF\xBB\xBF[ITA]") << QStringLiteral("[ITA]");
    QTest::newRow("byte-order mark on 8-bit text") << QByteArray("\xEF\xBB\xBF[ITA] \xE0") << QStringLiteral("[ITA] à");
    QTest::newRow("Latin-1") << QByteArray("Velocit\xE0 pi\xF9") << QStringLiteral("Velocità più");
    QTest::newRow("Windows code page") << QByteArray("\x80 \x93x\x94 \x81") << (QStringLiteral("€ “x” ") + QChar(0x81));
}

void TestLanguageFile::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeLanguageText(bytes), text);
}

void TestLanguageFile::missingEntryKeepsEarlierLanguage()
{
    const QByteArray file("[ITA]\r\n0027 Attenzione\r\n0030 Informazioni\r\n[END LANGUAGE]\r\n"
                          "[ENG]\r\n0027 Warning\r\n[END LANGUAGE]\r\n");
    CaptionTable table;
    QVERIFY(loadLanguageData(file, QStringLiteral("ITA"), table).ok);
    QVERIFY(loadLanguageData(file, QStringLiteral("ENG"), table).ok);
    QCOMPARE(table.text(27), QStringLiteral("Warning"));
    QCOMPARE(table.text(30), QStringLiteral("Informazioni"));
}

void TestLanguageFile::fileFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = languageFilePath(dir.path());
    QVERIFY(path.endsWith(QStringLiteral("/Language.ini")));

    CaptionTable table = markedTable();
    LanguageLoadResult result = loadLanguage(path, QStringLiteral("ITA"), table);
    QVERIFY(!result.ok);
    QVERIFY(result.error.contains(QStringLiteral("Language.ini")));

    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Language.ini")));
    result = loadLanguage(path, QStringLiteral("ITA"), table);
    QVERIFY(!result.ok);
    QVERIFY(result.error.contains(QStringLiteral("Language.ini")));
    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("Language.ini")));

    // A sparse file far larger than any language file is refused before it is read.
    QFile big(path);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.write("[ITA]\r\n0001 x\r\n") > 0);
    QVERIFY(big.resize(qint64(100) * 1024 * 1024));
    big.close();
    result = loadLanguage(path, QStringLiteral("ITA"), table);
    QVERIFY(!result.ok);
    QVERIFY(result.error.contains(QStringLiteral("Language.ini")));
    QVERIFY(table == markedTable());

    QVERIFY(big.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QVERIFY(big.write("[ITA]\r\n0001 x\r\n") > 0);
    big.close();
    result = loadLanguage(path, QStringLiteral("ITA"), table);
    QVERIFY(result.ok);
    QCOMPARE(table.text(1), QStringLiteral("x"));
}

void TestLanguageFile::badInput_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("entry");       // an entry whose text the load must leave as given
    QTest::addColumn<qsizetype>("length"); // its expected length; -1 when the load may fail

    constexpr qsizetype kTenMb = 10 * 1024 * 1024;
    QByteArray junk(kTenMb, Qt::Uninitialized);
    QRandomGenerator random(20240501);
    random.fillRange(reinterpret_cast<quint32 *>(junk.data()), junk.size() / 4);

    QTest::newRow("junk") << QByteArray("[ITA]\r\n" + junk) << 0 << qsizetype(-1);
    QTest::newRow("NUL bytes") << QByteArray("[ITA]\r\n0001 " + QByteArray(kTenMb, '\0')) << 1 << kTenMb;
    QTest::newRow("lines of commas") << QByteArray("[ITA]\r\n" + QByteArray(kTenMb, ',') + "\r\n0001 z\r\n") << 1 << qsizetype(1);
    QTest::newRow("CR only") << QByteArray("[ITA]" + QByteArray(kTenMb, '\r') + "0001 z\r") << 1 << qsizetype(1);
    QTest::newRow("unbalanced quote") << QByteArray("[ITA]\r\n\"0001 " + QByteArray(kTenMb / 4, 'x').replace("x", "a,\r\n")) << 1 << kTenMb / 4 * 3;
    QTest::newRow("no end marker") << QByteArray("[ITA]\r\n" + QByteArray("0001 abc\r\n").repeated(kTenMb / 10)) << 1 << qsizetype(3);
    QTest::newRow("one long line") << QByteArray("[ITA]\r\n0001 " + QByteArray(kTenMb, 'y')) << 1 << kTenMb;
}

void TestLanguageFile::badInput()
{
    QFETCH(QByteArray, file);
    QFETCH(int, entry);
    QFETCH(qsizetype, length);

    CaptionTable table;
    const LanguageLoadResult result = loadLanguageData(file, QStringLiteral("ITA"), table);
    QVERIFY(result.sectionFound);
    QCOMPARE(result.ok, result.error.isEmpty());
    if (length >= 0) {
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(table.text(entry).size(), length);
    } else if (!result.ok) {
        QVERIFY(result.failedLine >= 2);
        QVERIFY(result.error.size() < 300);
    }
}

void TestLanguageFile::shippedFile_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("connect");
    QTest::newRow("ITA") << QStringLiteral("ITA") << QStringLiteral("CONNETTI");
    QTest::newRow("ENG") << QStringLiteral("ENG") << QStringLiteral("CONNECT");
}

void TestLanguageFile::shippedFile()
{
    QFETCH(QString, code);
    QFETCH(QString, connect);

    CaptionTable table;
    const LanguageLoadResult result = loadLanguage(QStringLiteral(OE_SHIPPED_LANGUAGE_INI), code, table);
    QVERIFY2(result.ok, qPrintable(result.error));
    QVERIFY(result.sectionFound);

    const QList<int> used = usedEntries();
    for (int i = 0; i <= CaptionTable::kLastEntry; ++i) {
        const QString text = table.text(i);
        QVERIFY2(text.isEmpty() != used.contains(i), qPrintable(QStringLiteral("entry %1: \"%2\"").arg(i).arg(text)));
        // A quote left in a text, or blanks around it, means an item was quoted wrongly.
        QVERIFY2(!text.contains(u'"') && text == text.trimmed(), qPrintable(QStringLiteral("entry %1").arg(i)));
    }
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 31, 32, 33, 34, 35, 27})
        QVERIFY2(!table.text(i).contains(u'\n'), qPrintable(QStringLiteral("caption %1 spans lines").arg(i)));
    QCOMPARE(table.text(Caption::RpmName), QStringLiteral("RPM"));
    QCOMPARE(table.text(Caption::Connect), connect);
    QVERIFY(table.text(Caption::Disconnect) != table.text(Caption::Connect));
    QVERIFY(table.text(Caption::RpmMultiplierFrame) != table.text(Caption::RpmMinFrame));
    QVERIFY(table.text(Caption::About).contains(QStringLiteral("OE Setup")));
    QVERIFY(table.text(Caption::About).contains(QStringLiteral("1.0.0")));
    // What the program shows without a readable Language.ini is this very section.
    QVERIFY(builtInCaptions(code) == table);
}

void TestLanguageFile::mapErrorTexts_data()
{
    QTest::addColumn<QString>("code"); // empty: no language loaded, the built-in texts
    QTest::newRow("ITA") << QStringLiteral("ITA");
    QTest::newRow("ENG") << QStringLiteral("ENG");
    QTest::newRow("built-in") << QString();
}

// Every refusal must name its line and value: a translation that drops a placeholder hides
// where the technician has to look.
void TestLanguageFile::mapErrorTexts()
{
    QFETCH(QString, code);
    CaptionTable table;
    if (!code.isEmpty())
        QVERIFY(loadLanguage(QStringLiteral(OE_SHIPPED_LANGUAGE_INI), code, table).ok);

    using Kind = MapFileError::Kind;
    const QList<Kind> withLine = {Kind::NotText, Kind::TooFewLines, Kind::BlankLine,  Kind::NoEquals,
                                  Kind::NotANumber, Kind::OutOfRange, Kind::CrossedPair};
    const QList<Kind> withDetail = {Kind::CannotRead, Kind::NotANumber, Kind::OutOfRange, Kind::CrossedPair};
    const QString detail = QStringLiteral("%1x"); // a value read from the file is never expanded
    for (Kind kind : {Kind::CannotRead, Kind::TooLarge, Kind::NotText, Kind::TooFewLines,
                      Kind::TooManyLines, Kind::BlankLine, Kind::NoEquals, Kind::NotANumber,
                      Kind::OutOfRange, Kind::CrossedPair}) {
        QString text = mapErrorText({kind, 7, detail}, table);
        const QString what = QStringLiteral("kind %1: %2").arg(int(kind)).arg(text);
        QCOMPARE(text.contains(u'7'), withLine.contains(kind));
        QVERIFY2(text.contains(detail) == withDetail.contains(kind), qPrintable(what));
        QVERIFY2(!text.remove(detail).contains(u'%') && text.size() > 10, qPrintable(what));
    }
    for (int entry : {Caption::MapNoChanges, Caption::MapAllMatch, Caption::MapDiffers})
        QVERIFY(!builtInMapCaption(entry).isEmpty());

    QString note = mapKeyNoteText({3, detail}, table);
    QVERIFY2(note.contains(u'3') && note.contains(detail) && note.contains(QStringLiteral("RpmMin")), qPrintable(note));
    QVERIFY2(!note.remove(detail).contains(u'%'), qPrintable(note));
    // Our own words for the faults we know; the system's (English) text only for the others.
    QStringList reasons;
    for (FileFault fault : {FileFault::NotFound, FileFault::NoPermission, FileFault::DiskFull, FileFault::NotAFile})
        reasons << fileProblemText({fault, QStringLiteral("system")}, table);
    QCOMPARE(QSet<QString>(reasons.cbegin(), reasons.cend()).size(), 4);
    QVERIFY(!reasons.join(QString()).contains(QStringLiteral("system")));
    QCOMPARE(fileProblemText({FileFault::Other, QStringLiteral("system")}, table), QStringLiteral("system"));
    QVERIFY(mapErrorText({Kind::CannotRead, 0, QStringLiteral("system"), FileFault::NotFound}, table)
            == reasons[0]);
}

QTEST_GUILESS_MAIN(TestLanguageFile)
#include "tst_languagefile.moc"
