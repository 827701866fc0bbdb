#include "linepacer.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace oe {

LinePacer::LinePacer(RequestBytes onRequest, ReplyOut onReplyOut)
    : m_onRequest(std::move(onRequest)), m_onReplyOut(std::move(onReplyOut)),
      m_wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_thread([this] { run(); })
{
}

LinePacer::~LinePacer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    m_thread.join();
    ::close(m_wakeFd);
}

void LinePacer::wake()
{
    const quint64 one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
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
        m_lineReadable = true;
        ++m_line;
        m_rxQueue.clear();
        m_txReplies.clear();
        m_txSentOfFirst = 0;
        m_rxNextDueNs = 0;
        m_txNextDueNs = 0;
    }
    wake();
}

quint64 LinePacer::line() const
{
    std::lock_guard lock(m_mutex);
    return m_line;
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
    wake();
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
    // A sleeping thread's wake-up may otherwise be put off by the default 50 µs timer slack.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    // A wire does not wait for a busy machine: where allowed, this thread wakes ahead of ordinary
    // work. It spends nearly all its time asleep, so it takes nothing from anyone. Refused without
    // the right, and then we pace as well as the scheduler lets us.
    sched_param realtime{};
    realtime.sched_priority = 1;
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &realtime);
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const qint64 next = nextDueLocked();
        if (next < 0) {
            // Nothing to time: wait for the program's bytes, or for work, a new line or the end.
            pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_lineReadable ? m_master : -1, POLLIN, 0}};
            const quint64 line = m_line;
            lock.unlock();
            ::poll(fds, 2, -1);
            lock.lock();
            quint64 count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &count, sizeof count);
            readRequestsLocked();
            // A hang-up or error would make every wait return at once: stop listening rather than spin.
            if (fds[1].fd >= 0 && line == m_line && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
                m_lineReadable = false;
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
            readRequestsLocked();
            continue;
        }
        passDueLocked(nowNs());
    }
}

void LinePacer::readRequestsLocked()
{
    if (m_master < 0 || !m_lineReadable)
        return;
    QByteArray data;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0) {
            data.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        // EOF or a hard error would wake the wait for ever; with the owner's slave held it should
        // not happen, and if it does we stop listening rather than spin.
        m_lineReadable = false;
        break;
    }
    if (data.isEmpty())
        return;
    if (m_rxQueue.isEmpty())
        m_rxNextDueNs = std::max(m_rxNextDueNs, nowNs() + m_byteNs);
    m_rxQueue += data;
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
