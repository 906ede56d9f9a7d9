#include "vbt/source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "util/codepage.h"
#include "util/error.h"
#include "util/regex.h"

namespace igxl::vbt {

SourceLines::SourceLines(std::string text) {
    if (text.size() >= UINT32_MAX) throw Error("module text too large (4 GiB or more)");
    auto shared = std::make_shared<const std::string>(std::move(text));
    const std::string& t = *shared;
    size_t lines = 0;
    for (char c : t) lines += c == '\n';
    starts_.reserve(lines + 2);
    starts_.push_back(0);
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i] == '\n') starts_.push_back(static_cast<uint32_t>(i + 1));
    if (starts_.back() != t.size()) starts_.push_back(static_cast<uint32_t>(t.size()));
    if (starts_.size() == 1) starts_.clear();  // empty text: no lines
    text_ = std::move(shared);
}

std::string_view SourceLines::at(size_t i) const {
    if (i >= size()) throw std::out_of_range("line index " + std::to_string(i) + " out of range");
    return (*this)[i];
}

const std::string& SourceLines::text() const {
    static const std::string empty;
    return text_ ? *text_ : empty;
}

std::vector<std::string> SourceLines::to_vector() const {
    std::vector<std::string> out;
    out.reserve(size());
    for (std::string_view line : *this) out.emplace_back(line);
    return out;
}

namespace detail {

uint32_t decode_at(std::string_view s, size_t i, size_t& len) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    unsigned char c = p[i];
    len = 1;
    if (c < 0x80) return c;
    auto cont = [&](size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        if (!cont(1)) return 0xFFFFFFFF;
        len = 2;
        return ((c & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0xFFFFFFFF;
        unsigned char c1 = p[i + 1];
        if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F)) return 0xFFFFFFFF;  // overlong, surrogate
        len = 3;
        return ((c & 0x0Fu) << 12) | ((c1 & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0xFFFFFFFF;
        unsigned char c1 = p[i + 1];
        if ((c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F)) return 0xFFFFFFFF;  // overlong, > U+10FFFF
        len = 4;
        return ((c & 0x07u) << 18) | ((c1 & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) | (p[i + 3] & 0x3Fu);
    }
    return 0xFFFFFFFF;
}

bool is_word_code_point(uint32_t cp) {
    if (cp < 0x80) return is_ascii_word(static_cast<unsigned char>(cp));
    if (cp > 0x10FFFF) return false;
    // Ask the regular-expression engine itself, once per code point, so the scans agree with
    // \w and \b exactly, whatever Unicode tables the installed PCRE2 carries.
    thread_local std::unordered_map<uint32_t, bool> cache;
    auto it = cache.find(cp);
    if (it != cache.end()) return it->second;
    static const util::Regex word("\\w");
    std::string utf8;
    if (cp < 0x800) {
        utf8 += static_cast<char>(0xC0 | (cp >> 6));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        utf8 += static_cast<char>(0xE0 | (cp >> 12));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        utf8 += static_cast<char>(0xF0 | (cp >> 18));
        utf8 += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        utf8 += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        utf8 += static_cast<char>(0x80 | (cp & 0x3F));
    }
    bool w = word.full_match(utf8);
    cache.emplace(cp, w);
    return w;
}

namespace {
// White space as str.strip() knows it.
inline bool is_space_code_point(uint32_t cp) {
    if (cp <= 0x20) return cp == 0x20 || (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x1F);
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 ||
           cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}
}  // namespace

std::string_view strip(std::string_view s) {
    size_t b = 0, len = 1;
    while (b < s.size()) {
        auto c = static_cast<unsigned char>(s[b]);
        if (c < 0x80) {  // most lines: plain ASCII at both ends
            if (!is_space_code_point(c)) break;
            ++b;
            continue;
        }
        if (!is_space_code_point(decode_at(s, b, len))) break;
        b += len;
    }
    size_t e = s.size();
    while (e > b) {
        auto c = static_cast<unsigned char>(s[e - 1]);
        if (c < 0x80) {
            if (!is_space_code_point(c)) break;
            --e;
            continue;
        }
        // Step back to the start of the last character.
        size_t k = e - 1;
        while (k > b && (static_cast<unsigned char>(s[k]) & 0xC0) == 0x80 && e - k < 4) --k;
        uint32_t cp = decode_at(s, k, len);
        if (k + len != e) break;  // not one whole character: not white space
        if (!is_space_code_point(cp)) break;
        e = k;
    }
    return s.substr(b, e - b);
}

}  // namespace detail

std::string TextEncoding::label() const {
    switch (kind) {
        case utf8: return bom ? "UTF-8 (BOM)" : "UTF-8";
        case utf16le: return "UTF-16LE";
        case utf16be: return "UTF-16BE";
        case legacy: return code_page;
        case raw_bytes: return "bytes";
    }
    return "";
}

namespace {

bool valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t len = 1;
        if (static_cast<unsigned char>(s[i]) >= 0x80 && detail::decode_at(s, i, len) == 0xFFFFFFFF) return false;
        i += len;
    }
    return true;
}

std::string bytes_to_text(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> text_to_bytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        size_t len = 1;
        uint32_t cp = detail::decode_at(text, i, len);
        if (cp > 0xFF) return std::nullopt;
        out += static_cast<char>(cp);
        i += len;
    }
    return out;
}

const char* utf16_name(TextEncoding::Kind kind) { return kind == TextEncoding::utf16le ? "UTF-16LE" : "UTF-16BE"; }

}  // namespace

DecodedModule decode_module(std::string_view bytes, const std::string& code_page) {
    DecodedModule m;
    const std::string_view whole = bytes;
    auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
    if (starts("\xEF\xBB\xBF")) {
        m.encoding.bom = true;
        bytes.remove_prefix(3);
    } else if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
        m.encoding.kind = bytes[0] == '\xFF' ? TextEncoding::utf16le : TextEncoding::utf16be;
        m.encoding.bom = true;
        if (auto text = util::decode_code_page(bytes.substr(2), utf16_name(m.encoding.kind))) {
            m.text = std::move(*text);
            return m;
        }
        m.encoding = TextEncoding{TextEncoding::raw_bytes, false, {}};
        m.text = bytes_to_text(whole);
        return m;
    }
    if (valid_utf8(bytes)) {
        m.text = std::string(bytes);
        return m;
    }
    if (!m.encoding.bom) {
        if (auto text = util::decode_code_page(bytes, code_page)) {
            m.encoding.kind = TextEncoding::legacy;
            m.encoding.code_page = code_page;
            m.text = std::move(*text);
            return m;
        }
    }
    m.encoding = TextEncoding{TextEncoding::raw_bytes, false, {}};
    m.text = bytes_to_text(whole);
    return m;
}

DecodedModule decode_module(std::string&& bytes, const std::string& code_page) {
    const std::string_view view = bytes;
    const bool bom = view.starts_with("\xEF\xBB\xBF");
    if (!bom && (view.starts_with("\xFF\xFE") || view.starts_with("\xFE\xFF")))
        return decode_module(view, code_page);
    if (!valid_utf8(view.substr(bom ? 3 : 0))) return decode_module(view, code_page);
    DecodedModule m;
    m.encoding.bom = bom;
    if (bom) bytes.erase(0, 3);
    m.text = std::move(bytes);
    return m;
}

std::string_view split_raw_lines(std::string_view bytes, const TextEncoding& encoding, std::vector<RawLine>& lines) {
    lines.clear();
    std::string_view bom;
    if (encoding.bom) {
        const size_t n = encoding.kind == TextEncoding::utf8 ? 3 : 2;
        bom = bytes.substr(0, n);
        bytes.remove_prefix(std::min(n, bytes.size()));
    }
    const bool wide = encoding.kind == TextEncoding::utf16le || encoding.kind == TextEncoding::utf16be;
    const size_t unit = wide ? 2 : 1;
    // The code unit at i when it is a CR or LF, else 0.
    auto control = [&](size_t i) -> char {
        if (!wide) return bytes[i] == '\r' || bytes[i] == '\n' ? bytes[i] : 0;
        if (i + 1 >= bytes.size()) return 0;
        char lo = encoding.kind == TextEncoding::utf16le ? bytes[i] : bytes[i + 1];
        char hi = encoding.kind == TextEncoding::utf16le ? bytes[i + 1] : bytes[i];
        return hi == 0 && (lo == '\r' || lo == '\n') ? lo : 0;
    };
    size_t start = 0, i = 0;
    while (i < bytes.size()) {
        char c = control(i);
        if (!c) {
            i += unit;
            continue;
        }
        size_t end = i + unit;
        if (c == '\r' && end < bytes.size() && control(end) == '\n') end += unit;
        lines.push_back({bytes.substr(start, i - start), bytes.substr(i, end - i)});
        start = i = end;
    }
    if (start < bytes.size()) lines.push_back({bytes.substr(start), {}});
    return bom;
}

std::optional<std::string> decode_line(std::string_view bytes, const TextEncoding& encoding) {
    switch (encoding.kind) {
        case TextEncoding::utf8:
            if (!valid_utf8(bytes)) return std::nullopt;
            return std::string(bytes);
        case TextEncoding::raw_bytes: return bytes_to_text(bytes);
        case TextEncoding::utf16le:
        case TextEncoding::utf16be: return util::decode_code_page(bytes, utf16_name(encoding.kind));
        case TextEncoding::legacy: return util::decode_code_page(bytes, encoding.code_page);
    }
    return std::nullopt;
}

std::optional<std::string> encode_line(std::string_view utf8, const TextEncoding& encoding) {
    switch (encoding.kind) {
        case TextEncoding::utf8: return std::string(utf8);
        case TextEncoding::raw_bytes: return text_to_bytes(utf8);
        case TextEncoding::utf16le:
        case TextEncoding::utf16be: return util::encode_code_page(utf8, utf16_name(encoding.kind));
        case TextEncoding::legacy: return util::encode_code_page(utf8, encoding.code_page);
    }
    return std::nullopt;
}

std::string decode_source(std::string bytes) {
    // In place: the text never grows, so the write position never passes the read position.
    char* out = bytes.data();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0, w = 0, len = 1;
    bool after_cr = false;  // an LF that follows a CR (dropped bytes between them aside) is skipped
    while (i < n) {
        size_t j = i;
        while (j < n && p[j] < 0x80 && p[j] != '\r') ++j;
        if (j > i) {
            size_t from = i;
            if (after_cr && p[from] == '\n') ++from;
            after_cr = false;
            if (w != from) std::memmove(out + w, p + from, j - from);
            w += j - from;
            i = j;
            if (i >= n) break;
        }
        if (p[i] == '\r') {
            out[w++] = '\n';
            after_cr = true;
            ++i;
            continue;
        }
        if (detail::decode_at(bytes, i, len) != 0xFFFFFFFF) {
            if (w != i) std::memmove(out + w, p + i, len);
            w += len;
            after_cr = false;
        }
        i += len;  // an undecodable byte is dropped alone; the next byte starts afresh
    }
    bytes.resize(w);
    return bytes;
}

}  // namespace igxl::vbt
