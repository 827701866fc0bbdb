#include "recordingfile.h"

#include <QtTest>

using namespace oe;
using Status = RecordingReadResult::Status;

Q_DECLARE_METATYPE(RecordingReadResult::Status)

namespace {

const QByteArray kHead = "sep=,\r\ntime,event,rpm,tinj,pump_steps,pump_s,pause_steps,pause_s,parameter,from,to,"
                         "to_display,cause,confirmed\r\n";
const QByteArray kBody = "2026-12-08T07:00:00.000,reading,1500,2000,5,0.100,160,4.000,,,,,,\r\n"
                         "2026-12-08T07:00:00.600,reading,1600,2100,6,0.120,150,3.750,,,,,,\r\n"
                         "2026-12-08T07:00:01.000,change,,,,,,,TinjMax,9000,9500,9500,slider,yes\r\n"
                         "2026-12-08T07:00:01.200,reading,1700,2200,7,0.140,140,3.500,,,,,,\r\n";
const QByteArray kEnd = "2026-12-08T07:00:02.000,end,,,,,,,,,,,stopped,\r\n";

} // namespace

class TestRecordingFile : public QObject
{
    Q_OBJECT
private slots:
    void reading_data();
    void reading();
};

void TestRecordingFile::reading_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<Status>("status");
    QTest::addColumn<int>("badLine");
    QTest::addColumn<int>("readings");
    QTest::addColumn<int>("marks");
    QTest::addColumn<qint64>("lastMs"); // of the last reading taken

    // This version's lines: times in whole milliseconds, the poll held while a dialog was open.
    QTest::newRow("good")
        << "sep=,\r\ntime,event,rpm,tinj,pump_steps,pump_ms,pause_steps,pause_ms,parameter,from,to,to_ms,cause,confirmed\r\n"
           "2026-12-08T07:00:00.000,reading,1500,2000,5,100,160,4000,,,,,,\r\n"
           "2026-12-08T07:00:00.600,reading,1600,2100,6,120,150,3750,,,,,,\r\n"
           "2026-12-08T07:00:01.000,change,,,,,,,MinPumpCycles,5,6,120,slider,yes\r\n"
           "2026-12-08T07:00:01.100,poll held,,,,,,,,,,,,\r\n"
           "2026-12-08T07:00:01.150,poll resumed,,,,,,,,,,,,\r\n"
           "2026-12-08T07:00:01.200,reading,1700,2200,7,140,140,3500,,,,,,\r\n" + kEnd
        << Status::Whole << 0 << 3 << 4 << qint64(1200);
    // An earlier version's recording: seconds with a point, no poll lines.
    QTest::newRow("old recording") << kHead + kBody + kEnd << Status::Whole << 0 << 3 << 2 << qint64(1200);
    QTest::newRow("old, LF only, no sep line")
        << QByteArray(kHead + kBody + kEnd).replace("\r\n", "\n").mid(6) << Status::Whole << 0 << 3 << 2 << qint64(1200);
    // Cut in its last line (a disk that filled, a copy stopped early): the whole lines stay.
    QTest::newRow("cut short") << kHead + kBody.chopped(20) << Status::CutShort << 6 << 2 << 1 << qint64(600);
    QTest::newRow("damaged line") << kHead + QByteArray(kBody).replace("07:00:00.600", "07:0x:00.600") + kEnd
                                  << Status::CutShort << 4 << 1 << 0 << qint64(0);
    // The program ended without writing its end line: everything is shown, and that is said.
    QTest::newRow("no end line") << kHead + kBody << Status::CutShort << 7 << 3 << 1 << qint64(1200);
    QTest::newRow("foreign csv") << QByteArray("a,b,c\r\n1,2,3\r\n") << Status::Foreign << 1 << 0 << 0 << qint64(0);
    QTest::newRow("empty") << QByteArray() << Status::Foreign << 1 << 0 << 0 << qint64(0);
    QTest::newRow("map file") << QByteArray("MinPumpCycles=5\r\nMaxPumpCycles=15\r\n") << Status::Foreign << 1 << 0 << 0
                              << qint64(0);
    // A later recorder's event is a mark with its name; times with an offset are put on one axis.
    QTest::newRow("unknown event, offsets")
        << kHead + "2026-12-08T07:00:00.000+01:00,reading,1500,2000,5,0.100,160,4.000,,,,,,\r\n"
                   "2026-12-08T06:00:00.500Z,held,,,,,,,,,,,poll held,\r\n"
                   "2026-12-08T06:00:01.000Z,reading,1500,2000,5,0.100,160,4.000,,,,,,\r\n" + QByteArray(kEnd).replace("07:00:02.000", "07:00:02.000+01:00")
        << Status::Whole << 0 << 2 << 2 << qint64(1000);
}

void TestRecordingFile::reading()
{
    QFETCH(QByteArray, data);
    QFETCH(Status, status);
    QFETCH(int, badLine);
    QFETCH(int, readings);
    QFETCH(int, marks);
    QFETCH(qint64, lastMs);

    const RecordingReadResult result = parseRecording(data);
    QCOMPARE(result.status, status);
    QCOMPARE(result.badLine, badLine);
    QCOMPARE(int(result.readings.size()), readings);
    QCOMPARE(int(result.marks.size()), marks);
    if (readings > 0)
        QCOMPARE(result.readings.back().ms, lastMs);
    if (QTest::currentDataTag() == QByteArray("good")) {
        QCOMPARE(result.readings[1].rpm, 1600);
        QCOMPARE(result.readings[1].pause, 150);
        const RecordedMark &change = result.marks[0];
        QCOMPARE(change.kind, RecordedMark::Kind::Change);
        QCOMPARE(change.ms, qint64(1000));
        QCOMPARE(QStringList({change.parameter, change.from, change.to, change.toDisplay, change.cause}),
                 QStringList({"MinPumpCycles", "5", "6", "120 ms", "slider"}));
        QCOMPARE(result.marks[1].kind, RecordedMark::Kind::Poll);
        QCOMPARE(result.marks[1].event, QString("poll held"));
        QCOMPARE(result.marks[3].cause, QString("stopped"));
        QCOMPARE(result.start, QDateTime(QDate(2026, 12, 8), QTime(7, 0)));
    }
}

QTEST_GUILESS_MAIN(TestRecordingFile)
#include "tst_recordingfile.moc"
