// Our streaming workbook writer. Each sheet's rows are turned into XML as they are written and
// compressed at once; only the compressed bytes wait until the workbook is saved, when the
// package (content types first, then the parts they name) is written in one pass.
//
// Rows are written in order: a row is complete, and its XML made, as soon as a later row is
// written (only a sheet's held first rows, see hold_first_rows, wait until it is finished). Within the current row cells may come in any order, a later write replacing an
// earlier one. Sheets may be filled side by side. Faults in use (an earlier row, a cell out of
// range, an over-long text, a name that cannot be a sheet name) throw igxl::Error.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::xlsx::writer {

inline constexpr std::uint32_t kMaxRows = 1048576;
inline constexpr std::uint32_t kMaxColumns = 16384;
inline constexpr std::size_t kMaxCellChars = 32767;
inline constexpr double kDefaultRowHeight = 15;
inline constexpr double kDefaultColumnWidth = 8.43;

// A cell format, created by Workbook::add_format and set before it is first used. Formats of the
// same content share one entry in the workbook's style list.
class Format {
public:
    Format& set_bold(bool on = true) {
        bold_ = on;
        return *this;
    }
    // A solid background colour, 0xRRGGBB.
    Format& set_fill(std::uint32_t rgb) {
        fill_ = rgb & 0xFFFFFF;
        return *this;
    }
    // A number format such as "0.00" or "yyyy-mm-dd"; empty for General.
    Format& set_number_format(std::string code) {
        number_format_ = std::move(code);
        return *this;
    }
    bool bold() const { return bold_; }
    const std::optional<std::uint32_t>& fill() const { return fill_; }
    const std::string& number_format() const { return number_format_; }

private:
    bool bold_ = false;
    std::optional<std::uint32_t> fill_;
    std::string number_format_;
};

struct RowOptions {
    bool hidden = false;
    std::uint8_t level = 0;  // outline level, 0..7
    bool collapsed = false;
};

// Rows and columns counted from 0; last_* included.
struct CellRange {
    std::uint32_t first_row = 0, first_col = 0, last_row = 0, last_col = 0;
};

// Texts and values of formula error results a report writes in place of a number.
enum class ErrorValue { num, div0 };

class Workbook;
namespace detail {
struct SheetState;
struct BookState;
}  // namespace detail

class Worksheet {
public:
    ~Worksheet();
    Worksheet(const Worksheet&) = delete;
    Worksheet& operator=(const Worksheet&) = delete;

    const std::string& name() const;

    // An empty text leaves the cell blank (kept only with a format).
    void write_string(std::uint32_t row, std::uint32_t col, std::string_view text, const Format* format = nullptr);
    void write_number(std::uint32_t row, std::uint32_t col, double value, const Format* format = nullptr);
    void write_boolean(std::uint32_t row, std::uint32_t col, bool value, const Format* format = nullptr);
    // As write_string, keeping a view of text rather than a copy: the caller keeps the bytes
    // unchanged until the row is made into XML (when a later row is written or the sheet
    // finished).
    void write_string_unowned(std::uint32_t row, std::uint32_t col, std::string_view text,
                              const Format* format = nullptr);
    // Without a format there is nothing to keep and nothing is written.
    void write_blank(std::uint32_t row, std::uint32_t col, const Format* format = nullptr);
    // The error a formula returns, written as that formula with its result, as spreadsheet
    // programs store it.
    void write_error(std::uint32_t row, std::uint32_t col, ErrorValue error, const Format* format = nullptr);

    // A formula ("=A1*2" or "A1*2"), calculated when the workbook is opened.
    void write_formula(std::uint32_t row, std::uint32_t col, std::string_view formula,
                       const Format* format = nullptr);
    // One cell over range, text in its top-left cell (which must be in a row not yet passed).
    void merge_range(CellRange range, std::string_view text, const Format* format = nullptr);

    // The first count rows (a header completed while the rows below it are found) stay open to
    // writes and row settings until the sheet is finished, while the rows below stream as usual.
    // Called before anything is written.
    void hold_first_rows(std::uint32_t count);

    // Height, format and outline of a row not yet passed; set again, the row takes the later.
    void set_row(std::uint32_t row, double height = kDefaultRowHeight, const Format* format = nullptr,
                 RowOptions options = {});
    // Width of columns first..last (characters of the default font).
    void set_column(std::uint32_t first, std::uint32_t last, double width, const Format* format = nullptr);

    // No more rows, rules, filter or lists: what follows the rows is written and the sheet's
    // compressor freed now rather than when the workbook is saved. Column widths, panes and
    // outline settings may still change until then.
    void finish();

    // Rows above row and columns left of col stay in view.
    void freeze_panes(std::uint32_t row, std::uint32_t col);
    void autofilter(CellRange range);
    // Where the outline's summary rows and columns are, whether its symbols show.
    void outline_settings(bool symbols_visible, bool summary_below, bool summary_right, bool auto_style);
    // Cells of range whose value appears more than once in it take format's fill and font.
    void highlight_duplicates(CellRange range, const Format* format);
    // Cells of range that are empty or only spaces take format's fill and font.
    void highlight_blanks(CellRange range, const Format* format);
    // Cells of range offer a drop-down of the given values.
    void list_validation(CellRange range, const std::vector<std::string>& values);

private:
    friend class Workbook;
    explicit Worksheet(std::unique_ptr<detail::SheetState> state);
    std::unique_ptr<detail::SheetState> s_;
};

struct DocumentProperties {
    std::string title, subject, author, manager, company, category, keywords, comments;
};

struct WorkbookOptions {
    // Texts shared through one table (smaller files when texts repeat) instead of written in
    // their cells; the table is held in memory until the workbook is saved.
    bool shared_strings = false;
};

class Workbook {
public:
    // Nothing is written to path before close().
    explicit Workbook(std::string path, WorkbookOptions options = {});
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    Format* add_format();
    Worksheet& add_worksheet(const std::string& name);
    // Why name cannot be a sheet name of this workbook, or empty when it can.
    std::string sheet_name_fault(const std::string& name) const;
    // Macros: a vbaProject.bin part; the workbook becomes macro-enabled (.xlsm).
    void add_vba_project(const std::string& path);
    void set_properties(DocumentProperties properties);

    // Writes the package. A workbook is closed once; closing again does nothing.
    void close();

private:
    std::unique_ptr<detail::BookState> s_;
};

// "C2" from row 1, column 2; "A1:B3" for a range ("A1" for a single cell).
std::string cell_name(std::uint32_t row, std::uint32_t col);
std::string range_name(CellRange range);
// Row and column of a name such as "C2"; throws Error for anything else.
void parse_cell_name(std::string_view name, std::uint32_t& row, std::uint32_t& col);

}  // namespace igxl::xlsx::writer
