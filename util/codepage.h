// Text in legacy code pages, through the C library's converter (iconv). Names are taken in the
// forms users type ("cp936", "gbk", "Windows-1252") and given to the converter in its own form.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::util {

// The converter's name for a user's code page name, or nothing when it is not one we accept.
std::optional<std::string> code_page_name(std::string_view user_name);
// The converter's name for a Windows code page number (936, 1252, 65001 ...), as a VBA project
// records it; nothing when the converter does not know it.
std::optional<std::string> windows_code_page(unsigned number);
// The names code_page_name accepts, for help and error texts.
const std::vector<std::string>& accepted_code_pages();

// Converts bytes in the code page to UTF-8. Nothing when a byte sequence does not decode.
std::optional<std::string> decode_code_page(std::string_view bytes, const std::string& code_page);
// Converts UTF-8 to the code page. Nothing when a character has no form there.
std::optional<std::string> encode_code_page(std::string_view utf8, const std::string& code_page);

}  // namespace igxl::util
