#include "lenientnumber.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace oe {

namespace {
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Past this many mantissa digits the value is out of every range we read into; the exponent keeps
// counting so the result still overflows to infinity instead of wrapping.
constexpr int kMaxKeptDigits = 40;
} // namespace

std::optional<double> readLeadingNumber(QStringView text)
{
    std::string digits; // "[-]ddd.ddd" with at most kMaxKeptDigits digits
    long long extraExponent = 0;
    int kept = 0;
    bool sawSign = false, sawDigit = false, sawPoint = false;

    for (QChar c : text) {
        if (isBlank(c))
            continue;
        if ((c == u'+' || c == u'-') && !sawSign && !sawDigit && !sawPoint) {
            sawSign = true;
            if (c == u'-')
                digits.push_back('-');
            continue;
        }
        if (c == u'.' && !sawPoint) {
            sawPoint = true;
            if (kept < kMaxKeptDigits)
                digits.push_back('.');
            continue;
        }
        if (!isDigit(c))
            break;
        sawDigit = true;
        if (kept < kMaxKeptDigits) {
            if (kept == 0 && c == u'0' && !sawPoint)
                continue; // leading zeros carry nothing
            digits.push_back(char(c.unicode()));
            ++kept;
        } else if (!sawPoint) {
            ++extraExponent;
        }
    }
    if (!sawDigit)
        return std::nullopt;
    if (digits.empty() || digits == "-" || digits == "." || digits == "-.")
        return 0.0; // only zeros
    if (extraExponent > 0) {
        digits.push_back('e');
        digits.append(std::to_string(extraExponent));
    }
    // from_chars, unlike strtod, ignores the C locale: an Italian desktop would otherwise stop
    // reading "13.5" at the point.
    double value = 0.0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range) {
        const double inf = std::numeric_limits<double>::infinity();
        return digits.front() == '-' ? -inf : inf;
    }
    return value;
}

std::optional<double> readCleanNumber(QStringView text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    qsizetype i = begin;
    if (i < end && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    const auto digitsFrom = [&](qsizetype from) {
        qsizetype j = from;
        while (j < end && isDigit(text[j]))
            ++j;
        return j;
    };
    qsizetype after = digitsFrom(i);
    if (after == i)
        return std::nullopt;
    if (after < end && text[after] == u'.') {
        const qsizetype fraction = digitsFrom(after + 1);
        if (fraction == after + 1)
            return std::nullopt;
        after = fraction;
    }
    if (after != end)
        return std::nullopt;
    // What is left is a number the leading reading takes whole.
    return readLeadingNumber(text.sliced(begin, end - begin));
}

double readLenientNumber(QStringView text)
{
    return readLeadingNumber(text).value_or(0.0);
}

std::optional<std::int64_t> roundHalfEven(double value, std::int64_t min, std::int64_t max)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // The default floating-point rounding mode is to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    // double(INT64_MAX) is 2^63, one past the largest int64, so compare against the exact powers of
    // two first and the bounds only once the value is known to convert.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (rounded < -kTwoTo63 || rounded >= kTwoTo63)
        return std::nullopt;
    const auto whole = static_cast<std::int64_t>(rounded);
    if (whole < min || whole > max)
        return std::nullopt;
    return whole;
}

std::optional<std::int64_t> readLenientInteger(QStringView text, std::int64_t min, std::int64_t max)
{
    return roundHalfEven(readLenientNumber(text), min, max);
}

} // namespace oe
