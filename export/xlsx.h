// Our streaming XLSX reader: libzip streams each part, a small tokenizer walks the sheet XML in
// chunks, so memory stays near the shared-strings table however large a sheet is.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/options.h"

namespace igxl::xlsx {

struct Cell {
    enum Kind { Empty, Text, Number, Bool, Error, Formula, Date };
    Kind kind = Empty;
    std::string text;  // the field text of the sheet text export (tabs and line breaks kept)
    double number = 0;  // Number and Date: the stored value
    bool boolean = false;
};

// A merged range, 0-based and inclusive.
struct Range {
    uint32_t first_row = 0, first_col = 0, last_row = 0, last_col = 0;
};

class Workbook {
public:
    // Throws FileNotFoundError for a missing file and igxl::Error naming the file and the problem
    // for anything that is not a readable workbook; BadInputError when it passes a limit of
    // options (the bytes its parts unpack to, the length of a sheet text line).
    explicit Workbook(const std::string& path, const ExportOptions& options = {});
    ~Workbook();
    Workbook(Workbook&&) noexcept;
    Workbook& operator=(Workbook&&) noexcept;

    const std::string& path() const;
    // Worksheet names in workbook order (chart and dialog sheets are not worksheets).
    const std::vector<std::string>& sheet_names() const;

    // Streams the rows of one sheet: cb(row index 0-based, cells from column A to the row's last
    // stored cell). Rows without cell records are not reported. Values stand as stored: merged
    // ranges are declared after the cells, so they are reported at the end through on_merge.
    using RowCallback = std::function<void(size_t, const std::vector<Cell>&)>;
    void for_each_row(const std::string& sheet, const RowCallback& cb,
                      const std::function<void(const Range&)>& on_merge = {}) const;

    // The bytes of the workbook's macro project (xl/vbaProject.bin); false when it has none.
    // Throws BadInputError when the part holds more than max_bytes.
    bool read_vba_project(std::string& bytes, size_t max_bytes) const;

    // Writes one sheet as a sheet text file (the format of export_sheets_to_txt).
    void write_sheet_text(const std::string& sheet, const std::string& file_path) const;

    // One sheet to write as a sheet text file, and the file.
    struct SheetFile {
        std::string sheet, file;
    };
    // Writes the sheets of jobs, several at once on up to threads threads (0: as many as the
    // machine runs, at most 4). Files, the error thrown and the unpack limit are those of
    // write_sheet_text called for each job in turn: the first failing job throws, the jobs
    // before it are written and no file of a later one is touched. before(i) is called on this
    // thread, in job order, just before job i's file is written or put in place.
    void write_sheets_text(const std::vector<SheetFile>& jobs, unsigned threads = 0,
                           const std::function<void(size_t)>& before = {}) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// One sheet read back by name: row 1 as the header, every later row up to the last stored one
// (rows without records come back empty). Cells covered by a merged range other than its
// top-left cell are Empty. Throws igxl::Error when the sheet does not exist.
struct Table {
    std::vector<Cell> header;
    std::vector<std::vector<Cell>> rows;
};
Table read_table(const std::string& path, const std::string& sheet);

}  // namespace igxl::xlsx
