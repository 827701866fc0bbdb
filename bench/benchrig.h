#pragma once

// The program's window on the real QSerialPort in a temporary program folder, with oe-sim serving
// its port from another process. Shared by the benchmark and the soak.

#include "benchsupport.h"
#include "configfile.h"
#include "mainwindow.h"
#include "chartwindow.h"
#include "connectionpanel.h"
#include "languagemenu.h"
#include "mappanel.h"
#include "readingspanel.h"
#include "sliderpanel.h"
#include "toolsmenu.h"
#include "qtserialport.h"
#include "scripteddialogs.h"

#include <QPushButton>
#include <QTemporaryDir>

#include <memory>

namespace bench {

// The real port, with the time of every frame the program writes and of the first receive event
// after it: the line's part of an exchange lies between the two, the program's after.
class StampedPort : public oe::QtSerialPort
{
public:
    explicit StampedPort(const QString &programFolder) : QtSerialPort(programFolder)
    {
        // Connected before the request engine's own slot, so the stamp is not taken after its work.
        QObject::connect(this, &SerialPort::receiveEvent, this, [this] {
            if (!m_awaitingReply)
                return;
            m_awaitingReply = false;
            lastReceiveMs = monoMs();
            if (onFirstReceive)
                onFirstReceive();
        });
    }
    void write(const QByteArray &bytes) override
    {
        lastWriteMs = monoMs();
        m_awaitingReply = true;
        if (onWrite)
            onWrite(bytes);
        QtSerialPort::write(bytes);
    }
    double lastWriteMs = 0;
    double lastReceiveMs = 0;
    std::function<void(const QByteArray &)> onWrite;
    std::function<void()> onFirstReceive;

private:
    bool m_awaitingReply = false;
};

struct Rig {
    QTemporaryDir folder;
    int comPort;
    std::unique_ptr<SimProcess> sim;
    StampedPort *port = nullptr; // owned by the window's session
    ScriptedDialogs dialogs;
    std::unique_ptr<oe::MainWindow> window;
    QString error;

    // simArgs: extra oe-sim options, e.g. {"--pace", "9600"}.
    Rig(const QString &simProgram, const QString &languageIni, int com, const QStringList &simArgs)
        : comPort(com)
    {
        if (!folder.isValid()) {
            error = QStringLiteral("no temporary folder");
            return;
        }
        QFile::copy(languageIni, path(QStringLiteral("Language.ini")));
        QDir(folder.path()).mkpath(QStringLiteral("Maps"));
        if (!oe::writeConfigFile(path(QStringLiteral("config.ini")),
                                 {oe::portLine(com), QStringLiteral("Language=ENG")}, &error))
            return;
        sim = std::make_unique<SimProcess>(simProgram, folder.path(), com, simArgs);
        if (!sim->start(&error))
            return;
        port = new StampedPort(folder.path());
        window = std::make_unique<oe::MainWindow>(folder.path(), port);
        window->setDialogs(&dialogs);
        window->show();
    }
    ~Rig()
    {
        window.reset();
        if (sim)
            sim->stop();
    }

    bool ready() const { return error.isEmpty() && window; }
    QString path(const QString &name) const { return QDir(folder.path()).filePath(name); }
    oe::MainWindow &w() { return *window; }
    oe::Session &s() { return window->session(); }

    // Nothing running, nothing on the wire or queued.
    bool quiet()
    {
        const auto state = s().state();
        return state != oe::Session::State::Connecting && state != oe::Session::State::Busy
               && !s().engine()->busy();
    }

    bool connectNow(int limitMs = 15000)
    {
        if (s().state() == oe::Session::State::Idle)
            w().connection().btnConnect->click();
        waitUntil([this] { return s().state() == oe::Session::State::Connected
                                  || s().state() == oe::Session::State::Idle; }, limitMs);
        return s().state() == oe::Session::State::Connected;
    }
};

} // namespace bench
