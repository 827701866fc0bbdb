#include "atomicfile.h"

#include <QSaveFile>

namespace oe {

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    // QSaveFile::commit() on a full disk can report success and leave a truncated file in place of
    // the old one, so check every step ourselves and abandon the temporary file on any shortfall.
    const bool written = file.write(data) == data.size() && file.flush();
    if (!written) {
        file.cancelWriting();
        file.commit(); // with writing cancelled this only removes the temporary file
        if (error)
            *error = QStringLiteral("%1 cannot be written: the disk is full or not writable").arg(path);
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace oe
