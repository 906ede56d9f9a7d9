#include "export/xml_scan.h"

#include <cstdint>

namespace igxl::detail {

namespace {

// A token longer than this is not a workbook part we can read (Excel caps a cell at 32767
// characters); refusing it keeps a hostile file from taking all memory.
constexpr size_t kMaxToken = size_t(256) << 20;

void append_utf8(std::string& out, uint32_t cp) {
    if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes the entity at raw[0] == '&'; returns its length, 0 when it is not one we know.
size_t entity(std::string& out, std::string_view raw) {
    size_t semi = raw.find(';', 1);
    if (semi == std::string_view::npos || semi > 12) return 0;
    std::string_view name = raw.substr(1, semi - 1);
    if (name == "amp") out += '&';
    else if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name.size() >= 2 && name[0] == '#') {
        uint32_t cp = 0;
        bool hex = name[1] == 'x' || name[1] == 'X';
        std::string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        for (char c : digits) {
            int d = hex ? hex_value(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
            if (d < 0) return 0;
            cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays invalid, never overflows
        }
        append_utf8(out, cp);
    } else {
        return 0;
    }
    return semi + 1;
}

}  // namespace

void append_xml_text_slow(std::string& out, std::string_view raw) {
    for (;;) {
        size_t at = 0;
        while (at < raw.size() && raw[at] != '&' && raw[at] != '\r') ++at;
        if (at == raw.size()) {
            out.append(raw);
            return;
        }
        out.append(raw.substr(0, at));
        raw.remove_prefix(at);
        size_t n = 1;
        if (raw[0] == '\r') {
            // XML reads a literal CR LF or lone CR as one LF; only &#13; stands for a CR.
            out += '\n';
            if (raw.size() > 1 && raw[1] == '\n') n = 2;
        } else if ((n = entity(out, raw)) == 0) {
            out += '&';
            n = 1;
        }
        raw.remove_prefix(n);
    }
}

void append_xml_cdata(std::string& out, std::string_view raw) {
    for (;;) {
        size_t at = raw.find('\r');
        if (at == std::string_view::npos) {
            out.append(raw);
            return;
        }
        out.append(raw.substr(0, at));
        out += '\n';
        raw.remove_prefix(at + (at + 1 < raw.size() && raw[at + 1] == '\n' ? 2 : 1));
    }
}

std::string decode_xml_text(std::string_view raw) {
    std::string out;
    append_xml_text(out, raw);
    return out;
}

void decode_ooxml_escapes(std::string& s) {
    size_t at = s.find("_x");
    if (at == std::string::npos) return;
    std::string out(s, 0, at);
    size_t i = at;
    while (i < s.size()) {
        if (s[i] == '_' && i + 6 < s.size() && s[i + 1] == 'x' && s[i + 6] == '_') {
            uint32_t cp = 0;
            bool ok = true;
            for (size_t k = i + 2; k < i + 6; ++k) {
                int d = hex_value(s[k]);
                if (d < 0) {
                    ok = false;
                    break;
                }
                cp = cp * 16 + static_cast<uint32_t>(d);
            }
            if (ok) {
                append_utf8(out, cp == 0 ? 0xFFFD : cp);
                i += 7;
                continue;
            }
        }
        out += s[i++];
    }
    s.swap(out);
}

bool XmlScanner::refill() {
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    size_t cap = buf_.size() - kPad;
    if (end_ == cap) {
        if (cap >= kMaxToken) malformed("a single XML item larger than 256 MB");
        buf_.resize(cap * 2 + kPad);
        cap *= 2;
    }
    size_t n = src_.read(buf_.data() + end_, cap - end_);
    if (n == 0) eof_ = true;
    end_ += n;
    buf_[end_] = '>';  // the sentinel that ends every name scan
    return n > 0;
}

void XmlScanner::malformed(const char* why) const {
    throw Error(what_ + ": malformed XML (" + why + ")");
}

}  // namespace igxl::detail
