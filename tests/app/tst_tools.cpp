#include "chartwindow.h"
#include "livetrace.h"
#include "mapeditor.h"
#include "mapfile.h"
#include "maptools.h"
#include "recorder.h"
#include "recordingfile.h"
#include "recordingtools.h"
#include "recordingwindow.h"
#include "testfiles.h"
#include "tinydisk.h"
#include "windowrig.h"

#include <QAction>
#include <QBackingStore>
#include <QGuiApplication>
#include <QLineEdit>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QLabel>
#include <QSlider>
#include <QTableWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <functional>

using LineMaker = std::function<QByteArray(const QDateTime &)>;
Q_DECLARE_METATYPE(LineMaker)

namespace {
QByteArrayList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArrayList lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
} // namespace

class TestTools : public QObject
{
    Q_OBJECT
private slots:
    void traceBreaksAtGaps_data();
    void traceBreaksAtGaps();
    void recorderLines_data();
    void recorderLines();
    void recordingFollowsTheSession_data();
    void recordingFollowsTheSession();
    void recordingStopsOnWriteFailure();
    void recordingAfterASessionEndedMidCommit();
    void heldPollShownAndRecorded();
    void recordingReadAlikeBySpreadsheets_data();
    void recordingReadAlikeBySpreadsheets();
    void chartEmptiesForANewSession();
    void chartShiftedEqualsChartDrawnWhole_data();
    void chartShiftedEqualsChartDrawnWhole();
    void readAgainSaysWhatChanged_data();
    void readAgainSaysWhatChanged();
    void compareWritesNothing();
    void recordingOpensInTheChart();
    void editorMapLoadsAfterConnecting_data();
    void editorMapLoadsAfterConnecting();
    void editorStartsFromConfirmedValues();
};

void TestTools::traceBreaksAtGaps_data()
{
    QTest::addColumn<QList<qint64>>("times"); // -1: a reported gap
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QList<qint64>>("keptTimes");
    QTest::addColumn<QList<bool>>("breaks");
    QTest::newRow("steady poll") << QList<qint64>{0, 560, 1120} << 8 << QList<qint64>{0, 560, 1120}
                                 << QList<bool>{false, false, false};
    QTest::newRow("a commit between polls") << QList<qint64>{0, 1200, 1760} << 8 << QList<qint64>{0, 1200, 1760}
                                            << QList<bool>{false, false, false};
    QTest::newRow("unanswered polls") << QList<qint64>{0, 560, 2100, 2660} << 8
                                      << QList<qint64>{0, 560, 2100, 2660} << QList<bool>{false, false, true, false};
    QTest::newRow("reported gap") << QList<qint64>{0, -1, 560, 1120} << 8 << QList<qint64>{0, 560, 1120}
                                  << QList<bool>{false, true, false};
    QTest::newRow("gap before the first sample") << QList<qint64>{-1, 0, 560} << 8 << QList<qint64>{0, 560}
                                                 << QList<bool>{false, false};
    QTest::newRow("ring drops the oldest") << QList<qint64>{0, 500, 1000, 4000, 4500} << 3
                                           << QList<qint64>{1000, 4000, 4500} << QList<bool>{false, true, false};
}

void TestTools::traceBreaksAtGaps()
{
    QFETCH(QList<qint64>, times);
    QFETCH(int, capacity);
    QFETCH(QList<qint64>, keptTimes);
    QFETCH(QList<bool>, breaks);
    LiveTrace trace(capacity);
    for (qint64 t : times) {
        if (t < 0)
            trace.markGap();
        else
            trace.append({t, 1, 2, 3, 4, false});
    }
    QList<qint64> kept;
    QList<bool> gaps;
    for (int i = 0; i < trace.size(); ++i) {
        kept << trace.at(i).ms;
        gaps << (i > 0 && trace.at(i).gapBefore);
    }
    QCOMPARE(kept, keptTimes);
    QCOMPARE(gaps, breaks);
}

void TestTools::recorderLines_data()
{
    QTest::addColumn<bool>("italian");
    QTest::addColumn<LineMaker>("make");
    QTest::addColumn<QByteArray>("expected");
    for (bool italian : {false, true}) {
        const QByteArray lang = italian ? " (italian locale)" : "";
        QTest::newRow("reading" + lang)
            << italian << LineMaker([](const QDateTime &at) { return Recorder::readingLine(at, 1500, 100, 25, 81); })
            << QByteArray("2026-12-07T14:05:09.042,reading,1500,100,25,500,81,2025,,,,,,\r\n");
        QTest::newRow("typed pause" + lang) << italian << LineMaker([](const QDateTime &at) {
            return Recorder::changeLine(at, ParameterIndex::MaxLoadPumpPause, 80, 83, Recorder::Cause::Typed, true);
        }) << QByteArray("2026-12-07T14:05:09.042,change,,,,,,,MaxLoadPumpPause,80,83,2075,typed,yes\r\n");
    }
    QTest::newRow("unknown before, not confirmed") << false << LineMaker([](const QDateTime &at) {
        return Recorder::changeLine(at, ParameterIndex::TinjMin, std::nullopt, 1200, Recorder::Cause::Slider, false);
    }) << QByteArray("2026-12-07T14:05:09.042,change,,,,,,,TinjMin,,1200,,slider,no\r\n");
    QTest::newRow("pump from a map") << false << LineMaker([](const QDateTime &at) {
        return Recorder::changeLine(at, ParameterIndex::MinPumpCycles, 5, 7, Recorder::Cause::Map, true);
    }) << QByteArray("2026-12-07T14:05:09.042,change,,,,,,,MinPumpCycles,5,7,140,map,yes\r\n");
    QTest::newRow("end: port lost") << false << LineMaker([](const QDateTime &at) {
        return Recorder::endLine(at, Recorder::End::PortLost);
    }) << QByteArray("2026-12-07T14:05:09.042,end,,,,,,,,,,,port lost,\r\n");
    QTest::newRow("poll held") << false << LineMaker([](const QDateTime &at) { return Recorder::pollLine(at, true); })
        << QByteArray("2026-12-07T14:05:09.042,poll held,,,,,,,,,,,,\r\n");
    QTest::newRow("header") << false << LineMaker([](const QDateTime &) { return Recorder::header(); })
        << QByteArray("time,event,rpm,tinj,pump_steps,pump_ms,pause_steps,pause_ms,parameter,from,to,to_ms,"
                      "cause,confirmed\r\n");
}

void TestTools::recorderLines()
{
    QFETCH(bool, italian);
    QFETCH(LineMaker, make);
    QFETCH(QByteArray, expected);
    QLocale::setDefault(italian ? QLocale(QLocale::Italian, QLocale::Italy) : QLocale::c());
    const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    const QByteArray line = make(QDateTime(QDate(2026, 12, 7), QTime(14, 5, 9, 42)));
    QCOMPARE(line, expected);
    QCOMPARE(line.count(','), Recorder::header().count(',')); // every line has every column
}

// Record from the menu: the file is readable while the recording runs, holds the readings and a
// typed commit in order (an unconfirmed one followed by what the read after it found), and the
// session's end (a disconnect, a lost port) ends it with the item unchecked and a line saying why.
void TestTools::recordingFollowsTheSession_data()
{
    QTest::addColumn<QString>("controller"); // prompt, clamps (to 20000), silent (from the write on)
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArrayList>("changes");
    QTest::addColumn<QByteArray>("end");
    QTest::newRow("prompt") << "prompt" << 2 << "750" << QByteArrayList{",RpmMin,600,750,,typed,yes"}
                            << QByteArray(",end,,,,,,,,,,,disconnected,");
    QTest::newRow("controller clamps") << "clamps" << 4 << "25000"
        << QByteArrayList{",TinjMax,9000,25000,,typed,no", ",TinjMax,9000,20000,,read,yes"}
        << QByteArray(",end,,,,,,,,,,,disconnected,");
    QTest::newRow("controller falls silent, then its port goes") << "silent" << 4 << "25000"
        << QByteArrayList{",TinjMax,9000,25000,,typed,no"} << QByteArray(",end,,,,,,,,,,,port lost,");
}

void TestTools::recordingFollowsTheSession()
{
    QFETCH(QString, controller);
    QFETCH(int, index);
    QFETCH(QString, typed);
    QFETCH(QByteArrayList, changes);
    QFETCH(QByteArray, end);
    Rig rig;
    QAction *record = rig.w().findChild<QAction *>("menuTools_1");
    QVERIFY(record && !record->isEnabled());
    QVERIFY(rig.connect());
    QVERIFY(record->isEnabled());
    const QString path = rig.dir.filePath("Recordings/ride.csv");
    rig.dialogs.saveAnswers << path;
    record->trigger();
    QVERIFY(rig.w().findChild<oe::Recorder *>()->isRecording());
    QVERIFY(record->isChecked());
    // Shown where a glance finds it: the mark leads the title, which still ends with the program's name.
    QCOMPARE(rig.w().windowTitle(), QString("REC ride.csv – KESTRO - OE Setup"));
    QCOMPARE(rig.dialogs.fileDialogFolders.size(), 1);
    QVERIFY(rig.dialogs.fileDialogFolders[0].startsWith(rig.dir.filePath("Recordings/")));
    QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= 4, 5000); // flushed line by line

    rig.controller.rpm = 3210;
    bool silent = false;
    rig.port->setResponder([&](QByteArray request) {
        // Silent from the write on: the pair's partner is still checked before it.
        silent = silent || (controller == "silent" && request[2] == 2);
        if (silent)
            return QByteArray();
        if (controller == "clamps" && request[2] == 2 && quint8(request[4]) * 256 + quint8(request[5]) > 20000) {
            request[4] = char(20000 >> 8);
            request[5] = char(20000 & 0xFF);
        }
        return rig.controller.respond(request);
    });
    QVERIFY(rig.w().sliders().openValueEditor(ParameterIndex(index)));
    QTest::keyClicks(rig.w().sliders().valueEditor(), typed);
    QTest::keyClick(rig.w().sliders().valueEditor(), Qt::Key_Return);
    QVERIFY(rig.waitQuiet());
    if (controller != "silent")
        QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).last().contains(",3210,"), 5000);
    if (controller == "silent")
        rig.port->loseConnection();
    else
        rig.w().connection().btnConnect->click(); // disconnect
    QTRY_VERIFY(!rig.w().findChild<oe::Recorder *>()->isRecording());
    QVERIFY(!record->isChecked());
    QVERIFY(!record->isEnabled());

    const QByteArrayList lines = fileLines(path);
    QCOMPARE(lines[0] + '\n', Recorder::separatorLine());
    QCOMPARE(lines[1] + '\n', Recorder::header());
    QByteArrayList changed;
    int firstChange = -1;
    for (int i = 1; i < lines.size(); ++i) {
        if (!lines[i].contains(",change,"))
            continue;
        changed << lines[i].mid(lines[i].indexOf(",,,,,,,") + 6).chopped(1); // from the parameter on
        if (firstChange < 0)
            firstChange = i;
    }
    QCOMPARE(changed, changes);
    QVERIFY(firstChange > 2); // readings came before it
    if (controller != "silent")
        QVERIFY(lines[lines.size() - 2].contains(",reading,3210,")); // and after it
    QCOMPARE(lines.last().mid(lines.last().indexOf(',')).chopped(1), end);
    // The chart reads back what the recorder wrote, whole, with its changes as marks.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const RecordingReadResult read = parseRecording(file.readAll());
    QCOMPARE(read.status, RecordingReadResult::Status::Whole);
    QCOMPARE(std::count_if(read.marks.cbegin(), read.marks.cend(),
                           [](const RecordedMark &m) { return m.kind == RecordedMark::Kind::Change; }),
             std::ptrdiff_t(changed.size()));
    QCOMPARE(read.marks.back().kind, RecordedMark::Kind::End);
    QStringList texts;
    if (controller != "prompt")
        texts << rig.entry(29);
    if (controller == "silent")
        texts << rig.entry(39);
    // The session's messages come from the event loop, a turn after the session ended; the lost
    // port's box says first what it always said, then what stopped: the recording, with its file.
    QTRY_COMPARE(rig.dialogs.texts().size(), texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i)
        QVERIFY(rig.dialogs.texts()[i].startsWith(texts[i]));
    if (controller == "silent")
        QVERIFY(rig.dialogs.texts().last().contains(QDir::toNativeSeparators(path)));
}

// A commit on the wire when its session ends never finishes: the next session's reads of its
// parameter still reach the recording.
void TestTools::recordingAfterASessionEndedMidCommit()
{
    Rig rig;
    QVERIFY(rig.connect());
    // Silent from the write on: the pair's partner is still checked before it.
    bool silent = false;
    rig.port->setResponder([&](QByteArray request) {
        silent = silent || request[2] == 2;
        return silent ? QByteArray() : rig.controller.respond(request);
    });
    QVERIFY(rig.w().sliders().openValueEditor(ParameterIndex::TinjMax));
    QTest::keyClicks(rig.w().sliders().valueEditor(), "12000");
    QTest::keyClick(rig.w().sliders().valueEditor(), Qt::Key_Return);
    QTRY_COMPARE(rig.w().session().book().state(ParameterIndex::TinjMax), ParameterBook::State::Writing);
    rig.w().connection().btnConnect->click(); // disconnect, the write unanswered
    rig.port->setResponder([&](const QByteArray &request) { return rig.controller.respond(request); });
    rig.controller.params[4] = 15000;
    QVERIFY(rig.connect());
    const QString path = rig.dir.filePath("Recordings/next.csv");
    rig.dialogs.saveAnswers << path;
    rig.w().findChild<QAction *>("menuTools_1")->trigger();
    QVERIFY(rig.w().findChild<oe::Recorder *>()->isRecording());
    rig.controller.params[4] = 16000;
    QVERIFY(rig.w().session().readAgain());
    QVERIFY(rig.waitQuiet());
    QTRY_VERIFY(fileLines(path).join('\n').contains(",TinjMax,15000,16000,,"));
}

void TestTools::recordingStopsOnWriteFailure()
{
    TinyDisk disk;
    if (!disk.ready())
        QSKIP("cannot mount a tmpfs here (needs root)");
    Rig rig;
    QVERIFY(rig.connect());
    rig.w().session().holdPoll(true);
    const QString path = disk.filePath("ride.csv");
    rig.dialogs.saveAnswers << path;
    rig.w().findChild<QAction *>("menuTools_1")->trigger();
    QVERIFY(rig.w().findChild<oe::Recorder *>()->isRecording());
    // Readings arrive far faster than a poll brings them, until the disk is full.
    for (int i = 0; i < 2000 && rig.w().findChild<oe::Recorder *>()->isRecording(); ++i)
        emit rig.w().session().liveReadingsChanged();
    QVERIFY(!rig.w().findChild<oe::Recorder *>()->isRecording());
    QVERIFY(!rig.w().findChild<QAction *>("menuTools_1")->isChecked());
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(rig.dialogs.shown[0].text, rig.entry(Caption::RecordStopped).arg(path));
    const QByteArrayList lines = fileLines(path);
    QVERIFY(lines.size() > 10);
    QCOMPARE(lines[1] + '\n', Recorder::header());
    // Whole lines up to the failure, and the line saying why when the room it freed holds it.
    for (const QByteArray &line : lines)
        QVERIFY2(line.endsWith('\r'), line);
    if (!lines.last().contains(",reading,"))
        QVERIFY2(lines.last().endsWith(",end,,,,,,,,,,,disk full,\r"), lines.last());
    QVERIFY(rig.w().isConnected()); // the session goes on
}

// While Load Map's dialog holds the poll, the readings say they are paused, greyed, and a running
// recording says when the poll was held and when it came back.
void TestTools::heldPollShownAndRecorded()
{
    Rig rig;
    QVERIFY(rig.connect());
    const QString path = rig.dir.filePath("Recordings/held.csv");
    rig.dialogs.saveAnswers << path;
    rig.w().findChild<QAction *>("menuTools_1")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).size() >= 3, 5000);
    QLabel *rpm = rig.w().readings().RpmLabel;
    QString inDialog;
    QColor colourInDialog;
    rig.dialogs.onFileDialog = [&] {
        inDialog = rpm->text();
        colourInDialog = rpm->palette().color(QPalette::WindowText);
    };
    rig.w().maps().cmdLoadMap->click(); // the dialog cancelled
    QCOMPARE(inDialog, rig.entry(Caption::ReadingsPaused));
    QCOMPARE(colourInDialog, QColor(90, 90, 90));
    QCOMPARE(rpm->text(), QString("1500"));
    QTRY_VERIFY_WITH_TIMEOUT(fileLines(path).last().contains(",reading,"), 5000);
    rig.w().findChild<QAction *>("menuTools_1")->trigger();
    QByteArrayList events;
    for (const QByteArray &line : fileLines(path))
        if (line.contains(",poll "))
            events << line.split(',').value(1);
    QCOMPARE(events, (QByteArrayList{"poll held", "poll resumed"}));
}

// A recording opened by a spreadsheet of an Italian desktop and of an English one: every number reads
// the same (a decimal point would be a thousands separator in Italian: 0.100 s read as 100).
void TestTools::recordingReadAlikeBySpreadsheets_data()
{
    QTest::addColumn<QString>("locale");
    QTest::newRow("Italian") << "it_IT.UTF-8";
    QTest::newRow("English (US)") << "en_US.UTF-8";
}

void TestTools::recordingReadAlikeBySpreadsheets()
{
    QFETCH(QString, locale);
    const QString ssconvert = QStandardPaths::findExecutable("ssconvert");
    if (ssconvert.isEmpty())
        QSKIP("no ssconvert (Debian package gnumeric)");
    QProcess locales;
    locales.start("locale", {"-a"});
    locales.waitForFinished();
    const QString wanted = QString(locale).toLower().replace("utf-8", "utf8");
    if (!QString::fromLatin1(locales.readAllStandardOutput()).toLower().split('\n').contains(wanted))
        QSKIP("locale not generated on this system");
    QTemporaryDir dir;
    const QDateTime at(QDate(2026, 12, 7), QTime(14, 5, 9, 42));
    writeFile(dir.filePath("ride.csv"), Recorder::separatorLine() + Recorder::header()
                                            + Recorder::readingLine(at, 1500, 100, 5, 160)
                                            + Recorder::changeLine(at, ParameterIndex::MaxLoadPumpPause, 80, 83,
                                                                   Recorder::Cause::Typed, true));
    QProcess convert;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    env.insert("LANG", locale);
    convert.setProcessEnvironment(env);
    convert.start(ssconvert, {"-T", "Gnumeric_stf:stf_assistant", "-O", "separator=| format=raw",
                              dir.filePath("ride.csv"), dir.filePath("read.txt")});
    QVERIFY(convert.waitForFinished(60000));
    QCOMPARE(convert.exitCode(), 0);
    QByteArrayList rows = readFile(dir.filePath("read.txt")).split('\n');
    while (!rows.isEmpty() && !rows.first().startsWith("time|"))
        rows.removeFirst(); // the separator line, a cell of its own there
    QVERIFY(rows.size() >= 3);
    QCOMPARE(rows[1].split('|').mid(2, 6), (QByteArrayList{"1500", "100", "5", "100", "160", "4000"}));
    QCOMPARE(rows[2].split('|').mid(8, 5), (QByteArrayList{"MaxLoadPumpPause", "80", "83", "2075", "typed"}));
}

void TestTools::chartEmptiesForANewSession()
{
    Rig rig;
    QVERIFY(rig.connect());
    ChartWindow *chart = rig.w().tools().chartWindow();
    rig.w().findChild<QAction *>("menuTools_0")->trigger();
    QVERIFY(chart->isVisible() && !chart->isModal());
    QTRY_VERIFY_WITH_TIMEOUT(chart->trace().size() >= 2, 5000);
    const TraceSample last = chart->trace().at(chart->trace().size() - 1);
    QCOMPARE(last.rpm, 1500);
    QCOMPARE(last.pump, 25);
    // Paused, the plot stands still while readings come in; it never repaints more than ten times a
    // second, and not at all while hidden.
    ChartView *view = chart->view();
    chart->pauseButton()->click();
    const int samples = chart->trace().size();
    const QImage still = view->grab().toImage();
    QTRY_VERIFY_WITH_TIMEOUT(chart->trace().size() > samples, 5000);
    QCOMPARE(view->grab().toImage(), still);
    chart->pauseButton()->click();
    const int paints = view->paintCount();
    QTest::qWait(1000);
    QVERIFY2(view->paintCount() - paints <= 11, qPrintable(QString::number(view->paintCount() - paints)));
    chart->hide();
    const int hiddenPaints = view->paintCount();
    const int hiddenSamples = chart->trace().size();
    QTRY_VERIFY_WITH_TIMEOUT(chart->trace().size() > hiddenSamples, 5000);
    QTest::qWait(2 * ChartView::kRefreshMs);
    QCOMPARE(view->paintCount(), hiddenPaints);
    chart->show();

    const QString picture = rig.dir.filePath("chart.png");
    rig.dialogs.saveAnswers << picture;
    chart->saveButton()->click();
    QCOMPARE(QImage(picture).size(), chart->view()->size());
    rig.dialogs.saveAnswers << rig.dir.filePath("no such folder/chart.png");
    chart->saveButton()->click();
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(Caption::PictureNotSaved)});
    rig.w().connection().btnConnect->click(); // disconnect: the chart stays, with a break to come
    QVERIFY(chart->isVisible());
    QVERIFY(chart->trace().size() >= 2);
    rig.w().connection().btnConnect->click();
    QCOMPARE(chart->trace().size(), 0);
    QVERIFY(rig.waitQuiet());
}

void TestTools::chartShiftedEqualsChartDrawnWhole_data()
{
    QTest::addColumn<int>("spanMinutes");
    QTest::addColumn<qint64>("laterMs");  // how far the clock moves on
    QTest::addColumn<int>("newReadings"); // readings that come meanwhile, the last at the new moment
    QTest::addColumn<bool>("gapFirst");   // a lost poll before them
    QTest::addColumn<qint64>("lastAgeMs"); // how old the last reading drawn is
    // On screen: the window's copy of the plot, moved in place, rather than a drawing of the widget.
    QTest::addColumn<bool>("onScreen");
    QTest::newRow("a pixel, nothing new") << 2 << qint64(173) << 0 << false << qint64(560) << false;
    QTest::newRow("readings and a flash") << 2 << qint64(4000) << 6 << false << qint64(560) << false;
    QTest::newRow("a lone reading after a gap") << 2 << qint64(2500) << 1 << true << qint64(560) << false;
    QTest::newRow("ten minutes, a reading") << 10 << qint64(900) << 1 << false << qint64(560) << false;
    QTest::newRow("a new reading, time still") << 5 << qint64(0) << 1 << false << qint64(560) << false;
    QTest::newRow("a slow answer, the line reaches back") << 2 << qint64(40) << 1 << false << qint64(1450) << false;
    QTest::newRow("on screen: readings and a flash") << 2 << qint64(4000) << 6 << false << qint64(560) << true;
    QTest::newRow("on screen: a new reading, time still") << 5 << qint64(0) << 1 << false << qint64(560) << true;
    QTest::newRow("on screen: the line reaches back") << 2 << qint64(40) << 1 << false << qint64(1450) << true;
}

// The chart keeps its plot as an image and draws only what time and new readings add; that image must
// be exactly the plot drawn whole at the same moment.
void TestTools::chartShiftedEqualsChartDrawnWhole()
{
    QFETCH(int, spanMinutes);
    QFETCH(qint64, laterMs);
    QFETCH(int, newReadings);
    QFETCH(bool, gapFirst);
    QFETCH(qint64, lastAgeMs);
    QFETCH(bool, onScreen);
    LiveTrace trace;
    qint64 now = 987'654'321;
    auto reading = [&](qint64 ms, int i) {
        trace.append({ms, 1200 + (i * 37) % 900, 3000 + (i * 53) % 4000, 20 + i % 13, 300 + (i * 7) % 200, false});
        if (i % 4 == 0)
            trace.addFlash(ms);
    };
    for (int i = 0; i < 1000; ++i) {
        if (i == 700)
            trace.markGap();
        reading(now - lastAgeMs - 560 * (999 - i), i);
    }
    auto makeView = [&] {
        auto view = std::make_unique<ChartView>(trace);
        view->setClock([&now] { return now; });
        view->setSpanMinutes(spanMinutes);
        view->setRpmMin(1500);
        view->resize(760, 420);
        return view;
    };
    const auto shifted = makeView();
    // Elsewhere the window's copy may live in the display server (X scrolls its own pixmap).
    if (onScreen && QGuiApplication::platformName() != QLatin1String("offscreen"))
        QSKIP("the window's copy of the plot is read only on the offscreen platform");
    if (onScreen) {
        shifted->show();
        QVERIFY(QTest::qWaitForWindowExposed(shifted.get()));
        QTRY_VERIFY(shifted->wholeDrawings() == 1);
    } else {
        shifted->grab();
    }
    if (gapFirst)
        trace.markGap();
    for (int i = 0; i < newReadings; ++i)
        reading(now + laterMs * (i + 1) / newReadings, 1000 + i);
    const int paints = shifted->paintCount();
    shifted->touch();
    now += laterMs;
    QImage incremental;
    if (onScreen) {
        QTRY_VERIFY(shifted->paintCount() > paints);
        const auto *screen = dynamic_cast<const QImage *>(shifted->backingStore()->paintDevice());
        QVERIFY(screen);
        incremental = screen->copy(shifted->rect()).convertToFormat(QImage::Format_RGB32);
    } else {
        incremental = shifted->grab().toImage();
    }
    QCOMPARE(shifted->wholeDrawings(), 1);
    QCOMPARE(makeView()->grab().toImage().convertToFormat(QImage::Format_RGB32), incremental);
}

void TestTools::readAgainSaysWhatChanged_data()
{
    QTest::addColumn<int>("controllerTinjMax");
    QTest::addColumn<int>("previewRpmMin"); // -1: none
    QTest::addColumn<bool>("unknownAtConnect"); // Tinj Max's read went unanswered at connect
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("nothing changed") << 9000 << -1 << false << QStringList{"130"};
    QTest::newRow("changed on the controller") << 12000 << -1 << false << QStringList{"131", "Tinj Max: 9000 → 12000"};
    QTest::newRow("a preview is no controller value") << 9000 << 1000 << false << QStringList{"130"};
    QTest::newRow("unknown until read again") << 9000 << -1 << true << QStringList{"131", "Tinj Max: --- → 9000"};
}

void TestTools::readAgainSaysWhatChanged()
{
    QFETCH(int, controllerTinjMax);
    QFETCH(int, previewRpmMin);
    QFETCH(bool, unknownAtConnect);
    QFETCH(QStringList, expected);
    Rig rig;
    bool connected = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (unknownAtConnect && !connected && request[2] == 1 && request[3] == 4)
            return QByteArray();
        return rig.controller.respond(request);
    });
    QVERIFY(rig.connect());
    connected = true;
    rig.controller.params[4] = quint16(controllerTinjMax);
    if (previewRpmMin >= 0)
        rig.w().session().previewParameter(ParameterIndex::RpmMin, previewRpmMin);
    rig.port->clearWritten();
    rig.w().findChild<QAction *>("menuTools_2")->trigger();
    QVERIFY(rig.waitQuiet());
    int reads = 0;
    for (const QByteArray &frame : rig.port->writtenBytes())
        reads += frame[2] == 1 ? 1 : 0;
    QCOMPARE(reads, 8);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QString text = rig.entry(expected[0].toInt());
    if (expected.size() > 1)
        text += '\n' + expected[1];
    QCOMPARE(rig.dialogs.shown[0].text, text);
    QCOMPARE(rig.w().sliders().labelFor(ParameterIndex::TinjMax)->text(), QString::number(controllerTinjMax));
    QCOMPARE(rig.w().sliders().sliderFor(ParameterIndex::TinjMax)->value(), controllerTinjMax);
}

// Tools > Compare with map: the file beside the controller, an unknown value read first, nothing written.
void TestTools::compareWritesNothing()
{
    Rig rig;
    bool connected = false;
    rig.port->setResponder([&](const QByteArray &request) {
        if (!connected && request[2] == 1 && request[3] == 4)
            return QByteArray();
        return rig.controller.respond(request);
    });
    QVERIFY(rig.connect());
    connected = true;
    const QString path = rig.dir.filePath("other.map");
    writeFile(path, "MinPumpCycles=5\r\nMaxPumpCycles=15\r\nRpmMin=700\r\nTinjMin=1500\r\nTinjMax=12000\r\n"
                    "MinLoadPumpPause=160\r\nMaxLoadPumpPause=80\r\nRpmMultiplier=100\r\n");
    rig.dialogs.openAnswers << path;
    rig.port->clearWritten();
    rig.w().findChild<QAction *>("menuTools_5")->trigger();
    QVERIFY(rig.waitQuiet());
    auto *table = rig.w().findChild<QTableWidget *>("CompareTable");
    QVERIFY(table && table->isVisible());
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        rows << QStringList{table->item(row, 1)->text(), table->item(row, 2)->text(), table->item(row, 3)->text()}.join('|');
    const QString yes = rig.entry(272);
    QCOMPARE(rows, (QStringList{"0.1 s|0.1 s|", "0.3 s|0.3 s|", "700|600|" + yes, "1500|1500|", "12000|9000|" + yes,
                                "4 s|4 s|", "2 s|2 s|", "100%|100%|"}));
    for (const QByteArray &frame : rig.port->writtenBytes())
        QVERIFY2(frame[2] != 2, frame.toHex().constData()); // no write
    QCOMPARE(rig.controller.params[2], quint16(600));
}

void TestTools::editorMapLoadsAfterConnecting_data()
{
    QTest::addColumn<bool>("bottomUp");
    QTest::newRow("typed from the top") << false;
    QTest::newRow("typed from the bottom") << true;
}

// A recording opens with no controller; the cursor shows a reading's exact values and the arrows
// move it reading by reading; a file cut short says where it stops, and a foreign one is refused.
void TestTools::recordingOpensInTheChart()
{
    Rig rig;
    const QString path = rig.dir.filePath("ride.csv");
    QByteArray data = Recorder::separatorLine() + Recorder::header();
    const QDateTime start(QDate(2026, 12, 8), QTime(7, 0));
    for (int i = 0; i < 240; ++i)
        data += Recorder::readingLine(start.addMSecs(i * 500), 1000 + i, 2000, 5, 160);
    writeFile(path, data + "2026-12-08T07:02:00.0"); // cut in its last line
    rig.dialogs.openAnswers << path;
    QAction *open = rig.w().findChild<QAction *>("menuTools_6");
    QVERIFY(open && open->isEnabled());
    open->trigger();
    RecordingWindow *window = rig.w().recordings().window();
    QVERIFY(window->isVisible());
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(312).replace("%1", "ride.csv").replace("%2", "243")});
    QCOMPARE(window->cursor(), 0);
    QTest::keyClick(window->cursorLayer(), Qt::Key_Right);
    QTest::keyClick(window->cursorLayer(), Qt::Key_Right);
    QCOMPARE(window->cursor(), 2);
    QCOMPARE(window->cursorText(), QString("07:00:01.000   RPM 1002   TINJ 2000   PUMP 0.1 s   PAUSA 4 s"));
    // Over the plot the pointer picks the nearest reading; End goes to the last, and the view follows.
    const QPointF at(window->xOf(1600), 50);
    QMouseEvent move(QEvent::MouseMove, at, window->cursorLayer()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(window->cursorLayer(), &move);
    QCOMPARE(window->cursor(), 3);
    QTest::keyClick(window->cursorLayer(), Qt::Key_End);
    QCOMPARE(window->cursor(), 239);
    QVERIFY(window->xOf(239 * 500) <= window->view()->plotArea().right() + 1);

    writeFile(path, "MinPumpCycles=5\r\n");
    rig.dialogs.shown.clear();
    QVERIFY(!rig.w().recordings().open(path));
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(311).replace("%1", "ride.csv")});
}

// A map prepared at the desk: the editor needs no controller, keeps what was typed whatever the
// order, saves a file, and loads its values through the ordinary load once a controller is connected.
void TestTools::editorMapLoadsAfterConnecting()
{
    QFETCH(bool, bottomUp);
    Rig rig;
    rig.w().findChild<QAction *>("menuTools_4")->trigger();
    MapEditor *editor = rig.w().mapTools().editor();
    auto *save = editor->findChild<QPushButton *>("MapEditorSave");
    QVERIFY(editor->isVisible());
    QVERIFY(!editor->loadButton()->isEnabled());
    // No controller: a new map starts empty, and nothing is saved while a field is.
    for (int i = 0; i < kParameterCount; ++i)
        QVERIFY(editor->field(ParameterIndex(i))->text().isEmpty());
    QVERIFY(!save->isEnabled());
    QVERIFY(editor->status()->text().startsWith(rig.entry(325).section("%1", 0, 0)));
    const auto type = [editor](ParameterIndex index, const QString &text) {
        editor->field(index)->setText(text);
        emit editor->field(index)->editingFinished();
    };
    const MapValues typed{6, 16, 650, 1550, 9050, 200, 120, 110};
    for (int k = 0; k < kParameterCount; ++k) {
        const int i = bottomUp ? kParameterCount - 1 - k : k;
        type(ParameterIndex(i), QString::number(typed[size_t(i)]));
    }
    for (int i = 0; i < kParameterCount; ++i) {
        QCOMPARE(editor->field(ParameterIndex(i))->text(), QString::number(typed[size_t(i)]));
        QVERIFY2(editor->note(ParameterIndex(i))->text().isEmpty(), qPrintable(editor->note(ParameterIndex(i))->text()));
    }
    QVERIFY(save->isEnabled() && editor->isWindowModified());
    // A crossed pair marks both fields, whichever was typed last; nothing is moved.
    type(ParameterIndex::TinjMax, "1500");
    const QString crossed = rig.entry(324).section("%1", 0, 0);
    QVERIFY2(editor->note(ParameterIndex::TinjMin)->text().contains(crossed), qPrintable(editor->note(ParameterIndex::TinjMin)->text()));
    QVERIFY(editor->note(ParameterIndex::TinjMax)->text().contains(crossed));
    QCOMPARE(editor->field(ParameterIndex::TinjMin)->text(), QString("1550"));
    QVERIFY(!save->isEnabled());
    type(ParameterIndex::TinjMax, "9050");
    // A value off the slider's step is refused as typed, not stepped.
    type(ParameterIndex::RpmMin, "1525");
    QCOMPARE(editor->field(ParameterIndex::RpmMin)->text(), QString("1525"));
    QVERIFY(!editor->note(ParameterIndex::RpmMin)->text().isEmpty());
    QVERIFY(!save->isEnabled());
    type(ParameterIndex::RpmMin, "650");
    QVERIFY(save->isEnabled());
    rig.dialogs.saveAnswers << rig.dir.filePath("desk");
    // With no controller the map says no firmware; the note typed in the editor goes with it.
    QCOMPARE(editor->originLabel()->text(), rig.entry(307));
    editor->noteField()->setText("Monster 900");
    save->click();
    const QByteArray saved = readFile(rig.dir.filePath("desk.map"));
    QVERIFY2(saved.startsWith(formatMap(typed) + "Saved=") && saved.endsWith("\r\nNote=\"Monster 900\"\r\n"),
             saved.constData());
    QVERIFY2(editor->originLabel()->text().contains(QDate::currentDate().toString(Qt::ISODate)),
             qPrintable(editor->originLabel()->text()));
    QVERIFY(!editor->isWindowModified());

    QVERIFY(rig.connect());
    QVERIFY(editor->loadButton()->isEnabled());
    rig.port->clearWritten();
    editor->loadButton()->click();
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.dialogs.shown.first().kind, QString("question"));
    for (int i = 0; i < kParameterCount; ++i)
        QCOMPARE(qint32(rig.controller.params[size_t(i)]), typed[size_t(i)]);
    QCOMPARE(rig.dialogs.shown.last().text.section("\n\n", 0, 0), rig.entry(37));
}

// Opened in the first moments after a connect, the editor starts from the controller's values once
// each is confirmed: a flipped first answer is not taken, and the map is not the sliders' lowest.
void TestTools::editorStartsFromConfirmedValues()
{
    Rig rig;
    bool flipped = false;
    rig.port->setResponder([&](const QByteArray &request) {
        QByteArray reply = rig.controller.respond(request);
        if (!flipped && request[2] == 1 && request[3] == 4) { // the first read of Tinj Max
            flipped = true;
            reply[5] = char(reply[5] ^ 0x10);
        }
        return reply;
    });
    QVERIFY(rig.connect());
    QVERIFY(flipped);
    rig.w().findChild<QAction *>("menuTools_4")->trigger();
    MapEditor *editor = rig.w().mapTools().editor();
    QTRY_VERIFY(editor->isVisible());
    QCOMPARE(editor->field(ParameterIndex::TinjMax)->text(), QString("9000"));
    QCOMPARE(editor->field(ParameterIndex::RpmMin)->text(), QString("600"));
    QVERIFY(!editor->isWindowModified());
}

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
