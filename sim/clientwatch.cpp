#include "clientwatch.h"

#include <QFile>
#include <QSocketNotifier>

#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace oe {

ClientWatch::ClientWatch(int heldSlave, const QString &slavePath, QObject *parent)
    : QObject(parent), m_heldSlave(heldSlave)
{
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotify < 0)
        return;
    if (::inotify_add_watch(m_inotify, QFile::encodeName(slavePath).constData(),
                            IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(m_inotify);
        m_inotify = -1;
        return;
    }
    m_notifier = new QSocketNotifier(m_inotify, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ClientWatch::onEvents);
}

ClientWatch::~ClientWatch()
{
    delete m_notifier;
    if (m_inotify >= 0)
        ::close(m_inotify);
}

void ClientWatch::onEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool closed = false;
    ssize_t n;
    while ((n = ::read(m_inotify, buffer, sizeof buffer)) > 0) {
        for (char *p = buffer; p < buffer + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(p);
            closed = closed || (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE));
            p += sizeof(inotify_event) + event->len;
        }
    }
    if (!closed)
        return;
    ::ioctl(m_heldSlave, TIOCNXCL);
    emit clientClosed();
}

} // namespace oe
