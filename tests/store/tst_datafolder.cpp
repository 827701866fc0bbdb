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

QTEST_GUILESS_MAIN(TestDataFolder)
#include "tst_datafolder.moc"
