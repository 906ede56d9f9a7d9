// The public face of the XLSX reader: opening a workbook, reading rows, writing sheet text.
// The pieces live beside it: xlsx_package (ZIP parts and inflate), xlsx_parts (relationships,
// workbook, styles, shared strings), xlsx_cells (the cell decoder), sheet_text_* (the writers),
// merged_ranges.h (the merged-cell rule).
#include "export/xlsx.h"

#include "export/merged_ranges.h"
#include "export/sheet_text.h"
#include "export/xlsx_impl.h"

namespace igxl::xlsx {

namespace {

using detail::CellValue;
using detail::RowSink;

class CellRows : public RowSink {
public:
    CellRows(const Workbook::RowCallback& cb, const std::function<void(const Range&)>& on_merge)
        : cb_(cb), on_merge_(on_merge) {}
    void begin_row(uint32_t row) override {
        row_ = row;
        cells_.clear();
    }
    void cell(uint32_t col, const CellValue& v) override {
        if (cells_.size() < col) cells_.resize(col);
        Cell& c = cells_[col - 1];
        c.kind = v.kind;
        c.text.assign(v.text);
        c.number = v.number;
        c.boolean = v.boolean;
    }
    void end_row() override {
        if (!cells_.empty()) cb_(row_ - 1, cells_);
    }
    void merge(const Range& r) override {
        if (on_merge_) on_merge_(r);
    }
    bool wants_numbers() const override { return true; }

private:
    const Workbook::RowCallback& cb_;
    const std::function<void(const Range&)>& on_merge_;
    std::vector<Cell> cells_;
    uint32_t row_ = 0;
};

}  // namespace

Workbook::Workbook(const std::string& path, const ExportOptions& options)
    : impl_(std::make_unique<Impl>(path, options)) {}
Workbook::~Workbook() = default;
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;

const std::string& Workbook::path() const { return impl_->pkg.path(); }
const std::vector<std::string>& Workbook::sheet_names() const { return impl_->names; }

void Workbook::for_each_row(const std::string& sheet, const RowCallback& cb,
                            const std::function<void(const Range&)>& on_merge) const {
    CellRows sink(cb, on_merge);
    impl_->read_sheet(sheet, sink);
}

void Workbook::write_sheet_text(const std::string& sheet, const std::string& file_path) const {
    detail::write_sheet_text(*impl_, impl_->pkg, sheet, file_path);
}

bool Workbook::read_vba_project(std::string& bytes, size_t max_bytes) const {
    bytes.clear();
    if (impl_->vba_part.empty()) return false;
    std::unique_ptr<detail::ByteSource> src = impl_->pkg.open(impl_->vba_part);
    char buf[65536];
    while (size_t got = src->read(buf, sizeof buf)) {
        if (bytes.size() + got > max_bytes)
            throw BadInputError(path(), "cannot read workbook '" + path() + "': its macro project '" +
                                            impl_->vba_part + "' is larger than " + std::to_string(max_bytes) +
                                            " bytes, more than a test program's modules need");
        bytes.append(buf, got);
    }
    return true;
}

Table read_table(const std::string& path, const std::string& sheet) {
    Workbook wb(path);
    std::vector<std::vector<Cell>> all;
    std::vector<Range> merges;
    wb.for_each_row(
        sheet,
        [&](size_t r, const std::vector<Cell>& cells) {
            if (all.size() <= r) all.resize(r + 1);
            all[r] = cells;
        },
        [&](const Range& m) { merges.push_back(m); });
    for (const Range& m : merges)
        for (size_t r = m.first_row; r <= m.last_row && r < all.size(); ++r)
            for (size_t c = m.first_col; c <= m.last_col && c < all[r].size(); ++c)
                if (detail::hides(m, r, c)) all[r][c] = Cell{};
    Table t;
    if (all.empty()) return t;
    t.header = std::move(all[0]);
    t.rows.assign(std::make_move_iterator(all.begin() + 1), std::make_move_iterator(all.end()));
    return t;
}

}  // namespace igxl::xlsx
