// XML text of the workbook writer's parts: escaping, numbers, cell names.
#include <array>
#include <charconv>
#include <cstdint>
#include <cmath>

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

template <bool Attribute>
void append_escaped(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    // Most texts have nothing to escape: found in one scan and copied whole.
    for (; i < n; ++i) {
        const std::uint8_t k = kSpecial[p[i]];
        if (k == 1 || (Attribute && k == 2)) break;
    }
    if (i == n) {
        out.append(text.data(), n);
        return;
    }
    size_t plain = 0;
    for (; i < n; ++i) {
        const unsigned char c = p[i];
        const std::uint8_t k = kSpecial[c];
        if (k == 0 || (!Attribute && k == 2)) continue;
        const char* rep = nullptr;
        switch (c) {
            case '&': rep = "&amp;"; break;
            case '<': rep = "&lt;"; break;
            case '>': rep = "&gt;"; break;
            case '"': rep = "&quot;"; break;
            default: break;
        }
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        if (rep) {
            out += rep;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            out += "_x00";
            out += hex[c >> 4];
            out += hex[c & 15];
            out += '_';
        }
    }
    out.append(text.data() + plain, text.size() - plain);
}

}  // namespace

std::size_t utf8_length(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

void append_text(std::string& out, std::string_view text) { append_escaped<false>(out, text); }
void append_attr(std::string& out, std::string_view text) { append_escaped<true>(out, text); }

void append_uint(std::string& out, std::uint64_t value) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, r.ptr);
}

void append_number(std::string& out, double value) {
    char buf[40];
    if (value == std::trunc(value) && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value))) {
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
        out.append(buf, r.ptr);
        return;
    }
    // The same text as printf("%.16G").
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 16);
    for (char* p = buf; p != r.ptr; ++p)
        if (*p == 'e') *p = 'E';
    out.append(buf, r.ptr);
}

void append_column_name(std::string& out, std::uint32_t col) {
    char buf[4];
    int n = 0;
    ++col;
    while (col > 0) {
        buf[n++] = static_cast<char>('A' + (col - 1) % 26);
        col = (col - 1) / 26;
    }
    while (n > 0) out += buf[--n];
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
