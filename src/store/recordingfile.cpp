#include "recordingfile.h"

#include <QFile>

#include <array>

namespace oe {

namespace {

constexpr QByteArrayView kSeparatorLine = "sep=,";
constexpr QByteArrayView kHeader =
    "time,event,rpm,tinj,pump_steps,pump_ms,pause_steps,pause_ms,parameter,from,to,to_ms,cause,confirmed";
// Recordings of earlier versions wrote times in seconds with a point, and had no poll lines.
constexpr QByteArrayView kOldHeader =
    "time,event,rpm,tinj,pump_steps,pump_s,pause_steps,pause_s,parameter,from,to,to_display,cause,confirmed";
constexpr int kColumns = 14;

// Digits at a fixed place; -1 when any is not a digit.
int digitsAt(QByteArrayView text, qsizetype at, int count)
{
    if (at + count > text.size())
        return -1;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "2026-12-08T07:01:39.123", optionally followed by "Z" or "+01:00": milliseconds on one axis (the
// recorder writes local time with no offset, a later one may add it). Read by hand: a day's
// recording has 170 000 of them, and QDateTime's parser would take most of the time.
std::optional<qint64> timeMs(QByteArrayView text)
{
    const int year = digitsAt(text, 0, 4), month = digitsAt(text, 5, 2), day = digitsAt(text, 8, 2);
    const int hour = digitsAt(text, 11, 2), minute = digitsAt(text, 14, 2), second = digitsAt(text, 17, 2);
    const int milli = digitsAt(text, 20, 3);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || milli < 0 || text[4] != '-'
        || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' || text[19] != '.')
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    qint64 ms = date.toJulianDay() * 86400000 + ((hour * 60 + minute) * 60 + second) * 1000LL + milli;
    const QByteArrayView zone = text.sliced(23);
    if (zone.isEmpty() || zone == "Z")
        return ms;
    const int offsetHours = digitsAt(zone, 1, 2), offsetMinutes = digitsAt(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || offsetHours < 0 || offsetMinutes < 0)
        return std::nullopt;
    const qint64 offset = (offsetHours * 60 + offsetMinutes) * 60000LL;
    return zone[0] == '+' ? ms - offset : ms + offset;
}

std::optional<qint32> wholeNumber(QByteArrayView text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok ? std::optional<qint32>(value) : std::nullopt;
}

// The fields of one line; false when it does not have the header's columns.
bool splitFields(QByteArrayView line, std::array<QByteArrayView, kColumns> &fields)
{
    int n = 0;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ',')
            continue;
        if (n == kColumns)
            return false;
        fields[size_t(n++)] = line.sliced(from, i - from);
        from = i + 1;
    }
    return n == kColumns;
}

} // namespace

RecordingReadResult parseRecording(QByteArrayView data)
{
    RecordingReadResult result;
    qsizetype at = 0;
    int lineNumber = 0;
    // The next whole line, without its line end; empty optional at the end or for a piece that has none.
    const auto nextLine = [&]() -> std::optional<QByteArrayView> {
        const qsizetype end = data.indexOf('\n', at);
        if (end < 0)
            return std::nullopt;
        QByteArrayView line = data.sliced(at, end - at);
        if (line.endsWith('\r'))
            line.chop(1);
        at = end + 1;
        ++lineNumber;
        return line;
    };

    std::optional<QByteArrayView> line = nextLine();
    if (line && *line == kSeparatorLine)
        line = nextLine();
    const bool old = line && *line == kOldHeader;
    if (!line || (*line != kHeader && !old)) {
        result.badLine = line ? lineNumber : lineNumber + 1;
        return result;
    }
    result.status = RecordingReadResult::Status::CutShort;
    std::optional<qint64> first;
    std::array<QByteArrayView, kColumns> f;
    bool ended = false;
    while (true) {
        line = nextLine();
        if (!line)
            break;
        const std::optional<qint64> ms = splitFields(*line, f) ? timeMs(f[0]) : std::nullopt;
        if (!ms) {
            --lineNumber; // the bad one is reported below
            break;
        }
        if (!first) {
            first = ms;
            result.start = QDateTime::fromString(QString::fromLatin1(f[0]), Qt::ISODateWithMs);
        }
        const qint64 t = *ms - *first;
        ended = false;
        if (f[1] == "reading") {
            const auto rpm = wholeNumber(f[2]), tinj = wholeNumber(f[3]), pump = wholeNumber(f[4]),
                       pause = wholeNumber(f[6]);
            if (!rpm || !tinj || !pump || !pause) {
                --lineNumber;
                break;
            }
            result.readings.push_back({t, *rpm, *tinj, *pump, *pause});
            continue;
        }
        RecordedMark mark;
        mark.ms = t;
        mark.event = QString::fromLatin1(f[1]);
        mark.cause = QString::fromLatin1(f[12]);
        if (f[1] == "change") {
            mark.kind = RecordedMark::Kind::Change;
            mark.parameter = QString::fromLatin1(f[8]);
            mark.from = QString::fromLatin1(f[9]);
            mark.to = QString::fromLatin1(f[10]);
            // A time parameter's value in time: "100 ms", or as an earlier version wrote it, "0.100 s".
            if (!f[11].isEmpty() && f[11] != f[10])
                mark.toDisplay = QString::fromLatin1(f[11]) + (old ? QStringLiteral(" s") : QStringLiteral(" ms"));
            mark.confirmed = f[13] != "no";
        } else if (f[1] == "end") {
            mark.kind = RecordedMark::Kind::End;
            ended = true;
        } else if (f[1].startsWith("poll ")) {
            mark.kind = RecordedMark::Kind::Poll;
        }
        result.marks.push_back(mark);
    }
    if (ended && at == data.size()) {
        result.status = RecordingReadResult::Status::Whole;
        result.badLine = 0;
    } else {
        result.badLine = lineNumber + 1;
    }
    return result;
}

std::optional<RecordingReadResult> readRecordingFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return parseRecording(file.readAll());
}

} // namespace oe
