#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <sys/mount.h>

// A 16 KiB tmpfs for tests of writes that fail midway (disk full). Mounting needs root; ready() says
// whether it worked, so a test can skip instead.
class TinyDisk
{
public:
    TinyDisk()
        : m_path(m_dir.filePath(QStringLiteral("tiny")))
    {
        QDir().mkpath(m_path);
        m_mounted = ::mount("tmpfs", m_path.toLocal8Bit().constData(), "tmpfs", 0, "size=16k") == 0;
    }
    ~TinyDisk()
    {
        if (m_mounted)
            ::umount(m_path.toLocal8Bit().constData());
    }
    TinyDisk(const TinyDisk &) = delete;
    TinyDisk &operator=(const TinyDisk &) = delete;

    bool ready() const { return m_mounted; }
    QString filePath(const QString &name) const { return m_path + QLatin1Char('/') + name; }

private:
    QTemporaryDir m_dir;
    QString m_path;
    bool m_mounted = false;
};
