#include "tools/vba_project/ovba.h"

#include <algorithm>
#include <stdexcept>

namespace igxl::ovba {
namespace {

constexpr size_t kChunk = 4096;

// Bit split of a copy token: the offset field widens as the chunk position grows.
struct TokenShape {
    unsigned bit_count;
    size_t max_length;
};

TokenShape token_shape(size_t position_in_chunk) {
    unsigned bits = 4;
    while ((size_t{1} << bits) < position_in_chunk) ++bits;
    return {bits, (size_t{0xFFFF} >> bits) + 3};
}

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Compresses data[begin, end) (at most one chunk) into out, or stores it raw when the tokens
// would not fit the 4096-byte chunk body.
void compress_chunk(std::string_view data, size_t begin, size_t end, std::string& out) {
    const size_t header_at = out.size();
    put16(out, 0);
    const size_t body_limit = header_at + 2 + kChunk;
    size_t cur = begin;
    bool fits = true;
    while (cur < end) {
        const size_t flag_at = out.size();
        if (flag_at >= body_limit) {
            fits = false;
            break;
        }
        out.push_back(0);
        uint8_t flags = 0;
        for (int bit = 0; bit < 8 && cur < end; ++bit) {
            // Longest earlier match in this chunk; the nearest wins among equals.
            size_t best_len = 0, best_off = 0;
            const TokenShape shape = token_shape(cur - begin);
            const size_t limit = std::min(shape.max_length, end - cur);
            for (size_t cand = cur; cand-- > begin;) {
                if (data[cand] != data[cur]) continue;
                size_t len = 0;
                while (len < limit && data[cand + len] == data[cur + len]) ++len;
                if (len > best_len) {
                    best_len = len;
                    best_off = cur - cand;
                    if (len == limit) break;
                }
            }
            if (best_len >= 3) {
                if (out.size() + 2 > body_limit) {
                    fits = false;
                    break;
                }
                uint16_t token = static_cast<uint16_t>(((best_off - 1) << (16 - shape.bit_count)) |
                                                       (best_len - 3));
                put16(out, token);
                flags |= static_cast<uint8_t>(1u << bit);
                cur += best_len;
            } else {
                if (out.size() + 1 > body_limit) {
                    fits = false;
                    break;
                }
                out.push_back(data[cur]);
                ++cur;
            }
        }
        out[flag_at] = static_cast<char>(flags);
        if (!fits) break;
    }
    uint16_t header;
    if (fits) {
        const size_t size = out.size() - header_at;  // header included
        header = static_cast<uint16_t>(0xB000 | (size - 3));
    } else {
        out.resize(header_at + 2);
        out.append(data.substr(begin, end - begin));
        out.append(kChunk - (end - begin), '\0');
        header = 0x3000 | 0x0FFF;
    }
    out[header_at] = static_cast<char>(header & 0xFF);
    out[header_at + 1] = static_cast<char>(header >> 8);
}

std::string utf16(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

void record(std::string& out, uint16_t id, std::string_view data) {
    put16(out, id);
    put32(out, static_cast<uint32_t>(data.size()));
    out.append(data);
}

std::string u16(uint16_t v) {
    std::string s;
    put16(s, v);
    return s;
}

std::string u32(uint32_t v) {
    std::string s;
    put32(s, v);
    return s;
}

// Type library every VBA project refers to (OLE Automation).
constexpr std::string_view kStdoleLibid =
    "*\\G{00020430-0000-0000-C000-000000000046}#2.0#0#"
    "C:\\Windows\\System32\\stdole2.tlb#OLE Automation";

}  // namespace

std::string compress(std::string_view data) {
    std::string out(1, '\x01');
    for (size_t begin = 0; begin < data.size(); begin += kChunk)
        compress_chunk(data, begin, std::min(begin + kChunk, data.size()), out);
    return out;
}

std::string encrypt(std::string_view project_clsid, std::string_view data, uint8_t seed) {
    std::string bytes;
    const uint8_t version = 2;
    uint8_t proj_key = 0;
    for (char c : project_clsid) proj_key = static_cast<uint8_t>(proj_key + static_cast<uint8_t>(c));
    const uint8_t version_enc = seed ^ version;
    const uint8_t proj_key_enc = seed ^ proj_key;
    bytes.push_back(static_cast<char>(seed));
    bytes.push_back(static_cast<char>(version_enc));
    bytes.push_back(static_cast<char>(proj_key_enc));
    uint8_t unencrypted1 = proj_key, encrypted1 = proj_key_enc, encrypted2 = version_enc;
    auto emit = [&](uint8_t plain) {
        uint8_t enc = plain ^ static_cast<uint8_t>(encrypted2 + unencrypted1);
        bytes.push_back(static_cast<char>(enc));
        encrypted2 = encrypted1;
        encrypted1 = enc;
        unencrypted1 = plain;
    };
    const unsigned ignored = (seed & 6u) / 2;
    for (unsigned i = 0; i < ignored; ++i) emit(0);
    const uint32_t length = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) emit(static_cast<uint8_t>((length >> (8 * i)) & 0xFF));
    for (char c : data) emit(static_cast<uint8_t>(c));

    static const char* hex = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        text.push_back(hex[b >> 4]);
        text.push_back(hex[b & 0xF]);
    }
    return text;
}

std::string dir_stream(const Project& p) {
    std::string d;
    // Project information.
    record(d, 0x0001, u32(0x00000001));  // SYSKIND: 32-bit Windows; Office adapts on load
    record(d, 0x0002, u32(0x0409));      // LCID
    record(d, 0x0014, u32(0x0409));      // LCIDINVOKE
    record(d, 0x0003, u16(p.code_page)); // CODEPAGE
    record(d, 0x0004, p.name);
    record(d, 0x0005, "");               // DOCSTRING, then its Unicode twin
    record(d, 0x0040, "");
    record(d, 0x0006, "");               // HELPFILEPATH 1 and 2
    record(d, 0x003D, "");
    record(d, 0x0007, u32(0));           // HELPCONTEXT
    record(d, 0x0008, u32(0));           // LIBFLAGS
    put16(d, 0x0009);                    // VERSION: a fixed 4 in the size field, 6 bytes follow
    put32(d, 4);
    put32(d, 1);
    put16(d, 0);
    record(d, 0x000C, "");               // CONSTANTS and Unicode twin
    record(d, 0x003C, "");

    // One reference: OLE Automation.
    record(d, 0x0016, "stdole");
    record(d, 0x003E, utf16("stdole"));
    {
        std::string body = u32(static_cast<uint32_t>(kStdoleLibid.size()));
        body.append(kStdoleLibid);
        body += u32(0);
        body += u16(0);
        record(d, 0x000D, body);
    }

    // Modules.
    record(d, 0x000F, u16(static_cast<uint16_t>(p.modules.size())));
    record(d, 0x0013, u16(0xFFFF));
    for (const Module& m : p.modules) {
        record(d, 0x0019, m.name);
        record(d, 0x0047, utf16(m.name));
        record(d, 0x001A, m.name);           // stream name and Unicode twin
        record(d, 0x0032, utf16(m.name));
        record(d, 0x001C, "");               // doc string and Unicode twin
        record(d, 0x0048, "");
        record(d, 0x0031, u32(0));           // source starts at 0: no compiled code first
        record(d, 0x001E, u32(0));           // help context
        record(d, 0x002C, u16(0xFFFF));      // cookie
        put16(d, m.kind == ModuleKind::Document ? 0x0022 : 0x0021);
        put32(d, 0);
        put16(d, 0x002B);                    // module terminator
        put32(d, 0);
    }
    put16(d, 0x0010);  // dir terminator
    put32(d, 0);
    return d;
}

std::string project_stream(const Project& p) {
    std::string s = "ID=\"" + p.clsid + "\"\r\n";
    for (const Module& m : p.modules) {
        if (m.kind == ModuleKind::Document)
            s += "Document=" + m.name + "/&H00000000\r\n";
        else
            s += "Module=" + m.name + "\r\n";
    }
    s += "Name=\"" + p.name + "\"\r\n";
    s += "HelpContextID=\"0\"\r\n";
    s += "VersionCompatible32=\"393222000\"\r\n";
    // Not protected, no password, visible; fixed seeds keep builds identical.
    s += "CMG=\"" + encrypt(p.clsid, std::string(4, '\0'), 0x35) + "\"\r\n";
    s += "DPB=\"" + encrypt(p.clsid, std::string(1, '\0'), 0x77) + "\"\r\n";
    s += "GC=\"" + encrypt(p.clsid, std::string(1, '\xFF'), 0xB1) + "\"\r\n";
    s += "\r\n[Host Extender Info]\r\n";
    s += "&H00000001={3832D640-CF90-11CF-8E43-00A0C911005A};VBE;&H00000000\r\n";
    s += "\r\n[Workspace]\r\n";
    for (const Module& m : p.modules) s += m.name + "=0, 0, 0, 0, C\r\n";
    return s;
}

std::string project_wm_stream(const Project& p) {
    std::string s;
    for (const Module& m : p.modules) {
        s += m.name;
        s.push_back('\0');
        s += utf16(m.name);
        s.append(2, '\0');
    }
    s.append(2, '\0');
    return s;
}

std::string vba_project_stream() {
    std::string s;
    put16(s, 0x61CC);
    put16(s, 0xFFFF);
    s.push_back('\0');
    put16(s, 0);
    return s;
}

std::string normalise_source(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 20);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace igxl::ovba
