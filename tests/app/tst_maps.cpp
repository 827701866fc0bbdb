// Map files in the window: a load checks the whole file, shows what it changes, writes and reads back
// and says what the controller now holds; a save writes the file whole or says why not.

#include "mapfile.h"
#include "restorepoints.h"
#include "testfiles.h"
#include "windowrig.h"

#include <QAction>
#include <QDir>
#include <QTreeWidget>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using namespace oe;

namespace {
const QByteArray kControllerMap = "MinPumpCycles=5\r\nMaxPumpCycles=15\r\nRpmMin=600\r\nTinjMin=1500\r\n"
                                  "TinjMax=9000\r\nMinLoadPumpPause=160\r\nMaxLoadPumpPause=80\r\nRpmMultiplier=100\r\n";

} // namespace

// A connected window with the poll held off, so the frames are the map's own.
struct MapRig : Rig {
    bool start()
    {
        if (!connect())
            return false;
        window->session().holdPoll(true);
        if (!verify())
            return false;
        port->clearWritten();
        return true;
    }
    QString map(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        writeFile(path, content);
        return path;
    }
};

class TestMaps : public QObject
{
    Q_OBJECT
private slots:
    void loadSendsWhatTheFileHolds_data();
    void loadSendsWhatTheFileHolds();
    void refusedFileSendsNothing_data();
    void refusedFileSendsNothing();
    void cancelSendsNothing_data();
    void cancelSendsNothing();
    void disconnectStopsLoad();
    void restorePointNeedsEveryValue_data();
    void restorePointNeedsEveryValue();
    void undoRestoresTheTune_data();
    void undoRestoresTheTune();
    void save_data();
    void save();
    void mapsNotAFolder();
};

void TestMaps::loadSendsWhatTheFileHolds_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("clampTinjMax"); // the controller stores at least 50 there
    QTest::addColumn<QString>("details");   // the question's list of changes; "" for entry 52
    QTest::addColumn<QString>("verdict");   // after notice 37: "" for entry 53, else the differing line
    QTest::addColumn<QString>("origin");    // what the question says of the file's lines 9 to 11
    QTest::addColumn<QString>("firmware");  // the file's firmware when it is not the controller's
    // Every frame of the load, as code * 100 + index: writes (2) then the read-back (1).
    QTest::addColumn<QList<int>>("frames");
    QTest::newRow("identical") << kControllerMap << false << "" << "" << "" << "" << QList<int>{};
    QTest::newRow("saved from this firmware, with a note")
        << kControllerMap + "Firmware=1.2.3\r\nSaved=2026-12-01 10:00:00\r\nNote=\"Monster, Rossi\"\r\n" << false << ""
        << "" << "Firmware 1.2.3, salvata il 2026-12-01 10:00:00\nNota: Monster, Rossi" << "" << QList<int>{};
    QTest::newRow("saved from another firmware")
        << QByteArray(kControllerMap).replace("RpmMin=600", "RpmMin=700") + "Firmware=1.4.0\r\n" << false
        << "Soglia RPM Inferiore: 600 → 700" << "" << "Firmware 1.4.0" << "1.4.0" << QList<int>{202, 102};
    QTest::newRow("edited, keys by position, blanks around, a decimal")
        << QByteArray(kControllerMap).replace("TinjMax=9000", "RpmMin= 1600 ").replace("RpmMultiplier=100", "x=12.5")
        << false
        << "La riga 5 si chiama 'RpmMin'; viene letta come TinjMax.\nLa riga 8 si chiama 'x'; viene letta come "
           "RpmMultiplier.\n\nTinj Max: 9000 → 1600\nMoltiplicatore RPM: 100% → 12% (12.5 → 12%: arrotondato "
           "all'intero; 12%: oltre il limite del cursore, 50%)"
        << "" << "" << "" << QList<int>{204, 207, 104, 107};
    // Raising a pair past its upper bound writes the upper bound first; nothing crosses on the way.
    QTest::newRow("pair raised")
        << QByteArray(kControllerMap).replace("TinjMin=1500", "TinjMin=9500").replace("TinjMax=9000", "TinjMax=12000")
        << false << "Tinj Min: 1500 → 9500\nTinj Max: 9000 → 12000" << "" << "" << "" << QList<int>{204, 203, 103, 104};
    QTest::newRow("controller clamps")
        << QByteArray(kControllerMap).replace("TinjMin=1500", "TinjMin=10").replace("TinjMax=9000", "TinjMax=14")
        << true << "Tinj Min: 1500 → 10 (10: oltre il limite del cursore, 50)\nTinj Max: 9000 → 14 (14: oltre il limite del cursore, 50)" << "Tinj Max: 14 → 50" << "" << ""
        // Lowered: the lower bound first. The clamped write is tried three times and stops the plan.
        << QList<int>{203, 204, 204, 204, 103, 104};
}

void TestMaps::loadSendsWhatTheFileHolds()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, clampTinjMax);
    QFETCH(QString, details);
    QFETCH(QString, verdict);
    QFETCH(QList<int>, frames);
    QFETCH(QString, origin);
    QFETCH(QString, firmware);
    MapRig rig;
    QVERIFY(rig.start());
    if (clampTinjMax) {
        rig.port->setResponder([&rig](QByteArray request) {
            if (request.size() == 9 && request[2] == 2 && request[3] == 4 && quint8(request[5]) < 50 && !request[4])
                request[5] = 50;
            return rig.controller.respond(request);
        });
    }
    rig.dialogs.openAnswers << rig.map("edited.map", file);
    rig.w().maps().cmdLoadMap->click();
    QVERIFY(!rig.w().maps().cmdLoadMap->isEnabled()); // no input while the load runs
    QVERIFY(rig.settled());

    QCOMPARE(rig.dialogs.fileDialogFolders, QStringList{QDir(rig.dir.path()).filePath("Maps")});
    QVERIFY(QFileInfo(rig.dir.filePath("Maps")).isDir());
    // The controller's values from before are a restore point, named in the question and the notice.
    const QStringList points = restorePoints(rig.dir.path());
    QCOMPARE(points.size(), 1);
    QVERIFY2(points[0].endsWith("-before-load-COM7-1.2.3.map"), qPrintable(points[0])); // port and firmware
    // ... and the firmware and its time after the eight lines.
    QVERIFY(readFile(rig.dir.path() + "/Maps/Backups/" + points[0]).startsWith(kControllerMap + "Firmware=1.2.3\r\nSaved="));
    const QString pointLine = "\n\n" + rig.entry(250).arg(points[0]);
    QCOMPARE(rig.dialogs.shown.first().kind, QString("question"));
    const QString otherFirmware =
        firmware.isEmpty() ? QString() : "\n\n" + rig.entry(303).replace("%1", firmware).replace("%2", "1.2.3");
    QCOMPARE(rig.dialogs.shown.first().text, rig.entry(36) + otherFirmware + pointLine);
    QCOMPARE(rig.dialogs.shown.first().details,
             (origin.isEmpty() ? QString() : origin + "\n\n") + (details.isEmpty() ? rig.entry(52) : details));
    // A value no slider can set, or a map from another firmware, makes Cancel the question's default.
    QCOMPARE(rig.dialogs.shown.first().cancelIsDefault,
             details.contains("oltre il limite del cursore") || !firmware.isEmpty());
    // Only what differs goes out, in the write plan's order; what was written or tried is read back.
    QList<int> sent;
    for (const QByteArray &frame : rig.port->writtenBytes())
        sent.append(quint8(frame[2]) * 100 + quint8(frame[3]));
    QCOMPARE(sent, frames);
    const MapReadResult expected = parseMap(file);
    QVERIFY(expected.ok);
    for (int i = 0; i < 8; ++i) {
        if (!(clampTinjMax && i == 4))
            QCOMPARE(rig.controller.params[size_t(i)], quint16(expected.values[size_t(i)]));
        QCOMPARE(rig.w().session().Parameters[ParameterIndex(i)], qint32(rig.controller.params[size_t(i)]));
    }
    const QString notice = rig.dialogs.shown.last().text;
    QCOMPARE(rig.dialogs.shown.last().title, rig.entry(27));
    QCOMPARE(notice, rig.entry(37) + "\n\n" + (verdict.isEmpty() ? rig.entry(53) : rig.entry(54) + "\n" + verdict) + pointLine);
    QCOMPARE(rig.dialogs.shown.last().action, rig.entry(253)); // Undo
    // The unconfirmed write is in the notice, not a box of its own: the question and the notice.
    QCOMPARE(rig.dialogs.shown.size(), 2);
    QVERIFY(rig.w().maps().cmdLoadMap->isEnabled());
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestMaps::refusedFileSendsNothing_data()
{
    QTest::addColumn<QByteArray>("file"); // "dir": a folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("seven lines") << QByteArray(kControllerMap).replace("RpmMultiplier=100\r\n", "")
                                 << "Il file ha troppo poche righe: 7 invece di 8.";
    QTest::newRow("blank line after the eighth") << kControllerMap + "\r\n" << "La riga 9 è vuota.";
    QTest::newRow("not a number") << QByteArray(kControllerMap).replace("=600", "=abc")
                                  << "Riga 3: il valore 'abc' non è un numero.";
    QTest::newRow("too large for the frame") << QByteArray(kControllerMap).replace("=1500", "=70000")
                                             << "Riga 4: il valore 70000 è fuori dall'intervallo da 0 a 65535.";
    QTest::newRow("a folder") << QByteArray("dir") << "Questo non è un file.";
    QTest::newRow("gone") << QByteArray("gone") << "Il file o la sua cartella non esiste.";
    QTest::newRow("tinj pair crossed")
        << QByteArray(kControllerMap).replace("=1500", "=20000").replace("=9000", "=5000")
        << "La riga 5 non è in ordine con la riga precedente (TinjMin 20000 > TinjMax 5000)";
}

void TestMaps::refusedFileSendsNothing()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, reason);
    MapRig rig;
    QVERIFY(rig.start());
    QString path = rig.dir.filePath("bad.map");
    if (file == "dir")
        QVERIFY(QDir().mkdir(path));
    else if (file != "gone")
        rig.map("bad.map", file);
    rig.dialogs.openAnswers << path;
    rig.w().maps().cmdLoadMap->click();
    QVERIFY(rig.waitQuiet());
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QVERIFY2(rig.dialogs.shown[0].text.startsWith(rig.entry(40) + "\n" + reason), qPrintable(rig.dialogs.shown[0].text));
    QCOMPARE(rig.dialogs.shown[0].title, rig.entry(27));
    QTest::qWait(100);
    QCOMPARE(rig.port->written().size(), 0);
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestMaps::cancelSendsNothing_data()
{
    QTest::addColumn<bool>("atQuestion");
    QTest::addColumn<bool>("portLostInDialog");
    QTest::newRow("open dialog") << false << false;
    QTest::newRow("question") << true << false;
    QTest::newRow("port lost while the open dialog is up") << false << true;
}

void TestMaps::cancelSendsNothing()
{
    QFETCH(bool, atQuestion);
    QFETCH(bool, portLostInDialog);
    MapRig rig;
    QVERIFY(rig.start());
    if (portLostInDialog) {
        rig.dialogs.openAnswers << rig.map("m.map", kControllerMap);
        rig.dialogs.onFileDialog = [&] {
            rig.port->loseConnection();
            QTest::qWait(20); // the dialog's own event loop delivers the loss
            QVERIFY(rig.dialogs.shown.isEmpty()); // not on top of the dialog
        };
    }
    // The backup folder at its limit, and a backup the user asked for: a load that does not happen
    // deletes none of them.
    QVERIFY(QDir().mkpath(rig.dir.filePath("Maps/Backups")));
    QStringList before{"20250601-000000-COM7-1.2.3.map"};
    for (int i = 0; i < kRestorePointsKept; ++i)
        before << QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(60 * i).toString("yyyyMMdd-HHmmss") + "-before-load.map";
    for (const QString &name : std::as_const(before))
        QVERIFY(writeMapFile(rig.dir.filePath("Maps/Backups/" + name), {1, 2, 600, 50, 9000, 80, 80, 100}, nullptr));
    before.sort();
    bool pollQuietMeanwhile = false;
    rig.dialogs.onQuestion = [&] { pollQuietMeanwhile = !rig.timer("Timer_StatusRequest")->enabled(); };
    if (atQuestion) {
        rig.dialogs.openAnswers << rig.map("m.map", kControllerMap);
        rig.dialogs.questionAnswers << false;
    }
    rig.w().session().holdPoll(false);
    rig.w().maps().cmdLoadMap->click();
    QTest::qWait(100);
    QCOMPARE(pollQuietMeanwhile, atQuestion);
    QCOMPARE(rig.port->written().size(), 0);
    QCOMPARE(restorePoints(rig.dir.path()), before); // nothing overwritten, nothing to restore, nothing pruned
    if (portLostInDialog) {
        // No question about a session that is gone; its loss is told once the dialog has closed.
        QTRY_COMPARE(rig.dialogs.texts().size(), 1);
        QVERIFY(rig.dialogs.texts()[0].startsWith(rig.entry(39)));
        QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
        return;
    }
    QCOMPARE(rig.dialogs.shown.size(), atQuestion ? 1 : 0);
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

// A disconnect in the middle of a load: nothing more goes out, no notice, the idle view.
void TestMaps::disconnectStopsLoad()
{
    MapRig rig;
    QVERIFY(rig.start());
    rig.port->setReplyDelay(std::chrono::milliseconds(50));
    // Five values that differ: five writes and five reads, a disconnect comes in the middle.
    rig.dialogs.openAnswers << rig.map("m.map", QByteArray(kControllerMap).replace("=600", "=700").replace("=1500", "=1600")
                                                    .replace("=9000", "=9100").replace("=160", "=170").replace("=100", "=90"));
    rig.w().maps().cmdLoadMap->click();
    QTRY_VERIFY(rig.port->written().size() >= 4);
    rig.w().connection().btnConnect->click();
    const auto sent = rig.port->written().size();
    QVERIFY(rig.waitQuiet());
    QTest::qWait(300);
    QCOMPARE(rig.port->written().size(), sent);
    QCOMPARE(rig.port->writesWhileClosed(), 0);
    QCOMPARE(rig.dialogs.shown.size(), 1); // the question only
    QVERIFY(!rig.w().maps().cmdLoadMap->isEnabled());
    QVERIFY(!rig.timer("Timer_StatusRequest")->enabled());
}

void TestMaps::restorePointNeedsEveryValue_data()
{
    QTest::addColumn<QString>("trouble");
    QTest::newRow("unknown value read first") << "read";
    QTest::newRow("unknown value stays unanswered") << "silent";
    QTest::newRow("backup folder blocked") << "blocked";
}

// A restore point holds all eight values or is not made: an unknown one is read first; when it stays
// unknown, or the file cannot be written, the question says so and Cancel becomes its default.
void TestMaps::restorePointNeedsEveryValue()
{
    QFETCH(QString, trouble);
    MapRig rig;
    bool answerTinjMax = trouble == "blocked";
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 1 && request[3] == 4 && !answerTinjMax)
            return QByteArray();
        return rig.controller.respond(request);
    });
    QVERIFY(rig.start());
    QCOMPARE(rig.w().session().parameterKnown(ParameterIndex::TinjMax), trouble == "blocked");
    answerTinjMax = trouble != "silent";
    if (trouble == "blocked") {
        QDir().mkpath(rig.dir.filePath("Maps"));
        writeFile(rig.dir.filePath("Maps/Backups"), "a file where the folder goes");
    }
    rig.dialogs.openAnswers << rig.map("m.map", QByteArray(kControllerMap).replace("=600", "=700"));
    rig.dialogs.confirmAnswers << false;
    rig.w().maps().cmdLoadMap->click();
    QVERIFY(rig.settled());

    const QString question = rig.entry(36) + "\n\n";
    if (trouble == "read") {
        QCOMPARE(rig.port->writtenBytes().first(), hex("50430104000000"));
        QCOMPARE(restorePoints(rig.dir.path()).size(), 1);
        QCOMPARE(rig.dialogs.shown.first().kind, QString("question"));
        QCOMPARE(rig.dialogs.shown.first().text, question + rig.entry(250).arg(restorePoints(rig.dir.path())[0]));
        QCOMPARE(rig.controller.params[2], quint16(700));
        return;
    }
    QCOMPARE(rig.dialogs.confirms.size(), 1);
    QCOMPARE(rig.dialogs.confirms[0].text,
             question
                 + (trouble == "silent" ? rig.entry(251).arg("Tinj Max")
                                        : rig.entry(252).arg(rig.entry(77) + " ("
                                                             + QDir::toNativeSeparators(rig.dir.filePath("Maps/Backups"))
                                                             + ")")));
    QCOMPARE(rig.dialogs.confirms[0].details, "Soglia RPM Inferiore: 600 → 700" + QString(trouble == "silent" ? "\nTinj Max: --- → 9000" : ""));
    for (const QByteArray &frame : rig.port->writtenBytes())
        QVERIFY(frame[2] != 2); // the Cancel: nothing written
    QCOMPARE(rig.controller.params[2], quint16(600));
}

void TestMaps::undoRestoresTheTune_data()
{
    QTest::addColumn<QString>("overwrite");
    QTest::addColumn<QString>("back"); // the way back to the tune
    QTest::newRow("reset, Undo in its notice") << "reset" << "undo";
    QTest::newRow("load, Undo in its notice") << "load" << "undo";
    QTest::newRow("reset, Tools > Restore") << "reset" << "list";
}

// The tune a reset or a load overwrote comes back through the ordinary load: its question lists the
// changes, the values are written and read back, and the notice follows.
void TestMaps::undoRestoresTheTune()
{
    QFETCH(QString, overwrite);
    QFETCH(QString, back);
    MapRig rig;
    const std::array<quint16, 8> tune = rig.controller.params;
    QVERIFY(rig.start());
    std::array<quint16, 8> overwritten{};
    rig.port->setResponder([&](const QByteArray &request) {
        if (request[2] == 10) // the controller's factory values
            rig.controller.params = {1, 2, 0, 50, 50, 80, 80, 100};
        const QByteArray reply = rig.controller.respond(request);
        if (request[2] == 1 && request[3] == 7 && overwritten == std::array<quint16, 8>{})
            overwritten = rig.controller.params; // the read-back after the reset or load
        return reply;
    });
    rig.dialogs.actionAnswers << (back == "undo");
    if (overwrite == "reset") {
        rig.w().connection().ResetCmd->click();
    } else {
        rig.dialogs.openAnswers << rig.map("other.map", QByteArray(kControllerMap).replace("=600", "=700").replace("=9000", "=12000"));
        rig.w().maps().cmdLoadMap->click();
    }
    QVERIFY(rig.settled());
    QVERIFY(overwritten != tune);
    const QString point = restorePoints(rig.dir.path()).value(0);
    if (back == "list") {
        QAction *item = rig.w().findChild<QAction *>("menuTools_3");
        QVERIFY(item);
        item->trigger();
        auto *list = rig.w().findChild<QTreeWidget *>("RestoreList");
        QVERIFY(list);
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(1), rig.entry(261));
        QCOMPARE(list->topLevelItem(0)->text(2) + " " + list->topLevelItem(0)->text(3), QString("COM7 1.2.3"));
        // The values read back after the reset count once confirmed.
        QTRY_VERIFY2(list->topLevelItem(0)->text(5).contains("Tinj Max: 50 → 9000"), qPrintable(list->topLevelItem(0)->text(5)));
        QVERIFY(!list->topLevelItem(0)->text(5).contains(rig.entry(323))); // this controller's
        list->setCurrentItem(list->topLevelItem(0));
        rig.w().findChild<QPushButton *>("RestoreButton")->click();
    }
    QVERIFY(rig.settled());
    QCOMPARE(rig.controller.params, tune);
    // The way back is a load like any other: its question with the changes, a restore point of its own.
    const auto question = *std::find_if(rig.dialogs.shown.rbegin(), rig.dialogs.shown.rend(),
                                        [](const ScriptedDialogs::Shown &box) { return box.kind == "question"; });
    QVERIFY2(question.details.contains(overwrite == "reset" ? "Tinj Max: 50 → 9000" : "Tinj Max: 12000 → 9000"),
             qPrintable(question.details));
    QCOMPARE(rig.dialogs.shown.last().text.section("\n\n", 0, 0), rig.entry(37));
    QCOMPARE(restorePoints(rig.dir.path()).size(), 2);
    QVERIFY(restorePoints(rig.dir.path()).contains(point));
}

void TestMaps::save_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("written"); // "": the save fails
    QTest::addColumn<QString>("reason");  // when it fails, in the language in use
    QTest::addColumn<bool>("replace");    // the answer to "replace the existing file?"
    QTest::addColumn<bool>("asked");
    QTest::newRow("extension added") << "mine" << "mine.map" << "" << true << false;
    QTest::newRow("own extension kept") << "mine.txt" << "mine.txt" << "" << true << false;
    QTest::newRow("a folder in the way") << "taken.map" << "" << "Questo non è un file." << true << false;
    QTest::newRow("no such folder") << "gone/mine.map" << "" << "Il file o la sua cartella non esiste." << true << false;
    // The dialog only saw "old": the file about to be replaced is old.map.
    QTest::newRow("typed name of a map, replaced") << "old" << "old.map" << "" << true << true;
    QTest::newRow("typed name of a map, kept") << "old" << "" << "" << false << true;
}

void TestMaps::save()
{
    QFETCH(QString, name);
    QFETCH(QString, written);
    QFETCH(QString, reason);
    QFETCH(bool, replace);
    QFETCH(bool, asked);
    MapRig rig;
    rig.controller.params[3] = 1234;
    rig.controller.params[7] = 150; // saved as the controller holds it
    QVERIFY(rig.start());
    const QString maps = rig.dir.filePath("Maps");
    QDir().mkpath(maps + "/taken.map");
    writeFile(maps + "/old.map", "old");
    rig.dialogs.saveAnswers << maps + "/" + name;
    rig.dialogs.questionAnswers << replace;
    rig.dialogs.textAnswers << QString("Monster 900, Città");
    rig.w().maps().cmdSaveMap->click();
    QTRY_COMPARE(rig.dialogs.fileDialogFolders, QStringList{maps});
    QCOMPARE(rig.dialogs.saveSuffixes, QStringList{"map"});
    QCOMPARE(rig.port->written().size(), 0);
    if (asked) {
        QVERIFY(!rig.dialogs.shown.isEmpty());
        QCOMPARE(rig.dialogs.shown.takeFirst().text, QString(rig.entry(81)).replace("%1", "old.map"));
    }
    if (written.isEmpty()) {
        QCOMPARE(rig.dialogs.shown.size(), asked ? 0 : 1);
        if (!asked)
            QCOMPARE(rig.dialogs.shown[0].text, rig.entry(41) + "\n" + QDir::toNativeSeparators(maps + "/" + name) + "\n" + reason);
        QVERIFY(QFileInfo(maps + "/taken.map").isDir());
        QCOMPARE(readFile(maps + "/old.map"), QByteArray("old"));
    } else {
        QVERIFY(rig.dialogs.shown.isEmpty());
        // The eight values, then where they came from: the firmware, the time, the note typed.
        const QByteArray saved = readFile(maps + "/" + written);
        QVERIFY2(saved.startsWith(QByteArray(kControllerMap).replace("=1500", "=1234").replace("=100", "=150")
                                  + "Firmware=1.2.3\r\nSaved=" + QDate::currentDate().toString(Qt::ISODate).toLatin1()),
                 saved.constData());
        QVERIFY2(saved.endsWith("\r\nNote=\"Monster 900, Citta\"\r\n"), saved.constData());
        QCOMPARE(rig.dialogs.textLabels, QStringList{rig.entry(304)});
    }
    QVERIFY(rig.timer("Timer_StatusRequest")->enabled());
}

void TestMaps::mapsNotAFolder()
{
    // A file named Maps: both dialogs open in the program folder, and the reason is told once.
    MapRig rig;
    QVERIFY(rig.start());
    writeFile(rig.dir.filePath("Maps"), "not a folder");
    rig.w().maps().cmdSaveMap->click();
    QTRY_VERIFY(rig.w().maps().cmdLoadMap->isEnabled());
    rig.w().maps().cmdLoadMap->click();
    QCOMPARE(rig.dialogs.fileDialogFolders, QStringList({rig.dir.path(), rig.dir.path()}));
    QCOMPARE(rig.dialogs.texts(), QStringList{rig.entry(80)});
    QCOMPARE(readFile(rig.dir.filePath("Maps")), QByteArray("not a folder"));
}

QTEST_MAIN(TestMaps)
#include "tst_maps.moc"
