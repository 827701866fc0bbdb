#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace oe {

// The serial-port code of the program marks the pty for exclusive use when it opens it and unmarks it
// when it closes it. A program that is killed never unmarks it, and since we hold the line open the
// mark stays: every later open fails with EBUSY. We watch the slave device for closes and clear the
// mark through our own descriptor whenever someone closes it.
class ClientWatch : public QObject
{
    Q_OBJECT
public:
    // heldSlave: our descriptor of the slave, open before the watch starts (its events are not ours).
    ClientWatch(int heldSlave, const QString &slavePath, QObject *parent = nullptr);
    ~ClientWatch() override;

signals:
    void clientClosed();

private:
    void onEvents();

    int m_heldSlave;
    int m_inotify = -1;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace oe
