#pragma once

#include "parameterset.h"

#include <QString>

#include <functional>

namespace oe {

class CaptionTable;

// What a tool window needs of the main window's words: caption entries in the language shown, and
// the name a technician knows each parameter by. Asked each time, so a language switch reaches
// windows already open.
struct AppTexts {
    std::function<QString(int entry)> caption;
    std::function<QString(ParameterIndex)> parameterName;
    std::function<const CaptionTable &()> table;
};

} // namespace oe
