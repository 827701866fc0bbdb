#pragma once

#include <QByteArray>
#include <QString>

namespace oe {

// Replaces the file at path with data, all or nothing: on any failure the old file stays whole and
// no temporary file is left behind.
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error);

} // namespace oe
