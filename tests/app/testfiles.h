#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTest>

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The restore points in a program folder, oldest first.
inline QStringList restorePoints(const QString &programFolder)
{
    return QDir(programFolder + QStringLiteral("/Maps/Backups")).entryList({QStringLiteral("*.map")}, QDir::Files, QDir::Name);
}
