// Pieces of the Windows platform layer that its tests reach directly.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace igxl::util::detail {

// UTF-8 <-> UTF-16, the form every Windows "W" call takes.
std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view wide);

// One argument quoted for a CreateProcessW command line so that the started program's C runtime
// gives it back unchanged.
std::wstring quote_argument(std::wstring_view arg);
// The whole command line of an argument vector (argv[0] included).
std::wstring command_line(const std::vector<std::string>& argv);

// Windows' own text for an error code, without the trailing full stop.
std::string error_text(unsigned long code);

}  // namespace igxl::util::detail
