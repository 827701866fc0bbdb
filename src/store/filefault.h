#pragma once

#include <QString>

namespace oe {

// Why a file could not be read or written, in terms the window can say in the user's language. The
// system's own text (QFile::errorString) is in English whatever the desktop's language, so it is
// shown only for the rarer faults that have no words of ours.
enum class FileFault {
    None,
    NotFound,     // the file, or the folder it is to go in, does not exist
    NoPermission, // the file or its folder exists but may not be read or written
    DiskFull,     // the data did not fit
    NotAFile,     // a folder, pipe or device where a file was expected
    Other,        // only the system's text can say
};

// A failed read or write: the fault, and the system's text for it.
struct FileProblem {
    FileFault fault = FileFault::None;
    QString systemText;

    bool operator==(const FileProblem &) const = default;
};

// Looks at the path after a read failed.
FileFault readFault(const QString &path);
// Looks at a folder that could not be made. Missing parents are made too, so what stops it is the
// nearest part of the path that exists: a file in the way, or a folder closed to us.
FileFault folderFault(const QString &folder);
// Looks at the path after a write failed; shortWrite when writing the data itself fell short.
FileFault writeFault(const QString &path, bool shortWrite, qint64 dataSize);

} // namespace oe
