// The streamed sheet text writer: rows go to the file as the cell decoder hands them out.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "export/merged_ranges.h"
#include "export/sheet_text.h"
#include "export/xlsx_cells.h"
#include "export/xml_scan.h"
#include "util/lines.h"
#include "util/platform.h"

namespace igxl::detail {

using xlsx::Range;

namespace {

// Thrown by StreamSheet when rows come out of order; the sheet is then read again buffered.
struct RowsOutOfOrder {};

// The output of one sheet text file, flushed to the file in large blocks: appending costs one
// compare, no per-call growth logic.
class OutBuf {
public:
    // kPad bytes after the end stay readable, for 16-byte loads at any position.
    static constexpr size_t kPad = 16;
    explicit OutBuf(size_t cap) : buf_(new char[cap + kPad]()), cap_(cap) {}
    size_t size() const { return len_; }
    bool empty() const { return len_ == 0; }
    const char* data() const { return buf_.get(); }
    void clear() { len_ = 0; }
    // n more bytes at the end, to be filled by the caller.
    char* grow(size_t n) {
        if (n > cap_ - len_) reserve(len_ + n);
        char* p = buf_.get() + len_;
        len_ += n;
        return p;
    }
    void append(std::string_view s) {
        if (!s.empty()) std::memcpy(grow(s.size()), s.data(), s.size());
    }
    void append(size_t n, char c) {
        if (n) std::memset(grow(n), c, n);
    }
    OutBuf& operator+=(char c) {
        *grow(1) = c;
        return *this;
    }

private:
    void reserve(size_t n) {
        size_t cap = std::max(n, cap_ * 2);
        std::unique_ptr<char[]> b(new char[cap + kPad]());
        std::memcpy(b.get(), buf_.get(), len_);
        buf_.swap(b);
        cap_ = cap;
    }
    std::unique_ptr<char[]> buf_;
    size_t cap_, len_ = 0;
};


// Copies n bytes; most field texts are short, and a call to memcpy costs more than copying
// them in at most two overlapping loads and stores, which never reach outside either range.
[[gnu::always_inline]] inline void copy_short(char* d, const char* s, size_t n) {
    if (n >= 8 && n <= 16) {
        uint64_t a, b;
        std::memcpy(&a, s, 8);
        std::memcpy(&b, s + n - 8, 8);
        std::memcpy(d, &a, 8);
        std::memcpy(d + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t a, b;
        std::memcpy(&a, s, 4);
        std::memcpy(&b, s + n - 4, 4);
        std::memcpy(d, &a, 4);
        std::memcpy(d + n - 4, &b, 4);
    } else if (n > 0 && n < 4) {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    } else if (n > 16) {
        std::memcpy(d, s, n);
    }
}

// Writes rows to the file as they come, padded to the width the sheet declares. When the real
// width (from the cell records) differs, or merged ranges hide values, one pass over the written
// file settles it. Memory stays at one row plus one file offset per row with values.
class StreamSheet final : public RowSink {
public:
    StreamSheet(const xlsx::Workbook::Impl& wb, std::string what, const std::string& file)
        : wb_(wb), what_(std::move(what)), file_(file), out_(kChunk + 65536) {
        // Removed rather than truncated: ext4 writes out a file at once when it replaces one it
        // truncated, which costs more than the writing. Read access too: lines under merged
        // ranges are read back to see whether they hold values.
        util::remove_file(file);
        f_ = util::open_file(file, "w+b");
        if (!f_) throw Error("cannot write sheet text file '" + file + "': " + std::strerror(errno));
    }
    ~StreamSheet() override {
        if (f_) std::fclose(f_);
    }

    void dimension(uint32_t last_col, uint32_t last_row) override {
        if (last_col <= 1024) guess_ = last_col;
        // One line offset per row: room made once, not grown by doubling (each step copies
        // the list into fresh memory); a false claim costs at most this much.
        lines_.reserve(std::min<uint32_t>(last_row, 1u << 17));
    }

    void begin_row(uint32_t row) override {
        if (row <= written_) throw RowsOutOfOrder{};
        row_ = row;
        filled_ = 0;
    }

    // Inlined into the cell decoder's fast lane, which calls it directly for every cell.
    [[gnu::always_inline]] void cell(uint32_t col, const CellValue& v) override {
        if (col > rec_cols_) rec_cols_ = col;
        rec_rows_ = row_;
        if (v.text.empty()) return;
        if (col <= filled_) throw RowsOutOfOrder{};
        size_t tabs = col - 1;
        if (filled_ == 0) start_line();
        else tabs = col - filled_;
        char* d = out_.grow(tabs + v.text.size());
        if (tabs == 1) *d++ = '\t';
        else if (tabs > 0) d = static_cast<char*>(std::memset(d, '\t', tabs)) + tabs;
        copy_short(d, v.text.data(), v.text.size());
        // A tab or line break inside a cell would split the field or the row. The decoder makes
        // the texts of numbers, dates and booleans itself, never with one: those go unscanned, as
        // do texts it has checked where they stood (scanning a copy just made waits for its
        // stores to land).
        if (v.kind != xlsx::Cell::Number && v.kind != xlsx::Cell::Date && v.kind != xlsx::Cell::Bool &&
            !v.unbroken && XmlScanner::has_break(d, v.text.size()))
            for (size_t i = 0; i < v.text.size(); ++i)
                if (d[i] == '\t' || d[i] == '\n' || d[i] == '\r') d[i] = ' ';
        filled_ = col;
        if (written_bytes_ + out_.size() - lines_.back().off > wb_.options.max_line_length)
            line_too_long(wb_, what_, row_);
    }

    void end_row() override {
        if (filled_ == 0) return;
        if (filled_ > val_cols_) val_cols_ = filled_;
        if (uint64_t(row_) * val_cols_ > kMaxFields) too_large(row_, val_cols_);
        if (filled_ > guess_) guess_ok_ = false;
        pad(guess_ > filled_ ? guess_ - filled_ : 0);
        out_ += '\n';
        if (out_.size() >= kChunk) flush();
        written_ = row_;
    }

    void merge(const Range& r) override {
        merges_.push_back(r);
        rec_rows_ = std::max(rec_rows_, r.last_row + 1);
        rec_cols_ = std::max(rec_cols_, r.last_col + 1);
    }

    void finish() {
        uint64_t nrows = rec_rows_, ncols = rec_cols_;
        if (nrows * ncols > kMaxFields) {
            nrows = written_;
            ncols = val_cols_;
        }
        if (written_ > 0 && (ncols != guess_ || !guess_ok_ || (!merges_.empty() && merges_hide_values()))) {
            flush();
            rewrite(nrows, ncols);
            return;
        }
        for (uint64_t r = written_ + 1; r <= nrows; ++r) blank_line(ncols);
        flush();
        close();
    }

private:
    static constexpr size_t kChunk = size_t(1) << 20;

    struct Line {
        uint32_t row;
        uint64_t off;
    };

    // The first value of a row: the rows without values before it become lines of tabs.
    void start_line() {
        // Padding to a guessed width must stay cheap; past the budget it is left to the last pass.
        if (guess_ && uint64_t(row_) * guess_ > kMaxFields) guess_ = 0;
        for (uint64_t r = written_ + 1; r < row_; ++r) blank_line(guess_);
        lines_.push_back({row_, written_bytes_ + out_.size()});
    }

    [[noreturn]] void too_large(uint64_t rows, uint64_t cols) const {
        throw Error(what_ + ": values span " + std::to_string(rows) + " rows x " + std::to_string(cols) +
                    " columns, too large for a sheet text file");
    }
    void put(std::string_view s) {
        out_.append(s);
        if (out_.size() >= kChunk) flush();
    }
    void pad(uint64_t tabs) {
        while (tabs > 0) {
            size_t n = std::min<uint64_t>(tabs, 4096);
            out_.append(n, '\t');
            tabs -= n;
            if (out_.size() >= kChunk) flush();
        }
    }
    void blank_line(uint64_t cols) {
        pad(cols ? cols - 1 : 0);
        put("\n");
    }

    // Excel clears the cells a merge covers, so the lines already written are usually right as
    // they stand. Reads back only the lines under merged ranges; true when one of them holds a
    // value in a covered field (then the file is rewritten). Many or tall ranges go straight
    // to the rewrite, which reads every line once anyway.
    bool merges_hide_values() {
        flush();
        if (std::fflush(f_) != 0)
            throw Error("cannot write sheet text file '" + file_ + "': " + std::strerror(errno));
        size_t budget = lines_.size();
        std::string line;
        for (const Range& m : merges_) {
            auto it = std::lower_bound(lines_.begin(), lines_.end(), m.first_row + 1,
                                       [](const Line& l, uint64_t r) { return l.row < r; });
            for (; it != lines_.end() && it->row <= uint64_t(m.last_row) + 1; ++it) {
                if (budget-- == 0) return true;
                uint64_t end = it + 1 != lines_.end() ? (it + 1)->off : written_bytes_;
                line.resize(end - it->off);
                util::read_at(f_, it->off, line.data(), line.size(), file_);
                std::string_view text(line);
                text = text.substr(0, text.find('\n'));
                uint64_t c = 0;
                for (size_t i = 0; c <= m.last_col; ++c) {
                    size_t t = text.find('\t', i);
                    size_t n = (t == std::string_view::npos ? text.size() : t) - i;
                    if (n > 0 && hides(m, it->row - 1, c)) return true;
                    if (t == std::string_view::npos) break;
                    i = t + 1;
                }
            }
        }
        return false;
    }

    void flush() {
        if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), f_) != out_.size())
            throw Error("cannot write sheet text file '" + file_ + "': " + std::strerror(errno));
        written_bytes_ += out_.size();
        out_.clear();
    }
    void close() {
        std::FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) throw Error("cannot write sheet text file '" + file_ + "'");
    }

    // The width or the merged ranges differ from what was written: pad, cut and blank each line.
    void rewrite(uint64_t nrows, uint64_t ncols) {
        close();
        std::string tmp = file_ + ".part";
        {
            util::LineReader in(file_);
            f_ = util::open_file(tmp, "wb");
            if (!f_) throw Error("cannot write sheet text file '" + tmp + "': " + std::strerror(errno));
            MergeWindow window(merges_);
            std::string_view line;
            for (uint64_t r = 1; r <= nrows; ++r) {
                if (!in.next(line)) line = {};
                const std::vector<Range>& active = window.covering(r);
                // Fields 1..ncols of the written line, merged non-top-left fields emptied.
                uint64_t c = 0;
                size_t i = 0;
                while (c < ncols) {
                    size_t t = line.find('\t', i);
                    std::string_view field = i <= line.size() ? line.substr(i, t == std::string_view::npos ? t : t - i)
                                                              : std::string_view();
                    bool blank = hidden(active, r - 1, c);
                    if (c) out_ += '\t';
                    if (!blank) out_.append(field);
                    ++c;
                    i = t == std::string_view::npos ? line.size() + 1 : t + 1;
                    if (i > line.size() && c < ncols) {
                        pad(ncols - c);
                        break;
                    }
                }
                put("\n");
            }
            flush();
            close();
        }
        util::put_in_place(tmp, file_);
    }

    const xlsx::Workbook::Impl& wb_;
    std::string what_, file_;
    std::FILE* f_ = nullptr;
    OutBuf out_;
    std::vector<Range> merges_;
    std::vector<Line> lines_;
    uint32_t row_ = 0, filled_ = 0, guess_ = 0;
    bool guess_ok_ = true;
    uint64_t written_ = 0, written_bytes_ = 0;
    uint32_t rec_rows_ = 0, rec_cols_ = 0, val_cols_ = 0;
};

}  // namespace

void write_sheet_text(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                      const std::string& file) {
    std::string what = "workbook '" + wb.pkg.path() + "', sheet '" + sheet + "'";
    // Rows or cells out of order are rare; such a sheet is gathered whole, then written.
    if (!write_sheet_streamed(wb, from, sheet, what, file)) write_sheet_buffered(wb, from, sheet, what, file);
}

bool write_sheet_streamed(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                          const std::string& what, const std::string& file) {
    try {
        StreamSheet sink(wb, what, file);
        xlsx::read_sheet_cells(wb, sheet, sink, &from);
        sink.finish();
        return true;
    } catch (const RowsOutOfOrder&) {
        return false;
    }
}

}  // namespace igxl::detail
