#pragma once

// The program's end of a simulator pty, opened with plain POSIX calls so a test can see exactly which
// bytes arrive and when the line goes away.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class PtyClient
{
public:
    explicit PtyClient(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~PtyClient() { close(); }
    PtyClient(const PtyClient &) = delete;
    PtyClient &operator=(const PtyClient &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Everything that arrives while the event loop (and with it an in-process simulator) runs for
    // up to timeoutMs, stopping early once `enough` bytes are in.
    QByteArray read(int timeoutMs, qsizetype enough = 1 << 20)
    {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < enough) {
            got += readNow();
            if (got.size() >= enough || deadline.hasExpired())
                break;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
        }
        return got;
    }

    QByteArray readNow()
    {
        QByteArray got;
        char chunk[256];
        ssize_t n;
        while (m_fd >= 0 && (n = ::read(m_fd, chunk, sizeof chunk)) > 0)
            got.append(chunk, n);
        return got;
    }

    // True once the other side has closed: the line reports a hang-up or an error.
    bool hungUp(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        do {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)))
                return true;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(2);
        } while (!deadline.hasExpired());
        return false;
    }

private:
    int m_fd = -1;
};
