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
{
    m_clock.start();
}

void PtyServer::setPace(int baud)
{
    baud = baud <= 0 ? 0 : std::clamp(baud, kMinPaceBaud, kMaxPaceBaud);
    if (baud == m_paceBaud)
        return;
    m_paceBaud = baud;
    if (baud > 0) {
        if (!m_pacer) {
            // The pacer's thread only posts here; a post for a line closed since is dropped.
            m_pacer = std::make_unique<LinePacer>(
                [this](const QByteArray &bytes, qint64 dueNs, quint64 line) {
                    QMetaObject::invokeMethod(this, [this, bytes, dueNs, line] {
                        if (m_pacer && m_pacer->line() == line)
                            deliver(bytes, dueNs);
                    }, Qt::QueuedConnection);
                },
                [this](const QByteArray &reply, quint64 line) {
                    const qint64 atMs = elapsedMs();
                    QMetaObject::invokeMethod(this, [this, reply, atMs, line] {
                        if (m_pacer && m_pacer->line() == line)
                            emit bytesWritten(reply, atMs);
                    }, Qt::QueuedConnection);
                });
            m_pacer->setLine(m_master);
            // The pacer reads the line itself from now on.
            if (m_notifier)
                m_notifier->setEnabled(false);
        }
        // Ten bits a byte on the wire: start bit, eight data bits, stop bit.
        m_pacer->setByteNs(10 * 1'000'000'000LL / baud);
        return;
    }
    // Unpaced from now on: what is still on its way goes through at once.
    const LinePacer::Undelivered rest = m_pacer->takeUndelivered();
    m_pacer.reset();
    if (m_notifier)
        m_notifier->setEnabled(true);
    for (const QByteArray &reply : rest.replies)
        writeToLine(reply);
    if (!rest.requests.isEmpty())
        deliver(rest.requests, LinePacer::nowNs());
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
    if (m_pacer)
        m_pacer->setLine(m_master);
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyServer::readMaster);
    m_notifier->setEnabled(!m_pacer);
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
    deliver(data, LinePacer::nowNs());
}

void PtyServer::deliver(const QByteArray &data, qint64 receivedNs)
{
    const qint64 now = elapsedMs();
    const qint64 countBefore = m_sim.requestCount();
    const QList<SimOutput> outputs = m_sim.feed(data, now);
    const QList<SimRequest> &log = m_sim.requests();
    const qsizetype fresh = qsizetype(std::min<qint64>(m_sim.requestCount() - countBefore, log.size()));
    for (qsizetype i = log.size() - fresh; i < log.size(); ++i)
        emit requestReceived(log[i].frame, now);
    for (const SimOutput &out : outputs)
        schedule(out, receivedNs);
}

void PtyServer::schedule(const SimOutput &out, qint64 receivedNs)
{
    const auto finish = [this, hangUp = out.hangUp] {
        if (hangUp)
            hangUpWhenDrained();
    };
    const auto second = [this, out, finish] {
        writeNow(out.bytes.mid(out.splitAt), LinePacer::nowNs());
        finish();
    };
    const auto first = [this, out, second, finish](qint64 startNs) {
        if (out.splitAt > 0) {
            writeNow(out.bytes.left(out.splitAt), startNs);
            QTimer::singleShot(out.splitGapMs, Qt::PreciseTimer, m_pending, second);
        } else {
            writeNow(out.bytes, startNs);
            finish();
        }
    };
    if (out.delayMs > 0)
        QTimer::singleShot(out.delayMs, Qt::PreciseTimer, m_pending, [first] { first(LinePacer::nowNs()); });
    else
        first(receivedNs);
}

void PtyServer::writeNow(const QByteArray &bytes, qint64 startNs)
{
    if (m_master < 0 || bytes.isEmpty())
        return;
    if (m_pacer) {
        m_pacer->sendReply(bytes, startNs);
        return;
    }
    writeToLine(bytes);
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
        if (m_pacer && m_pacer->replyPending() && waited.elapsed() < kHangUpDrainMs.count())
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
    // The pacer lets go of the master before it is closed: its number may be reused at once.
    if (m_pacer)
        m_pacer->setLine(-1);
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = -1;
    m_heldSlave = -1;
    m_slavePath.clear();
}

} // namespace oe
