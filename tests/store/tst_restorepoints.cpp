#include "restorepoints.h"

#include <QtTest>

using namespace oe;

Q_DECLARE_METATYPE(oe::RestoreCause)

namespace {

const MapValues kValues = {5, 10, 1500, 100, 2000, 800, 200, 100};
const QDateTime kWhen(QDate(2026, 12, 7), QTime(19, 30, 5));

bool touch(const QString &path, const QByteArray &data = "user data\r\n")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList names(const QList<RestorePointInfo> &list)
{
    QStringList out;
    for (const RestorePointInfo &info : list)
        out.append(QFileInfo(info.path).fileName());
    return out;
}

} // namespace

class TestRestorePoints : public QObject
{
    Q_OBJECT
private slots:
    void naming_data();
    void naming();
    void pruning_data();
    void pruning();
    void listing();
    void backupNames_data();
    void backupNames();
    void folderCannotBeMade_data();
    void folderCannotBeMade();
};

void TestRestorePoints::naming_data()
{
    QTest::addColumn<RestoreCause>("cause");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");
    QTest::newRow("load") << RestoreCause::Load << QStringList() << "20261207-193005-before-load.map";
    QTest::newRow("reset") << RestoreCause::Reset << QStringList() << "20261207-193005-before-reset.map";
    QTest::newRow("same second: never overwritten")
        << RestoreCause::Load << QStringList{"20261207-193005-before-load.map"} << "20261207-193005-before-load-2.map";
    QTest::newRow("third in the second")
        << RestoreCause::Reset
        << QStringList{"20261207-193005-before-reset.map", "20261207-193005-before-reset-2.map"}
        << "20261207-193005-before-reset-3.map";
}

void TestRestorePoints::naming()
{
    QFETCH(RestoreCause, cause);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    QTemporaryDir maps;
    const QString folder = restorePointFolder(maps.path());
    QCOMPARE(folder, maps.path() + "/Backups");
    QDir().mkpath(folder);
    for (const QString &name : existing)
        QVERIFY(touch(folder + '/' + name));

    const RestorePointWrite written = writeRestorePoint(maps.path(), cause, kValues, kWhen, "1.3.7");
    QVERIFY2(written.ok, qPrintable(written.error));
    QCOMPARE(written.path, folder + '/' + expected);
    QCOMPARE(contents(written.path), formatMap(kValues, mapOrigin("1.3.7", kWhen)));
    for (const QString &name : existing)
        QCOMPARE(contents(folder + '/' + name), QByteArray("user data\r\n"));
}

void TestRestorePoints::pruning_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("removed"); // the one own file that goes
    QTest::newRow("the oldest goes") << kWhen << "20250101-000000-COM3-1.0.map";
    // A clock set back makes the new file look oldest: it stays, the oldest other goes.
    QTest::newRow("clock set back") << QDateTime(QDate(2024, 1, 1), QTime(0, 0)) << "20250101-000000-COM3-1.0.map";
}

void TestRestorePoints::pruning()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, removed);
    QTemporaryDir maps;
    const QString folder = restorePointFolder(maps.path());
    QDir().mkpath(folder);
    // 200 of the program's own files, one a minute, both kinds; the oldest a backup on request.
    QVERIFY(touch(folder + '/' + removed));
    for (int i = 1; i < kRestorePointsKept; ++i) {
        const QDateTime at = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).addSecs(60 * i);
        const QString name = i % 2 ? at.toString("yyyyMMdd-HHmmss") + "-before-load.map"
                                   : backupFileName(at, "COM3", "1.0");
        QVERIFY(touch(folder + '/' + name));
    }
    // Files the user put there, some close to our names, are never removed.
    const QStringList userFiles = {"mytune.map", "20240101-000000.map", "20241301-000000-before-load.map",
                                   "20240101-000000-before-load.txt", "19990101-000000-my tune.map"};
    for (const QString &name : userFiles)
        QVERIFY(touch(folder + '/' + name));

    const RestorePointWrite written = writeRestorePoint(maps.path(), RestoreCause::Reset, kValues, when);
    QVERIFY2(written.ok, qPrintable(written.error));
    QVERIFY(QFile::exists(written.path));
    QVERIFY(!QFile::exists(folder + '/' + removed));
    QCOMPARE(listRestorePoints(maps.path()).size(), kRestorePointsKept);
    for (const QString &name : userFiles)
        QVERIFY2(QFile::exists(folder + '/' + name), qPrintable(name));
}

void TestRestorePoints::listing()
{
    QTemporaryDir maps;
    const QString folder = restorePointFolder(maps.path());
    QVERIFY(!listRestorePoints(maps.path()).size()); // no folder yet
    QDir().mkpath(folder);
    for (const char *name : {"20261207-100000-before-load.map", "20261207-100000-before-load-2.map",
                                "20261207-090000-COM3-2.10.map", "20261208-080000-before-reset.map",
                                "mytune.map"})
        QVERIFY(touch(folder + '/' + QLatin1String(name)));

    const QList<RestorePointInfo> list = listRestorePoints(maps.path());
    QCOMPARE(names(list), QStringList({"20261208-080000-before-reset.map", "20261207-100000-before-load-2.map",
                                       "20261207-100000-before-load.map", "20261207-090000-COM3-2.10.map"}));
    QCOMPARE(list[0].when, QDateTime(QDate(2026, 12, 8), QTime(8, 0)));
    QCOMPARE(list[0].cause, std::optional(RestoreCause::Reset));
    QCOMPARE(list[1].cause, std::optional(RestoreCause::Load));
    QVERIFY(!list[3].cause.has_value());
}

void TestRestorePoints::backupNames_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "COM3" << "2.10" << "20261207-193005-COM3-2.10.map";
    QTest::newRow("device path, blanks, dash")
        << "/dev/ttyUSB0" << "V2 beta-1" << "20261207-193005-_dev_ttyUSB0-V2_beta_1.map";
    QTest::newRow("windows device, unknown firmware") << "\\\\.\\COM12" << "" << "20261207-193005-__._COM12-unknown.map";
}

void TestRestorePoints::backupNames()
{
    QFETCH(QString, port);
    QFETCH(QString, firmware);
    QFETCH(QString, expected);
    QCOMPARE(backupFileName(kWhen, port, firmware), expected);
    // The listing knows the name as one of the program's own.
    QTemporaryDir maps;
    QDir().mkpath(restorePointFolder(maps.path()));
    QVERIFY(touch(restorePointFolder(maps.path()) + '/' + expected));
    QCOMPARE(names(listRestorePoints(maps.path())), QStringList{expected});
}

void TestRestorePoints::folderCannotBeMade_data()
{
    QTest::addColumn<QString>("blocker"); // a file where a folder goes
    QTest::newRow("Backups is a file") << "Backups";
    QTest::newRow("Maps is a file") << "";
}

void TestRestorePoints::folderCannotBeMade()
{
    QFETCH(QString, blocker);
    QTemporaryDir dir;
    const QString maps = dir.filePath("Maps");
    if (blocker.isEmpty()) {
        QVERIFY(touch(maps));
    } else {
        QVERIFY(QDir().mkpath(maps));
        QVERIFY(touch(maps + '/' + blocker));
    }
    const RestorePointWrite written = writeRestorePoint(maps, RestoreCause::Load, kValues, kWhen);
    QVERIFY(!written.ok);
    QVERIFY(written.path.isEmpty());
    QCOMPARE(written.problem.fault, FileFault::NotAFile);
    QVERIFY(written.error.contains("Backups"));
}

QTEST_GUILESS_MAIN(TestRestorePoints)
#include "tst_restorepoints.moc"
