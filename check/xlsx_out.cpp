#include "check/xlsx_out.h"

#include <algorithm>

namespace igxl {

xw::Worksheet& add_sheet(xw::Workbook& workbook, const std::string& name) {
    return workbook.add_worksheet(name);
}

void cell_from_name(std::string_view name, std::uint32_t& row, std::uint32_t& col) {
    xw::parse_cell_name(name, row, col);
}

std::string utf8_prefix(std::string_view s, size_t n) {
    size_t i = 0, count = 0;
    while (i < s.size() && count < n) {
        unsigned char b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 1;
        i += len;
        ++count;
    }
    return std::string(s.substr(0, std::min(i, s.size())));
}

}  // namespace igxl
