#include "util/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace igxl::util {

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    split_into(s, sep, out);
    return out;
}

std::vector<std::string_view> split(std::string_view s, std::string_view sep) {
    if (sep.size() == 1) return split(s, sep[0]);
    std::vector<std::string_view> out;
    if (sep.empty()) {
        out.push_back(s);
        return out;
    }
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            out.push_back(s.substr(start));
            return out;
        }
        out.push_back(s.substr(start, pos - start));
        start = pos + sep.size();
    }
}

// Sheet rows are long and their fields short: look at 16 bytes at a time rather than calling
// memchr per field.
void split_into(std::string_view s, char sep, std::vector<std::string_view>& out) {
    out.clear();
    const char* p = s.data();
    const size_t n = s.size();
    size_t start = 0, i = 0;
#if defined(__SSE2__)
    const __m128i needle = _mm_set1_epi8(sep);
    for (; i + 16 <= n; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, needle)));
        while (mask) {
            const size_t pos = i + static_cast<size_t>(__builtin_ctz(mask));
            out.emplace_back(p + start, pos - start);
            start = pos + 1;
            mask &= mask - 1;
        }
    }
#endif
    for (; i < n; ++i) {
        if (p[i] == sep) {
            out.emplace_back(p + start, i - start);
            start = i + 1;
        }
    }
    out.emplace_back(p + start, n - start);
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' ||
           c == '\x1c' || c == '\x1d' || c == '\x1e' || c == '\x1f';
}

std::vector<std::string_view> split_ws(std::string_view s) {
    std::vector<std::string_view> out;
    size_t i = 0, n = s.size();
    while (i < n) {
        while (i < n && is_space(s[i])) ++i;
        size_t b = i;
        while (i < n && !is_space(s[i])) ++i;
        if (i > b) out.push_back(s.substr(b, i - b));
    }
    return out;
}

template <class T>
static std::string join_impl(const std::vector<T>& parts, std::string_view sep) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += sep;
        out += parts[i];
    }
    return out;
}
std::string join(const std::vector<std::string>& p, std::string_view sep) { return join_impl(p, sep); }
std::string join(const std::vector<std::string_view>& p, std::string_view sep) {
    return join_impl(p, sep);
}

std::string_view lstrip(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && is_space(s[i])) ++i;
    return s.substr(i);
}
std::string_view rstrip(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && is_space(s[n - 1])) --n;
    return s.substr(0, n);
}
std::string_view strip(std::string_view s) { return rstrip(lstrip(s)); }

std::string_view strip_chars(std::string_view s, std::string_view chars) {
    size_t b = s.find_first_not_of(chars);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(chars);
    return s.substr(b, e - b + 1);
}

void to_upper_into(std::string_view s, std::string& out) {
    out.assign(s);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
}
std::string to_upper(std::string_view s) {
    std::string out;
    to_upper_into(s, out);
    return out;
}
std::string to_lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}
bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

std::string replace_all(std::string_view s, std::string_view from, std::string_view to) {
    std::string out;
    if (from.empty()) return std::string(s);
    out.reserve(s.size());
    size_t start = 0;
    for (;;) {
        size_t pos = s.find(from, start);
        if (pos == std::string_view::npos) break;
        out.append(s.substr(start, pos - start));
        out.append(to);
        start = pos + from.size();
    }
    out.append(s.substr(start));
    return out;
}

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

char* layout_double_digits(const char* digits, int nd, int exp10, char* o) {
    // Byte loops: a number has at most 17 digits, too few for memcpy calls to pay.
    auto copy = [&o](const char* d, int n) {
        for (int i = 0; i < n; ++i) *o++ = d[i];
    };
    if (exp10 < -4 || exp10 >= 16) {
        *o++ = digits[0];
        if (nd > 1) {
            *o++ = '.';
            copy(digits + 1, nd - 1);
        }
        *o++ = 'e';
        *o++ = exp10 < 0 ? '-' : '+';
        int a = std::abs(exp10);
        if (a >= 100) *o++ = static_cast<char>('0' + a / 100);
        *o++ = static_cast<char>('0' + a / 10 % 10);
        *o++ = static_cast<char>('0' + a % 10);
        return o;
    }
    if (exp10 < 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -exp10 - 1; ++i) *o++ = '0';
        copy(digits, nd);
        return o;
    }
    if (exp10 + 1 >= nd) {
        copy(digits, nd);
        for (int i = nd; i < exp10 + 1; ++i) *o++ = '0';
        *o++ = '.';
        *o++ = '0';
        return o;
    }
    copy(digits, exp10 + 1);
    *o++ = '.';
    copy(digits + exp10 + 1, nd - exp10 - 1);
    return o;
}

size_t format_double_to(double v, char* out) {
    char* o = out;
    if (std::isnan(v)) {
        std::memcpy(o, "nan", 3);
        return 3;
    }
    if (std::isinf(v)) {
        if (v < 0) *o++ = '-';
        std::memcpy(o, "inf", 3);
        return static_cast<size_t>(o - out) + 3;
    }
    if (v == 0) {
        if (std::signbit(v)) *o++ = '-';
        std::memcpy(o, "0.0", 3);
        return static_cast<size_t>(o - out) + 3;
    }
    // Shortest round-trip digits, then laid out as Python's repr does.
    char sci[40];
    auto r = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char* s = sci;
    if (*s == '-') {
        *o++ = '-';
        ++s;
    }
    char digits[24];
    int nd = 0;
    const char* e = s;
    for (; *e != 'e'; ++e)
        if (*e != '.') digits[nd++] = *e;
    int exp10 = 0;
    std::from_chars(e + 1 + (e[1] == '+'), r.ptr, exp10);
    return static_cast<size_t>(layout_double_digits(digits, nd, exp10, o) - out);
}

std::string format_double(double v) {
    char buf[kMaxDoubleText];
    return std::string(buf, format_double_to(v, buf));
}

bool parse_int(std::string_view s, int64_t& out) {
    s = strip(s);
    if (s.empty()) return false;
    std::string_view body = s;
    if (body[0] == '+') body.remove_prefix(1);
    auto r = std::from_chars(body.data(), body.data() + body.size(), out);
    return r.ec == std::errc() && r.ptr == body.data() + body.size() && !body.empty();
}

bool parse_double(std::string_view s, double& out) {
    s = strip(s);
    if (s.empty()) return false;
    std::string t(s);
    for (auto& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    std::string_view b = t;
    bool neg = false;
    if (b[0] == '+' || b[0] == '-') {
        neg = b[0] == '-';
        b.remove_prefix(1);
    }
    if (b == "inf" || b == "infinity") {
        out = neg ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (b == "nan") {
        out = std::nan("");
        return true;
    }
    if (b.empty() || b[0] == '+' || b[0] == '-') return false;
    double v;
    auto r = std::from_chars(b.data(), b.data() + b.size(), v);
    if (r.ec == std::errc::result_out_of_range) {
        v = std::strtod(std::string(b).c_str(), nullptr);
    } else if (r.ec != std::errc() || r.ptr != b.data() + b.size()) {
        return false;
    }
    out = neg ? -v : v;
    return true;
}

}  // namespace igxl::util
