// The lenient number reader and the rounding behind every integer we read from a file.
// - Any text: the value is never NaN, blanks anywhere change nothing, and an integer read lies in
//   [min, max] whenever there is one, within half a unit of the value, ties going to even.
// - An integer written the ways people write it (leading zeros, a plus sign, blanks, a fraction,
//   junk after it) reads back as itself when it fits the range, and not at all when it does not.

#include "fuzzcheck.h"
#include "lenientnumber.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <optional>

using namespace oe;

namespace {

constexpr std::int64_t kExact = std::int64_t(1) << 53;  // integers a double holds exactly
// Below this a double still tells n.4 from n.5 (steps of 1/16 at most).
constexpr std::int64_t kFractionExact = std::int64_t(1) << 49;

void checkRounded(std::optional<std::int64_t> rounded, double value, std::int64_t min, std::int64_t max)
{
    if (!rounded)
        return;
    FUZZ_CHECK(*rounded >= min && *rounded <= max);
    const long double gap = std::fabs((long double)*rounded - (long double)value);
    FUZZ_CHECK(gap <= 0.5L);
    if (gap == 0.5L)
        FUZZ_CHECK(*rounded % 2 == 0);
}

QString withBlanks(const QString &text, std::uint64_t pattern)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (pattern & (std::uint64_t(1) << (i % 64)))
            out += (pattern >> 63) ? u'\t' : u' ';
        out += text[i];
    }
    return out;
}

QString withoutBlanks(QString text)
{
    text.remove(u' ');
    text.remove(u'\t');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const std::int64_t min = input.ConsumeIntegral<std::int64_t>();
    const std::int64_t max = input.ConsumeIntegral<std::int64_t>();
    const std::int64_t n = input.ConsumeIntegralInRange<std::int64_t>(-kExact, kExact);
    const std::uint8_t style = input.ConsumeIntegral<std::uint8_t>();
    const std::uint64_t blanks = input.ConsumeIntegral<std::uint64_t>();
    const std::string raw = input.ConsumeRemainingBytesAsString();
    const QString text = (style & 0x80) ? QString::fromUtf8(raw.data(), qsizetype(raw.size()))
                                        : QString::fromLatin1(raw.data(), qsizetype(raw.size()));

    // Any text.
    const double value = readLenientNumber(text);
    FUZZ_CHECK(!std::isnan(value));
    FUZZ_CHECK(readLenientNumber(withoutBlanks(text)) == value);
    const std::optional<std::int64_t> integer = readLenientInteger(text, min, max);
    FUZZ_CHECK(integer == roundHalfEven(value, min, max));
    checkRounded(integer, value, min, max);

    // An integer written by hand.
    QString written = QString::number(n < 0 ? -n : n);
    if (style & 0x01)
        written.prepend(QString(int(style >> 4 & 0x7), u'0'));
    if (n < 0)
        written.prepend(u'-');
    else if (style & 0x02)
        written.prepend(u'+');
    std::optional<std::int64_t> expected = n;
    switch (style >> 2 & 0x3) {
    case 0:
        break;
    case 1:
        if (n > -kFractionExact && n < kFractionExact)
            written += QStringLiteral(".4");  // rounds back towards n from either side
        break;
    case 2:
        written += QStringLiteral("x1");  // reading stops at the x
        break;
    case 3:
        // A tie goes to the even neighbour, away from n when n is odd.
        if (n > -kFractionExact && n < kFractionExact) {
            written += QStringLiteral(".5");
            expected = (n % 2 == 0) ? n : n + (n < 0 ? -1 : 1);
        }
        break;
    }
    if (blanks)
        written = withBlanks(written, blanks);
    if (*expected < min || *expected > max)
        expected.reset();
    const std::optional<std::int64_t> got = readLenientInteger(written, min, max);
    if (got != expected) {
        std::fprintf(stderr, "\"%s\" in [%lld, %lld]: read %s, expected %s\n", qPrintable(written),
                     (long long)min, (long long)max, got ? std::to_string(*got).c_str() : "nothing",
                     expected ? std::to_string(*expected).c_str() : "nothing");
    }
    FUZZ_CHECK(got == expected);
    return 0;
}
