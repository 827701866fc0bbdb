#include "atomicfile.h"

#include <QSaveFile>

namespace oe {

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error, FileProblem *problem)
{
    const auto fail = [&](bool shortWrite, const QString &systemText) {
        if (problem)
            *problem = {writeFault(path, shortWrite, data.size()), systemText};
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return fail(false, file.errorString());
    }
    // QSaveFile::commit() on a full disk can report success and leave a truncated file in place of
    // the old one, so check every step ourselves and abandon the temporary file on any shortfall.
    const bool written = file.write(data) == data.size() && file.flush();
    if (!written) {
        const QString systemText = file.errorString();
        file.cancelWriting();
        file.commit(); // with writing cancelled this only removes the temporary file
        if (error)
            *error = QStringLiteral("%1 cannot be written: the disk is full or not writable").arg(path);
        return fail(true, systemText);
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return fail(false, file.errorString());
    }
    return true;
}

} // namespace oe
