// A worksheet's cells held compactly until no pass can still write them, then written row by row.
//
// The report workbook's sheets are streamed: a row is turned into XML as soon as a later row is
// started. The flow walk fills a job sheet out of row order (its passes come back to each row, and
// header cells and row settings come late), so its cells wait here: fixed 16-byte cell entries
// in blocks, their texts packed in one store, both given back block by block as the rows they
// hold are written. The header row is held by the worksheet itself (Worksheet::hold_first_rows),
// so the rows below it can be written while it is still being filled.
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

    // Rows above header_rows go straight to the worksheet, which keeps them open until flush().
    explicit SheetBuffer(xlsx::writer::Worksheet& worksheet, Row header_rows = 1);
    SheetBuffer(const SheetBuffer&) = delete;
    SheetBuffer& operator=(const SheetBuffer&) = delete;

    // The worksheet itself, for settings that are not row data (columns, panes, rules), and for a
    // sheet filled in row order, which needs no holding at all.
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

    // Writes the held rows above `end` (below the header) into the worksheet now and gives their
    // memory back, once no pass can still write them. Those rows are then final: writing to
    // them again throws.
    void write_rows_before(Row end);

    // Writes every held row in order into the worksheet, empties the buffer and finishes the
    // worksheet, which then holds nothing but its compressed rows. Call once, when the sheet is
    // done (rules, filter and lists set before).
    void flush();

    size_t cell_count() const { return cells_; }
    // Bytes held for cells and texts (blocks in use), for the benchmarks.
    size_t held_bytes() const;

private:
    enum Kind : uint8_t { kText, kNumber, kBlank, kNumError, kDivError };
    using Index = std::uint32_t;
    static constexpr Index kNone = UINT32_MAX;
    struct Cell {
        union {
            double number;
            const char* text;  // its length in the 4 bytes before it, in the text store
        };
        Index next;  // the row's next cell, in the order written
        std::uint16_t col;
        Kind kind;
        uint8_t format;  // index into formats_, 0 = none
    };
    static_assert(sizeof(Cell) == 16, "a held cell should stay small");
    static_assert(xlsx::writer::kMaxColumns <= 65536, "a column fits a held cell");
    struct HeldRow {
        Index head = kNone, tail = kNone;
        std::uint16_t last_col = 0;
        bool in_order = true;  // each cell written right of the ones before
        bool set = false;
        uint8_t format = 0;
        uint8_t hidden = 0, level = 0, collapsed = 0;
        double height = xlsx::writer::kDefaultRowHeight;
    };
    // Cells and texts come in blocks; a block goes back when every row with something in it is
    // written.
    struct Block {
        std::unique_ptr<char[]> bytes;
        Row last_row = 0;
    };

    Cell& cell_at(Row row, Col col);
    HeldRow& held_row(Row row);
    Cell& cell(Index i) {
        return reinterpret_cast<Cell*>(cell_blocks_[i / kCellsPerBlock].bytes.get())[i % kCellsPerBlock];
    }
    void write_row(Row r, const HeldRow& row);
    uint8_t format_index(Format format);
    const char* store(Row row, std::string_view text);
    void release_written();

    static constexpr size_t kCellsPerBlock = 4096;
    static constexpr size_t kTextBlock = size_t(1) << 16;
    static_assert(kCellsPerBlock * sizeof(Cell) == kTextBlock, "cell and text blocks are interchangeable");

    xlsx::writer::Worksheet* sheet_;
    Row header_rows_;
    std::vector<HeldRow> rows_;  // rows_[i] holds row base_row_ + i
    Row base_row_;
    Row first_held_;             // rows from the header to it are written
    Row released_at_;            // first_held_ when blocks were last given back
    Row last_sent_row_ = 0;      // the last row with cells handed to the worksheet
    bool any_sent_ = false;
    std::vector<Format> formats_{nullptr};
    size_t cells_ = 0;

    std::vector<Block> cell_blocks_;  // index i / kCellsPerBlock; released ones hold no bytes
    size_t cells_used_ = 0;           // cells handed out, over every block
    size_t first_live_cell_block_ = 0;
    std::vector<Block> text_blocks_;  // in the order filled; the front ones go first
    size_t text_used_ = 0, text_size_ = 0;
    std::vector<std::unique_ptr<char[]>> spare_;  // standard blocks given back, for reuse
    // The last text stored in each of the first columns: the same text written again in the same
    // column (a test's name on each of its rows, the same bin or opcode row after row) is kept
    // once, found by one comparison rather than a hash of every text.
    static constexpr Col kRepeatColumns = 64;
    const char* last_text_[kRepeatColumns] = {};
};

}  // namespace igxl
