#include "linepacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace oe {

LinePacer::LinePacer(RequestBytes onRequest, ReplyOut onReplyOut)
    : m_onRequest(std::move(onRequest)), m_onReplyOut(std::move(onReplyOut)), m_thread([this] { run(); })
{
}

LinePacer::~LinePacer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

qint64 LinePacer::nowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

void LinePacer::setByteNs(qint64 byteNs)
{
    std::lock_guard lock(m_mutex);
    m_byteNs = byteNs;
}

void LinePacer::setLine(int masterFd)
{
    {
        std::lock_guard lock(m_mutex);
        m_master = masterFd;
        ++m_line;
        m_rxQueue.clear();
        m_txReplies.clear();
        m_txSentOfFirst = 0;
        m_rxNextDueNs = 0;
        m_txNextDueNs = 0;
    }
    m_wake.notify_all();
}

quint64 LinePacer::line() const
{
    std::lock_guard lock(m_mutex);
    return m_line;
}

void LinePacer::takeRequest(const QByteArray &bytes, qint64 arrivedNs)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_rxQueue.isEmpty())
            m_rxNextDueNs = std::max(m_rxNextDueNs, arrivedNs + m_byteNs);
        m_rxQueue += bytes;
    }
    m_wake.notify_all();
}

void LinePacer::sendReply(const QByteArray &bytes, qint64 startNs)
{
    if (bytes.isEmpty())
        return;
    {
        std::lock_guard lock(m_mutex);
        if (m_txReplies.isEmpty())
            m_txNextDueNs = std::max(m_txNextDueNs, startNs + m_byteNs);
        m_txReplies.append(bytes);
    }
    m_wake.notify_all();
}

bool LinePacer::replyPending() const
{
    std::lock_guard lock(m_mutex);
    return !m_txReplies.isEmpty();
}

LinePacer::Undelivered LinePacer::takeUndelivered()
{
    std::lock_guard lock(m_mutex);
    Undelivered rest{std::exchange(m_rxQueue, {}), std::exchange(m_txReplies, {})};
    if (!rest.replies.isEmpty())
        rest.replies.first().remove(0, m_txSentOfFirst);
    m_txSentOfFirst = 0;
    return rest;
}

qint64 LinePacer::nextDueLocked() const
{
    qint64 next = -1;
    if (!m_rxQueue.isEmpty())
        next = m_rxNextDueNs;
    if (!m_txReplies.isEmpty() && m_master >= 0 && (next < 0 || m_txNextDueNs < next))
        next = m_txNextDueNs;
    return next;
}

void LinePacer::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const qint64 next = nextDueLocked();
        if (next < 0) {
            m_wake.wait(lock);
            continue;
        }
        if (next > nowNs()) {
            // Work queued meanwhile is due no sooner than a byte time after it came, so this sleep
            // (itself at most a byte time) makes it late by less than a byte at worst, and only when
            // both directions are busy at once, which a half-duplex exchange never is.
            lock.unlock();
            const timespec deadline{time_t(next / 1'000'000'000LL), long(next % 1'000'000'000LL)};
            while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
            }
            lock.lock();
            continue;
        }
        passDueLocked(nowNs());
    }
}

void LinePacer::passDueLocked(qint64 now)
{
    if (!m_rxQueue.isEmpty() && m_rxNextDueNs <= now) {
        qsizetype due = 0;
        qint64 lastDue = m_rxNextDueNs;
        while (due < m_rxQueue.size() && m_rxNextDueNs <= now) {
            ++due;
            lastDue = m_rxNextDueNs;
            m_rxNextDueNs += m_byteNs;
        }
        m_onRequest(m_rxQueue.left(due), lastDue, m_line);
        m_rxQueue.remove(0, due);
    }
    while (!m_txReplies.isEmpty() && m_txNextDueNs <= now && m_master >= 0) {
        const QByteArray &reply = m_txReplies.first();
        qsizetype due = 0;
        while (m_txSentOfFirst + due < reply.size() && m_txNextDueNs <= now) {
            ++due;
            m_txNextDueNs += m_byteNs;
        }
        // Nonblocking master: a full buffer (nobody reading) loses the bytes, as a wire would.
        qsizetype done = 0;
        while (done < due) {
            const ssize_t n = ::write(m_master, reply.constData() + m_txSentOfFirst + done, size_t(due - done));
            if (n > 0)
                done += n;
            else if (!(n < 0 && errno == EINTR))
                break;
        }
        m_txSentOfFirst += due;
        if (m_txSentOfFirst < reply.size())
            break;
        m_onReplyOut(m_txReplies.takeFirst(), m_line);
        m_txSentOfFirst = 0;
    }
}

} // namespace oe
