// Writes one IG-XL program twice at once: as sheet text files (one per sheet) and as one
// workbook, so that both always hold the same cells.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace igxl::xlsx::writer {
class Workbook;
class Worksheet;
}  // namespace igxl::xlsx::writer

namespace igxl::demo {

// A cell: a text (written as a string cell) or a number (written as a number cell).
struct Cell {
    bool is_number = false;
    std::string text;
    double number = 0;

    Cell() = default;
    Cell(const char* s) : text(s) {}
    Cell(std::string s) : text(std::move(s)) {}
    static Cell num(double v) {
        Cell c;
        c.is_number = true;
        c.number = v;
        return c;
    }
    // The field text a sheet export gives the cell: integers as plain digits, other numbers
    // in their shortest round-trip form.
    std::string field_text() const;
};

using Row = std::vector<Cell>;

class ProgramWriter {
public:
    // workbook_path empty: text files only (large benchmark programs need no workbook).
    ProgramWriter(const std::string& out_dir, const std::string& workbook_path,
                  bool constant_memory);
    ~ProgramWriter();
    ProgramWriter(const ProgramWriter&) = delete;
    ProgramWriter& operator=(const ProgramWriter&) = delete;

    // Starts a sheet of a fixed width; every row is padded to it so that all lines of the text
    // file have the same number of fields. The header rows must reach the last column.
    void begin_sheet(const std::string& name, size_t width);
    void row(const Row& cells);
    void blank_row() { row({}); }
    void end_sheet();
    // Closes the workbook; throws igxl::Error when it cannot be written.
    void finish();

    size_t rows_written() const { return total_rows_; }

private:
    std::string out_dir_;
    std::unique_ptr<xlsx::writer::Workbook> wb_;
    xlsx::writer::Worksheet* ws_ = nullptr;
    std::FILE* text_ = nullptr;
    std::string sheet_;
    std::string line_;
    size_t width_ = 0;
    uint32_t row_ = 0;
    size_t total_rows_ = 0;
};

}  // namespace igxl::demo
