#include "check/sheet_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "util/error.h"

namespace igxl {

namespace {

namespace xw = xlsx::writer;

constexpr size_t kChunk = 1 << 16;

size_t utf8_length(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

SheetBuffer::SheetBuffer(xw::Worksheet& worksheet) : sheet_(&worksheet) {}

SheetBuffer::Cell& SheetBuffer::cell_at(Row row, Col col) {
    if (row >= xw::kMaxRows || col >= xw::kMaxColumns)
        throw Error("cannot write a cell of the sheet '" + sheet_->name() + "': row " + std::to_string(row + 1) +
                    ", column " + std::to_string(col + 1) + " is outside a sheet");
    auto& cells = held_row(row).cells;
    // Cells mostly arrive left to right.
    if (cells.empty() || cells.back().col < col) {
        ++cells_;
        Cell& c = cells.emplace_back();
        c.col = col;
        return c;
    }
    auto it = std::lower_bound(cells.begin(), cells.end(), col,
                               [](const Cell& c, Col v) { return c.col < v; });
    if (it != cells.end() && it->col == col) return *it;
    ++cells_;
    it = cells.insert(it, Cell{});
    it->col = col;
    return *it;
}

SheetBuffer::HeldRow& SheetBuffer::held_row(Row row) {
    if (row < first_held_)
        throw Error("cannot change row " + std::to_string(row + 1) + " of the sheet '" + sheet_->name() +
                    "': it is written");
    const size_t i = row - first_held_;
    if (i >= rows_.size()) rows_.resize(i + 1);
    return rows_[i];
}

uint8_t SheetBuffer::format_index(Format format) {
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

void SheetBuffer::write_text(Row row, Col col, std::string_view value, Format format) {
    if (value.empty()) {
        if (!format) return;
        Cell& c = cell_at(row, col);
        c.kind = kBlank;
        c.format = format_index(format);
        return;
    }
    if (value.size() > xw::kMaxCellChars && utf8_length(value) > xw::kMaxCellChars)
        throw Error("cannot write the cell " + xw::cell_name(row, col) + " of the sheet '" + sheet_->name() +
                    "': a cell holds at most 32767 characters");
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

void SheetBuffer::write_number(Row row, Col col, double value, Format format) {
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

void SheetBuffer::set_row(Row row, double height, Format format, xw::RowOptions options) {
    if (row >= xw::kMaxRows)
        throw Error("cannot set row " + std::to_string(row + 1) + " of the sheet '" + sheet_->name() + "'");
    const uint8_t f = format_index(format);
    HeldRow& r = held_row(row);
    r.set = true;
    r.height = height;
    r.format = f;
    r.hidden = options.hidden;
    r.level = options.level;
    r.collapsed = options.collapsed;
}

void SheetBuffer::write_row(Row r, const HeldRow& row) {
    if (row.set) sheet_->set_row(r, row.height, formats_[row.format], {row.hidden != 0, row.level, row.collapsed != 0});
    for (const Cell& c : row.cells) {
        const Format f = formats_[c.format];
        switch (c.kind) {
            case kText: sheet_->write_string(r, c.col, c.text, f); break;
            case kNumber: sheet_->write_number(r, c.col, c.number, f); break;
            case kBlank: sheet_->write_blank(r, c.col, f); break;
            case kNumError: sheet_->write_error(r, c.col, xw::ErrorValue::num, f); break;
            case kDivError: sheet_->write_error(r, c.col, xw::ErrorValue::div0, f); break;
        }
    }
}

void SheetBuffer::write_rows_before(Row end) {
    if (end <= first_held_) return;
    const size_t n = std::min(rows_.size(), static_cast<size_t>(end - first_held_));
    for (size_t i = 0; i < n; ++i) {
        write_row(first_held_ + static_cast<Row>(i), rows_[i]);
        cells_ -= rows_[i].cells.size();
    }
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(n));
    first_held_ = end;
    // The texts of the rows still held live in the chunks; with none left they all go.
    if (rows_.empty()) {
        chunks_.clear();
        chunk_used_ = chunk_size_ = 0;
    }
}

void SheetBuffer::flush() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        write_row(first_held_ + static_cast<Row>(i), rows_[i]);
        // Hand each row's memory back as it goes: the buffer of a large sheet is its biggest user.
        std::vector<Cell>().swap(rows_[i].cells);
    }
    rows_.clear();
    rows_.shrink_to_fit();
    cells_ = 0;
    chunks_.clear();
    chunk_used_ = chunk_size_ = 0;
    sheet_->finish();
}

}  // namespace igxl
