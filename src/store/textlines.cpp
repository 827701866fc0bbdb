#include "textlines.h"

#include <QFile>
#include <QFileInfo>

namespace oe {

QStringList splitLines(const QByteArray &data, qsizetype maxLines)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = data.size();
    while (start < n && (maxLines < 0 || lines.size() < maxLines)) {
        qsizetype end = start;
        while (end < n && data[end] != '\r' && data[end] != '\n')
            ++end;
        lines.append(QString::fromLatin1(data.constData() + start, end - start));
        if (end < n && data[end] == '\r' && end + 1 < n && data[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    return lines;
}

QByteArray joinLines(const QStringList &lines)
{
    QByteArray out;
    for (const QString &line : lines) {
        out += line.toLatin1();
        out += "\r\n";
    }
    return out;
}

bool readWholeFile(const QString &path, QByteArray *data, QString *error)
{
    const QFileInfo info(path);
    if (info.isDir()) {
        if (error)
            *error = QStringLiteral("%1 is a folder, not a file").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    *data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace oe
