#include "tools/demo_gen/program_writer.h"

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstring>

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
    lxw_workbook_options opts{};
    opts.constant_memory = constant_memory ? LXW_TRUE : LXW_FALSE;
    wb_ = workbook_new_opt(workbook_path.c_str(), &opts);
    if (!wb_) throw Error("cannot create workbook '" + workbook_path + "'");
}

ProgramWriter::~ProgramWriter() {
    if (text_) std::fclose(text_);
    // An unfinished workbook is still closed so that its temporary files go away.
    if (wb_) workbook_close(wb_);
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
        ws_ = workbook_add_worksheet(wb_, name.c_str());
        if (!ws_) throw Error("cannot add sheet '" + name + "' to the workbook");
    }
}

void ProgramWriter::row(const Row& cells) {
    if (cells.size() > width_) {
        throw Error("sheet '" + sheet_ + "' row " + std::to_string(row_ + 1) + " has " +
                    std::to_string(cells.size()) + " cells, wider than the sheet's " +
                    std::to_string(width_));
    }
    if (wb_ && row_ >= LXW_ROW_MAX) {
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
        lxw_error err = LXW_NO_ERROR;
        if (cell.is_number) {
            err = worksheet_write_number(ws_, row_, static_cast<lxw_col_t>(c), cell.number, nullptr);
        } else if (!cell.text.empty()) {
            err = worksheet_write_string(ws_, row_, static_cast<lxw_col_t>(c), cell.text.c_str(),
                                         nullptr);
        }
        if (err != LXW_NO_ERROR) {
            throw Error("cannot write sheet '" + sheet_ + "' row " + std::to_string(row_ + 1) +
                        ": " + lxw_strerror(err));
        }
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
    lxw_error err = workbook_close(wb_);
    wb_ = nullptr;
    if (err != LXW_NO_ERROR) throw Error(std::string("cannot write the workbook: ") + lxw_strerror(err));
}

}  // namespace igxl::demo
