#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace oe {

// What a recording of a test ride holds, read back: the CSV the recorder writes ("sep=," then the
// header, then one line per status reply, per parameter change and a last one saying why it ended).
// Times are milliseconds after the first line's, so the whole file fits the chart's time axis.

struct RecordedReading {
    qint64 ms = 0;
    qint32 rpm = 0;
    qint32 tinj = 0;
    qint32 pump = 0;  // 20 ms steps
    qint32 pause = 0; // 25 ms steps
};

// A parameter change, an end, the window holding the poll or letting it go ("poll held", "poll
// resumed"), or a line of an event this version does not know (a later recorder's): each a mark on
// the time axis with its words.
struct RecordedMark {
    enum class Kind { Change, End, Poll, Other };
    qint64 ms = 0;
    Kind kind = Kind::Other;
    QString event;     // the event column as written ("change", "end", …)
    QString parameter; // a change: the map file's key
    QString from;      // a change: the value before (empty when not known), controller units
    QString to;        // a change: the new value, controller units
    QString toDisplay; // a change of a time parameter: the new value in time ("100 ms"); else empty
    QString cause;     // a change: slider, typed, map, reset, read; an end: why it ended
    bool confirmed = true;
};

struct RecordingReadResult {
    enum class Status {
        Whole,    // every line read, the last one an end line
        CutShort, // read up to line badLine - 1: the file stops in a line, a line is damaged, or no end line
        Foreign,  // not a recording of this program: nothing is shown
    };
    Status status = Status::Foreign;
    int badLine = 0;          // 1-based: the first line not taken (CutShort), or the line that shows Foreign
    QDateTime start;          // the first data line's time, as written
    std::vector<RecordedReading> readings;
    std::vector<RecordedMark> marks;
};

// Reads the recorder's CSV, this version's or an earlier one's. A file whose header is not the
// recorder's (with or without the "sep=," line before it) is Foreign. Data lines are taken up to the first that is not whole (no line end)
// or does not parse; what came before it stays, and the status says where it stopped.
RecordingReadResult parseRecording(QByteArrayView data);

// The file read whole, then parseRecording; empty with error set when it cannot be read.
std::optional<RecordingReadResult> readRecordingFile(const QString &path, QString *error);

} // namespace oe
