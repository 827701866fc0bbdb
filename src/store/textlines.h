#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace oe {

// Splits text file contents into lines. A line ends at CR, at a CR LF pair, or at a lone LF (files
// edited on Linux); the line ends are not part of the line. A final line without a line end still
// counts; a final line end does not start another line. Bytes are taken as Latin-1, so any byte
// survives a read and a write unchanged.
QStringList splitLines(const QByteArray &data, qsizetype maxLines = -1);

// Joins lines, each followed by CR LF, as every file we write is laid out.
QByteArray joinLines(const QStringList &lines);

// Reads a whole file into memory. Fails for a missing or unreadable file and for a directory.
bool readWholeFile(const QString &path, QByteArray *data, QString *error);

} // namespace oe
