// Language.ini as anyone may have edited it. The first byte picks the section to load, the rest is
// the file. Whatever the bytes, the load must keep its word:
// - a file without the wanted section leaves the caption table exactly as it was;
// - the result is consistent: an error exactly when not ok, a failed item and its line only then;
// - a load only ever overwrites entries, so what it stores does not depend on what the table held
//   before: loading over a table full of markers and over an empty one agree on the result and on
//   every entry the load touched, and leave the others as they were.

#include "captiontable.h"
#include "fuzzcheck.h"
#include "languagefile.h"

using namespace oe;

namespace {

const CaptionTable &markedTable()
{
    static const CaptionTable table = [] {
        CaptionTable t;
        for (int i = CaptionTable::kFirstEntry; i <= CaptionTable::kLastEntry; ++i)
            t.set(i, QStringLiteral("old%1").arg(i));
        return t;
    }();
    return table;
}

bool sameResult(const LanguageLoadResult &a, const LanguageLoadResult &b)
{
    return a.ok == b.ok && a.sectionFound == b.sectionFound && a.failedLine == b.failedLine
           && a.failedItem == b.failedItem && a.error == b.error;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const QString kCodes[] = {QStringLiteral("ITA"), QStringLiteral("ENG"), QStringLiteral("DEU")};
    const QString &code = kCodes[data[0] % 3];
    const QByteArray contents(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));

    CaptionTable marked = markedTable();
    const LanguageLoadResult result = loadLanguageData(contents, code, marked);

    FUZZ_CHECK(result.ok == result.error.isEmpty());
    FUZZ_CHECK(result.ok == (result.failedLine == 0));
    if (result.ok)
        FUZZ_CHECK(result.failedItem.isEmpty());
    else
        FUZZ_CHECK(result.sectionFound && result.error.size() < 400);
    if (!result.sectionFound)
        FUZZ_CHECK(marked == markedTable());

    CaptionTable empty;
    const LanguageLoadResult onEmpty = loadLanguageData(contents, code, empty);
    FUZZ_CHECK(sameResult(result, onEmpty));
    // What the load stored is the same over both; every other entry kept its old text. Loading the
    // file a second time therefore changes nothing either.
    static const CaptionTable kEmpty;
    if (marked == markedTable() && empty == kEmpty)
        return 0;  // nothing stored: the common case, checked quickly
    const CaptionTable &old = markedTable();
    for (int i = CaptionTable::kFirstEntry; i <= CaptionTable::kLastEntry; ++i) {
        const QString before = old.text(i);
        const QString overMarked = marked.text(i);
        const QString overEmpty = empty.text(i);
        if (overMarked == before)
            FUZZ_CHECK(overEmpty.isEmpty() || overEmpty == before);
        else
            FUZZ_CHECK(overEmpty == overMarked);
    }
    return 0;
}
