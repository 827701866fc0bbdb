#pragma once

#include "fakecontroller.h"
#include "intervaltimer.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "sessionwait.h"
#include "scripteddialogs.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace oe;

// One window in a fresh program folder, on a fake port with a prompt controller behind it.
struct Rig {
    QTemporaryDir dir;
    FakeSerialPort *port = new FakeSerialPort;
    FakeController controller;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    explicit Rig(const QByteArray &config = "COM=07\r\nLanguage=ITA\r\n")
    {
        QFile::copy(QStringLiteral(OE_LANGUAGE_INI), dir.filePath("Language.ini"));
        QFile file(dir.filePath("config.ini"));
        if (file.open(QIODevice::WriteOnly))
            file.write(config);
        file.close();
        controller.attach(port);
        window = std::make_unique<MainWindow>(dir.path(), port);
        window->setDialogs(&dialogs);
        // The machine's own serial ports stay out of the tests.
        window->setSystemPortLister([] { return QList<SystemPort>{}; });
    }
    MainWindow &w() { return *window; }
    QString entry(int n) const { return window->Captions().text(n); }
    // Clicks CONNECT and waits until the connect has succeeded or failed.
    bool connect()
    {
        window->connection().btnConnect->click();
        waitQuiet();
        return window->isConnected() && window->session().state() == Session::State::Connected;
    }
    // Runs the verification reads the connect left due, so the values are confirmed (a restore
    // point or a save then reads nothing of its own).
    bool verify()
    {
        bool verified = false;
        if (!window->session().verifyNow([&verified] { verified = true; }))
            return false;
        return QTest::qWaitFor([&verified] { return verified; }, 10000);
    }
    // Waits until the buttons take input again (a restore point being taken, a reset or a load is
    // over) and the line is quiet.
    bool settled()
    {
        QTest::qWait(10); // a step posted from the event loop (an Undo's load) gets under way
        return QTest::qWaitFor([this] {
            return !window->isConnected()
                   || (window->connection().ResetCmd->isEnabled() && window->maps().cmdLoadMap->isEnabled());
        }, 15000) && waitQuiet();
    }
    // Waits until no sequence runs and nothing is on the wire or queued.
    bool waitQuiet(int limitMs = 15000)
    {
        return waitSessionQuiet(window->session(), limitMs);
    }
    IntervalTimer *timer(const char *name) { return window->findChild<IntervalTimer *>(name); }
};

