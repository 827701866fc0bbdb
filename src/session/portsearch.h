#pragma once

#include "requestengine.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace oe {

// Looks for the controller on other ports: opens each in turn, sends one identification request and
// closes it again. Nothing else ever goes out, and a port that cannot be opened (in use by another
// program, gone) is skipped. Borrows the session's engine, so it runs only while no session is open.
class PortSearch : public QObject
{
    Q_OBJECT
public:
    explicit PortSearch(RequestEngine *engine, QObject *parent = nullptr);
    ~PortSearch() override;

    // Tries the ports in the order given. Refused while a search runs or the engine has a port open.
    bool start(const QList<int> &comPorts);
    // Ends the search at once: the port is closed, nothing more is sent; finished(0) follows.
    void cancel();
    bool running() const { return m_running; }

signals:
    // About to try the index-th of count ports.
    void trying(int comPort, int index, int count);
    // The controller answered on this port (already closed again); 0 when none did or on cancel.
    void finished(int comPort);

private:
    void tryNext();
    void finish(int comPort);

    QPointer<RequestEngine> m_engine;
    QList<int> m_ports;
    int m_next = 0;
    bool m_running = false;
    // Counts searches: an answer that comes back after a cancel belongs to none.
    quint64 m_generation = 0;
};

} // namespace oe
