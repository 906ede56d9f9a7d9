// Pieces of the XLSX reader that have rules of their own and are tested on their own.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace igxl::detail {

// Python's repr of a number straight from a stored number text ("1E-09" -> "1e-09", "0.50" ->
// "0.5") when that needs no binary conversion, written into out (at least 32 bytes); 0 when the
// text is not such a number (then parse it and use util::format_double_to).
size_t repr_decimal_text(std::string_view s, char* out);

// The decimal digits of an integer cell text ("007" -> "7", "-0" -> "0"); false when the text
// is not a plain integer.
bool canonical_integer(std::string_view s, std::string& out);

// How a number format shows a number: as a number, a point in time, or a duration ([h]:mm:ss).
enum class DateKind : uint8_t { None, DateTime, Duration };
DateKind date_kind_of_format(std::string_view format_code);
DateKind date_kind_of_builtin(unsigned num_fmt_id);

// The text of a date serial number under the 1900 or 1904 date system: '2024-01-31 00:00:00',
// a fraction of one day alone as '10:10:10', a duration as total hours '255:10:10'. Returns
// false when the value lies outside the years 1 to 9999.
bool format_serial_date(double serial, bool date1904, DateKind kind, std::string& out);

// An ISO 8601 cell text (t="d"): a date gives '2021-01-01', a date and time
// '2021-01-01 10:10:10', a time '10:10:10'. False when the text is not ISO 8601.
bool format_iso_date(std::string_view iso, std::string& out);

// The formula text of one cell of a shared formula: every relative reference of the master's
// text moved by (rows, cols); '$'-anchored parts stay. A reference moved off the sheet gives
// '#REF!'.
void shift_formula(std::string_view formula, int64_t rows, int64_t cols, std::string& out);

// "AB12" -> column 28, row 12 (1-based); false when the text is not a cell reference.
// Inline: it runs for every cell of a sheet.
inline bool parse_cell_ref(std::string_view ref, uint32_t& col, uint32_t& row) {
    const char* p = ref.data();
    const char* e = p + ref.size();
    uint32_t c = 0;
    for (int n = 0; p < e; ++p, ++n) {
        unsigned l = static_cast<unsigned>(static_cast<unsigned char>(*p) | 0x20) - 'a';
        if (l >= 26) break;
        if (n == 3) return false;  // at most three letters (XFD)
        c = c * 26 + l + 1;
    }
    if (p == ref.data() || c > 16384 || p == e || e - p > 8) return false;
    uint32_t r = 0;
    for (; p < e; ++p) {
        unsigned d = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
        if (d > 9) return false;
        r = r * 10 + d;
    }
    if (r == 0 || r > 1048576) return false;
    col = c;
    row = r;
    return true;
}
// Column number -> letters (28 -> "AB").
void append_column_letters(std::string& out, uint32_t col);

}  // namespace igxl::detail
