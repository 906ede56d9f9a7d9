// Field-text rules of single cells: numbers, dates and shared-formula references.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "export/xlsx_detail.h"
#include "util/text.h"

namespace igxl::detail {

size_t repr_decimal_text(std::string_view s, char* out) {
    // A decimal of at most 15 significant digits reads back from its double unchanged (DBL_DIG),
    // so its own digits, trailing zeros dropped, are the shortest round trip: no binary
    // conversion either way. Far exponents (subnormals, overflow) and longer texts are refused.
    const char* p = s.data();
    const char* e = p + s.size();
    char* o = out;
    bool neg = p < e && *p == '-';
    if (neg) ++p;
    char digits[16];
    int nd = 0, lead = 0;  // lead: digits before the point, counted from the first non-zero one
    bool any = false, seen_nonzero = false;
    int zeros_after_point = 0;  // zeros right after the point before the first non-zero digit
    const char* q = p;
    for (; q < e && *q >= '0' && *q <= '9'; ++q) {
        any = true;
        if (*q == '0' && !seen_nonzero) continue;
        seen_nonzero = true;
        if (nd == 16) return 0;
        digits[nd++] = *q;
        ++lead;
    }
    if (!any) return 0;
    if (q < e && *q == '.') {
        ++q;
        if (q == e || *q < '0' || *q > '9') return 0;
        for (; q < e && *q >= '0' && *q <= '9'; ++q) {
            if (*q == '0' && !seen_nonzero) {
                ++zeros_after_point;
                continue;
            }
            seen_nonzero = true;
            if (nd == 16) return 0;
            digits[nd++] = *q;
        }
    }
    int exp_part = 0;
    if (q < e && (*q == 'e' || *q == 'E')) {
        ++q;
        bool eneg = q < e && *q == '-';
        if (q < e && (*q == '-' || *q == '+')) ++q;
        if (q == e || e - q > 4) return 0;
        for (; q < e; ++q) {
            if (*q < '0' || *q > '9') return 0;
            exp_part = exp_part * 10 + (*q - '0');
        }
        if (eneg) exp_part = -exp_part;
    }
    if (q != e || !seen_nonzero) return 0;  // zero keeps its sign rules in util::format_double_to
    while (nd > 0 && digits[nd - 1] == '0') --nd;
    if (nd > 15) return 0;
    int exp10 = (lead > 0 ? lead - 1 : -zeros_after_point - 1) + exp_part;
    if (exp10 < -300 || exp10 > 300) return 0;
    if (neg) *o++ = '-';
    return static_cast<size_t>(util::layout_double_digits(digits, nd, exp10, o) - out);
}

bool canonical_integer(std::string_view s, std::string& out) {
    size_t i = 0;
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        i = 1;
    }
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); ++k)
        if (s[k] < '0' || s[k] > '9') return false;
    while (i + 1 < s.size() && s[i] == '0') ++i;
    if (s.substr(i) == "0") neg = false;
    out.clear();
    if (neg) out += '-';
    out.append(s.substr(i));
    return true;
}

// ---- dates ---------------------------------------------------------------------------------

DateKind date_kind_of_builtin(unsigned id) {
    // 14-22 and 45-47 are the built-in date and time formats; 27-36 and 50-58 the East Asian
    // locales' date formats (a Chinese Excel writes these ids); 46 is '[h]:mm:ss'.
    if (id == 46) return DateKind::Duration;
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || id == 45 || id == 47 ||
        (id >= 50 && id <= 58))
        return DateKind::DateTime;
    return DateKind::None;
}

DateKind date_kind_of_format(std::string_view code) {
    // Only the first section (positive numbers) decides.
    size_t semi = std::string_view::npos;
    bool in_quote = false;
    for (size_t i = 0; i < code.size(); ++i) {
        if (code[i] == '"') in_quote = !in_quote;
        else if (code[i] == '\\' && !in_quote) ++i;
        else if (code[i] == ';' && !in_quote) {
            semi = i;
            break;
        }
    }
    code = code.substr(0, semi);
    bool date = false, duration = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '"') {
            size_t q = code.find('"', i + 1);
            if (q == std::string_view::npos) break;
            i = q;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i;  // an escaped, spacing or fill character is shown, not interpreted
        } else if (c == '[') {
            size_t q = code.find(']', i + 1);
            if (q == std::string_view::npos) break;
            std::string_view in = code.substr(i + 1, q - i - 1);
            // [h], [hh], [mm], [ss]: elapsed time; anything else ([Red], [$-409]) is skipped.
            bool elapsed = !in.empty() && in.size() <= 2;
            for (char k : in)
                if (k != in[0] || (k != 'h' && k != 'H' && k != 'm' && k != 'M' && k != 's' &&
                                   k != 'S'))
                    elapsed = false;
            if (elapsed) duration = true;
            i = q;
        } else {
            switch (c) {
                case 'd': case 'D': case 'm': case 'M': case 'y': case 'Y':
                case 'h': case 'H': case 's': case 'S':
                    date = true;
                    break;
                default:
                    break;
            }
        }
    }
    if (duration) return DateKind::Duration;
    return date ? DateKind::DateTime : DateKind::None;
}

namespace {

// Days since 1970-01-01 -> civil date (proleptic Gregorian).
void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

void append_2(std::string& out, int64_t v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

void append_clock(std::string& out, int64_t h, int64_t mi, int64_t s, int64_t us) {
    if (h >= 100) out += std::to_string(h);
    else append_2(out, h);
    out += ':';
    append_2(out, mi);
    out += ':';
    append_2(out, s);
    if (us) {
        char buf[16];
        std::snprintf(buf, sizeof buf, ".%06lld", static_cast<long long>(us));
        out += buf;
    }
}

void append_date(std::string& out, int64_t y, unsigned m, unsigned d) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    out += buf;
}

int64_t round_half_even_to(int64_t v, int64_t unit) {
    int64_t q = v / unit, r = v % unit;
    if (r * 2 > unit || (r * 2 == unit && (q & 1))) ++q;
    return q * unit;
}

}  // namespace

bool format_serial_date(double v, bool date1904, DateKind kind, std::string& out) {
    out.clear();
    if (!std::isfinite(v)) return false;
    if (kind == DateKind::Duration) {
        if (std::fabs(v) > 999999999.0) return false;
        int64_t total_us = static_cast<int64_t>(std::nearbyint(static_cast<long double>(v) * 86400000000.0L));
        bool neg = total_us < 0;
        if (neg) total_us = -total_us;
        // Durations are kept to the millisecond.
        int64_t secs = total_us / 1000000, us = total_us % 1000000;
        us = round_half_even_to(us, 1000);
        total_us = secs * 1000000 + us;
        secs = total_us / 1000000;
        us = total_us % 1000000;
        if (neg && total_us) out += '-';
        append_clock(out, secs / 3600, secs / 60 % 60, secs % 60, us);
        return true;
    }
    double day = std::floor(v);
    double frac = v - day;
    int64_t ms = static_cast<int64_t>(std::nearbyint(frac * 86400.0 * 1000.0));
    if (v >= 0 && v < 1 && ms < 86400000) {
        int64_t s = ms / 1000;
        append_clock(out, s / 3600, s / 60 % 60, s % 60, ms % 1000 * 1000);
        return true;
    }
    // The 1900 system counts a 29 February 1900 that never was; serials before it shift.
    if (!date1904 && v > 0 && v < 60) day += 1;
    if (std::fabs(day) > 4.0e6) return false;
    // Epochs as days since 1970-01-01: 1899-12-30 and 1904-01-01.
    int64_t days = (date1904 ? -24107 : -25569) + static_cast<int64_t>(day) + ms / 86400000;
    ms %= 86400000;
    int64_t y;
    unsigned m, d;
    civil_from_days(days, y, m, d);
    if (y < 1 || y > 9999) return false;
    append_date(out, y, m, d);
    out += ' ';
    int64_t s = ms / 1000;
    append_clock(out, s / 3600, s / 60 % 60, s % 60, ms % 1000 * 1000);
    return true;
}

bool format_iso_date(std::string_view s, std::string& out) {
    out.clear();
    auto digits = [&](size_t at, size_t n, int& v) {
        if (at + n > s.size()) return false;
        v = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            v = v * 10 + (s[i] - '0');
        }
        return true;
    };
    size_t i = 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    int64_t us = 0;
    bool has_date = false, has_time = false;
    if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
        if (!digits(0, 4, y) || !digits(5, 2, mo) || !digits(8, 2, d)) return false;
        if (mo < 1 || mo > 12 || d < 1 || d > 31 || y < 1) return false;
        has_date = true;
        i = 10;
    }
    if (i < s.size() && (s[i] == 'T' || (has_date && s[i] == ' '))) ++i;
    if (i + 5 <= s.size() && s[i + 2] == ':') {
        if (!digits(i, 2, h) || !digits(i + 3, 2, mi)) return false;
        i += 5;
        if (i + 3 <= s.size() && s[i] == ':') {
            if (!digits(i + 1, 2, se)) return false;
            i += 3;
            if (i < s.size() && s[i] == '.') {
                size_t k = ++i;
                int64_t scale = 100000;
                while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                    if (scale) us += (s[i] - '0') * scale;
                    scale /= 10;
                    ++i;
                }
                if (i == k) return false;
            }
        }
        if (h > 23 || mi > 59 || se > 59) return false;
        has_time = true;
    }
    if (i < s.size() && s[i] == 'Z') ++i;
    if (i != s.size() || (!has_date && !has_time)) return false;
    if (has_date) append_date(out, y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    if (has_date && has_time) out += ' ';
    if (has_time) append_clock(out, h, mi, se, us);
    return true;
}

// ---- references ----------------------------------------------------------------------------

namespace {

constexpr uint32_t kMaxCol = 16384, kMaxRow = 1048576;

bool is_alpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_name_char(char c) {
    return is_alpha(c) || is_digit(c) || c == '_' || c == '.' || c == '\\' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// At s[i]: '$'? letters{1,3}; returns the end or npos.
size_t scan_col(std::string_view s, size_t i, uint32_t& col, bool& abs) {
    abs = i < s.size() && s[i] == '$';
    if (abs) ++i;
    size_t b = i;
    col = 0;
    while (i < s.size() && is_alpha(s[i]) && i - b < 4) {
        col = col * 26 + static_cast<uint32_t>((s[i] | 0x20) - 'a' + 1);
        ++i;
    }
    if (i == b || i - b > 3 || col > kMaxCol) return std::string_view::npos;
    return i;
}

size_t scan_row(std::string_view s, size_t i, uint32_t& row, bool& abs) {
    abs = i < s.size() && s[i] == '$';
    if (abs) ++i;
    size_t b = i;
    uint64_t r = 0;
    while (i < s.size() && is_digit(s[i]) && i - b < 8) r = r * 10 + static_cast<uint64_t>(s[i++] - '0');
    if (i == b || r == 0 || r > kMaxRow) return std::string_view::npos;
    row = static_cast<uint32_t>(r);
    return i;
}

bool ends_token(std::string_view s, size_t i) {
    return i >= s.size() || (!is_name_char(s[i]) && s[i] != '(' && s[i] != '!' && s[i] != '[');
}

void put_col(std::string& out, uint32_t col, bool abs, int64_t d, bool& bad) {
    int64_t c = abs ? col : col + d;
    if (c < 1 || c > kMaxCol) bad = true;
    if (abs) out += '$';
    if (!bad) append_column_letters(out, static_cast<uint32_t>(c));
}

void put_row(std::string& out, uint32_t row, bool abs, int64_t d, bool& bad) {
    int64_t r = abs ? row : row + d;
    if (r < 1 || r > kMaxRow) bad = true;
    if (abs) out += '$';
    if (!bad) out += std::to_string(r);
}

}  // namespace

void append_column_letters(std::string& out, uint32_t col) {
    char buf[8];
    int n = 0;
    while (col > 0) {
        uint32_t r = (col - 1) % 26;
        buf[n++] = static_cast<char>('A' + r);
        col = (col - 1) / 26;
    }
    while (n > 0) out += buf[--n];
}

void shift_formula(std::string_view f, int64_t dr, int64_t dc, std::string& out) {
    out.clear();
    size_t i = 0;
    while (i < f.size()) {
        char c = f[i];
        if (c == '"' || c == '\'') {
            // String literal or quoted sheet name: copied whole ("" and '' escape the quote).
            size_t j = i + 1;
            while (j < f.size()) {
                if (f[j] == c) {
                    if (j + 1 < f.size() && f[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                ++j;
            }
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == '[') {
            // Structured or external-book references are not moved.
            size_t depth = 0, j = i;
            for (; j < f.size(); ++j) {
                if (f[j] == '[') ++depth;
                else if (f[j] == ']' && --depth == 0) break;
            }
            j = j < f.size() ? j + 1 : j;
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        if (c == '#') {
            // Error literals such as #REF! and #N/A.
            size_t j = i + 1;
            while (j < f.size() && (is_alpha(f[j]) || is_digit(f[j]) || f[j] == '/' || f[j] == '!' || f[j] == '?' ||
                                    f[j] == '0'))
                ++j;
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        bool starts = i == 0 || !is_name_char(f[i - 1]);
        if (starts && (c == '$' || is_alpha(c) || is_digit(c))) {
            uint32_t col1, row1, col2, row2;
            bool a1, b1, a2, b2;
            // A1-style cell reference.
            size_t e = scan_col(f, i, col1, a1);
            size_t e2 = e == std::string_view::npos ? e : scan_row(f, e, row1, b1);
            if (e2 != std::string_view::npos && ends_token(f, e2)) {
                size_t mark = out.size();
                bool bad = false;
                put_col(out, col1, a1, dc, bad);
                put_row(out, row1, b1, dr, bad);
                if (bad) {
                    out.resize(mark);
                    out += "#REF!";
                }
                i = e2;
                continue;
            }
            // Whole columns (A:C) or whole rows (1:3).
            if (e != std::string_view::npos && e < f.size() && f[e] == ':') {
                size_t e3 = scan_col(f, e + 1, col2, a2);
                if (e3 != std::string_view::npos && ends_token(f, e3)) {
                    size_t mark = out.size();
                    bool bad = false;
                    put_col(out, col1, a1, dc, bad);
                    out += ':';
                    put_col(out, col2, a2, dc, bad);
                    if (bad) {
                        out.resize(mark);
                        out += "#REF!";
                    }
                    i = e3;
                    continue;
                }
            }
            size_t r1 = scan_row(f, i, row1, b1);
            if (r1 != std::string_view::npos && r1 < f.size() && f[r1] == ':') {
                size_t r2 = scan_row(f, r1 + 1, row2, b2);
                if (r2 != std::string_view::npos && ends_token(f, r2)) {
                    size_t mark = out.size();
                    bool bad = false;
                    put_row(out, row1, b1, dr, bad);
                    out += ':';
                    put_row(out, row2, b2, dr, bad);
                    if (bad) {
                        out.resize(mark);
                        out += "#REF!";
                    }
                    i = r2;
                    continue;
                }
            }
            // A name, function or number: copied as one token so its inner digits stay.
            size_t j = i;
            if (is_digit(c)) {
                while (j < f.size() && (is_digit(f[j]) || f[j] == '.')) ++j;
                if (j < f.size() && (f[j] == 'E' || f[j] == 'e')) {
                    size_t k = j + 1;
                    if (k < f.size() && (f[k] == '+' || f[k] == '-')) ++k;
                    if (k < f.size() && is_digit(f[k])) {
                        j = k;
                        while (j < f.size() && is_digit(f[j])) ++j;
                    }
                }
            } else {
                if (f[j] == '$') ++j;
                while (j < f.size() && is_name_char(f[j])) ++j;
            }
            if (j == i) j = i + 1;
            out.append(f.substr(i, j - i));
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
}

}  // namespace igxl::detail
