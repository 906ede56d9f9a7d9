#include "tools/demo_gen/program_writer.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "export/xlsx_writer.h"
#include "util/error.h"
#include "util/text.h"

namespace igxl::demo {

std::string Cell::field_text() const {
    if (!is_number) return text;
    if (std::floor(number) == number && std::fabs(number) < 1e15) {
        return std::to_string(static_cast<long long>(number));
    }
    return util::format_double(number);
}

ProgramWriter::ProgramWriter(const std::string& out_dir, const std::string& workbook_path,
                             bool constant_memory)
    : out_dir_(out_dir) {
    if (workbook_path.empty()) return;
    // A program workbook as a spreadsheet program saves it shares its texts; a large one written
    // for speed keeps them in the cells.
    xlsx::writer::WorkbookOptions options;
    options.shared_strings = !constant_memory;
    wb_ = std::make_unique<xlsx::writer::Workbook>(workbook_path, options);
}

ProgramWriter::~ProgramWriter() {
    if (text_) std::fclose(text_);
    // An unfinished workbook is dropped unwritten.
}

void ProgramWriter::begin_sheet(const std::string& name, size_t width) {
    end_sheet();
    sheet_ = name;
    width_ = width;
    row_ = 0;
    std::string path = out_dir_ + "/" + name + ".txt";
    text_ = std::fopen(path.c_str(), "wb");
    if (!text_) throw Error("cannot write '" + path + "': " + std::strerror(errno));
    if (wb_) {
        ws_ = &wb_->add_worksheet(name);
    }
}

void ProgramWriter::row(const Row& cells) {
    if (cells.size() > width_) {
        throw Error("sheet '" + sheet_ + "' row " + std::to_string(row_ + 1) + " has " +
                    std::to_string(cells.size()) + " cells, wider than the sheet's " +
                    std::to_string(width_));
    }
    if (wb_ && row_ >= xlsx::writer::kMaxRows) {
        throw Error("sheet '" + sheet_ + "' has more rows than a workbook sheet can hold; "
                    "use a smaller --size or --text-only");
    }
    line_.clear();
    for (size_t c = 0; c < width_; ++c) {
        if (c) line_.push_back('\t');
        if (c >= cells.size()) continue;
        const Cell& cell = cells[c];
        line_ += cell.field_text();
        if (!wb_) continue;
        if (cell.is_number)
            ws_->write_number(row_, static_cast<std::uint32_t>(c), cell.number);
        else if (!cell.text.empty())
            ws_->write_string(row_, static_cast<std::uint32_t>(c), cell.text);
    }
    line_.push_back('\n');
    if (std::fwrite(line_.data(), 1, line_.size(), text_) != line_.size()) {
        throw Error("cannot write '" + out_dir_ + "/" + sheet_ + ".txt'");
    }
    ++row_;
    ++total_rows_;
}

void ProgramWriter::end_sheet() {
    if (text_) {
        bool bad = std::fclose(text_) != 0;
        text_ = nullptr;
        if (bad) throw Error("cannot write '" + out_dir_ + "/" + sheet_ + ".txt'");
    }
    ws_ = nullptr;
}

void ProgramWriter::finish() {
    end_sheet();
    if (!wb_) return;
    std::unique_ptr<xlsx::writer::Workbook> wb = std::move(wb_);
    wb->close();
}

}  // namespace igxl::demo
