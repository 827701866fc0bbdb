#pragma once

#include "filefault.h"

#include <QByteArray>
#include <QString>

namespace oe {

// Replaces the file at path with data, all or nothing: on any failure the old file stays whole and
// no temporary file is left behind. error gets an English line with the path; problem, when given,
// what went wrong for the window to say in the user's language.
bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error,
                         FileProblem *problem = nullptr);

} // namespace oe
