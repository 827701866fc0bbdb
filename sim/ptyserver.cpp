#include "ptyserver.h"

#include "clientwatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace oe {

PtyServer::PtyServer(QObject *parent)
    : QObject(parent)
    , m_paceTimer(new QTimer(this))
{
    m_clock.start();
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &PtyServer::pacedTick);
}

void PtyServer::setPace(int baud)
{
    baud = baud <= 0 ? 0 : std::clamp(baud, kMinPaceBaud, kMaxPaceBaud);
    if (baud == m_paceBaud)
        return;
    m_paceBaud = baud;
    // Ten bits a byte on the wire: start bit, eight data bits, stop bit.
    m_byteNs = baud > 0 ? 10 * 1'000'000'000LL / baud : 0;
    if (baud > 0)
        return;
    // Unpaced from now on: what is still on its way goes through at once.
    m_paceTimer->stop();
    QList<QByteArray> replies = std::exchange(m_txReplies, {});
    if (!replies.isEmpty())
        replies.first().remove(0, std::exchange(m_txSentOfFirst, 0));
    for (const QByteArray &reply : replies)
        writeNow(reply);
    const QByteArray requests = std::exchange(m_rxQueue, {});
    if (!requests.isEmpty())
        deliver(requests);
}

PtyServer::~PtyServer()
{
    closeLine();
}

bool PtyServer::open(QString *error)
{
    closeLine();
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Raw on the line: no echo, no line editing, no CR/LF translation, all 256 byte values pass.
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);

    m_master = master;
    m_heldSlave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    m_sim.restartLine();
    m_pending = new QObject(this);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyServer::readMaster);
    m_clientWatch = new ClientWatch(m_heldSlave, m_slavePath, this);
    connect(m_clientWatch, &ClientWatch::clientClosed, this, &PtyServer::clientClosed);
    return true;
}

void PtyServer::readMaster()
{
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
        // EOF or a hard error: the notifier would fire for ever on it. With our own slave held this
        // should not happen; if it does, stop listening rather than spin.
        m_notifier->setEnabled(false);
        break;
    }
    if (data.isEmpty())
        return;
    if (m_paceBaud > 0) {
        if (m_rxQueue.isEmpty())
            m_rxNextDueNs = std::max(m_rxNextDueNs, m_clock.nsecsElapsed() + m_byteNs);
        m_rxQueue += data;
        schedulePacedTick();
        return;
    }
    deliver(data);
}

void PtyServer::deliver(const QByteArray &data)
{
    const qint64 now = elapsedMs();
    const qint64 countBefore = m_sim.requestCount();
    const QList<SimOutput> outputs = m_sim.feed(data, now);
    const QList<SimRequest> &log = m_sim.requests();
    const qsizetype fresh = qsizetype(std::min<qint64>(m_sim.requestCount() - countBefore, log.size()));
    for (qsizetype i = log.size() - fresh; i < log.size(); ++i)
        emit requestReceived(log[i].frame, now);
    for (const SimOutput &out : outputs)
        schedule(out);
}

void PtyServer::schedule(const SimOutput &out)
{
    const auto finish = [this, hangUp = out.hangUp] {
        if (hangUp)
            hangUpWhenDrained();
    };
    const auto second = [this, out, finish] {
        writeNow(out.bytes.mid(out.splitAt));
        finish();
    };
    const auto first = [this, out, second, finish] {
        if (out.splitAt > 0) {
            writeNow(out.bytes.left(out.splitAt));
            QTimer::singleShot(out.splitGapMs, Qt::PreciseTimer, m_pending, second);
        } else {
            writeNow(out.bytes);
            finish();
        }
    };
    if (out.delayMs > 0)
        QTimer::singleShot(out.delayMs, Qt::PreciseTimer, m_pending, first);
    else
        first();
}

void PtyServer::writeNow(const QByteArray &bytes)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    if (m_paceBaud > 0) {
        if (m_txReplies.isEmpty())
            m_txNextDueNs = std::max(m_txNextDueNs, m_clock.nsecsElapsed() + m_byteNs);
        m_txReplies.append(bytes);
        schedulePacedTick();
        return;
    }
    writeToLine(bytes);
}

void PtyServer::pacedTick()
{
    const qint64 now = m_clock.nsecsElapsed();
    qsizetype dueRequestBytes = 0;
    while (dueRequestBytes < m_rxQueue.size() && m_rxNextDueNs <= now) {
        ++dueRequestBytes;
        m_rxNextDueNs += m_byteNs;
    }
    if (dueRequestBytes > 0) {
        const QByteArray due = m_rxQueue.left(dueRequestBytes);
        m_rxQueue.remove(0, dueRequestBytes);
        deliver(due);
    }
    while (!m_txReplies.isEmpty() && m_txNextDueNs <= now && m_master >= 0) {
        const QByteArray &reply = m_txReplies.first();
        qsizetype due = 0;
        while (m_txSentOfFirst + due < reply.size() && m_txNextDueNs <= now) {
            ++due;
            m_txNextDueNs += m_byteNs;
        }
        writeBytes(reply.mid(m_txSentOfFirst, due));
        m_txSentOfFirst += due;
        if (m_txSentOfFirst < reply.size())
            break;
        const QByteArray sent = m_txReplies.takeFirst();
        m_txSentOfFirst = 0;
        emit bytesWritten(sent, elapsedMs());
    }
    schedulePacedTick();
}

void PtyServer::schedulePacedTick()
{
    qint64 next = -1;
    if (!m_rxQueue.isEmpty())
        next = m_rxNextDueNs;
    if (!m_txReplies.isEmpty() && (next < 0 || m_txNextDueNs < next))
        next = m_txNextDueNs;
    if (next < 0 || m_master < 0) {
        m_paceTimer->stop();
        return;
    }
    // Milliseconds rounded up: a byte is never through before its time.
    const qint64 waitNs = std::max<qint64>(0, next - m_clock.nsecsElapsed());
    m_paceTimer->start(int((waitNs + 999'999) / 1'000'000));
}

void PtyServer::writeToLine(const QByteArray &bytes)
{
    emit bytesWritten(bytes.left(writeBytes(bytes)), elapsedMs());
}

qsizetype PtyServer::writeBytes(const QByteArray &bytes)
{
    if (m_master < 0)
        return 0;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // Nobody is reading and the line's buffer is full: the rest is lost, as on a real wire.
            break;
        }
    }
    return done;
}

void PtyServer::hangUpWhenDrained()
{
    // A hang-up throws away what the program has not read yet, so the last reply would never arrive.
    // Wait until the line's input is empty (the program read it), but not for ever.
    QElapsedTimer waited;
    waited.start();
    auto *poll = new QTimer(m_pending);
    connect(poll, &QTimer::timeout, this, [this, waited] {
        int waiting = 0;
        if (!m_txReplies.isEmpty() && waited.elapsed() < kHangUpDrainMs.count())
            return;  // a paced reply is still going out
        if (::ioctl(m_heldSlave, FIONREAD, &waiting) != 0 || waiting == 0 || waited.elapsed() >= kHangUpDrainMs.count())
            hangUp();
    }, Qt::QueuedConnection);
    poll->start(5);
}

void PtyServer::hangUp()
{
    if (!isOpen())
        return;
    closeLine();
    emit hungUp();
}

void PtyServer::closeLine()
{
    delete m_pending;
    m_pending = nullptr;
    delete m_notifier;
    m_notifier = nullptr;
    delete m_clientWatch;
    m_clientWatch = nullptr;
    m_paceTimer->stop();
    m_rxQueue.clear();
    m_txReplies.clear();
    m_txSentOfFirst = 0;
    m_rxNextDueNs = 0;
    m_txNextDueNs = 0;
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = -1;
    m_heldSlave = -1;
    m_slavePath.clear();
}

} // namespace oe
