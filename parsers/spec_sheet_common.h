// Shared by the spec sheet readers: the sheet version in the title row.
#pragma once
#include <string>
#include <string_view>

#include "parsers/platform.h"
#include "util/error.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl::detail {

// UltraFLEX title rows carry "...Sheet,version=3.0:platform=..."; J750 ones "DFF 1.1".
inline std::string read_sheet_version(std::string_view title_line, Platform platform,
                                      const std::string& path) {
    static const util::Regex ultraflex(R"(version=(\S+?):)");
    static const util::Regex dff(R"(DFF (\d+(\.\d+)?))");
    const bool is_ultraflex = layout_of(platform).ultraflex_family;
    util::Match m;
    if (!(is_ultraflex ? ultraflex : dff).search(title_line, m)) {
        throw Error(path + ":1: expected the sheet version (" +
                    (is_ultraflex ? std::string("\"version=...:\"") : std::string("\"DFF n.n\"")) +
                    ") in the title row");
    }
    return std::string(m.group(1));
}

}  // namespace igxl::detail
