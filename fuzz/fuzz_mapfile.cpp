// Map files as anyone may have edited them: a file is either refused with a fault that names a real
// line, or read into eight values that fit a parameter write. What we write back reads back the same.

#include "fuzzcheck.h"
#include "mapfile.h"
#include "textlines.h"
#include "valuerule.h"

using namespace oe;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray contents(reinterpret_cast<const char *>(data), qsizetype(size));
    const MapReadResult map = parseMap(contents);

    if (!map.ok) {
        using Kind = MapFileError::Kind;
        const MapFileError &e = map.error;
        FUZZ_CHECK(e.kind != Kind::CannotRead); // only a file on disk can fail to read
        FUZZ_CHECK((e.kind == Kind::TooLarge) == (contents.size() > kMapMaxFileSize));
        FUZZ_CHECK(e.kind != Kind::CrossedPair); // the value rule's, below
        if (e.kind == Kind::TooManyLines)
            FUZZ_CHECK(e.line == kMapMaxLines + 1);
        else if (e.kind == Kind::TooFewLines)
            FUZZ_CHECK(e.line >= 0 && e.line < kMapValueCount);
        else if (e.kind != Kind::TooLarge)
            FUZZ_CHECK(e.line >= 1 && e.line <= kMapMaxLines);
        return 0;
    }

    // Accepted: a text file of eight to eleven lines whose values all fit the frame.
    FUZZ_CHECK(contents.size() <= kMapMaxFileSize);
    const qsizetype lines = splitLines(contents).size();
    FUZZ_CHECK(lines >= kMapValueCount && lines <= kMapMaxLines);
    for (qint32 value : map.values)
        FUZZ_CHECK(value >= kMapMinValue && value <= kMapMaxValue);
    // The rule passes a file whose pairs stand as the sliders keep them, and agrees on every value.
    const MapCheck check = checkMap(map);
    FUZZ_CHECK(check.ok == (map.values[0] <= map.values[1] && map.values[3] <= map.values[4] && map.values[5] >= map.values[6]));
    if (!check.ok)
        FUZZ_CHECK(check.refusal.line == 2 || check.refusal.line == 5 || check.refusal.line == 7);
    for (int i = 0; i < kMapValueCount; ++i)
        FUZZ_CHECK(check.values[size_t(i)].accepted() && check.values[size_t(i)].value == map.values[size_t(i)]);
    // A note names a line whose value is used.
    for (const MapKeyNote &note : map.keyNotes)
        FUZZ_CHECK(note.line >= 1 && note.line <= kMapValueCount && note.key == note.key.trimmed());

    const QByteArray written = formatMap(map.values);
    const MapReadResult again = parseMap(written);
    FUZZ_CHECK(again.ok && again.values == map.values);
    FUZZ_CHECK(formatMap(again.values) == written);
    return 0;
}
