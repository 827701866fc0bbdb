#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <mutex>
#include <thread>

namespace oe {

// Times bytes through the simulator's pty like a wire: each byte is through one byte time after the
// one before it. Its own thread sleeps to each byte's absolute deadline (clock_nanosleep with
// TIMER_ABSTIME on CLOCK_MONOTONIC), so the error is the kernel's wake-up latency, not a timer's
// millisecond rounding, and nothing drifts over a long reply. Reply bytes are written to the pty's
// master from that thread, and it reads the requests there too, so that a request's time of arrival
// is when the kernel had it, not when the owner's event loop got round to it. Request bytes and
// finished replies are handed to callbacks on that thread, which must only post to the owner's thread.
class LinePacer
{
public:
    // Called on the pacing thread. dueNs: the moment the last of the bytes is through.
    using RequestBytes = std::function<void(const QByteArray &bytes, qint64 dueNs, quint64 line)>;
    using ReplyOut = std::function<void(const QByteArray &reply, quint64 line)>;

    LinePacer(RequestBytes onRequest, ReplyOut onReplyOut);
    ~LinePacer();
    LinePacer(const LinePacer &) = delete;
    LinePacer &operator=(const LinePacer &) = delete;

    // CLOCK_MONOTONIC, in nanoseconds: the clock of every deadline here.
    static qint64 nowNs();

    void setByteNs(qint64 byteNs);
    // The master to read requests from and write replies to; -1 drops everything on its way. Each call starts a new line, whose
    // number the callbacks carry, so that the owner can tell bytes of a line it has since closed.
    void setLine(int masterFd);
    quint64 line() const;

    // A reply whose first byte starts after startNs (or after the reply before it, if that ends later).
    void sendReply(const QByteArray &bytes, qint64 startNs);
    bool replyPending() const;

    // Stops timing: what has not gone through is returned, in order, for the owner to pass at once.
    struct Undelivered {
        QByteArray requests;
        QList<QByteArray> replies;
    };
    Undelivered takeUndelivered();

private:
    void run();
    void wake();
    void readRequestsLocked();
    qint64 nextDueLocked() const;
    void passDueLocked(qint64 now);

    const RequestBytes m_onRequest;
    const ReplyOut m_onReplyOut;

    mutable std::mutex m_mutex;
    int m_wakeFd = -1; // an eventfd: breaks the thread's wait for the line when work or a new line comes
    bool m_stopping = false;
    bool m_lineReadable = true;
    qint64 m_byteNs = 0;
    int m_master = -1;
    quint64 m_line = 0;
    QByteArray m_rxQueue;
    qint64 m_rxNextDueNs = 0;
    QList<QByteArray> m_txReplies;
    qsizetype m_txSentOfFirst = 0;
    qint64 m_txNextDueNs = 0;
    std::thread m_thread; // last: starts once everything above is set up
};

} // namespace oe
