#include "messagelog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <memory>

namespace oe {

namespace {

QFile *g_log = nullptr;
QMutex g_logMutex;

const char *kindText(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "debug";
    case QtInfoMsg: return "info";
    case QtWarningMsg: return "warning";
    case QtCriticalMsg: return "critical";
    case QtFatalMsg: return "fatal";
    }
    return "message";
}

// Messages come from any thread (Qt's own workers too).
void writeMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QString line = QStringLiteral("%1 %2 %3%4\r\n")
                             .arg(QDateTime::currentDateTime().toString(Qt::ISODateWithMs),
                                  QLatin1String(kindText(type)),
                                  context.category && qstrcmp(context.category, "default") != 0
                                      ? QLatin1String(context.category) + QLatin1String(": ")
                                      : QString(),
                                  text);
    QMutexLocker lock(&g_logMutex);
    g_log->write(line.toUtf8());
    g_log->flush();
}

} // namespace

bool installMessageLog(const QString &path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    if (info.size() > kMessageLogLimit) {
        QFile::remove(path + QStringLiteral(".old"));
        QFile::rename(path, path + QStringLiteral(".old"));
    }
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    QMutexLocker lock(&g_logMutex);
    delete g_log;
    g_log = file.release();
    qInstallMessageHandler(writeMessage);
    return true;
}

} // namespace oe
