// Worksheet part: rows turned into XML and compressed as they complete; the head (dimension,
// panes, columns) and the settings after the rows are written when the sheet is finished.
#include <algorithm>
#include <charconv>
#include <cmath>

#include "export/xlsx_writer_detail.h"
#include "util/error.h"

namespace igxl::xlsx::writer {

namespace detail {

namespace {

// Compressed in pieces of this size: big enough for the compressor to work well, small enough
// that a sheet never holds its XML.
constexpr size_t kCompressStep = size_t(1) << 18;
// A finished sheet's compressed rows of at least this size are set aside on disk.
constexpr std::uint64_t kSpoolAtLeast = std::uint64_t(1) << 16;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

const char* error_text(double code) { return code == 0 ? "#NUM!" : "#DIV/0!"; }

// Column width as stored: characters of the default font plus padding, in 1/256 of a
// character, the way Excel itself stores a width typed in.
double stored_width(double width) {
    constexpr double digit = 7, padding = 5;
    if (width <= 0) return 0;
    double pixels = width < 1 ? std::floor(width * (digit + padding) + 0.5)
                              : std::floor(width * digit + 0.5) + padding;
    return std::floor(pixels / digit * 256.0) / 256.0;
}

// The most a row's opening tag and a cell's XML take besides its text.
constexpr std::size_t kMaxRowOpen = 192, kMaxCellOverhead = 128;

char* put_row_open(char* p, std::uint32_t r, const RowSpec& spec) {
    p = put(p, "<row r=\"");
    p = put_uint(p, std::uint64_t(r) + 1);
    *p++ = '"';
    if (spec.xf) {
        p = put(p, " s=\"");
        p = put_uint(p, spec.xf);
        p = put(p, "\" customFormat=\"1\"");
    }
    const bool custom_height = spec.height != kDefaultRowHeight;
    if (custom_height) {
        p = put(p, " ht=\"");
        p = put_number(p, spec.height);
        *p++ = '"';
    }
    if (spec.options.hidden) p = put(p, " hidden=\"1\"");
    if (custom_height) p = put(p, " customHeight=\"1\"");
    if (spec.options.level) {
        p = put(p, " outlineLevel=\"");
        p = put_uint(p, spec.options.level);
        *p++ = '"';
    }
    if (spec.options.collapsed) p = put(p, " collapsed=\"1\"");
    return p;
}

}  // namespace

void SheetState::extend(std::uint32_t r, std::uint32_t c) {
    if (!has_dims) {
        min_row = max_row = r;
        min_col = max_col = c;
        has_dims = true;
        return;
    }
    min_row = std::min(min_row, r);
    max_row = std::max(max_row, r);
    min_col = std::min(min_col, c);
    max_col = std::max(max_col, c);
}

void SheetState::maybe_compress() {
    if (xml.size() < kCompressStep) return;
    body->write(xml.view());
    xml.clear();
    spool(body->take_full());
}

void SheetState::spool(std::vector<std::string> pieces) {
    for (std::string& piece : pieces) {
        if (piece.empty()) continue;
        if (!book->spool) book->spool = std::make_unique<Spool>(book->path);
        const std::uint64_t at = book->spool->put(piece);
        if (!spooled.empty() && spooled.back().first + spooled.back().second == at)
            spooled.back().second += piece.size();
        else
            spooled.emplace_back(at, piece.size());
        spooled_size += piece.size();
        std::string().swap(piece);
    }
}

std::uint32_t SheetState::column_xf(std::uint32_t col) const {
    if (!styled_columns) return 0;
    auto it = columns.upper_bound(col);
    if (it == columns.begin()) return 0;
    --it;
    return col <= it->second.last ? it->second.xf : 0;
}

void SheetState::emit_spec_only(XmlBuffer& out, std::uint32_t r, const RowSpec& s) {
    out.commit(put(put_row_open(out.room(kMaxRowOpen), r, s), "/>"));
    outline_level = std::max(outline_level, s.options.level);
}

SheetCell& RowCells::cell(std::uint32_t c) {
    // Past the last column of cells in order: a new cell at the end. Once out of order, a column
    // may be anywhere and is looked for.
    if (cells.empty() || (sorted && cells.back().col < c)) {
        SheetCell& added = cells.emplace_back();
        added.col = c;
        return added;
    }
    for (SheetCell& existing : cells)
        if (existing.col == c) return existing;
    sorted = false;
    SheetCell& added = cells.emplace_back();
    added.col = c;
    return added;
}

void SheetState::render_row(XmlBuffer& out, std::uint32_t r, RowCells& row) {
    const RowSpec& spec = row.spec;
    if (row.cells.empty()) {
        if (spec.set) emit_spec_only(out, r, spec);
        return;
    }
    outline_level = std::max(outline_level, spec.options.level);
    if (!row.sorted)
        std::stable_sort(row.cells.begin(), row.cells.end(),
                         [](const SheetCell& a, const SheetCell& b) { return a.col < b.col; });
    out.commit(put(put_row_open(out.room(kMaxRowOpen), r, spec), ">"));
    // The row number of every cell name, made once.
    char row_digits[kMaxUintChars];
    const std::string_view row_text(row_digits, static_cast<std::size_t>(put_uint(row_digits, std::uint64_t(r) + 1) - row_digits));
    NumberTexts& numbers = book->numbers;
    for (const SheetCell& c : row.cells) {
        const bool text_cell = c.kind == SheetCell::kString || c.kind == SheetCell::kStringView || c.kind == SheetCell::kFormula;
        char* p = out.room(kMaxCellOverhead + (text_cell ? kEscapeGrowth * c.text_size : 0));
        p = put(p, "<c r=\"");
        p = put_column_name(p, c.col);
        p = put(p, row_text);
        *p++ = '"';
        // A cell without a format of its own shows its row's, else its column's, as Excel does
        // when it saves a sheet.
        const std::uint32_t xf = c.xf ? c.xf : spec.xf ? spec.xf : column_xf(c.col);
        if (xf) {
            p = put(p, " s=\"");
            p = put_uint(p, xf);
            *p++ = '"';
        }
        switch (c.kind) {
            case SheetCell::kString:
            case SheetCell::kStringView: {
                const std::string_view text = c.kind == SheetCell::kString
                                                  ? std::string_view(row.texts.data() + c.text_at, c.text_size)
                                                  : std::string_view(c.view, c.text_size);
                p = is_space(text.front()) || is_space(text.back())
                        ? put(p, " t=\"inlineStr\"><is><t xml:space=\"preserve\">")
                        : put(p, " t=\"inlineStr\"><is><t>");
                p = put_text(p, text);
                p = put(p, "</t></is></c>");
                break;
            }
            case SheetCell::kShared:
                p = put(p, " t=\"s\"><v>");
                p = put_uint(p, static_cast<std::uint64_t>(c.number));
                p = put(p, "</v></c>");
                break;
            case SheetCell::kNumber:
                p = put(p, "><v>");
                p = numbers.put(p, c.number);
                p = put(p, "</v></c>");
                break;
            case SheetCell::kBoolean:
                p = c.number != 0 ? put(p, " t=\"b\"><v>1</v></c>") : put(p, " t=\"b\"><v>0</v></c>");
                break;
            case SheetCell::kBlank:
                p = put(p, "/>");
                break;
            case SheetCell::kFormula:
                p = put(p, "><f>");
                p = put_text(p, std::string_view(row.texts.data() + c.text_at, c.text_size));
                p = put(p, "</f></c>");
                break;
            case SheetCell::kError: {
                const std::string_view error = error_text(c.number);
                p = put(p, " t=\"str\"><f>");
                p = put(p, error);
                p = put(p, "</f><v>");
                p = put(p, error);
                p = put(p, "</v></c>");
                break;
            }
        }
        out.commit(p);
    }
    out.append("</row>");
}

void SheetState::emit_row() {
    if (row < 0) return;
    render_row(xml, static_cast<std::uint32_t>(row), current);
}

void SheetState::move_to(std::uint32_t r) {
    emit_row();
    current.clear();
    while (!later_rows.empty() && later_rows.begin()->first < r) {
        emit_spec_only(xml, later_rows.begin()->first, later_rows.begin()->second);
        later_rows.erase(later_rows.begin());
    }
    row = r;
    if (!later_rows.empty() && later_rows.begin()->first == r) {
        current.spec = later_rows.begin()->second;
        later_rows.erase(later_rows.begin());
    }
    maybe_compress();
}

void SheetState::check_open(const char* what) const {
    if (rows_finished) throw Error(std::string("cannot ") + what + " of the sheet '" + name + "': the sheet is finished");
}

RowCells& SheetState::row_of(std::uint32_t r, std::uint32_t c) {
    check_open("write a cell");
    if (r >= kMaxRows || c >= kMaxColumns)
        throw Error("cannot write a cell of the sheet '" + name + "': row " + std::to_string(r + 1) +
                    ", column " + std::to_string(c + 1) + " is outside a sheet");
    if (r < held.size()) {
        extend(r, c);
        return held[r];
    }
    if (static_cast<std::int64_t>(r) < row)
        throw Error("cannot write the cell " + cell_name(r, c) + " of the sheet '" + name + "': row " +
                    std::to_string(row + 1) + " is already written");
    if (static_cast<std::int64_t>(r) > row) move_to(r);
    extend(r, c);
    return current;
}

void SheetState::held_rows_xml(XmlBuffer& out) {
    for (std::uint32_t r = 0; r < held.size(); ++r) render_row(out, r, held[r]);
    std::vector<RowCells>().swap(held);
}

std::string SheetState::head_xml(bool with_vba) const {
    std::string h(kXmlDeclaration);
    h += "<worksheet xmlns=\"";
    h += kMainNs;
    h += "\" xmlns:r=\"";
    h += kRelNs;
    h += "\">";
    if (outline_changed || with_vba) {
        h += "<sheetPr";
        if (with_vba) {
            h += " codeName=\"Sheet";
            append_uint(h, number);
            h += '"';
        }
        if (outline_changed) {
            h += "><outlinePr";
            if (outline_auto_style) h += " applyStyles=\"1\"";
            if (!summary_below) h += " summaryBelow=\"0\"";
            if (!summary_right) h += " summaryRight=\"0\"";
            if (!outline_symbols) h += " showOutlineSymbols=\"0\"";
            h += "/></sheetPr>";
        } else {
            h += "/>";
        }
    }
    h += "<dimension ref=\"";
    h += has_dims ? range_name({min_row, min_col, max_row, max_col}) : "A1";
    h += "\"/><sheetViews><sheetView";
    if (selected) h += " tabSelected=\"1\"";
    h += " workbookViewId=\"0\"";
    if (!frozen) {
        h += "/>";
    } else {
        const auto [r, c] = *frozen;
        const std::string top_left = cell_name(r, c);
        h += "><pane";
        if (c) {
            h += " xSplit=\"";
            append_uint(h, c);
            h += '"';
        }
        if (r) {
            h += " ySplit=\"";
            append_uint(h, r);
            h += '"';
        }
        h += " topLeftCell=\"" + top_left + "\"";
        if (r && c) {
            h += " activePane=\"bottomRight\" state=\"frozen\"/>";
            h += "<selection pane=\"topRight\" activeCell=\"" + cell_name(0, c) + "\" sqref=\"" + cell_name(0, c) + "\"/>";
            h += "<selection pane=\"bottomLeft\" activeCell=\"" + cell_name(r, 0) + "\" sqref=\"" + cell_name(r, 0) + "\"/>";
            h += "<selection pane=\"bottomRight\"/>";
        } else if (r) {
            h += " activePane=\"bottomLeft\" state=\"frozen\"/><selection pane=\"bottomLeft\"/>";
        } else {
            h += " activePane=\"topRight\" state=\"frozen\"/><selection pane=\"topRight\"/>";
        }
        h += "</sheetView>";
    }
    h += "</sheetViews><sheetFormatPr defaultRowHeight=\"15\"";
    if (outline_level) {
        h += " outlineLevelRow=\"";
        append_uint(h, outline_level);
        h += '"';
    }
    h += "/>";
    if (!columns.empty()) {
        h += "<cols>";
        for (const auto& [first, col] : columns) {
            h += "<col min=\"";
            append_uint(h, first + 1);
            h += "\" max=\"";
            append_uint(h, col.last + 1);
            h += "\" width=\"";
            append_number(h, stored_width(col.width));
            h += '"';
            if (col.xf) {
                h += " style=\"";
                append_uint(h, col.xf);
                h += '"';
            }
            if (col.width != kDefaultColumnWidth) h += " customWidth=\"1\"";
            h += "/>";
        }
        h += "</cols>";
    }
    h += "<sheetData>";
    return h;
}

void SheetState::write_tail_xml() {
    constexpr std::size_t kPiece = std::size_t(1) << 18;
    auto put = [&](std::string_view text) {
        xml.append(text);
        if (xml.size() >= kPiece) {
            body->write(xml.view());
            xml.clear();
        }
    };
    put("</sheetData>");
    if (filter) put("<autoFilter ref=\"" + range_name(*filter) + "\"/>");
    if (!merged.empty()) {
        std::string t = "<mergeCells count=\"";
        append_uint(t, merged.size());
        t += "\">";
        put(t);
        for (const CellRange& r : merged) put("<mergeCell ref=\"" + range_name(r) + "\"/>");
        put("</mergeCells>");
    }
    if (!conditional.empty()) {
        // Grouped by the range's name in text order, each range's rules in the order they were set.
        std::vector<std::string> names;
        names.reserve(conditional.size());
        for (const ConditionalRule& r : conditional) names.push_back(range_name(r.range));
        std::vector<std::uint32_t> order(conditional.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t x, std::uint32_t y) { return names[x] < names[y]; });
        std::string t;
        for (std::size_t k = 0; k < order.size(); ++k) {
            const std::string& name = names[order[k]];
            t.clear();
            if (k == 0 || names[order[k - 1]] != name) t += "<conditionalFormatting sqref=\"" + name + "\">";
            const ConditionalRule& r = conditional[order[k]];
            t += r.blanks ? "<cfRule type=\"containsBlanks\" dxfId=\"" : "<cfRule type=\"duplicateValues\" dxfId=\"";
            append_uint(t, r.dxf);
            t += "\" priority=\"";
            append_uint(t, r.priority);
            // Relative to the range's top-left cell, so each cell tests itself.
            if (r.blanks)
                t += "\"><formula>LEN(TRIM(" + cell_name(r.range.first_row, r.range.first_col) +
                     "))=0</formula></cfRule>";
            else
                t += "\"/>";
            if (k + 1 == order.size() || names[order[k + 1]] != name) t += "</conditionalFormatting>";
            put(t);
        }
    }
    if (!validations.empty()) {
        std::string t = "<dataValidations count=\"";
        append_uint(t, validations.size());
        t += "\">";
        put(t);
        for (const std::string& v : validations) put(v);
        put("</dataValidations>");
    }
    put("<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" footer=\"0.3\"/>");
    put("</worksheet>");
}

void SheetState::finish_rows() {
    if (rows_finished) return;
    move_to(kMaxRows);  // writes the last row and every row set after it
    row = kMaxRows;
    write_tail_xml();
    body->write(xml.view());
    xml.release();
    body->finish();
    // A sheet that already spilled, or a large last stretch, goes to the spool whole; a small
    // sheet stays in memory rather than making a scratch file.
    if (!spooled.empty() || body->out_size() >= kSpoolAtLeast) spool(body->take_out());
    rows_finished = true;
}

void SheetState::finish(bool with_vba) {
    if (finished) return;
    finish_rows();
    // The head is made last: it holds what is known only at the end (the dimension, the columns,
    // the code name a macro project gives each sheet).
    Deflater head;
    // The held rows first: they may raise the outline level the head names.
    XmlBuffer held_xml;
    held_rows_xml(held_xml);
    head.write(head_xml(with_vba));
    head.write(held_xml.view());
    head.flush_open();
    part.crc = crc32_combine(head.crc(), body->crc(), body->in_size());
    part.size = head.in_size() + body->in_size();
    part.data = head.take_out();
    rest = body->take_out();
    body.reset();
    finished = true;
}

}  // namespace detail

using detail::SheetCell;

Worksheet::Worksheet(std::unique_ptr<detail::SheetState> state) : s_(std::move(state)) {}
Worksheet::~Worksheet() = default;

const std::string& Worksheet::name() const { return s_->name; }

void Worksheet::finish() { s_->finish_rows(); }

void Worksheet::write_string(std::uint32_t row, std::uint32_t col, std::string_view text, const Format* format) {
    if (text.empty()) {
        write_blank(row, col, format);
        return;
    }
    if (text.size() > kMaxCellChars && detail::utf8_length(text) > kMaxCellChars)
        throw Error("cannot write the cell " + cell_name(row, col) + " of the sheet '" + s_->name +
                    "': a cell holds at most 32767 characters");
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    detail::RowCells& r = s_->row_of(row, col);
    SheetCell& c = r.cell(col);
    c.xf = xf;
    if (s_->book->options.shared_strings) {
        c.kind = SheetCell::kShared;
        c.number = s_->book->strings.add(text);
        return;
    }
    c.kind = SheetCell::kString;
    c.text_at = static_cast<std::uint32_t>(r.texts.size());
    c.text_size = static_cast<std::uint32_t>(text.size());
    r.texts += text;
}

void Worksheet::write_string_unowned(std::uint32_t row, std::uint32_t col, std::string_view text,
                                     const Format* format) {
    if (s_->book->options.shared_strings || text.empty() || text.size() > kMaxCellChars ||
        row < s_->held.size()) {
        write_string(row, col, text, format);
        return;
    }
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    SheetCell& c = s_->row_of(row, col).cell(col);
    c.xf = xf;
    c.kind = SheetCell::kStringView;
    c.view = text.data();
    c.text_size = static_cast<std::uint32_t>(text.size());
}

void Worksheet::write_number(std::uint32_t row, std::uint32_t col, double value, const Format* format) {
    if (!std::isfinite(value)) {
        write_error(row, col, std::isnan(value) ? ErrorValue::num : ErrorValue::div0, format);
        return;
    }
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    SheetCell& c = s_->row_of(row, col).cell(col);
    c.kind = SheetCell::kNumber;
    c.xf = xf;
    c.number = value;
}

void Worksheet::write_boolean(std::uint32_t row, std::uint32_t col, bool value, const Format* format) {
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    SheetCell& c = s_->row_of(row, col).cell(col);
    c.kind = SheetCell::kBoolean;
    c.xf = xf;
    c.number = value ? 1 : 0;
}

void Worksheet::write_blank(std::uint32_t row, std::uint32_t col, const Format* format) {
    if (!format) return;
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    SheetCell& c = s_->row_of(row, col).cell(col);
    c.kind = SheetCell::kBlank;
    c.xf = xf;
}

void Worksheet::write_error(std::uint32_t row, std::uint32_t col, ErrorValue error, const Format* format) {
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    SheetCell& c = s_->row_of(row, col).cell(col);
    c.kind = SheetCell::kError;
    c.xf = xf;
    c.number = error == ErrorValue::num ? 0 : 1;
}

void Worksheet::write_formula(std::uint32_t row, std::uint32_t col, std::string_view formula, const Format* format) {
    if (!formula.empty() && formula.front() == '=') formula.remove_prefix(1);
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    detail::RowCells& r = s_->row_of(row, col);
    SheetCell& c = r.cell(col);
    c.kind = SheetCell::kFormula;
    c.xf = xf;
    c.text_at = static_cast<std::uint32_t>(r.texts.size());
    c.text_size = static_cast<std::uint32_t>(formula.size());
    r.texts += formula;
}

void Worksheet::hold_first_rows(std::uint32_t count) {
    detail::SheetState& s = *s_;
    s.check_open("hold rows");
    if (s.row >= 0 || !s.later_rows.empty() || !s.held.empty() || count >= kMaxRows)
        throw Error("cannot hold the first rows of the sheet '" + s.name + "': rows are already written");
    s.held.resize(count);
}

void Worksheet::merge_range(CellRange range, std::string_view text, const Format* format) {
    s_->check_open("merge cells");
    if (range.first_row > range.last_row || range.first_col > range.last_col || range.last_row >= kMaxRows ||
        range.last_col >= kMaxColumns)
        throw Error("cannot merge cells of the sheet '" + s_->name + "': the range is outside a sheet or ends before it starts");
    write_string(range.first_row, range.first_col, text, format);
    if (format)
        for (std::uint32_t c = range.first_col + 1; c <= range.last_col; ++c) write_blank(range.first_row, c, format);
    s_->extend(range.last_row, range.last_col);
    s_->merged.push_back(range);
}

void Worksheet::set_row(std::uint32_t row, double height, const Format* format, RowOptions options) {
    detail::SheetState& s = *s_;
    s.check_open("set a row");
    if (row >= kMaxRows) throw Error("cannot set row " + std::to_string(row + 1) + " of the sheet '" + s.name + "'");
    if (row >= s.held.size() && static_cast<std::int64_t>(row) < s.row)
        throw Error("cannot set row " + std::to_string(row + 1) + " of the sheet '" + s.name + "': row " +
                    std::to_string(s.row + 1) + " is already written");
    if (options.level > 7) options.level = 7;
    detail::RowSpec spec{height, s.book->styles.xf_index(format), options, true};
    s.extend(row, s.has_dims ? s.min_col : 0);
    if (row < s.held.size())
        s.held[row].spec = spec;
    else if (static_cast<std::int64_t>(row) == s.row)
        s.current.spec = spec;
    else
        s.later_rows[row] = spec;
}

void Worksheet::set_column(std::uint32_t first, std::uint32_t last, double width, const Format* format) {
    if (first > last) std::swap(first, last);
    if (last >= kMaxColumns)
        throw Error("cannot set column " + std::to_string(last + 1) + " of the sheet '" + s_->name + "'");
    const std::uint32_t xf = s_->book->styles.xf_index(format);
    s_->columns[first] = detail::ColumnSpec{last, width, xf};
    if (xf) s_->styled_columns = true;
}

void Worksheet::freeze_panes(std::uint32_t row, std::uint32_t col) {
    if (row == 0 && col == 0)
        s_->frozen.reset();
    else
        s_->frozen = std::make_pair(row, col);
}

void Worksheet::autofilter(CellRange range) {
    s_->check_open("set the autofilter");
    if (range.last_row >= kMaxRows || range.last_col >= kMaxColumns)
        throw Error("cannot set the autofilter of the sheet '" + s_->name + "': the range is outside a sheet");
    s_->filter = range;
    s_->extend(range.last_row, range.last_col);
}

void Worksheet::outline_settings(bool symbols_visible, bool summary_below, bool summary_right, bool auto_style) {
    s_->outline_symbols = symbols_visible;
    s_->summary_below = summary_below;
    s_->summary_right = summary_right;
    s_->outline_auto_style = auto_style;
    s_->outline_changed = !symbols_visible || !summary_below || !summary_right || auto_style;
}

namespace {
void check_range(const detail::SheetState& s, const CellRange& r, const char* what) {
    if (r.first_row > r.last_row || r.first_col > r.last_col || r.last_row >= kMaxRows || r.last_col >= kMaxColumns)
        throw Error(std::string("cannot set ") + what + " of the sheet '" + s.name + "': " +
                    "the range is outside a sheet or ends before it starts");
}
}  // namespace

void Worksheet::highlight_duplicates(CellRange range, const Format* format) {
    s_->check_open("set a conditional format");
    check_range(*s_, range, "a conditional format");
    s_->conditional.push_back({range, s_->book->styles.dxf_index(format), ++s_->priority, false});
}

void Worksheet::highlight_blanks(CellRange range, const Format* format) {
    s_->check_open("set a conditional format");
    check_range(*s_, range, "a conditional format");
    s_->conditional.push_back({range, s_->book->styles.dxf_index(format), ++s_->priority, true});
}

void Worksheet::list_validation(CellRange range, const std::vector<std::string>& values) {
    s_->check_open("set a drop-down list");
    check_range(*s_, range, "a drop-down list");
    std::string list;
    for (const std::string& v : values) {
        if (v.find(',') != std::string::npos)
            throw Error("cannot set a drop-down list of the sheet '" + s_->name + "': the value '" + v +
                        "' holds a comma");
        if (!list.empty()) list += ',';
        list += v;
    }
    // Excel refuses a list longer than this.
    if (detail::utf8_length(list) > 255)
        throw Error("cannot set a drop-down list of the sheet '" + s_->name + "': its values pass 255 characters");
    std::string v = "<dataValidation type=\"list\" allowBlank=\"1\" showInputMessage=\"1\" showErrorMessage=\"1\" sqref=\"";
    v += range_name(range);
    v += "\"><formula1>\"";
    detail::append_text(v, list);
    v += "\"</formula1></dataValidation>";
    s_->validations.push_back(std::move(v));
}

}  // namespace igxl::xlsx::writer
