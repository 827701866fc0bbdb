#pragma once

#include "filefault.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <QString>

#include <array>

namespace oe {

// A map file: eight lines "key=value", each ended by CR LF, in parameter-index order
// (MinPumpCycles, MaxPumpCycles, RpmMin, TinjMin, TinjMax, MinLoadPumpPause, MaxLoadPumpPause,
// RpmMultiplier). The values travel in that order, so this layer needs no parameter type.
inline constexpr int kMapValueCount = 8;
using MapValues = std::array<qint32, kMapValueCount>;

// Hand-edited files may carry a few lines more; past this many the file is refused.
inline constexpr int kMapMaxLines = 11;
// A real map file is a few hundred bytes; past this the file is refused without reading it all.
inline constexpr qsizetype kMapMaxFileSize = 64 * 1024;
// Every value must fit the 16-bit field of a parameter write.
inline constexpr qint32 kMapMinValue = 0;
inline constexpr qint32 kMapMaxValue = 65535;

struct MapFileError {
    enum class Kind {
        CannotRead,   // detail: the system's reason
        TooLarge,     // the file is larger than kMapMaxFileSize
        NotText,      // line: holds a control character (binary data, NUL bytes) or a non-ASCII byte
        TooFewLines,  // line: how many lines were found
        TooManyLines, // line: the first line past kMapMaxLines
        BlankLine,    // line: empty or blanks only
        NoEquals,     // line: has no "="
        NotANumber,   // line, detail: the value text, which is not a clean number ("8OO", "1,500", "")
        OutOfRange,   // line, detail: the value text, which rounds to outside 0 to 65535
        // line: the second line of a minimum/maximum pair held in an order the sliders never allow;
        // detail: the pair as "TinjMin 20000 > TinjMax 5000". Found by the value rule's map check
        // (checkMap in valuerule.h), which knows the pairs; parseMap does not know parameters.
        CrossedPair,
    };
    Kind kind = Kind::CannotRead;
    int line = 0;   // 1-based line the fault is on; 0 when it is about the whole file
    QString detail; // the offending value text, or the system's reason for CannotRead
    FileFault fault = FileFault::None; // for CannotRead: what the system's reason amounts to

    bool operator==(const MapFileError &) const = default;
};

// A line of a loaded file whose key is not the one we write at its place: the value still goes by
// position, but the user is told what the line is taken as.
struct MapKeyNote {
    int line = 0; // 1 to 8
    QString key;  // as the file has it, without surrounding blanks

    bool operator==(const MapKeyNote &) const = default;
};

struct MapReadResult {
    bool ok = false;
    MapValues values{};
    MapFileError error{};         // meaningful only when !ok
    QList<MapKeyNote> keyNotes{}; // when ok, in line order
    // When ok: the value texts of lines 1 to 8 as the file has them, without surrounding blanks, so
    // a rounded value can be shown beside what the file said ("13.5 → 14").
    QStringList valueTexts{};
};

// Checks the whole contents and takes the values by line position; a key decides nothing, it is
// only noted when it differs from ours (compared without case). A value must be a clean number
// (readCleanNumber: blanks around, optional sign, digits, optional decimal part), rounded to the
// nearest integer (halves to even) within 0 to 65535. The first fault in reading order refuses the
// file. What the values mean for each parameter (slider range, pairs) is the value rule's.
MapReadResult parseMap(QByteArrayView data);

// Reads at most kMapMaxFileSize + 1 bytes of the file, then parseMap.
MapReadResult readMapFile(const QString &path);

// The exact bytes of a map file holding these values.
QByteArray formatMap(const MapValues &values);

// Replaces the file at path with formatMap(values), all or nothing.
bool writeMapFile(const QString &path, const MapValues &values, QString *error,
                  FileProblem *problem = nullptr);

// The key of map line index + 1 ("MinPumpCycles" for 0); empty outside 0 to 7.
QString mapFileKey(int index);

} // namespace oe
