#include "datafolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace oe;

class TestDataFolder : public QObject
{
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
    void fallbackStartsFromProgramFolder();
};

void TestDataFolder::choice_data()
{
    // Folders relative to a fresh temporary folder; "blocker" is a plain file, so nothing can be made
    // in or under blocker/x: a program folder the user may not write, on any system and for root too.
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QString>("expected");
    QTest::newRow("writable program folder stays home") << "prog" << "local/OE Setup" << "prog";
    QTest::newRow("unwritable: the fallback, made") << "blocker/x" << "local/OE Setup" << "local/OE Setup";
    QTest::newRow("unwritable, no fallback (Linux)") << "blocker/x" << "" << "blocker/x";
    QTest::newRow("fallback cannot be made either") << "blocker/x" << "blocker/y" << "blocker/x";
}

void TestDataFolder::choice()
{
    QFETCH(QString, program);
    QFETCH(QString, fallback);
    QFETCH(QString, expected);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir base(tmp.path());
    QVERIFY(base.mkpath(QStringLiteral("prog")));
    QFile blocker(base.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const auto at = [&](const QString &relative) { return relative.isEmpty() ? QString() : base.filePath(relative); };

    QCOMPARE(chooseDataFolder(at(program), at(fallback)), at(expected));
    // The fallback is made only when taken, and the probe leaves nothing behind.
    QCOMPARE(QFileInfo(at(fallback)).isDir(), !fallback.isEmpty() && expected == fallback);
    QCOMPARE(QDir(at(QStringLiteral("prog"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
}

void TestDataFolder::fallbackStartsFromProgramFolder()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QDir base(tmp.path());
    QVERIFY(base.mkpath(QStringLiteral("prog/Maps")) && base.mkpath(QStringLiteral("local")));
    const auto write = [&](const QString &relative, const QByteArray &bytes) {
        QFile file(base.filePath(relative));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner)); // as in a folder the user may not write
    };
    write(QStringLiteral("prog/config.ini"), "COM=03\r\nLanguage=ENG\r\n");
    write(QStringLiteral("prog/Maps/road.map"), "RpmMin=1500\r\n");
    const auto read = [&](const QString &relative) {
        QFile file(base.filePath(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };

    seedDataFolder(base.filePath(QStringLiteral("prog")), base.filePath(QStringLiteral("local")));
    QCOMPARE(read(QStringLiteral("local/config.ini")), QByteArray("COM=03\r\nLanguage=ENG\r\n"));
    QCOMPARE(read(QStringLiteral("local/Maps/road.map")), QByteArray("RpmMin=1500\r\n"));
    QVERIFY(QFile::permissions(base.filePath(QStringLiteral("local/config.ini"))) & QFileDevice::WriteOwner);

    // Once the fallback has its own, the program folder's never come back over them.
    QFile mine(base.filePath(QStringLiteral("local/config.ini")));
    QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("COM=05\r\nLanguage=ITA\r\n") > 0);
    mine.close();
    QVERIFY(QFile::remove(base.filePath(QStringLiteral("local/Maps/road.map"))));
    seedDataFolder(base.filePath(QStringLiteral("prog")), base.filePath(QStringLiteral("local")));
    QCOMPARE(read(QStringLiteral("local/config.ini")), QByteArray("COM=05\r\nLanguage=ITA\r\n"));
    QCOMPARE(read(QStringLiteral("local/Maps/road.map")), QByteArray("(missing)"));
}

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
