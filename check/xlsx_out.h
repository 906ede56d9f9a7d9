// Report-writing helpers over our workbook writer (export/xlsx_writer.h).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "export/xlsx_writer.h"

namespace igxl {

namespace xw = xlsx::writer;

// Adds a worksheet; a name that cannot be a sheet name throws an Error saying why.
xw::Worksheet& add_sheet(xw::Workbook& workbook, const std::string& name);

// "C2" -> row 1, column 2.
void cell_from_name(std::string_view name, std::uint32_t& row, std::uint32_t& col);

// The first n characters (not bytes) of a UTF-8 text.
std::string utf8_prefix(std::string_view s, size_t n);

}  // namespace igxl
