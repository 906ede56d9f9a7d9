// The buffered sheet text writer: a sheet whose rows or cells come out of order is gathered whole
// as compact row texts, ordered, then written.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export/merged_ranges.h"
#include "export/sheet_text.h"
#include "util/platform.h"

namespace igxl::detail {

using xlsx::Range;

namespace {

// Collects one sheet as text rows. A row's text holds its fields up to its last non-empty one;
// trailing fields, rows without values and the column count are settled when the whole sheet is
// known, because the last column comes from the last cell record, wherever it stands.
class TextSheet : public RowSink {
public:
    TextSheet(const xlsx::Workbook::Impl& wb, std::string what) : wb_(wb), what_(std::move(what)) {}

    void begin_row(uint32_t row) override {
        row_ = row;
        filled_ = 0;
        start_ = body_.size();
    }

    void cell(uint32_t col, const CellValue& v) override {
        if (col > rec_cols_) rec_cols_ = col;
        if (row_ > rec_rows_) rec_rows_ = row_;
        if (v.text.empty()) return;
        if (col <= filled_) {
            set_field_slow(col, v.text);
            return;
        }
        body_.append(filled_ == 0 ? col - 1 : col - filled_, '\t');
        size_t at = body_.size();
        body_.append(v.text);
        // A tab or line break inside a cell would split the field or the row.
        for (size_t i = at; i < body_.size(); ++i) {
            char c = body_[i];
            if (c == '\t' || c == '\n' || c == '\r') body_[i] = ' ';
        }
        filled_ = col;
        if (body_.size() - start_ > wb_.options.max_line_length) line_too_long(wb_, what_, row_);
        if (body_.size() > kMaxFields * 2)
            throw Error(what_ + ": the sheet text would exceed " + std::to_string(kMaxFields * 2 >> 20) + " MB");
    }

    void end_row() override {
        if (filled_ == 0) {
            body_.resize(start_);
            return;
        }
        if (!rows_.empty() && rows_.back().row >= row_) sorted_ = false;
        rows_.push_back({row_, filled_, start_, body_.size() - start_});
        if (row_ > val_rows_) val_rows_ = row_;
        if (filled_ > val_cols_) val_cols_ = filled_;
    }

    void merge(const Range& r) override {
        merges_.push_back(r);
        rec_rows_ = std::max(rec_rows_, r.last_row + 1);
        rec_cols_ = std::max(rec_cols_, r.last_col + 1);
    }

    void write(const std::string& file) {
        uint64_t nrows = rec_rows_, ncols = rec_cols_;
        if (nrows * ncols > kMaxFields) {
            nrows = val_rows_;
            ncols = val_cols_;
            if (nrows * ncols > kMaxFields)
                throw Error(what_ + ": values span " + std::to_string(nrows) + " rows x " + std::to_string(ncols) +
                            " columns, too large for a sheet text file");
        }
        if (!sorted_) sort_rows();
        std::FILE* f = util::open_file(file, "wb");
        if (!f) throw Error("cannot write sheet text file '" + file + "': " + std::strerror(errno));
        std::vector<char> fbuf(size_t(1) << 20);
        std::setvbuf(f, fbuf.data(), _IOFBF, fbuf.size());
        std::string tabs(ncols ? ncols - 1 : 0, '\t');
        MergeWindow window(merges_);
        size_t next_row = 0;
        std::string scratch;
        for (uint64_t r = 1; r <= nrows && ncols > 0; ++r) {
            const std::vector<Range>& active = window.covering(r);
            uint64_t fields = 1;
            if (next_row < rows_.size() && rows_[next_row].row == r) {
                const RowRec& rr = rows_[next_row++];
                std::string_view text(body_.data() + rr.off, rr.len);
                fields = rr.filled;
                if (!active.empty()) {
                    blank_merged(text, r, active, scratch);
                    text = scratch;
                }
                std::fwrite(text.data(), 1, text.size(), f);
            }
            std::fwrite(tabs.data(), 1, ncols - fields, f);
            std::fputc('\n', f);
        }
        bool bad = std::ferror(f) != 0;
        if (std::fclose(f) != 0 || bad) throw Error("cannot write sheet text file '" + file + "'");
    }

private:
    struct RowRec {
        uint32_t row, filled;
        size_t off, len;
    };

    static void split(std::string_view text, std::vector<std::string>& out) {
        out.clear();
        size_t i = 0;
        for (;;) {
            size_t t = text.find('\t', i);
            out.emplace_back(text.substr(i, t == std::string_view::npos ? t : t - i));
            if (t == std::string_view::npos) return;
            i = t + 1;
        }
    }
    static void join(const std::vector<std::string>& fields, std::string& out) {
        size_t n = fields.size();
        while (n > 0 && fields[n - 1].empty()) --n;
        out.clear();
        for (size_t i = 0; i < n; ++i) {
            if (i) out += '\t';
            out += fields[i];
        }
    }

    // Cells come in column order; a file that breaks the order is mended field by field.
    void set_field_slow(uint32_t col, std::string_view text) {
        std::vector<std::string> fields;
        split(std::string_view(body_).substr(start_), fields);
        if (fields.size() < col) fields.resize(col);
        fields[col - 1] = text;
        for (char& c : fields[col - 1])
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        std::string joined;
        join(fields, joined);
        body_.resize(start_);
        body_ += joined;
        filled_ = std::max<uint32_t>(filled_, col);
    }

    void blank_merged(std::string_view text, uint64_t r, const std::vector<Range>& active, std::string& out) {
        split(text, fields_);
        for (const Range& m : active)
            for (uint64_t c = m.first_col; c <= m.last_col && c < fields_.size(); ++c)
                if (hides(m, r - 1, c)) fields_[c].clear();
        out.clear();
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) out += '\t';
            out += fields_[i];
        }
    }

    // Rows out of order (or repeated) in the file: order them, later cells winning.
    void sort_rows() {
        std::stable_sort(rows_.begin(), rows_.end(), [](const RowRec& a, const RowRec& b) { return a.row < b.row; });
        std::vector<RowRec> merged;
        std::vector<std::string> a, b;
        for (const RowRec& rr : rows_) {
            if (!merged.empty() && merged.back().row == rr.row) {
                RowRec& m = merged.back();
                split(std::string_view(body_).substr(m.off, m.len), a);
                split(std::string_view(body_).substr(rr.off, rr.len), b);
                if (a.size() < b.size()) a.resize(b.size());
                for (size_t i = 0; i < b.size(); ++i)
                    if (!b[i].empty()) a[i] = b[i];
                std::string joined;
                join(a, joined);
                m.off = body_.size();
                m.len = joined.size();
                m.filled = static_cast<uint32_t>(a.size());
                body_ += joined;
            } else {
                merged.push_back(rr);
            }
        }
        rows_.swap(merged);
    }

    const xlsx::Workbook::Impl& wb_;
    std::string what_;
    std::string body_;
    std::vector<RowRec> rows_;
    std::vector<Range> merges_;
    std::vector<std::string> fields_;
    uint32_t row_ = 0, filled_ = 0;
    size_t start_ = 0;
    uint32_t rec_rows_ = 0, rec_cols_ = 0, val_rows_ = 0, val_cols_ = 0;
    bool sorted_ = true;
};

}  // namespace

void write_sheet_buffered(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                          const std::string& what, const std::string& file) {
    TextSheet sink(wb, what);
    wb.read_sheet(sheet, sink, &from);
    sink.write(file);
}

}  // namespace igxl::detail
