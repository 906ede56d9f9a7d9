// Report-writing helpers over libxlsxwriter that turn its error codes into exceptions.
#pragma once
#include <xlsxwriter.h>

#include <string>
#include <string_view>
#include <vector>

namespace igxl {

// Throws Error("cannot <what>: <reason>") when err is not LXW_NO_ERROR.
void xlsx_check(lxw_error err, const std::string& what);

// Adds a worksheet; a name that cannot be a sheet name throws an Error saying why.
lxw_worksheet* add_sheet(lxw_workbook* workbook, const std::string& name);

void write_text(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, std::string_view value,
                lxw_format* format = nullptr);
// A not-a-number or infinite value becomes a spreadsheet error value (#NUM! / #DIV/0!)
// instead of a cell Excel refuses to open.
void write_number(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, double value,
                  lxw_format* format = nullptr);

// "C2" -> row 1, column 2.
void cell_from_name(std::string_view name, lxw_row_t& row, lxw_col_t& col);

// The first n characters (not bytes) of a UTF-8 text.
std::string utf8_prefix(std::string_view s, size_t n);

}  // namespace igxl
