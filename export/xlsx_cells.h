// The cell decoder: walks the XML of one sheet part and turns each cell record (shared string,
// inline string, number, date, boolean, error, formula) into its field text for a row sink.
// A template on the sink, so the sheet text writer's calls for every cell are direct.
#pragma once
#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <unordered_map>

#include "export/xlsx_impl.h"
#include "util/text.h"

namespace igxl::xlsx {

// Internals of the decoder; the names it uses unqualified are brought in here only.
namespace cells {

namespace detail = igxl::detail;
using detail::append_text;
using detail::attr;
using detail::CellValue;
using detail::DateKind;
using detail::has_attr;
using detail::RowSink;
using detail::to_uint;
using detail::XmlAttr;
using detail::XmlAttrs;
using Scan = detail::XmlScanner;

// A tag of up to 16 bytes, as its text and as two little-endian words with the masks of its
// bytes, made at compile time from a literal.
struct Tag16 {
    char text[16] = {};
    size_t n = 0;
    uint64_t lo = 0, hi = 0, mask_lo = 0, mask_hi = 0;
    template <size_t N>
    consteval Tag16(const char (&w)[N]) : n(N - 1) {
        static_assert(N - 1 <= 16);
        for (size_t i = 0; i < N - 1; ++i) {
            text[i] = w[i];
            uint64_t byte = static_cast<unsigned char>(w[i]);
            uint64_t& word = i < 8 ? lo : hi;
            uint64_t& mask = i < 8 ? mask_lo : mask_hi;
            word |= byte << (8 * (i % 8));
            mask |= uint64_t(0xff) << (8 * (i % 8));
        }
    }
};

// Walks the cells of one sheet part and hands finished field values to a sink: a RowSink, or a
// final class of one, whose calls on every cell are then direct.
template <class Sink>
class SheetHandler {
public:
    SheetHandler(const Workbook::Impl& wb, const std::string& sheet, Sink& sink)
        : wb_(wb), sheet_(sheet), sink_(sink), numbers_(sink.wants_numbers()) {}

    bool capturing() const { return cap_ != nullptr; }
    bool unfinished() const { return in_data_; }
    void on_text(std::string_view s, detail::XmlText kind) {
        append_text(*cap_, s, kind);
        // A cell's text becomes one field of a line: the line limit bounds it too.
        if (cap_->size() > wb_.options.max_line_length)
            throw BadInputError(wb_.pkg.path(), "cannot read workbook '" + wb_.pkg.path() + "': sheet '" + sheet_ +
                                                    "', cell " + cell_name() + " holds more than " +
                                                    limit_text(wb_.options.max_line_length));
    }

    // The common cell records in one step, without the attribute list and text captures of
    // the generic path: <c> with only r, s and t attributes, then nothing, a value, a formula
    // without attributes (and perhaps a value), or an inline string, each free of entities and
    // CRs. p is a '<' with the scanner's readable padding after e. Returns the bytes taken, 0
    // to leave the record to the generic path (anything else, or cut off at e).
    size_t fast_tag(const char* p, const char* e) {
        if (e - p < 4 || p[1] != 'c' || p[2] != ' ') return 0;
        // Inside a row of the cell data, outside any cell, capture and phonetic run: one test.
        if (!(in_row_ & in_data_) | in_cell_ | (cap_ != nullptr) | (rph_ != 0)) return 0;
        const char* q = p + 2;
        std::string_view ref, s, t;
        while (*q == ' ') {
            if (e - q < 4 || q[2] != '=' || q[3] != '"') return 0;
            const char* v0 = q + 4;
            const char* v1 = detail::XmlScanner::find_char(v0, e, '"');
            if (!v1) return 0;
            std::string_view val(v0, static_cast<size_t>(v1 - v0));
            if (q[1] == 'r') ref = val;
            else if (q[1] == 's') s = val;
            else if (q[1] == 't') t = val;
            else return 0;
            q = v1 + 1;
            if (q == e) return 0;
        }
        bool empty = false;
        if (*q == '/') {
            if (e - q < 2 || q[1] != '>') return 0;
            empty = true;
            q += 2;
        } else if (*q == '>') {
            ++q;
        } else {
            return 0;
        }
        std::string_view v, f, is;
        bool has_v = false, has_f = false, has_is = false;
        unsigned f_flags = 0, is_flags = 0, v_flags = 0;
        if (!empty) {
            if (starts<"<f>">(q, e)) {
                if (!element_text<true, "</f>">(q, e, 3, f, f_flags) || f.empty()) return 0;
                has_f = true;
            }
            if (starts<"<v>">(q, e)) {
                if (!element_text<false, "</v>">(q, e, 3, v, v_flags)) return 0;
                has_v = true;
            } else if (!has_f && starts<"<is><t>">(q, e)) {
                if (!element_text<true, "</t></is>">(q, e, 7, is, is_flags)) return 0;
                has_is = true;
            }
            if (!starts<"</c>">(q, e)) return 0;
            q += 4;
        }
        open_cell(ref, s, t);
        size_t used = static_cast<size_t>(q - p);
        if (has_f) {
            // What finish_cell makes of a formula that is not shared, without its copies.
            in_cell_ = false;
            if (f.size() < 16) {
                // '=' and the formula made in one store: the writer's wide loads of what was
                // just stored bytewise would wait for those stores to reach memory.
                Scan::copy16_with_first(f.data() - 1, '=', num_);
                hand_on(Cell::Formula, {num_, f.size() + 1}, f_flags);
                return used;
            }
            f_.assign(1, '=');
            f_.append(f);
            hand_on(Cell::Formula, f_, f_flags);
            return used;
        }
        if (has_is && type_ == 'i' && !(is_flags & Scan::kTextUx)) {
            // An inline string without _xHHHH_ escapes is its field text as it stands.
            in_cell_ = false;
            hand_on(Cell::Text, is, is_flags);
            return used;
        }
        has_v_ = has_v;
        if (has_is) {
            has_is_ = true;
            is_.assign(is);
        }
        finish_cell(v);
        return used;
    }

    void on_start(std::string_view name, XmlAttrs a) {
        switch (name.size()) {
            case 1:
                if (name[0] == 'c') {
                    if (in_data_) start_cell(a);
                    return;
                }
                if (!in_cell_) return;
                if (name[0] == 'v') {
                    v_.clear();
                    has_v_ = true;
                    cap_ = &v_;
                } else if (name[0] == 'f') {
                    f_.clear();
                    has_f_ = true;
                    std::string_view t = attr(a, "t");
                    f_shared_ = t == "shared";
                    f_si_ = -1;
                    f_master_ = false;
                    if (f_shared_) {
                        to_uint(attr(a, "si"), f_si_);
                        f_master_ = has_attr(a, "ref");
                    }
                    cap_ = &f_;
                } else if (name[0] == 't' && in_is_ && rph_ == 0) {
                    cap_ = &is_;
                }
                return;
            case 2:
                if (name == "is" && in_cell_) {
                    in_is_ = true;
                    has_is_ = true;
                    is_.clear();
                }
                return;
            case 3:
                if (name == "row") {
                    if (!in_data_) return;
                    uint32_t r;
                    begin_row(to_uint(attr(a, "r"), r) && r >= 1 ? r : row_ + 1);
                } else if (name == "rPh") {
                    ++rph_;
                }
                return;
            case 9:
                if (name == "sheetData") in_data_ = true;
                else if (name == "mergeCell") merge(attr(a, "ref"));
                else if (name == "dimension") dimension(attr(a, "ref"));
                return;
            default:
                return;
        }
    }

    void on_end(std::string_view name) {
        switch (name.size()) {
            case 1:
                if (name[0] == 'c') {
                    if (in_cell_) finish_cell(v_);
                } else {
                    cap_ = nullptr;
                    if (name[0] == 'f' && in_cell_ && f_shared_ && f_master_ && f_si_ >= 0 && !f_.empty())
                        masters_[f_si_] = {f_, row_, col_};
                }
                return;
            case 2:
                if (name == "is") in_is_ = false;
                return;
            case 3:
                if (name == "row" && in_row_) {
                    in_row_ = false;
                    sink_.end_row();
                } else if (name == "rPh") {
                    --rph_;
                }
                return;
            case 9:
                if (name == "sheetData") in_data_ = false;
                return;
            default:
                return;
        }
    }

private:
    // A cell the fast path finished: its field text, and what the scan of its XML text found
    // (tabs and line breaks are seen there, rather than in the writer's fresh copy).
    void hand_on(Cell::Kind kind, std::string_view text, unsigned flags) {
        CellValue cv;
        cv.kind = kind;
        cv.text = text;
        cv.unbroken = !(flags & Scan::kTextBreak);
        sink_.cell(col_, cv);
    }

    void start_cell(XmlAttrs a) {
        if (!in_row_) {
            // A cell outside any row element: its own reference names the row.
            uint32_t c, r;
            begin_row(detail::parse_cell_ref(attr(a, "r"), c, r) ? r : row_ + 1);
        }
        // One pass over the attributes: this runs for every cell of the sheet.
        std::string_view ref, s, t;
        for (const XmlAttr& at : a) {
            if (at.name.size() != 1) continue;
            if (at.name[0] == 'r') ref = at.value;
            else if (at.name[0] == 's') s = at.value;
            else if (at.name[0] == 't') t = at.value;
        }
        open_cell(ref, s, t);
    }

    void open_cell(std::string_view ref, std::string_view s, std::string_view t) {
        in_cell_ = true;
        has_v_ = has_f_ = has_is_ = in_is_ = false;
        uint32_t c;
        col_ = !ref.empty() && cell_column(ref, c) ? c : next_col_;
        next_col_ = col_ + 1;
        style_ = 0;
        if (!s.empty()) to_uint(s, style_);  // an empty s="" means the default style
        type_ = 'n';
        if (t.size() == 1) {
            if (t[0] == 's' || t[0] == 'b' || t[0] == 'e' || t[0] == 'd') type_ = t[0];
        } else if (t == "inlineStr") {
            type_ = 'i';
        } else if (t == "str") {
            type_ = 'S';
        }
    }

    void begin_row(uint32_t row) {
        row_ = row;
        next_col_ = 1;
        in_row_ = true;
        auto r = std::to_chars(row_digits_, row_digits_ + sizeof row_digits_, row);
        row_len_ = static_cast<uint8_t>(r.ptr - row_digits_);
        sink_.begin_row(row);
    }

    // The column of a cell reference, with the checks of parse_cell_ref. Cells name their own
    // row, so the row digits are usually those of the row element: compared, not parsed, as
    // one word (ref lies in the scanner's buffer, so 8 bytes from any of its bytes are readable).
    bool cell_column(std::string_view ref, uint32_t& col) const {
        const char* p = ref.data();
        const char* e = p + ref.size();
        uint32_t c = 0;
        for (int n = 0; p < e && n < 3; ++p, ++n) {
            unsigned l = static_cast<unsigned>(static_cast<unsigned char>(*p) | 0x20) - 'a';
            if (l >= 26) break;
            c = c * 26 + l + 1;
        }
        if (p > ref.data() && c <= 16384 && row_ <= 1048576 && static_cast<size_t>(e - p) == row_len_) {
            bool same;
            if constexpr (std::endian::native == std::endian::little) {
                uint64_t a, b;
                std::memcpy(&a, p, 8);
                std::memcpy(&b, row_digits_, 8);
                same = ((a ^ b) & ((uint64_t(1) << (8 * row_len_)) - 1)) == 0;  // row_len_ <= 7 here
            } else {
                same = std::memcmp(p, row_digits_, row_len_) == 0;
            }
            if (same) {
                col = c;
                return true;
            }
        }
        uint32_t r;
        return detail::parse_cell_ref(ref, col, r);
    }

    void dimension(std::string_view ref) {
        size_t colon = ref.find(':');
        uint32_t c, r;
        if (detail::parse_cell_ref(colon == std::string_view::npos ? ref : ref.substr(colon + 1), c, r))
            sink_.dimension(c, r);
    }

    void merge(std::string_view ref) {
        size_t colon = ref.find(':');
        uint32_t c1, r1, c2, r2;
        if (colon == std::string_view::npos) return;
        if (!detail::parse_cell_ref(ref.substr(0, colon), c1, r1) ||
            !detail::parse_cell_ref(ref.substr(colon + 1), c2, r2))
            return;
        Range rg{std::min(r1, r2) - 1, std::min(c1, c2) - 1, std::max(r1, r2) - 1, std::max(c1, c2) - 1};
        sink_.merge(rg);
    }

    // Whether the bytes at q, before e, begin with the tag W. q lies in the scanner's buffer, so
    // the 16 bytes from q are readable: compared as two words, not byte by byte.
    template <Tag16 W>
    static bool starts(const char* q, const char* e) {
        if (e - q < static_cast<ptrdiff_t>(W.n)) return false;
        if constexpr (std::endian::native == std::endian::little) {
            uint64_t lo, hi;
            std::memcpy(&lo, q, 8);
            std::memcpy(&hi, q + 8, 8);
            return ((lo ^ W.lo) & W.mask_lo) == 0 && ((hi ^ W.hi) & W.mask_hi) == 0;
        } else {
            return std::memcmp(q, W.text, W.n) == 0;
        }
    }
    // The text after the open tag at q (open bytes long) up to the close tag, which must follow
    // it; q moves past the close tag; flags: what the scan saw in the text (Scan::kText...).
    // False for text with an entity or a CR, longer than a line may be, or not whole before e.
    template <bool Texts, Tag16 Close>
    bool element_text(const char*& q, const char* e, size_t open, std::string_view& text, unsigned& flags) const {
        const char* t0 = q + open;
        const char* t1 = Scan::find_text_end_flags<Texts>(t0, e, flags);
        if (!t1 || (flags & Scan::kTextEscaped) || !starts<Close>(t1, e)) return false;
        if (static_cast<size_t>(t1 - t0) > wb_.options.max_line_length) return false;
        text = {t0, static_cast<size_t>(t1 - t0)};
        q = t1 + Close.n;
        return true;
    }

    std::string cell_name() const {
        std::string n;
        detail::append_column_letters(n, col_);
        return n + std::to_string(row_);
    }

    // A decimal that repr_decimal_text would give back unchanged: [-]I.F with I "0" or without
    // leading zeros, F ending in a non-zero digit, at most 15 significant digits, and for
    // I "0" at most three zeros after the point (smaller numbers take an exponent). The text
    // ends at e; set_number has found its integer digits I, from i0 to the point.
    static bool canonical_decimal(const char* i0, const char* point, const char* e) {
        size_t ni = static_cast<size_t>(point - i0);
        if (ni == 0 || (ni > 1 && *i0 == '0')) return false;
        const char* p = point;
        const char* f0 = ++p;
        while (p < e && static_cast<unsigned>(*p - '0') <= 9) ++p;
        if (p != e || p == f0 || e[-1] == '0') return false;
        size_t nf = static_cast<size_t>(e - f0);
        if (ni == 1 && *i0 == '0') {
            size_t z = 0;
            while (f0[z] == '0') ++z;
            return z <= 3 && nf - z <= 15;
        }
        return ni + nf <= 15;
    }

    // A number in exponent form that repr_decimal_text would give back with only its 'E'
    // lowered: [-]D[.F]E(+|-)X with D a non-zero digit, F not ending in zero, at most 15
    // digits, and X two digits (three without a leading zero from 100 to 300) for an exponent
    // below -4 or from 16 on (nearer ones are written without). What most writers store. The
    // text ends at e; set_number has found its integer digits, from m0 to p (the '.' or 'E').
    static bool canonical_scientific(const char* m0, const char* p, const char* e) {
        if (p - m0 != 1 || e - m0 < 5 || static_cast<unsigned>(*m0 - '1') > 8) return false;
        if (*p == '.') {
            const char* f0 = ++p;
            while (p < e && static_cast<unsigned>(*p - '0') <= 9) ++p;
            if (p == f0 || p[-1] == '0' || p - m0 - 1 > 15) return false;
        }
        if (e - p < 4 || *p != 'E' || (p[1] != '-' && p[1] != '+')) return false;
        const bool neg = p[1] == '-';
        p += 2;
        int x = 0;
        const size_t nx = static_cast<size_t>(e - p);
        if (nx != 2 && nx != 3) return false;
        for (; p < e; ++p) {
            if (static_cast<unsigned>(*p - '0') > 9) return false;
            x = x * 10 + (*p - '0');
        }
        if ((nx == 2) != (x < 100) || x > 300) return false;
        return neg ? x > 4 : x >= 16;
    }

    static bool point_or_exponent(std::string_view v) {
        for (char c : v)
            if (c == '.' || c == 'e' || c == 'E') return true;
        return false;
    }

    // An integer with a sign or leading zeros: its digits are the field, no float parse needed.
    bool set_integer(CellValue& cv, std::string_view v) {
        if (!detail::canonical_integer(v, out_)) return false;
        cv.kind = Cell::Number;
        cv.text = out_;
        if (numbers_) {
            double n = 0;
            for (char c : out_)
                if (c != '-') n = n * 10 + (c - '0');
            cv.number = out_[0] == '-' ? -n : n;
        }
        return true;
    }
    // A canonical_scientific text: as stored, with the exponent's letter lowered.
    void set_scientific(CellValue& cv, std::string_view v) {
        if (v.data() != v_.data()) {
            // In the scanner's buffer, 32 bytes readable: copied in whole 16-byte stores, so
            // the writer's loads of the text are served from them.
            Scan::copy32_lowering_e(v.data(), num_);
        } else {
            std::memcpy(num_, v.data(), v.size());
            num_[v.find('E')] = 'e';
        }
        cv.kind = Cell::Number;
        cv.text = {num_, v.size()};
        if (numbers_) std::from_chars(v.data(), v.data() + v.size(), cv.number);
    }

    void set_number(CellValue& cv, std::string_view v) {
        DateKind dk0 = style_ < wb_.xf_kind.size() ? wb_.xf_kind[style_] : DateKind::None;
        if (dk0 == DateKind::None) {
            // One pass over the sign and the leading digits tells which of the stored forms
            // below the text can be; each is then checked alone.
            const char* b = v.data();
            const char* e = b + v.size();
            const char* d0 = b + (b < e && *b == '-');
            const char* p = d0;
            while (p < e && static_cast<unsigned>(*p - '0') <= 9) ++p;
            const size_t nint = static_cast<size_t>(p - d0);
            if (p == e) {
                if (d0 == b && nint >= 1 && nint <= 15 && (*d0 != '0' || nint == 1)) {
                    // The most common number: already written as its field text.
                    cv.kind = Cell::Number;
                    cv.text = v;
                    if (numbers_) {
                        double n = 0;
                        for (char c : v) n = n * 10 + (c - '0');
                        cv.number = n;
                    }
                    return;
                }
                if (v.size() <= 15 && set_integer(cv, v)) return;
            } else if (*p == '.') {
                if (canonical_decimal(d0, p, e)) {
                    // Written as the field text already (what most writers store).
                    cv.kind = Cell::Number;
                    cv.text = v;
                    if (numbers_) std::from_chars(v.data(), v.data() + v.size(), cv.number);
                    return;
                }
                if (canonical_scientific(d0, p, e)) return set_scientific(cv, v);
            } else if (*p == 'E') {
                if (canonical_scientific(d0, p, e)) return set_scientific(cv, v);
            } else if (v.size() <= 15 && !point_or_exponent(v) && set_integer(cv, v)) {
                return;  // "+12" and the like
            }
            // Most stored decimals are short enough to give their field text without a
            // binary round trip; the value itself is parsed only for readers that use it.
            if (size_t n = detail::repr_decimal_text(v, num_)) {
                cv.kind = Cell::Number;
                cv.text = {num_, n};
                if (numbers_) std::from_chars(v.data(), v.data() + v.size(), cv.number);
                return;
            }
        }
        double d = 0;
        const char* b = v.data();
        const char* e = b + v.size();
        auto r = std::from_chars(b, e, d);
        if (r.ec != std::errc() || r.ptr != e) {
            // Not a number after all: keep what the file says.
            cv.kind = Cell::Text;
            cv.text = v;
            return;
        }
        cv.kind = Cell::Number;
        cv.number = d;
        DateKind dk = style_ < wb_.xf_kind.size() ? wb_.xf_kind[style_] : DateKind::None;
        if (dk != DateKind::None) {
            cv.kind = Cell::Date;
            if (!detail::format_serial_date(d, wb_.date1904, dk, out_)) {
                cv.kind = Cell::Error;
                out_ = "#VALUE!";
            }
            cv.text = out_;
            return;
        }
        if (!point_or_exponent(v) && detail::canonical_integer(v, out_)) {
            cv.text = out_;
            return;
        }
        size_t n = util::format_double_to(d, num_);
        cv.text = {num_, n};
    }

    // v: the value text, in v_ or (from the fast lane) in the scanner's buffer.
    void finish_cell(std::string_view v) {
        in_cell_ = false;
        cap_ = nullptr;
        CellValue cv;
        if (has_f_) {
            if (f_.empty() && f_shared_ && f_si_ >= 0) {
                auto it = masters_.find(f_si_);
                if (it != masters_.end())
                    detail::shift_formula(it->second.text, int64_t(row_) - it->second.row,
                                          int64_t(col_) - it->second.col, f_);
            }
            if (!f_.empty()) {
                f_.insert(f_.begin(), '=');
                cv.kind = Cell::Formula;
                cv.text = f_;
                sink_.cell(col_, cv);
                return;
            }
        }
        switch (type_) {
            case 's': {
                if (!has_v_ || v.empty()) break;
                size_t i;
                if (!to_uint(detail::decode_xml_text(v), i) || i + 1 >= wb_.sst_off.size())
                    throw Error("cannot read workbook '" + wb_.pkg.path() + "': sheet '" + sheet_ + "', cell " +
                                cell_name() + " refers to shared string '" + std::string(v) + "' but the table has " +
                                std::to_string(wb_.sst_off.size() - 1) + " strings");
                cv.kind = Cell::Text;
                cv.text = std::string_view(wb_.sst_pool).substr(wb_.sst_off[i], wb_.sst_off[i + 1] - wb_.sst_off[i]);
                cv.unbroken = wb_.sst_unbroken[i] != 0;
                break;
            }
            case 'i':
            case 'S': {
                std::string* text = type_ == 'i' && has_is_ ? &is_ : has_v_ ? &v_ : nullptr;
                if (!text) break;
                if (text == &v_ && v.data() != v_.data()) v_.assign(v);
                detail::decode_ooxml_escapes(*text);
                cv.kind = Cell::Text;
                cv.text = *text;
                break;
            }
            case 'b':
                if (!has_v_ || v.empty()) break;
                cv.kind = Cell::Bool;
                cv.boolean = v == "1" || v == "true" || v == "TRUE";
                cv.text = cv.boolean ? "True" : "False";
                break;
            case 'e':
                if (!has_v_) break;
                cv.kind = Cell::Error;
                cv.text = v;
                break;
            case 'd':
                if (!has_v_ || v.empty()) break;
                if (detail::format_iso_date(v, out_)) {
                    cv.kind = Cell::Date;
                    cv.text = out_;
                } else {
                    cv.kind = Cell::Text;
                    cv.text = v;
                }
                break;
            default:
                if (has_v_ && !v.empty()) set_number(cv, v);
                break;
        }
        sink_.cell(col_, cv);
    }

    struct Master {
        std::string text;
        uint32_t row, col;
    };

    const Workbook::Impl& wb_;
    const std::string& sheet_;
    Sink& sink_;
    bool numbers_;
    std::string* cap_ = nullptr;
    bool in_data_ = false, in_row_ = false, in_cell_ = false, in_is_ = false;
    bool has_v_ = false, has_f_ = false, has_is_ = false;
    bool f_shared_ = false, f_master_ = false;
    int64_t f_si_ = -1;
    int rph_ = 0;
    uint32_t row_ = 0, col_ = 0, next_col_ = 1, style_ = 0;
    char row_digits_[12];  // row_ in decimal, for cell_column
    uint8_t row_len_ = 0;
    char type_ = 'n';
    std::string v_, f_, is_, out_;
    char num_[40];  // number texts made here; also '=' and a short formula
    std::unordered_map<int64_t, Master> masters_;
};


}  // namespace cells

// Reads the cells of sheet name (its part in from, or the workbook's own package) into sink.
template <class Sink>
void read_sheet_cells(const Workbook::Impl& wb, const std::string& name, Sink& sink,
                      const igxl::detail::Package* from = nullptr) {
    const Workbook::Impl::Sheet& s = wb.sheet(name);
    cells::SheetHandler<Sink> h(wb, name, sink);
    (from ? *from : wb.pkg).scan(s.part, h);
    if (h.unfinished())
        wb.fail("sheet '" + name + "': part '" + s.part + "' ends before its cell data does (truncated file?)");
}

}  // namespace igxl::xlsx
