#pragma once

#include "controllersim.h"
#include "ptyserver.h"

#include <QString>
#include <QTemporaryDir>

namespace oe {

// A simulated controller on a real pty, linked as COMn in a temporary program folder, for end-to-end
// tests that drive the real QSerialPort. Runs on the test's own thread: the test must spin the event
// loop (QTRY_*, QSignalSpy::wait, the program's own reply waits) for the controller to answer.
class SimFixture
{
public:
    explicit SimFixture(int comPort = 3);

    // False when the pty or the link could not be made; errorString() says why.
    bool isReady() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    QString programFolder() const { return m_folder.path(); }
    int comPort() const { return m_comPort; }
    // <programFolder>/ports/COMn, absolute: what the program opens for COMn.
    QString portPath() const;

    ControllerSim &sim() { return m_server.sim(); }
    PtyServer &server() { return m_server; }
    const QList<SimRequest> &requests() const { return m_server.sim().requests(); }
    // Now, on the clock of requests()[i].atMs.
    qint64 elapsedMs() const { return m_server.elapsedMs(); }

    // Paces the line like a wire at this many baud (PtyServer::setPace); 0 passes bytes at once.
    void setPace(int baud) { m_server.setPace(baud); }

    // Closes the controller's side: the program's open port sees the line go away.
    void hangUp() { m_server.hangUp(); }
    // A new line after a hang-up, with the link re-pointed; parameters and faults are kept.
    bool reopen();

    // Writes <programFolder>/config.ini naming this fixture's port and the given language.
    bool writeConfig(const QString &language = QStringLiteral("ENG"));

private:
    QTemporaryDir m_folder;
    int m_comPort;
    PtyServer m_server;
    QString m_linkedTarget;
    QString m_error;
};

} // namespace oe
