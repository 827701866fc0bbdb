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
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("expected");
    QTest::newRow("load") << RestoreCause::Load << "COM3" << QStringList() << "20261207-193005-before-load-COM3-1.3.7.map";
    QTest::newRow("reset, port unknown") << RestoreCause::Reset << "" << QStringList()
                                         << "20261207-193005-before-reset-unknown-1.3.7.map";
    QTest::newRow("program on a device path") << RestoreCause::Program << "/dev/ttyUSB0" << QStringList()
                                              << "20261207-193005-before-program-_dev_ttyUSB0-1.3.7.map";
    QTest::newRow("same second: never overwritten")
        << RestoreCause::Load << "COM3" << QStringList{"20261207-193005-before-load-COM3-1.3.7.map"}
        << "20261207-193005-before-load-COM3-1.3.7-2.map";
    QTest::newRow("third in the second")
        << RestoreCause::Program << "COM4"
        << QStringList{"20261207-193005-before-program-COM4-1.3.7.map", "20261207-193005-before-program-COM4-1.3.7-2.map"}
        << "20261207-193005-before-program-COM4-1.3.7-3.map";
}

void TestRestorePoints::naming()
{
    QFETCH(RestoreCause, cause);
    QFETCH(QString, port);
    QFETCH(QStringList, existing);
    QFETCH(QString, expected);
    QTemporaryDir maps;
    const QString folder = restorePointFolder(maps.path());
    QCOMPARE(folder, maps.path() + "/Backups");
    QDir().mkpath(folder);
    for (const QString &name : existing)
        QVERIFY(touch(folder + '/' + name));

    const RestorePointWrite written = writeRestorePoint(maps.path(), cause, kValues, kWhen, {port, "1.3.7"});
    QVERIFY2(written.ok, qPrintable(written.error));
    QCOMPARE(written.path, folder + '/' + expected);
    const QList<RestorePointInfo> listed = listRestorePoints(maps.path());
    QCOMPARE(listed.first().path, written.path); // the newest: the same second's highest number
    QCOMPARE(listed.first().cause, std::optional(cause));
    QCOMPARE(listed.first().origin.firmware, QStringLiteral("1.3.7"));
    QCOMPARE(contents(written.path), formatMap(kValues, mapOrigin("1.3.7", kWhen)));
    for (const QString &name : existing)
        QCOMPARE(contents(folder + '/' + name), QByteArray("user data\r\n"));
}

void TestRestorePoints::pruning_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("removed"); // the one restore point that goes
    QTest::newRow("the oldest goes") << kWhen << "20250101-000000-before-reset.map";
    // A clock set back makes the new file look oldest: it stays, the oldest other goes.
    QTest::newRow("clock set back") << QDateTime(QDate(2024, 1, 1), QTime(0, 0)) << "20250101-000000-before-reset.map";
}

void TestRestorePoints::pruning()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, removed);
    QTemporaryDir maps;
    const QString folder = restorePointFolder(maps.path());
    QDir().mkpath(folder);
    // 200 restore points of loads and resets, one a minute, old names and new.
    QVERIFY(touch(folder + '/' + removed));
    for (int i = 1; i < kRestorePointsKept; ++i) {
        const QDateTime at = QDateTime(QDate(2025, 1, 1), QTime(0, 0)).addSecs(60 * i);
        const QString name = at.toString("yyyyMMdd-HHmmss") + (i % 2 ? "-before-load.map" : "-before-reset-COM3-1.0.map");
        QVERIFY(touch(folder + '/' + name));
    }
    // Older still: what the program never removes. A backup the user asked for, a program run's
    // backup its log names, and files the user put there, some close to our names.
    const QStringList keptFiles = {backupFileName(QDateTime(QDate(2024, 6, 1), QTime(0, 0)), "COM3", "1.0"),
                                   "20240601-000000-before-program-COM4-1.0.map",
                                   "mytune.map", "20240101-000000.map", "20241301-000000-before-load.map",
                                   "20240101-000000-before-load.txt", "19990101-000000-my tune.map"};
    for (const QString &name : keptFiles)
        QVERIFY(touch(folder + '/' + name));

    // Writing alone deletes nothing (a load or reset whose question is cancelled stops there).
    const RestorePointWrite written = writeRestorePoint(maps.path(), RestoreCause::Reset, kValues, when);
    QVERIFY2(written.ok, qPrintable(written.error));
    QVERIFY(QFile::exists(folder + '/' + removed));
    // Once the action went through, the oldest restore point goes, and only it.
    pruneRestorePoints(maps.path(), written.path);
    QVERIFY(QFile::exists(written.path));
    QVERIFY(!QFile::exists(folder + '/' + removed));
    QCOMPARE(listRestorePoints(maps.path()).size(), kRestorePointsKept + 2);
    for (const QString &name : keptFiles)
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
                                "20261207-110000-before-program-COM4-1.3.7.map", "mytune.map"})
        QVERIFY(touch(folder + '/' + QLatin1String(name)));

    const QList<RestorePointInfo> list = listRestorePoints(maps.path());
    QCOMPARE(names(list), QStringList({"20261208-080000-before-reset.map", "20261207-110000-before-program-COM4-1.3.7.map",
                                       "20261207-100000-before-load-2.map", "20261207-100000-before-load.map",
                                       "20261207-090000-COM3-2.10.map"}));
    QCOMPARE(list[0].when, QDateTime(QDate(2026, 12, 8), QTime(8, 0)));
    QCOMPARE(list[0].cause, std::optional(RestoreCause::Reset));
    QVERIFY(list[0].origin.port.isEmpty()); // a name of an earlier version
    QCOMPARE(list[1].cause, std::optional(RestoreCause::Program));
    QCOMPARE(list[1].origin.port, QStringLiteral("COM4"));
    QCOMPARE(list[2].cause, std::optional(RestoreCause::Load));
    QVERIFY(!list[4].cause.has_value());
    QCOMPARE(list[4].origin.firmware, QStringLiteral("2.10"));
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
