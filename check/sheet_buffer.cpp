#include "check/sheet_buffer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "util/error.h"

namespace igxl {

namespace {

namespace xw = xlsx::writer;

// Blocks are looked at for release once this many more rows are written.
constexpr SheetBuffer::Row kReleaseStep = 1024;

size_t utf8_length(std::string_view s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace

SheetBuffer::SheetBuffer(xw::Worksheet& worksheet, Row header_rows)
    : sheet_(&worksheet), header_rows_(header_rows), base_row_(header_rows), first_held_(header_rows),
      released_at_(header_rows) {
    if (header_rows_ > 0) sheet_->hold_first_rows(header_rows_);
}

SheetBuffer::HeldRow& SheetBuffer::held_row(Row row) {
    if (row < first_held_)
        throw Error("cannot change row " + std::to_string(row + 1) + " of the sheet '" + sheet_->name() +
                    "': it is written");
    const size_t i = row - base_row_;
    if (i >= rows_.size()) rows_.resize(i + 1);
    return rows_[i];
}

SheetBuffer::Cell& SheetBuffer::cell_at(Row row, Col col) {
    if (row >= xw::kMaxRows || col >= xw::kMaxColumns)
        throw Error("cannot write a cell of the sheet '" + sheet_->name() + "': row " + std::to_string(row + 1) +
                    ", column " + std::to_string(col + 1) + " is outside a sheet");
    HeldRow& r = held_row(row);
    // Cells mostly arrive left to right: only a cell at or left of the last one can be there.
    if (r.head != kNone && col <= r.last_col) {
        for (Index i = r.head; i != kNone; i = cell(i).next)
            if (cell(i).col == col) return cell(i);
        r.in_order = false;
    }
    if (cells_used_ % kCellsPerBlock == 0) {
        if (cells_used_ / kCellsPerBlock >= (size_t(kNone) + 1) / kCellsPerBlock)
            throw Error("the sheet '" + sheet_->name() + "' holds too many cells");
        Block b;
        if (!spare_.empty()) {
            b.bytes = std::move(spare_.back());
            spare_.pop_back();
        } else {
            b.bytes = std::make_unique<char[]>(kCellsPerBlock * sizeof(Cell));
        }
        cell_blocks_.push_back(std::move(b));
    }
    const Index at = static_cast<Index>(cells_used_++);
    Block& block = cell_blocks_[at / kCellsPerBlock];
    block.last_row = std::max(block.last_row, row);
    Cell& c = cell(at);
    c.number = 0;
    c.next = kNone;
    c.col = static_cast<std::uint16_t>(col);
    c.kind = kBlank;
    c.format = 0;
    if (r.head == kNone)
        r.head = at;
    else
        cell(r.tail).next = at;
    r.tail = at;
    r.last_col = std::max<std::uint16_t>(r.last_col, static_cast<std::uint16_t>(col));
    ++cells_;
    return c;
}

uint8_t SheetBuffer::format_index(Format format) {
    if (!format) return 0;
    auto it = std::find(formats_.begin(), formats_.end(), format);
    if (it != formats_.end()) return static_cast<uint8_t>(it - formats_.begin());
    if (formats_.size() > 255) throw Error("a report sheet uses more than 255 cell formats");
    formats_.push_back(format);
    return static_cast<uint8_t>(formats_.size() - 1);
}

const char* SheetBuffer::store(Row row, std::string_view text) {
    const size_t need = text.size() + sizeof(std::uint32_t);
    if (text_blocks_.empty() || text_used_ + need > text_size_) {
        Block b;
        if (need <= kTextBlock && !spare_.empty()) {
            b.bytes = std::move(spare_.back());
            spare_.pop_back();
        } else {
            b.bytes = std::make_unique<char[]>(std::max(kTextBlock, need));
        }
        text_size_ = std::max(kTextBlock, need);
        text_used_ = 0;
        text_blocks_.push_back(std::move(b));
    }
    Block& block = text_blocks_.back();
    block.last_row = std::max(block.last_row, row);
    char* at = block.bytes.get() + text_used_;
    const auto size = static_cast<std::uint32_t>(text.size());
    std::memcpy(at, &size, sizeof size);
    std::memcpy(at + sizeof size, text.data(), text.size());
    text_used_ += need;
    return at + sizeof size;
}

void SheetBuffer::write_text(Row row, Col col, std::string_view value, Format format) {
    if (row < header_rows_) {
        sheet_->write_string(row, col, value, format);
        return;
    }
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
    c.kind = kText;
    c.format = f;
    if (col < kRepeatColumns) {
        const char* last = last_text_[col];
        std::uint32_t size;
        if (last) std::memcpy(&size, last - sizeof size, sizeof size);
        if (last && size == value.size() && std::memcmp(last, value.data(), size) == 0) {
            // The block holding it now also serves this row.
            for (auto it = text_blocks_.rbegin(); it != text_blocks_.rend(); ++it) {
                const char* begin = it->bytes.get();
                if (last >= begin && last < begin + std::max(kTextBlock, size + sizeof size)) {
                    it->last_row = std::max(it->last_row, row);
                    break;
                }
            }
            c.text = last;
            return;
        }
        c.text = last_text_[col] = store(row, value);
        return;
    }
    c.text = store(row, value);
}

void SheetBuffer::write_number(Row row, Col col, double value, Format format) {
    if (row < header_rows_) {
        sheet_->write_number(row, col, value, format);
        return;
    }
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
    if (row < header_rows_) {
        sheet_->set_row(row, height, format, options);
        return;
    }
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
    if (row.head == kNone) return;
    last_sent_row_ = r;
    any_sent_ = true;
    auto write = [&](const Cell& c) {
        const Format f = formats_[c.format];
        switch (c.kind) {
            case kText: {
                std::uint32_t size;
                std::memcpy(&size, c.text - sizeof size, sizeof size);
                // The text stays in its block until the row is made into XML.
                sheet_->write_string_unowned(r, c.col, std::string_view(c.text, size), f);
                break;
            }
            case kNumber: sheet_->write_number(r, c.col, c.number, f); break;
            case kBlank: sheet_->write_blank(r, c.col, f); break;
            case kNumError: sheet_->write_error(r, c.col, xw::ErrorValue::num, f); break;
            case kDivError: sheet_->write_error(r, c.col, xw::ErrorValue::div0, f); break;
        }
    };
    if (row.in_order) {
        for (Index i = row.head; i != kNone; i = cell(i).next) write(cell(i));
        return;
    }
    std::vector<const Cell*> ordered;
    for (Index i = row.head; i != kNone; i = cell(i).next) ordered.push_back(&cell(i));
    std::stable_sort(ordered.begin(), ordered.end(), [](const Cell* a, const Cell* b) { return a->col < b->col; });
    for (const Cell* c : ordered) write(*c);
}

void SheetBuffer::release_written() {
    released_at_ = first_held_;
    // The worksheet's current row keeps views of its texts until a later row is written.
    auto written = [this](const Block& b) { return b.last_row < first_held_ && (!any_sent_ || b.last_row < last_sent_row_); };
    bool released = false;
    // Cell blocks keep their places (cells are found by index); only their bytes go.
    const size_t current = cells_used_ == 0 ? 0 : (cells_used_ - 1) / kCellsPerBlock;
    for (size_t b = first_live_cell_block_; b < cell_blocks_.size(); ++b) {
        Block& block = cell_blocks_[b];
        if (!block.bytes || b == current || !written(block)) continue;
        spare_.push_back(std::move(block.bytes));
        released = true;
    }
    while (first_live_cell_block_ < cell_blocks_.size() && !cell_blocks_[first_live_cell_block_].bytes)
        ++first_live_cell_block_;
    // The text block being filled stays.
    const size_t before = text_blocks_.size();
    for (size_t b = 0; b + 1 < text_blocks_.size(); ++b) {
        Block& block = text_blocks_[b];
        if (!written(block)) continue;
        spare_.push_back(std::move(block.bytes));
    }
    std::erase_if(text_blocks_, [](const Block& b) { return !b.bytes; });
    if (text_blocks_.size() != before) released = true;
    // A text remembered for repeats may have gone with its block.
    if (released) std::fill(std::begin(last_text_), std::end(last_text_), nullptr);
    // Spares beyond a few blocks' worth go back to the system.
    constexpr size_t kKeepSpare = 8;
    if (spare_.size() > kKeepSpare) spare_.resize(kKeepSpare);
}

void SheetBuffer::write_rows_before(Row end) {
    if (end <= first_held_) return;
    const size_t n = std::min(rows_.size(), static_cast<size_t>(end - base_row_));
    for (size_t i = first_held_ - base_row_; i < n; ++i) {
        write_row(base_row_ + static_cast<Row>(i), rows_[i]);
        for (Index c = rows_[i].head; c != kNone; c = cell(c).next) --cells_;
    }
    first_held_ = end;
    // Written rows leave their places once they are half of what is held.
    const size_t gone = std::min(rows_.size(), static_cast<size_t>(first_held_ - base_row_));
    if (gone > 4096 && gone * 2 > rows_.size()) {
        rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(gone));
        if (rows_.capacity() > 2 * rows_.size()) rows_.shrink_to_fit();
        base_row_ += static_cast<Row>(gone);
    }
    if (first_held_ - released_at_ >= kReleaseStep || rows_.size() <= first_held_ - base_row_) release_written();
}

void SheetBuffer::flush() {
    for (size_t i = first_held_ - base_row_; i < rows_.size(); ++i)
        write_row(base_row_ + static_cast<Row>(i), rows_[i]);
    // The worksheet makes the last row into XML when it is finished, while the texts are here.
    sheet_->finish();
    rows_.clear();
    rows_.shrink_to_fit();
    cells_ = 0;
    cell_blocks_.clear();
    cells_used_ = 0;
    first_live_cell_block_ = 0;
    text_blocks_.clear();
    text_used_ = text_size_ = 0;
    spare_.clear();
    std::fill(std::begin(last_text_), std::end(last_text_), nullptr);
}

size_t SheetBuffer::held_bytes() const {
    size_t n = rows_.capacity() * sizeof(HeldRow) + spare_.size() * kTextBlock;
    for (const Block& b : cell_blocks_)
        if (b.bytes) n += kCellsPerBlock * sizeof(Cell);
    for (const Block& b : text_blocks_) (void)b, n += kTextBlock;
    return n;
}

}  // namespace igxl
