#include "check/xlsx_out.h"

#include <cmath>

#include "util/error.h"

namespace igxl {

void xlsx_check(lxw_error err, const std::string& what) {
    if (err != LXW_NO_ERROR) throw Error("cannot " + what + ": " + lxw_strerror(err));
}

lxw_worksheet* add_sheet(lxw_workbook* workbook, const std::string& name) {
    lxw_error err = workbook_validate_sheet_name(workbook, name.c_str());
    if (err != LXW_NO_ERROR)
        throw Error("'" + name + "' cannot be a worksheet name: " + lxw_strerror(err));
    lxw_worksheet* ws = workbook_add_worksheet(workbook, name.c_str());
    if (!ws) throw Error("cannot add the worksheet '" + name + "'");
    return ws;
}

void write_text(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, std::string_view value,
                lxw_format* format) {
    std::string v(value);
    if (v.empty()) {
        // An empty text leaves the cell blank, keeping its format.
        if (format) xlsx_check(worksheet_write_blank(ws, row, col, format), "write a cell");
        return;
    }
    xlsx_check(worksheet_write_string(ws, row, col, v.c_str(), format), "write a cell");
}

void write_number(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, double value,
                  lxw_format* format) {
    if (std::isnan(value)) {
        xlsx_check(worksheet_write_formula_str(ws, row, col, "#NUM!", format, "#NUM!"), "write a cell");
    } else if (std::isinf(value)) {
        xlsx_check(worksheet_write_formula_str(ws, row, col, "#DIV/0!", format, "#DIV/0!"),
                   "write a cell");
    } else {
        xlsx_check(worksheet_write_number(ws, row, col, value, format), "write a cell");
    }
}

void cell_from_name(std::string_view name, lxw_row_t& row, lxw_col_t& col) {
    size_t i = 0;
    unsigned c = 0;
    while (i < name.size() && name[i] >= 'A' && name[i] <= 'Z') c = c * 26 + unsigned(name[i++] - 'A' + 1);
    unsigned r = 0;
    size_t digits = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
        r = r * 10 + unsigned(name[i++] - '0');
        ++digits;
    }
    if (c == 0 || digits == 0 || r == 0 || i != name.size())
        throw Error("'" + std::string(name) + "' is not a cell name such as C2");
    row = r - 1;
    col = static_cast<lxw_col_t>(c - 1);
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
