#include "atomicfile.h"
#include "configfile.h"
#include "textlines.h"
#include "tinydisk.h"

#include <QtTest>


using namespace oe;

class TestTextFiles : public QObject
{
    Q_OBJECT
private slots:
    void splitting_data();
    void splitting();
    void configRoundTrip();
    void rewriteDropsThirdLine();
    void readingOddFiles_data();
    void readingOddFiles();
    void portLines_data();
    void portLines();
    void failedWriteKeepsOldFile();
};

void TestTextFiles::splitting_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("cr") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("lf") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("no final end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("empty lines") << QByteArray("\r\n\r\nc\r\n") << QStringList{"", "", "c"};
    QTest::newRow("lf cr is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("only line end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("bytes kept") << QByteArray("\xe8\x01", 2) << QStringList{QString::fromLatin1("\xe8\x01", 2)};
}

void TestTextFiles::splitting()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, lines);
    QCOMPARE(splitLines(data), lines);
    if (!lines.isEmpty())
        QCOMPARE(splitLines(joinLines(lines)), lines);
}

void TestTextFiles::configRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    QString error;
    QVERIFY(writeConfigFile(path, {"COM=07", "Language=ENG"}, &error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("COM=07\r\nLanguage=ENG\r\n"));
    const ConfigReadResult read = readConfigFile(path);
    QCOMPARE(read.linesRead, 2);
    QCOMPARE(read.lines[0], QString("COM=07"));
    QCOMPARE(read.lines[1], QString("Language=ENG"));
    QVERIFY(!QFile::exists(path + ".tmp"));
}

void TestTextFiles::rewriteDropsThirdLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("COM=03\rLanguage=ITA\rthird\r");
    file.close();
    const ConfigReadResult read = readConfigFile(path);
    QCOMPARE(read.linesRead, 2);
    QVERIFY(writeConfigFile(path, read.lines, nullptr));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("COM=03\r\nLanguage=ITA\r\n"));
}

void TestTextFiles::readingOddFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("linesRead");
    QTest::addColumn<QString>("first");
    QTest::newRow("one line") << QByteArray("COM=05") << 1 << "COM=05";
    QTest::newRow("empty") << QByteArray() << 0 << "";
    QTest::newRow("nul bytes") << QByteArray("CO\0M=04\r\nx\r\n", 12) << 2 << QString::fromLatin1("CO\0M=04", 7);
    QTest::newRow("binary junk") << QByteArray("\xff\xfe\x00\x01\x02", 5) << 1 << QString::fromLatin1("\xff\xfe\x00\x01\x02", 5);
    QTest::newRow("50 MB line") << QByteArray(50 << 20, 'x') << 1 << QString(1 << 20, u'x');
}

void TestTextFiles::readingOddFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, linesRead);
    QFETCH(QString, first);
    QTemporaryDir dir;
    const QString path = dir.filePath("config.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    const ConfigReadResult read = readConfigFile(path);
    QVERIFY(read.error.isEmpty());
    QCOMPARE(read.linesRead, linesRead);
    QCOMPARE(read.lines[0], first);
}

void TestTextFiles::portLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("port");
    QTest::newRow("COM=07") << "COM=07" << 7;
    QTest::newRow("COM=15") << "COM=15" << 15;
    QTest::newRow("COM=12") << "COM=12" << 12;
    QTest::newRow("COM=99 capped") << "COM=99" << 15;
    QTest::newRow("COM= empty") << "COM=" << 0;
    QTest::newRow("COM=7 one digit") << "COM=7" << 0;
    QTest::newRow("empty line") << "" << 0;
    QTest::newRow("negative") << "COM-1" << 0;
    QTest::newRow("other key") << "PORT=07" << 7;
    QTest::newRow("blank digit") << "COM= 9" << 9;
}

void TestTextFiles::portLines()
{
    QFETCH(QString, line);
    QFETCH(int, port);
    QCOMPARE(portFromLine(line), port);
    if (port > 0 && line.startsWith("COM="))
        QCOMPARE(portFromLine(portLine(port)), port);
}

// A write that fails midway (disk full) must leave the old file whole.
void TestTextFiles::failedWriteKeepsOldFile()
{
    TinyDisk disk;
    if (!disk.ready())
        QSKIP("cannot mount a small tmpfs here (needs root)");

    const QString path = disk.filePath("config.ini");
    QVERIFY(writeConfigFile(path, {"COM=04", "Language=ITA"}, nullptr));
    QString error;
    const QString hugeLine(64 * 1024, u'x');
    QVERIFY(!writeConfigFile(path, {hugeLine, "Language=ENG"}, &error));
    QVERIFY(!error.isEmpty());
    const ConfigReadResult read = readConfigFile(path);
    QCOMPARE(read.lines[0], QString("COM=04"));
    QCOMPARE(read.lines[1], QString("Language=ITA"));
    QCOMPARE(QDir(disk.filePath("")).entryList(QDir::Files), QStringList{"config.ini"});
}

QTEST_APPLESS_MAIN(TestTextFiles)
#include "tst_textfiles.moc"
