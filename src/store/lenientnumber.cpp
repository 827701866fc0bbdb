#include "lenientnumber.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace oe {

namespace {
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }
bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Past this many mantissa digits the value is out of every range we read into; the exponent keeps
// counting so the result still overflows to infinity instead of wrapping.
constexpr int kMaxKeptDigits = 40;
} // namespace

double readLenientNumber(QStringView text)
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
        return 0.0;
    if (digits.empty() || digits == "-" || digits == "." || digits == "-.")
        return 0.0;
    if (extraExponent > 0) {
        digits.push_back('e');
        digits.append(std::to_string(extraExponent));
    }
    return std::strtod(digits.c_str(), nullptr);
}

std::optional<std::int64_t> roundHalfEven(double value, std::int64_t min, std::int64_t max)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // The default floating-point rounding mode is to nearest, ties to even.
    const double rounded = std::nearbyint(value);
    // Only a value inside the 64-bit range may be converted; 2^63 itself is outside it, though
    // double(INT64_MAX) rounds up to it.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (rounded < -kTwoTo63 || rounded >= kTwoTo63)
        return std::nullopt;
    // Compared as integers: a bound above 2^53 may lie between two doubles.
    const auto integer = static_cast<std::int64_t>(rounded);
    if (integer < min || integer > max)
        return std::nullopt;
    return integer;
}

std::optional<std::int64_t> readLenientInteger(QStringView text, std::int64_t min, std::int64_t max)
{
    return roundHalfEven(readLenientNumber(text), min, max);
}

} // namespace oe
