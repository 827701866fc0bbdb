#pragma once

#include "captiontable.h"

#include <QString>

namespace oe {

// The shipped Language.ini is compiled into the program, so a program folder without a readable one
// still shows one whole language rather than whatever each control was built with.

// "ITA" when the default locale (the system's, unless a test set another) is Italian, else "ENG".
QString systemLanguageCode();

// The built-in section of that language; empty for a code the shipped file has no section for.
const CaptionTable &builtInCaptions(const QString &code);

} // namespace oe
