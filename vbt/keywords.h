// The VBA keywords that name no variable: the reference scan never counts them and the
// refactorer never renames them in ordinary lines (compared case-sensitively).
#pragma once
#include <algorithm>
#include <array>
#include <string_view>

namespace igxl::vbt {

inline constexpr std::array<std::string_view, 44> VBA_KEYWORDS = {
    "If",     "Then",  "Else",     "ElseIf", "End",     "Select",   "Case",  "For",    "To",
    "Next",   "While", "Wend",     "Do",     "Loop",    "Until",    "Exit",  "Goto",   "On",
    "Error",  "Resume", "With",    "Function", "Sub",   "Property", "Get",   "Let",    "Set",
    "Public", "Private", "Friend", "Global", "Dim",     "Const",    "As",    "ByVal",  "ByRef",
    "Optional", "ParamArray", "Type", "Enum", "Nothing", "True",    "False", "Me",
};

inline bool is_vba_keyword(std::string_view name) {
    return std::find(VBA_KEYWORDS.begin(), VBA_KEYWORDS.end(), name) != VBA_KEYWORDS.end();
}

}  // namespace igxl::vbt
