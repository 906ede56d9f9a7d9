// Internals of the XLSX reader shared by its files: the opened workbook (parts, shared strings,
// styles), the row sink a sheet's cells are handed to, and small XML attribute helpers.
#pragma once
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/xlsx.h"
#include "export/xlsx_detail.h"
#include "export/xlsx_package.h"
#include "export/xml_scan.h"

namespace igxl::detail {

// One decoded cell: text points into the decoder's buffers and lives until the next cell.
struct CellValue {
    xlsx::Cell::Kind kind = xlsx::Cell::Empty;
    std::string_view text;
    double number = 0;
    bool boolean = false;
    bool unbroken = false;  // text known to hold no tab, LF or CR (a sink may skip its check)
};

// Where the cell decoder delivers a sheet: the text export and the row reader.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void begin_row(uint32_t row) = 0;  // 1-based
    virtual void cell(uint32_t col, const CellValue& v) = 0;  // 1-based
    virtual void end_row() = 0;
    virtual void merge(const xlsx::Range& r) = 0;
    // The last column and row the sheet declares: hints only, never trusted for the result.
    virtual void dimension(uint32_t /*last_col*/, uint32_t /*last_row*/) {}
    // Whether CellValue::number of plain numbers is used (the text export needs only the text).
    virtual bool wants_numbers() const { return false; }
};

inline std::string_view attr(XmlAttrs attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name) return a.value;
    return {};
}

inline bool has_attr(XmlAttrs attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name) return true;
    return false;
}

inline void append_text(std::string& out, std::string_view s, XmlText kind) {
    if (kind == XmlText::Plain) out.append(s);
    else if (kind == XmlText::Escaped) append_xml_text(out, s);
    else append_xml_cdata(out, s);
}

template <class T>
bool to_uint(std::string_view s, T& v) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

}  // namespace igxl::detail

namespace igxl::xlsx {

struct Workbook::Impl {
    struct Sheet {
        std::string name, part;
    };
    detail::Package pkg;
    std::vector<Sheet> sheets;
    std::vector<std::string> names;
    // Shared strings live in one pool; string i is sst_pool[sst_off[i], sst_off[i+1]).
    std::string sst_pool;
    std::vector<uint64_t> sst_off{0};
    // Per shared string: 1 when it holds no tab, LF or CR (its field text needs no check).
    std::vector<uint8_t> sst_unbroken;
    std::vector<detail::DateKind> xf_kind;
    bool date1904 = false;
    std::string vba_part;  // the macro project, "" when there is none

    ExportOptions options;

    Impl(const std::string& path, const ExportOptions& opts) : pkg(path, opts.max_unpacked), options(opts) { open(); }

    [[noreturn]] void fail(const std::string& why) const {
        throw Error("cannot read workbook '" + pkg.path() + "': " + why);
    }

    const Sheet& sheet(const std::string& name) const {
        for (const auto& s : sheets)
            if (s.name == name) return s;
        fail("no worksheet named '" + name + "'");
    }

    // Reads the workbook part, its relationships, the shared strings and the styles.
    void open();
    // Decodes the cells of one sheet into sink, read through from (pkg when null).
    void read_sheet(const std::string& name, detail::RowSink& sink, const detail::Package* from = nullptr) const;
};

}  // namespace igxl::xlsx
