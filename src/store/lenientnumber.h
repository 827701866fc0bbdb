#pragma once

#include <QStringView>

#include <cstdint>
#include <optional>

namespace oe {

// Reads a number the forgiving way hand-edited files need: blanks anywhere are skipped, then an
// optional sign, digits and an optional decimal point with fraction digits are taken from the start;
// reading stops at the first character that cannot continue the number. Text that does not begin
// with a number reads as 0.
double readLenientNumber(QStringView text);

// The same reading, but empty when the text does not begin with a number (after blanks), so a
// caller can tell "abc" from "0".
std::optional<double> readLeadingNumber(QStringView text);

// A clean number and nothing else: blanks around it, an optional sign, digits, and optionally a
// decimal point with more digits ("12", " -3 ", "13.5"). Empty for anything else ("8OO", "1,500",
// "12a", "", ".5"): a slip of the keyboard is refused, never read as some other number.
std::optional<double> readCleanNumber(QStringView text);

// Rounds to the nearest integer, halves to the even neighbour. Empty when the result lies outside
// [min, max] (or is not finite).
std::optional<std::int64_t> roundHalfEven(double value, std::int64_t min, std::int64_t max);

// readLenientNumber followed by roundHalfEven.
std::optional<std::int64_t> readLenientInteger(QStringView text, std::int64_t min, std::int64_t max);

} // namespace oe
