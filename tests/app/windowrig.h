#pragma once

#include "fakecontroller.h"
#include "intervaltimer.h"
#include "mainwindow.h"
#include "scripteddialogs.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

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
    }
    MainWindow &w() { return *window; }
    QString entry(int n) const { return window->Captions().text(n); }
    bool connect()
    {
        window->btnConnect->click();
        return window->isConnected();
    }
    IntervalTimer *timer(const char *name) { return window->findChild<IntervalTimer *>(name); }
};

