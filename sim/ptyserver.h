#pragma once

#include "controllersim.h"
#include "linepacer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

class QSocketNotifier;

namespace oe {

class ClientWatch;

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

    // Paces the line like a wire at this many baud, 8N1 (ten bits a byte: 1.042 ms at 9600): reply
    // bytes go out one by one at that rate, and request bytes reach the controller no faster than
    // that however fast the program writes them. 0, the default, passes bytes at once.
    static constexpr int kMinPaceBaud = 300;
    static constexpr int kMaxPaceBaud = 1000000;
    void setPace(int baud);
    int pace() const { return m_paceBaud; }

    ControllerSim &sim() { return m_sim; }
    const ControllerSim &sim() const { return m_sim; }

    // The clock the simulator's request log and engine run on: milliseconds since construction.
    qint64 elapsedMs() const { return m_clock.elapsed(); }

signals:
    void requestReceived(const QByteArray &frame, qint64 atMs);
    void bytesWritten(const QByteArray &bytes, qint64 atMs);
    void hungUp();
    // The program closed its side of the line (or was killed); the next open is welcome again.
    void clientClosed();

private:
    void readMaster();
    // receivedNs: when the request's last byte was through (LinePacer::nowNs's clock); a reply
    // without delay starts there, as the controller answers on the wire.
    void schedule(const SimOutput &out, qint64 receivedNs);
    void deliver(const QByteArray &data, qint64 receivedNs);
    void writeNow(const QByteArray &bytes, qint64 startNs);
    void writeToLine(const QByteArray &bytes);
    qsizetype writeBytes(const QByteArray &bytes);
    void hangUpWhenDrained();
    void closeLine();

    ControllerSim m_sim;
    QElapsedTimer m_clock;
    int m_master = -1;
    int m_heldSlave = -1;
    QString m_slavePath;
    QSocketNotifier *m_notifier = nullptr;
    ClientWatch *m_clientWatch = nullptr;
    // Owns the timers of pending replies; replaced at each hang-up so that none fires on a new line.
    QObject *m_pending = nullptr;

    // The paced line, on a thread of its own while pacing. A reply is reported written once its last
    // byte is out.
    int m_paceBaud = 0;
    std::unique_ptr<LinePacer> m_pacer;
};

} // namespace oe
