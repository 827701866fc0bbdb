#pragma once

#include "portcatalog.h"
#include "session.h"

#include <QObject>
#include <QString>

#include <functional>

class QPushButton;
class QTimer;

namespace oe {

class ReadingsPanel;
struct WindowContext;

// After the controller's port went away (a cable or adapter pulled, the controller's power gone): the
// box says what stopped and what to do, and the window connects again by itself when the same port
// comes back within kWaitMinutes. The connect identifies the controller and reads every value afresh,
// as any connect does. While it waits, CONNECT reads DISCONNECT and stops the waiting; the line over
// the logo says what it is doing.
class ReconnectFlow : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWaitMinutes = 3;
    static constexpr int kLookIntervalMs = 1000;

    ReconnectFlow(WindowContext &context, QPushButton *connectButton, ReadingsPanel *readings);

    // Where the list of the system's serial ports comes from (tests give a list of their own).
    void setSystemPortLister(std::function<QList<SystemPort>()> lister) { m_systemPorts = std::move(lister); }
    // The session on comPort was lost: tells what stopped (unsent: a typed value that did not go out,
    // "" for none) and starts waiting for the port.
    void portLost(int comPort, const QString &unsent);
    bool waiting() const;
    // The technician stops the waiting (DISCONNECT).
    void stop();
    // A connect this flow started failed: it keeps waiting, and no box is shown for it. False for
    // any other connect.
    bool takeConnectFailure();

private:
    void onSessionState(Session::State state);
    void look();
    void finish(const QString &line);
    QString portName() const;

    WindowContext &m_context;
    Session &m_session;
    QPushButton *m_connect;
    ReadingsPanel *m_readings;
    std::function<QList<SystemPort>()> m_systemPorts;
    QTimer *m_look;
    qint64 m_deadline = 0; // ms since epoch
    int m_comPort = 0;
    bool m_attempting = false;
    // What the lost session was doing, learned as it ended.
    Session::State m_lastState = Session::State::Idle;
    bool m_sequenceCut = false;
    QString m_recordingPath;
    bool m_recordingCut = false;
};

} // namespace oe
