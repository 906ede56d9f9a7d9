// Reader of the power order file: a legacy .xls workbook whose first sheet lists power pins
// (column 0) and their display names (column 1) below a header row.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace igxl {

// One cell of the sheet. Numbers keep their value and also come as text, so a pin name or an
// alias typed as a number reads naturally: 12.0 -> "12", 1.5 -> "1.5" (shortest round-trip
// form otherwise). Dates and times come as text ("YYYY-MM-DD", "HH:MM:SS").
struct XlsCell {
    enum class Kind { Empty, Text, Number };
    Kind kind = Kind::Empty;
    std::string text;     // empty for Kind::Empty
    double number = 0.0;  // valid for Kind::Number
};

// The first sheet of a legacy workbook, opened through FreeXL.
class XlsSheet {
public:
    // Throws FileNotFoundError when the path names no file, Error naming the file and
    // FreeXL's reason when it cannot be read as a workbook.
    explicit XlsSheet(const std::string& path);
    ~XlsSheet();
    XlsSheet(const XlsSheet&) = delete;
    XlsSheet& operator=(const XlsSheet&) = delete;

    uint32_t row_count() const { return rows_; }
    uint16_t column_count() const { return cols_; }

    // Nothing when (row, col) lies beyond the sheet; an Empty cell inside it.
    std::optional<XlsCell> cell(uint32_t row, uint16_t col) const;
    // The cell's text (see XlsCell); nothing beyond the sheet.
    std::optional<std::string> cell_text(uint32_t row, uint16_t col) const;

private:
    std::string path_;
    const void* handle_ = nullptr;
    uint32_t rows_ = 0;
    uint16_t cols_ = 0;
};

// The (pin name, alias) rows of a power order file in file order: row 0 is a header; reading
// stops silently at the first row that lacks column 0 or column 1. An empty alias is returned
// empty (the caller shows the pin name then).
std::vector<std::pair<std::string, std::string>> read_power_order(const std::string& path);

}  // namespace igxl
