#include "check/sheet_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "check/xlsx_out.h"
#include "util/error.h"

namespace igxl {

namespace {

constexpr size_t kChunk = 1 << 16;
// The most characters a spreadsheet cell holds.
constexpr size_t kMaxCellChars = 32767;

size_t utf8_length(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

SheetBuffer::SheetBuffer(lxw_worksheet* worksheet) : sheet_(worksheet) {}

SheetBuffer::Cell& SheetBuffer::cell_at(lxw_row_t row, lxw_col_t col) {
    if (row >= LXW_ROW_MAX || col >= LXW_COL_MAX)
        xlsx_check(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE, "write a cell");
    if (row >= rows_.size()) rows_.resize(static_cast<size_t>(row) + 1);
    auto& cells = rows_[row].cells;
    // Cells mostly arrive left to right.
    if (cells.empty() || cells.back().col < col) {
        ++cells_;
        Cell& c = cells.emplace_back();
        c.col = col;
        return c;
    }
    auto it = std::lower_bound(cells.begin(), cells.end(), col,
                               [](const Cell& c, lxw_col_t v) { return c.col < v; });
    if (it != cells.end() && it->col == col) return *it;
    ++cells_;
    it = cells.insert(it, Cell{});
    it->col = col;
    return *it;
}

uint8_t SheetBuffer::format_index(lxw_format* format) {
    auto it = std::find(formats_.begin(), formats_.end(), format);
    if (it != formats_.end()) return static_cast<uint8_t>(it - formats_.begin());
    if (formats_.size() > 255) throw Error("a report sheet uses more than 255 cell formats");
    formats_.push_back(format);
    return static_cast<uint8_t>(formats_.size() - 1);
}

const char* SheetBuffer::store(std::string_view text) {
    const size_t need = text.size() + 1;
    if (chunks_.empty() || chunk_used_ + need > chunk_size_) {
        chunk_size_ = std::max(kChunk, need);
        chunks_.push_back(std::make_unique<char[]>(chunk_size_));
        chunk_used_ = 0;
    }
    char* at = chunks_.back().get() + chunk_used_;
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    chunk_used_ += need;
    return at;
}

void SheetBuffer::write_text(lxw_row_t row, lxw_col_t col, std::string_view value,
                             lxw_format* format) {
    if (value.empty()) {
        if (!format) return;
        Cell& c = cell_at(row, col);
        c.kind = kBlank;
        c.format = format_index(format);
        return;
    }
    if (value.size() > kMaxCellChars && utf8_length(value) > kMaxCellChars)
        xlsx_check(LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED, "write a cell");
    const uint8_t f = format_index(format);
    Cell& c = cell_at(row, col);
    // The same text written again over a cell (header cells, once per entry) is kept as it is.
    if (c.kind == kText && c.text && std::string_view(c.text) == value) {
        c.format = f;
        return;
    }
    const char* text = store(value);
    c.kind = kText;
    c.text = text;
    c.format = f;
}

void SheetBuffer::write_number(lxw_row_t row, lxw_col_t col, double value, lxw_format* format) {
    const uint8_t f = format_index(format);
    Cell& c = cell_at(row, col);
    c.format = f;
    if (std::isnan(value)) {
        c.kind = kNumError;
    } else if (std::isinf(value)) {
        c.kind = kDivError;
    } else {
        c.kind = kNumber;
        c.number = value;
    }
}

void SheetBuffer::set_row(lxw_row_t row, double height, lxw_format* format,
                          const lxw_row_col_options* options) {
    if (row >= LXW_ROW_MAX) xlsx_check(LXW_ERROR_WORKSHEET_INDEX_OUT_OF_RANGE, "set a row");
    const uint8_t f = format_index(format);
    if (row >= rows_.size()) rows_.resize(static_cast<size_t>(row) + 1);
    Row& r = rows_[row];
    r.set = true;
    r.height = height;
    r.format = f;
    r.hidden = options ? options->hidden : 0;
    r.level = options ? options->level : 0;
    r.collapsed = options ? options->collapsed : 0;
}

void SheetBuffer::flush() {
    for (lxw_row_t r = 0; r < rows_.size(); ++r) {
        Row& row = rows_[r];
        if (row.set) {
            lxw_row_col_options opts{};
            opts.hidden = row.hidden;
            opts.level = row.level;
            opts.collapsed = row.collapsed;
            xlsx_check(worksheet_set_row_opt(sheet_, r, row.height, formats_[row.format], &opts),
                       "set a row");
        }
        for (const Cell& c : row.cells) {
            lxw_format* f = formats_[c.format];
            switch (c.kind) {
                case kText:
                    xlsx_check(worksheet_write_string(sheet_, r, c.col, c.text, f), "write a cell");
                    break;
                case kNumber:
                    xlsx_check(worksheet_write_number(sheet_, r, c.col, c.number, f), "write a cell");
                    break;
                case kBlank:
                    xlsx_check(worksheet_write_blank(sheet_, r, c.col, f), "write a cell");
                    break;
                case kNumError:
                    xlsx_check(worksheet_write_formula_str(sheet_, r, c.col, "#NUM!", f, "#NUM!"),
                               "write a cell");
                    break;
                case kDivError:
                    xlsx_check(worksheet_write_formula_str(sheet_, r, c.col, "#DIV/0!", f, "#DIV/0!"),
                               "write a cell");
                    break;
            }
        }
        // Hand each row's memory back as it goes: the buffer of a large sheet is its biggest user.
        std::vector<Cell>().swap(row.cells);
    }
    rows_.clear();
    rows_.shrink_to_fit();
    cells_ = 0;
    chunks_.clear();
    chunk_used_ = chunk_size_ = 0;
}

}  // namespace igxl
