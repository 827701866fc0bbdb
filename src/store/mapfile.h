#pragma once

#include "filefault.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
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
        // line, detail: the text of a line past the eighth, which reads as a number outside the
        // signed 32-bit range (every reader of the format refuses it)
        ExtraOutOfRange,
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

// Where a map came from, in the lines after the eighth that every reader of the format takes and
// none sends: "Firmware=1.3.7", "Saved=2026-12-08 07:01:39", "Note=\"Monster 900, Rossi\"". Each
// is written so that the format's lenient number reading takes it (a number read from the start of
// the text after "=", blanks skipped, stopping at the first character that cannot continue it,
// within a signed 32-bit range): the firmware reads as 1.3, the date as 2026, and the note, after
// its opening quote, as 0 whatever it says, so a note such as "12345678901" cannot refuse the file
// for a reader that takes it as a number. Empty parts are not written.
struct MapOrigin {
    QString firmware; // the controller's version, "1.3.7"
    QString saved;    // local time, "yyyy-MM-dd HH:mm:ss"
    QString note;     // one line of ASCII, as the technician typed it (cleaned by mapNoteText)

    bool isEmpty() const { return firmware.isEmpty() && saved.isEmpty() && note.isEmpty(); }
    bool operator==(const MapOrigin &) const = default;
};

// A map's origin now: the firmware text as given, the time in the file's form, the note cleaned.
MapOrigin mapOrigin(const QString &firmware, const QDateTime &when, const QString &note = {});

// A note as a map file can hold it: one line (line ends and tabs become blanks), ASCII only (accents
// dropped from their letters, dashes '-', any other character '?'), without surrounding blanks, at most
// kMapNoteMaxLength characters.
inline constexpr int kMapNoteMaxLength = 200;
QString mapNoteText(const QString &typed);

// "1.3.7": the firmware version as the controller reports it, three numbers.
QString firmwareVersionText(const std::array<quint8, 3> &version);

struct MapReadResult {
    bool ok = false;
    MapValues values{};
    MapFileError error{};         // meaningful only when !ok
    QList<MapKeyNote> keyNotes{}; // when ok, in line order
    // When ok: the value texts of lines 1 to 8 as the file has them, without surrounding blanks, so
    // a rounded value can be shown beside what the file said ("13.5 → 14").
    QStringList valueTexts{};
    // When ok: what lines 9 to 11 said of the map's origin (keys compared without case); empty
    // parts for a file that does not say.
    MapOrigin origin{};
};

// Checks the whole contents and takes the values by line position; a key decides nothing, it is
// only noted when it differs from ours (compared without case). A value of lines 1 to 8 must be a
// clean number (readCleanNumber: blanks around, optional sign, digits, optional decimal part),
// rounded to the nearest integer (halves to even) within 0 to 65535. Lines 9 to 11 are never sent:
// they are read as the format reads them (readLenientNumber, within a signed 32-bit range), so the
// text of a MapOrigin passes while a line without "=", a blank one or a number past that range
// still refuses the file. The first fault in reading order refuses the file. What the values mean
// for each parameter (slider range, pairs) is the value rule's.
MapReadResult parseMap(QByteArrayView data);

// Reads at most kMapMaxFileSize + 1 bytes of the file, then parseMap.
MapReadResult readMapFile(const QString &path);

// The exact bytes of a map file holding these values, then the origin's lines.
QByteArray formatMap(const MapValues &values, const MapOrigin &origin = {});

// Replaces the file at path with formatMap(values, origin), all or nothing.
bool writeMapFile(const QString &path, const MapValues &values, QString *error,
                  FileProblem *problem = nullptr, const MapOrigin &origin = {});

// The key of map line index + 1 ("MinPumpCycles" for 0); empty outside 0 to 7.
QString mapFileKey(int index);

} // namespace oe
