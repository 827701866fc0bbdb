#pragma once

#include "controllersim.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>

class QSocketNotifier;

namespace oe {

// Serves a ControllerSim on a pseudo-terminal. The program opens the slave side as if it were a serial
// port; we read requests from the master side and write the replies there, each in one write unless a
// fault splits it. We hold a slave descriptor of our own for as long as the line is up, so the
// program can close and reopen its side without the master reporting a hang-up to us.
class PtyServer : public QObject
{
    Q_OBJECT

public:
    // How long a hang-up fault waits for the program to read the last reply.
    static constexpr std::chrono::milliseconds kHangUpDrainMs{500};

    explicit PtyServer(QObject *parent = nullptr);
    ~PtyServer() override;

    // A fresh pty in raw mode. Replaces the line of an earlier open (after a hang-up, say).
    bool open(QString *error = nullptr);
    bool isOpen() const { return m_master >= 0; }
    // The slave device, e.g. /dev/pts/5; empty when closed.
    QString slavePath() const { return m_slavePath; }

    // Closes both our sides, so the program's port sees the line go away. Pending replies are dropped.
    void hangUp();

    ControllerSim &sim() { return m_sim; }
    const ControllerSim &sim() const { return m_sim; }

    // The clock the simulator's request log and engine run on: milliseconds since construction.
    qint64 elapsedMs() const { return m_clock.elapsed(); }

signals:
    void requestReceived(const QByteArray &frame, qint64 atMs);
    void bytesWritten(const QByteArray &bytes, qint64 atMs);
    void hungUp();

private:
    void readMaster();
    void schedule(const SimOutput &out);
    void writeNow(const QByteArray &bytes);
    void hangUpWhenDrained();
    void closeLine();

    ControllerSim m_sim;
    QElapsedTimer m_clock;
    int m_master = -1;
    int m_heldSlave = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    // Owns the timers of pending replies; replaced at each hang-up so that none fires on a new line.
    QObject *m_pending = nullptr;
};

} // namespace oe
