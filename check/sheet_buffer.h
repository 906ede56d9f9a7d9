// A worksheet's cells held compactly until the sheet is complete, then written row by row.
//
// The report workbook's sheets are streamed: a row is turned into XML as soon as a later row is
// started. The flow walk fills a job sheet out of row order (header cells and row settings come
// late), so its cells wait here: 16 bytes a cell and its text packed in large blocks.
#pragma once
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "export/xlsx_writer.h"

namespace igxl {

class SheetBuffer {
public:
    using Row = std::uint32_t;
    using Col = std::uint32_t;
    using Format = const xlsx::writer::Format*;

    explicit SheetBuffer(xlsx::writer::Worksheet& worksheet);
    SheetBuffer(const SheetBuffer&) = delete;
    SheetBuffer& operator=(const SheetBuffer&) = delete;

    // The worksheet itself, for settings that are not row data (columns, panes, rules).
    xlsx::writer::Worksheet& sheet() const { return *sheet_; }

    // A later write to the same cell replaces the earlier one. An empty text leaves the cell
    // blank, keeping its format (no cell at all without one). Out-of-range cells and over-long
    // texts throw at once, as a direct write would.
    void write_text(Row row, Col col, std::string_view value, Format format = nullptr);
    // A not-a-number or infinite value becomes a spreadsheet error value (#NUM! / #DIV/0!).
    void write_number(Row row, Col col, double value, Format format = nullptr);
    // Replaces the row's height, format and options, like a direct Worksheet::set_row; written
    // before the row's cells so its format reaches them.
    void set_row(Row row, double height, Format format, xlsx::writer::RowOptions options = {});

    // Writes the held rows above `end` into the worksheet now and gives their memory back, for a
    // sheet filled in row order (a summary sheet as large as the program). Those rows are then
    // final: writing to them again throws.
    void write_rows_before(Row end);

    // Writes every held row in order into the worksheet, empties the buffer and finishes the
    // worksheet, which then holds nothing but its compressed rows. Call once, when the sheet is
    // done (rules, filter and lists set before).
    void flush();

    size_t cell_count() const { return cells_; }

private:
    enum Kind : uint8_t { kText, kNumber, kBlank, kNumError, kDivError };
    struct Cell {
        union {
            double number;
            const char* text;  // NUL-terminated, in the buffer's text store
        };
        Col col;
        Kind kind;
        uint8_t format;  // index into formats_, 0 = none
    };
    static_assert(sizeof(Cell) == 16, "a held cell should stay small");
    struct HeldRow {
        std::vector<Cell> cells;  // sorted by column
        double height = xlsx::writer::kDefaultRowHeight;
        uint8_t format = 0;
        bool set = false;
        uint8_t hidden = 0, level = 0, collapsed = 0;
    };

    Cell& cell_at(Row row, Col col);
    HeldRow& held_row(Row row);
    void write_row(Row r, const HeldRow& row);
    uint8_t format_index(Format format);
    const char* store(std::string_view text);

    xlsx::writer::Worksheet* sheet_;
    std::vector<HeldRow> rows_;  // rows_[i] holds row first_held_ + i
    Row first_held_ = 0;         // rows above it are written
    std::vector<Format> formats_{nullptr};
    size_t cells_ = 0;

    // Cell texts, packed one after another. Not looked up to share repeats: hashing every text
    // cost more time than the few megabytes a job sheet's texts take.
    std::vector<std::unique_ptr<char[]>> chunks_;
    size_t chunk_used_ = 0, chunk_size_ = 0;
};

}  // namespace igxl
