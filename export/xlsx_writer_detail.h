// Internals of the workbook writer shared by the sources of its parts.
#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "export/deflate.h"
#include "export/xlsx_writer.h"
#include "util/platform.h"

namespace igxl::xlsx::writer::detail {

inline constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// ---- XML text ----
// Characters, not bytes.
std::size_t utf8_length(std::string_view s);
// Element text: & < > escaped; control characters Excel refuses become _xHHHH_.
void append_text(std::string& out, std::string_view text);
// Attribute value: as element text, and " escaped too.
void append_attr(std::string& out, std::string_view text);
// Numbers as spreadsheet programs write them: up to 16 significant digits, integers plain.
void append_number(std::string& out, double value);
void append_uint(std::string& out, std::uint64_t value);
void append_column_name(std::string& out, std::uint32_t col);
void append_cell_name(std::string& out, std::uint32_t row, std::uint32_t col);

// ---- XML written through a pointer ----
// A sheet row is made of many small pieces. Room for the most a cell can take is made once, and
// each piece is copied to where the pointer stands rather than appended (and checked) one by one.
template <std::size_t N>
inline char* put(char* p, const char (&literal)[N]) {
    std::memcpy(p, literal, N - 1);
    return p + N - 1;
}
inline char* put(char* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}
// The most bytes each of these writes (a text: this many per byte of it, a control character
// becoming _x00HH_).
inline constexpr std::size_t kMaxUintChars = 20, kMaxNumberChars = 23, kMaxColumnChars = 3, kEscapeGrowth = 7;
char* put_uint(char* p, std::uint64_t value);
char* put_number(char* p, double value);
char* put_column_name(char* p, std::uint32_t col);
char* put_text(char* p, std::string_view text);

// Bytes being made into a part: grown without clearing what it gains, written through room().
class XmlBuffer {
public:
    // At least n bytes to write at the pointer; commit() then names where the writing ended.
    char* room(std::size_t n) {
        if (capacity_ - size_ < n) grow(n);
        return data_.get() + size_;
    }
    void commit(char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    void append(std::string_view s) { commit(put(room(s.size()), s)); }
    std::string_view view() const { return {data_.get(), size_}; }
    std::size_t size() const { return size_; }
    void clear() { size_ = 0; }
    void release() {
        data_.reset();
        size_ = capacity_ = 0;
    }

private:
    void grow(std::size_t n);
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0, capacity_ = 0;
};

// The texts of numbers written lately, found by their bits. A report repeats a few fractional
// values (levels, limits) very many times, and each takes a correctly rounded 16-digit
// conversion to make.
class NumberTexts {
public:
    char* put(char* p, double value);

private:
    struct Entry {
        std::uint64_t bits = ~std::uint64_t(0);  // a NaN: no cell number has these bits
        std::uint8_t size = 0;
        char text[kMaxNumberChars];
    };
    std::array<Entry, 256> entries_{};
};
// Absolute reference with the sheet name, quoted when it needs to be: 'My Sheet'!$A$1:$B$2.
std::string absolute_range(std::string_view sheet, CellRange range);

// ---- styles ----
struct StyleKey {
    bool bold = false;
    std::optional<std::uint32_t> fill;
    std::string number_format;
    bool operator==(const StyleKey&) const = default;
};
StyleKey style_key(const Format& f);

struct Styles {
    std::vector<StyleKey> xfs{StyleKey{}};  // cell formats; 0 is the default
    std::vector<StyleKey> dxfs;             // formats of conditional rules
    // Each format's cell format index once it is known: looked up by address for every cell
    // written, rather than compared by content.
    std::vector<std::pair<const Format*, std::uint32_t>> known;
    std::uint32_t xf_index(const Format* f) {
        if (!f) return 0;
        for (const auto& [format, index] : known)
            if (format == f) return index;
        return add_xf(f);
    }
    std::uint32_t add_xf(const Format* f);
    std::uint32_t dxf_index(const Format* f);
};
std::string styles_xml(const Styles& styles);

// ---- shared strings ----
struct SharedStrings {
    std::unordered_map<std::string, std::uint32_t> index;
    std::vector<const std::string*> order;
    std::uint64_t uses = 0;
    std::uint32_t add(std::string_view text);
};
std::string shared_strings_xml(const SharedStrings& table);

// ---- sheets ----
struct RowSpec {
    double height = kDefaultRowHeight;
    std::uint32_t xf = 0;
    RowOptions options;
    bool set = false;
};

struct SheetCell {
    // kStringView: a text the caller keeps alive until its row is made into XML.
    enum Kind : std::uint8_t { kString, kStringView, kShared, kNumber, kBoolean, kBlank, kError, kFormula };
    union {
        double number;     // number, boolean 0/1, error code, shared string index
        const char* view;  // kStringView
    };
    std::uint32_t text_at;  // string, formula: where in the row's text store
    std::uint32_t text_size;
    std::uint32_t col;
    std::uint32_t xf;
    Kind kind;
};

// A row's cells as they came (a later write to a column replacing the earlier), its texts and
// settings.
struct RowCells {
    RowSpec spec;
    std::vector<SheetCell> cells;
    std::string texts;
    bool sorted = true;
    SheetCell& cell(std::uint32_t c);
    void clear() {
        cells.clear();
        texts.clear();
        sorted = true;
        spec = RowSpec{};
    }
};

struct ColumnSpec {
    std::uint32_t last;
    double width;
    std::uint32_t xf;
};

// Compressed sheet bytes set aside on disk until the package is written, so a finished sheet (or
// the finished stretch of one being written) holds no memory. A scratch file beside the workbook,
// made at its first use and removed with the workbook's state.
class Spool {
public:
    explicit Spool(std::string beside) : beside_(std::move(beside)) {}
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Appends bytes; returns where they start.
    std::uint64_t put(std::string_view bytes);
    // Copies size bytes from offset, in bounded steps, to out.
    template <class Out>
    void copy(std::uint64_t offset, std::uint64_t size, Out&& out) {
        flush();
        std::string buf;
        while (size > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, std::uint64_t(1) << 20));
            buf.resize(n);
            util::read_at(file_, offset, buf.data(), n, name_->temp_path());
            out(std::string_view(buf));
            offset += n;
            size -= n;
        }
    }

private:
    void flush();
    std::string beside_;
    std::unique_ptr<util::AtomicFile> name_;  // never committed: the file goes with the spool
    std::FILE* file_ = nullptr;
    std::uint64_t size_ = 0;
};

struct SheetState {
    BookState* book = nullptr;
    std::string name;
    std::uint32_t number = 0;  // 1-based place in the workbook
    bool selected = false;

    std::unique_ptr<Deflater> body = std::make_unique<Deflater>();
    // Compressed rows set aside in the spool, in order: where each run starts and its size.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spooled;
    std::uint64_t spooled_size = 0;
    XmlBuffer xml;  // made, not yet compressed

    std::int64_t row = -1;  // the current row
    RowCells current;
    std::map<std::uint32_t, RowSpec> later_rows;
    // The first rows, a header filled in while the rows below it are written: kept apart and
    // made into XML with the sheet's head.
    std::vector<RowCells> held;

    bool has_dims = false;
    std::uint32_t min_row = 0, max_row = 0, min_col = 0, max_col = 0;
    std::uint8_t outline_level = 0;

    std::map<std::uint32_t, ColumnSpec> columns;
    bool styled_columns = false;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> frozen;
    std::optional<CellRange> filter;
    bool outline_changed = false;
    bool outline_symbols = true, summary_below = true, summary_right = true, outline_auto_style = false;
    std::vector<CellRange> merged;
    // Conditional rules as set; grouped by their cell range's name when the sheet ends. A report
    // sets one per instance row (tens of thousands): a record each, not a text each.
    struct ConditionalRule {
        CellRange range;
        std::uint32_t dxf = 0;
        std::uint32_t priority = 0;
        bool blanks = false;  // containsBlanks with its formula; else duplicateValues
    };
    std::vector<ConditionalRule> conditional;
    std::uint32_t priority = 0;
    std::vector<std::string> validations;

    bool rows_finished = false;  // rows and what follows them written and compressed
    bool finished = false;
    // Once finished: the compressed head (part.data), then the spooled runs, then rest; the CRC
    // and size in part are those of the whole sheet XML.
    CompressedPart part;
    std::vector<std::string> rest;

    void extend(std::uint32_t r, std::uint32_t c);
    void move_to(std::uint32_t r);
    void emit_row();
    // A row's XML onto out.
    void render_row(XmlBuffer& out, std::uint32_t r, RowCells& cells);
    void emit_spec_only(XmlBuffer& out, std::uint32_t r, const RowSpec& spec);
    std::uint32_t column_xf(std::uint32_t col) const;
    // The cell to fill and the row it is in (whose texts store holds its text).
    RowCells& row_of(std::uint32_t r, std::uint32_t c);
    void maybe_compress();
    void spool(std::vector<std::string> pieces);
    void check_open(const char* what) const;
    // Ends sheetData and writes what follows it; frees the compressor.
    void finish_rows();
    // Adds the head (with the held rows) before the rows; fills part.
    void finish(bool with_vba);
    std::string head_xml(bool with_vba) const;
    void held_rows_xml(XmlBuffer& out);
    // Written into xml, handed to the body a piece at a time: a sheet's rules can run to
    // megabytes.
    void write_tail_xml();
};

struct BookState {
    std::string path;
    WorkbookOptions options;
    std::vector<std::unique_ptr<Format>> formats;
    std::vector<std::unique_ptr<Worksheet>> sheets;
    std::vector<SheetState*> sheet_states;
    Styles styles;
    SharedStrings strings;
    NumberTexts numbers;  // shared by the sheets, which repeat each other's values
    std::string vba;  // the macro project's bytes, when there is one
    DocumentProperties properties;
    std::time_t created = 0;
    bool closed = false;
    std::unique_ptr<Spool> spool;
};

std::string content_types_xml(const BookState& book);
std::string root_rels_xml();
std::string workbook_rels_xml(const BookState& book);
std::string workbook_xml(const BookState& book);
std::string app_xml(const BookState& book);
std::string core_xml(const BookState& book);
std::string theme_xml();

}  // namespace igxl::xlsx::writer::detail
