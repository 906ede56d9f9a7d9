// XML text of the workbook writer's parts: escaping, numbers, cell names.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "export/xlsx_writer_detail.h"
#include "util/error.h"

namespace igxl::xlsx::writer {

namespace detail {

namespace {

// Characters below 0x20 other than tab and line feed cannot stand in XML 1.0; Excel reads them
// back from the _xHHHH_ form.
constexpr bool is_control(unsigned char c) { return c < 0x20 && c != '\t' && c != '\n'; }

// Bytes that need more than copying: 1 in element text, 2 only in an attribute.
constexpr auto kSpecial = [] {
    std::array<std::uint8_t, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = is_control(static_cast<unsigned char>(c)) ? 1 : 0;
    t['&'] = t['<'] = t['>'] = 1;
    t['"'] = 2;
    return t;
}();

// Writes text at p with what needs it escaped; at most kEscapeGrowth bytes per byte of text.
template <bool Attribute>
char* put_escaped(char* p, std::string_view text) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t plain = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        const std::uint8_t k = kSpecial[c];
        if (k == 0 || (!Attribute && k == 2)) continue;
        p = put(p, text.substr(plain, i - plain));
        plain = i + 1;
        switch (c) {
            case '&': p = put(p, "&amp;"); break;
            case '<': p = put(p, "&lt;"); break;
            case '>': p = put(p, "&gt;"); break;
            case '"': p = put(p, "&quot;"); break;
            default: {
                static const char hex[] = "0123456789ABCDEF";
                p = put(p, "_x00");
                *p++ = hex[c >> 4];
                *p++ = hex[c & 15];
                *p++ = '_';
            }
        }
    }
    return put(p, text.substr(plain));
}

template <bool Attribute>
void append_escaped(std::string& out, std::string_view text) {
    // Most texts have nothing to escape: found in one scan and copied whole.
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const std::uint8_t k = kSpecial[static_cast<unsigned char>(text[i])];
        if (k == 1 || (Attribute && k == 2)) break;
    }
    if (i == text.size()) {
        out += text;
        return;
    }
    // Room for the worst case, then back to what was written.
    const std::size_t old = out.size();
    out.resize(old + kEscapeGrowth * text.size());
    char* end = put_escaped<Attribute>(out.data() + old, text);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

}  // namespace

std::size_t utf8_length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void append_text(std::string& out, std::string_view text) { append_escaped<false>(out, text); }
void append_attr(std::string& out, std::string_view text) { append_escaped<true>(out, text); }

char* put_uint(char* p, std::uint64_t value) { return std::to_chars(p, p + kMaxUintChars, value).ptr; }

char* put_number(char* p, double value) {
    if (value == std::trunc(value) && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value)))
        return std::to_chars(p, p + kMaxNumberChars, static_cast<long long>(value)).ptr;
    // The same text as printf("%.16G").
    char* end = std::to_chars(p, p + kMaxNumberChars, value, std::chars_format::general, 16).ptr;
    for (char* e = p; e != end; ++e)
        if (*e == 'e') *e = 'E';
    return end;
}

char* put_column_name(char* p, std::uint32_t col) {
    if (col < 26) {
        *p = static_cast<char>('A' + col);
        return p + 1;
    }
    if (col < 26 + 26 * 26) {
        col -= 26;
        p[0] = static_cast<char>('A' + col / 26);
        p[1] = static_cast<char>('A' + col % 26);
        return p + 2;
    }
    col -= 26 + 26 * 26;
    p[0] = static_cast<char>('A' + col / (26 * 26));
    p[1] = static_cast<char>('A' + col / 26 % 26);
    p[2] = static_cast<char>('A' + col % 26);
    return p + 3;
}

char* put_text(char* p, std::string_view text) { return put_escaped<false>(p, text); }

void XmlBuffer::grow(std::size_t n) {
    const std::size_t capacity = std::max(size_ + n, capacity_ * 2);
    std::unique_ptr<char[]> bigger(new char[capacity]);
    if (size_) std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

char* NumberTexts::put(char* p, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Entry& e = entries_[(bits * 0x9E3779B97F4A7C15ull) >> 56];
    if (e.bits != bits || bits == ~std::uint64_t(0)) {
        e.size = static_cast<std::uint8_t>(put_number(e.text, value) - e.text);
        e.bits = bits;
    }
    std::memcpy(p, e.text, kMaxNumberChars);
    return p + e.size;
}

void append_uint(std::string& out, std::uint64_t value) {
    char buf[kMaxUintChars];
    out.append(buf, put_uint(buf, value));
}

void append_number(std::string& out, double value) {
    char buf[kMaxNumberChars];
    out.append(buf, put_number(buf, value));
}

void append_column_name(std::string& out, std::uint32_t col) {
    char buf[kMaxColumnChars];
    out.append(buf, put_column_name(buf, col));
}

void append_cell_name(std::string& out, std::uint32_t row, std::uint32_t col) {
    append_column_name(out, col);
    append_uint(out, std::uint64_t(row) + 1);
}

std::string absolute_range(std::string_view sheet, CellRange range) {
    bool quote = false;
    for (unsigned char c : sheet)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.'))
            quote = true;
    std::string out;
    if (quote) {
        out += '\'';
        for (char c : sheet) {
            out += c;
            if (c == '\'') out += '\'';
        }
        out += '\'';
    } else {
        out += sheet;
    }
    out += "!$";
    append_column_name(out, range.first_col);
    out += '$';
    append_uint(out, std::uint64_t(range.first_row) + 1);
    if (range.first_row != range.last_row || range.first_col != range.last_col) {
        out += ":$";
        append_column_name(out, range.last_col);
        out += '$';
        append_uint(out, std::uint64_t(range.last_row) + 1);
    }
    return out;
}

}  // namespace detail

std::string cell_name(std::uint32_t row, std::uint32_t col) {
    std::string s;
    detail::append_cell_name(s, row, col);
    return s;
}

std::string range_name(CellRange r) {
    std::string s = cell_name(r.first_row, r.first_col);
    if (r.first_row != r.last_row || r.first_col != r.last_col) s += ':' + cell_name(r.last_row, r.last_col);
    return s;
}

void parse_cell_name(std::string_view name, std::uint32_t& row, std::uint32_t& col) {
    size_t i = 0;
    std::uint64_t c = 0, r = 0;
    while (i < name.size() && name[i] >= 'A' && name[i] <= 'Z' && c <= kMaxColumns)
        c = c * 26 + std::uint64_t(name[i++] - 'A' + 1);
    size_t digits = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && r <= kMaxRows) {
        r = r * 10 + std::uint64_t(name[i++] - '0');
        ++digits;
    }
    if (c == 0 || c > kMaxColumns || digits == 0 || r == 0 || r > kMaxRows || i != name.size())
        throw Error("'" + std::string(name) + "' is not a cell name such as C2");
    row = static_cast<std::uint32_t>(r - 1);
    col = static_cast<std::uint32_t>(c - 1);
}

}  // namespace igxl::xlsx::writer
