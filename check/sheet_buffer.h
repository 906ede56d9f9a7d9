// A worksheet's cells held compactly until the sheet is complete, then written row by row.
//
// The report workbook is written in libxlsxwriter's constant-memory mode, which streams each row
// to a temporary file as soon as a later row is started. The flow walk fills a job sheet out of
// row order (header cells and row settings come late), so its cells wait here: 16 bytes a cell
// and its text packed in large blocks, instead of a tree node and a shared-string entry per cell.
#pragma once
#include <xlsxwriter.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace igxl {

class SheetBuffer {
public:
    explicit SheetBuffer(lxw_worksheet* worksheet);
    SheetBuffer(const SheetBuffer&) = delete;
    SheetBuffer& operator=(const SheetBuffer&) = delete;

    // The worksheet itself, for settings that are not row data (columns, panes, rules).
    lxw_worksheet* sheet() const { return sheet_; }

    // A later write to the same cell replaces the earlier one. An empty text leaves the cell
    // blank, keeping its format (no cell at all without one). Out-of-range cells and over-long
    // texts throw at once, as a direct write would.
    void write_text(lxw_row_t row, lxw_col_t col, std::string_view value,
                    lxw_format* format = nullptr);
    // A not-a-number or infinite value becomes a spreadsheet error value (#NUM! / #DIV/0!).
    void write_number(lxw_row_t row, lxw_col_t col, double value, lxw_format* format = nullptr);
    // Replaces the row's height, format and options (options may be null), like a direct
    // worksheet_set_row_opt; written before the row's cells so its format reaches them.
    void set_row(lxw_row_t row, double height, lxw_format* format,
                 const lxw_row_col_options* options = nullptr);

    // Writes every held row in order into the worksheet and empties the buffer; a constant-
    // memory worksheet then holds nothing but its last row. Call once, when the sheet is done.
    void flush();

    size_t cell_count() const { return cells_; }

private:
    enum Kind : uint8_t { kText, kNumber, kBlank, kNumError, kDivError };
    struct Cell {
        union {
            double number;
            const char* text;  // NUL-terminated, in the buffer's text store
        };
        lxw_col_t col;
        Kind kind;
        uint8_t format;  // index into formats_, 0 = none
    };
    static_assert(sizeof(Cell) == 16, "a held cell should stay small");
    struct Row {
        std::vector<Cell> cells;  // sorted by column
        double height = LXW_DEF_ROW_HEIGHT;
        uint8_t format = 0;
        bool set = false;
        uint8_t hidden = 0, level = 0, collapsed = 0;
    };

    Cell& cell_at(lxw_row_t row, lxw_col_t col);
    uint8_t format_index(lxw_format* format);
    const char* store(std::string_view text);

    lxw_worksheet* sheet_;
    std::vector<Row> rows_;
    std::vector<lxw_format*> formats_{nullptr};
    size_t cells_ = 0;

    // Cell texts, packed one after another. Not looked up to share repeats: hashing every text
    // cost more time than the few megabytes a job sheet's texts take.
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t chunk_used_ = 0, chunk_size_ = 0;
};

}  // namespace igxl
