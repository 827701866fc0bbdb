#pragma once

// The real window on the real QSerialPort, talking over a pty to the simulated controller in a
// temporary program folder. The simulator runs on this thread, so every wait here spins the event
// loop; a blocking read would starve the controller.

#include "intervaltimer.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "reconnectflow.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "sessionwait.h"
#include "scripteddialogs.h"
#include "simfixture.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSerialPort>
#include <QSlider>
#include <QTest>

#include <memory>
#include <sys/resource.h>

namespace e2e {

inline const QByteArray kVersionFrame = QByteArray::fromHex("50430400000000");
inline const QByteArray kStatusFrame = QByteArray::fromHex("50430300000000");
inline const QByteArray kResetFrame = QByteArray::fromHex("50430a00000000");
inline const QString kSimVersionText = QStringLiteral("Ver. 1.3.7");

// Generous: the machine running the tests may be loaded.
constexpr int kPatienceMs = 8000;

inline QByteArray readFrame(int index)
{
    return QByteArray("\x50\x43\x01", 3) + char(index) + QByteArray(3, '\0');
}

inline QList<QByteArray> readFrames()
{
    QList<QByteArray> frames;
    for (int i = 0; i < 8; ++i)
        frames.append(readFrame(i));
    return frames;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// User plus system CPU time of this process, in seconds.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds this process burns while the event loop runs for the given time.
inline double cpuDuring(int ms)
{
    const double before = cpuSeconds();
    QTest::qWait(ms);
    return cpuSeconds() - before;
}

// Whether the port can be opened by someone else: false while the program still holds it (its lock
// file) or when the line is gone.
inline bool portFree(const QString &path)
{
    // The lock is named after the device, not the link that leads to it.
    const QString device = QFileInfo(path).canonicalFilePath();
    QSerialPort probe;
    probe.setPortName(device.isEmpty() ? path : device);
    const bool opened = probe.open(QIODevice::ReadWrite);
    probe.close();
    return opened;
}

struct Rig {
    oe::SimFixture fx;
    ScriptedDialogs dialogs;
    std::unique_ptr<oe::MainWindow> window;

    // config: the bytes of config.ini; empty writes the fixture's own port with English.
    explicit Rig(const QByteArray &config = {}, int comPort = 3)
        : fx(comPort)
    {
        if (!fx.isReady())
            return;
        QFile::copy(QStringLiteral(OE_LANGUAGE_INI), path(QStringLiteral("Language.ini")));
        if (config.isEmpty())
            fx.writeConfig(QStringLiteral("ENG"));
        else
            writeFile(path(QStringLiteral("config.ini")), config);
        window = std::make_unique<oe::MainWindow>(fx.programFolder());
        window->setDialogs(&dialogs);
        // The machine's own serial ports stay out of the tests: only the links in the folder count.
        window->setSystemPortLister([] { return QList<oe::SystemPort>{}; });
    }

    bool ready() const { return fx.isReady() && window; }
    oe::MainWindow &w() { return *window; }
    QString path(const QString &name) const { return QDir(fx.programFolder()).filePath(name); }
    QString entry(int number) const { return window->Captions().text(number); }
    oe::ControllerSim &sim() { return fx.sim(); }

    QList<QByteArray> frames() const
    {
        QList<QByteArray> out;
        for (const oe::SimRequest &r : fx.requests())
            out.append(r.frame);
        return out;
    }

    QStringList hex(const QList<QByteArray> &frames) const
    {
        QStringList out;
        for (const QByteArray &f : frames)
            out.append(oe::hexBytes(f));
        return out;
    }

    // Clicks btnConnect and waits until the connect has succeeded or failed.
    bool connect()
    {
        w().connection().btnConnect->click();
        waitQuiet();
        return w().isConnected() && w().session().state() == oe::Session::State::Connected;
    }

    // Runs the verification reads the connect left due, so the values are confirmed (a restore
    // point then reads nothing of its own).
    bool verify()
    {
        bool verified = false;
        if (!w().session().verifyNow([&verified] { verified = true; }))
            return false;
        return QTest::qWaitFor([&verified] { return verified; }, 20000);
    }

    // Waits until the buttons take input again (a restore point being taken, a reset or a load is
    // over) and the line is quiet.
    bool settled()
    {
        QTest::qWait(10); // a step posted from the event loop gets under way
        return QTest::qWaitFor([this] {
            return !w().isConnected()
                   || (w().connection().ResetCmd->isEnabled() && w().maps().cmdLoadMap->isEnabled());
        }, 20000) && waitQuiet();
    }

    // Waits until no sequence runs and nothing is on the wire or queued.
    bool waitQuiet(int limitMs = 20000)
    {
        return waitSessionQuiet(w().session(), limitMs);
    }

    QList<QSlider *> sliders()
    {
        return {w().sliders().RpmMultiplierSlider, w().sliders().RpmMinSlider,        w().sliders().TinjMinSlider,
                w().sliders().TinjMaxSlider,       w().sliders().PumpMinSlider,       w().sliders().PumpMaxSlider,
                w().sliders().SliderPausaAlMinimo, w().sliders().SliderPausaAlMassimo};
    }

    // The connected view, as the controller's values say. Empty when it holds, else what is wrong.
    QString connectedViewProblem()
    {
        QStringList wrong;
        if (!w().isConnected())
            wrong << "not connected";
        if (!w().session().engine()->isOpen())
            wrong << "port closed";
        if (w().connection().Label9->text() != kSimVersionText)
            wrong << "Label9 '" + w().connection().Label9->text() + "'";
        if (w().connection().btnConnect->text() != entry(6))
            wrong << "btnConnect '" + w().connection().btnConnect->text() + "'";
        if (w().connection().COMM_Combo->isEnabled())
            wrong << "port list enabled";
        for (QSlider *s : sliders()) {
            if (!s->isEnabled())
                wrong << s->objectName() + " disabled";
        }
        return wrong.join(", ");
    }

    // The idle view with the port released. Empty when it holds, else what is wrong.
    QString idleViewProblem()
    {
        QStringList wrong;
        if (w().isConnected())
            wrong << "still connected";
        if (w().session().engine()->isOpen())
            wrong << "port still open";
        if (!w().connection().Label9->text().isEmpty())
            wrong << "Label9 '" + w().connection().Label9->text() + "'";
        // While the window waits for a lost port to come back, the button stops the waiting.
        if (w().connection().btnConnect->text() != entry(w().reconnect().waiting() ? 6 : 5))
            wrong << "btnConnect '" + w().connection().btnConnect->text() + "'";
        if (!w().connection().COMM_Combo->isEnabled())
            wrong << "port list disabled";
        if (w().connection().ResetCmd->isEnabled())
            wrong << "ResetCmd enabled";
        if (w().maps().cmdLoadMap->isEnabled() || w().maps().cmdSaveMap->isEnabled())
            wrong << "map buttons enabled";
        for (QSlider *s : sliders()) {
            if (s->isEnabled())
                wrong << s->objectName() + " enabled";
        }
        const std::pair<const char *, oe::IntervalTimer *> timers[] = {
            {"MSComm1_Timer", w().session().engine()->replyTimer()},
            {"Timer_StatusRequest", w().session().statusTimer()},
            {"TimerLampeggio", w().readings().TimerLampeggio},
            {"TimerPausaLampeggio", w().readings().TimerPausaLampeggio}};
        for (const auto &[name, timer] : timers) {
            if (timer->enabled())
                wrong << QString::fromLatin1(name) + " running";
        }
        return wrong.join(", ");
    }
};

} // namespace e2e
