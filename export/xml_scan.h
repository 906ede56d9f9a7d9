// A small pull tokenizer for the XML of workbook parts. It reads a part in chunks and hands
// start tags, end tags and character data to a handler, so no part is ever held whole. It knows
// what workbook parts use (elements, attributes, entities, CDATA, comments, processing
// instructions); it defines no entities of its own and never fetches anything.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "util/error.h"

namespace igxl::detail {

// Where the bytes of one part come from (a zip member stream, or memory in tests).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes into buf; 0 at the end. Throws igxl::Error on a read failure.
    virtual size_t read(char* buf, size_t n) = 0;
};

struct XmlAttr {
    std::string_view name;   // local name (prefix dropped)
    std::string_view value;  // raw, entities not yet decoded: see append_xml_text
};

// Appends raw character data with the five predefined entities and character references
// decoded. Unknown entities stay as written; a reference to an invalid character gives U+FFFD.
void append_xml_text_slow(std::string& out, std::string_view raw);
inline void append_xml_text(std::string& out, std::string_view raw) {
    // Most cell texts hold neither an entity nor a CR: copied as they stand.
    for (char c : raw)
        if (c == '&' || c == '\r') return append_xml_text_slow(out, raw);
    out.append(raw);
}
std::string decode_xml_text(std::string_view raw);
// CDATA content: only the line ends are normalized.
void append_xml_cdata(std::string& out, std::string_view raw);

// Decodes the _xHHHH_ escapes that OOXML uses for characters XML cannot carry.
void decode_ooxml_escapes(std::string& s);

// Handler needs:
//   void on_start(std::string_view local_name, const std::vector<XmlAttr>& attrs);
//   void on_end(std::string_view local_name);
//   bool capturing() const;              // whether character data is wanted now
//   void on_text(std::string_view s, bool raw);   // raw: CDATA, no entity decoding
// An empty element <a/> gives on_start then on_end.
// Byte classes inside tags, one table look-up per byte on the hot path.
enum : uint8_t { kXmlWs = 1, kXmlTagStop = 2, kXmlAttrStop = 4, kXmlColon = 8, kXmlGt = 16 };
struct XmlByteClasses {
    uint8_t c[256] = {};
    constexpr XmlByteClasses() {
        for (char w : {' ', '\t', '\n', '\r'})
            c[static_cast<unsigned char>(w)] = kXmlWs | kXmlTagStop | kXmlAttrStop;
        c[static_cast<unsigned char>('>')] = kXmlTagStop | kXmlAttrStop | kXmlGt;
        c[static_cast<unsigned char>('/')] = kXmlTagStop | kXmlAttrStop;
        c[static_cast<unsigned char>('=')] = kXmlAttrStop;
        c[static_cast<unsigned char>(':')] = kXmlColon;
    }
};
inline constexpr XmlByteClasses kXmlClasses{};

class XmlScanner {
public:
    XmlScanner(ByteSource& src, std::string what) : src_(src), what_(std::move(what)) {}

    template <class H>
    void run(H& h);

private:
    static bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    enum : uint8_t { kWs = kXmlWs, kTagStop = kXmlTagStop, kAttrStop = kXmlAttrStop, kColon = kXmlColon, kGt = kXmlGt };
    static uint8_t cls(char c) { return kXmlClasses.c[static_cast<unsigned char>(c)]; }
    // Scans a name from b up to the first byte of class stop; returns its end (e when the
    // buffer ends first) and sets start to the local name's first byte (after the last ':').
    static const char* scan_name(const char* b, const char* e, uint8_t stop, const char*& start) {
        start = b;
        for (; b < e; ++b) {
            uint8_t k = cls(*b);
            if (k) {
                if (k & stop) break;
                if (k & kColon) start = b + 1;
            }
        }
        return b;
    }
    // Byte loops: the spans in sheet XML are a few bytes long, too short for memchr to pay.
    static const char* find_char(const char* b, const char* e, char c) {
        for (; e - b >= 4; b += 4) {
            if (b[0] == c) return b;
            if (b[1] == c) return b + 1;
            if (b[2] == c) return b + 2;
            if (b[3] == c) return b + 3;
        }
        for (; b < e; ++b)
            if (*b == c) return b;
        return nullptr;
    }
    static const char* find(const char* b, const char* e, const char* pat, size_t n) {
        if (static_cast<size_t>(e - b) < n) return nullptr;
        const char* last = e - n;
        for (const char* p = b; p <= last; ++p) {
            p = static_cast<const char*>(std::memchr(p, pat[0], static_cast<size_t>(last - p + 1)));
            if (!p) return nullptr;
            if (std::memcmp(p, pat, n) == 0) return p;
        }
        return nullptr;
    }
    bool refill();
    [[noreturn]] void malformed(const char* why) const;

    template <class H>
    size_t tag(const char* p, const char* e, H& h);

    ByteSource& src_;
    std::string what_;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    std::vector<XmlAttr> attrs_;
};

template <class H>
void XmlScanner::run(H& h) {
    buf_.resize(size_t(1) << 18);
    attrs_.reserve(16);
    for (;;) {
        // Local pointers over the buffer: the members are settled once per chunk, not per tag.
        const char* b = buf_.data();
        const char* p = b + pos_;
        const char* e = b + end_;
        bool need_more = false;
        for (;;) {
            const char* lt = find_char(p, e, '<');
            if (!lt) break;
            if (lt > p && h.capturing()) h.on_text({p, static_cast<size_t>(lt - p)}, false);
            size_t used = tag(lt, e, h);
            if (used == 0) {
                p = lt;
                need_more = true;
                break;
            }
            p = lt + used;
        }
        pos_ = static_cast<size_t>(p - b);
        if (need_more) {
            if (eof_) malformed("the part ends inside a tag");
            refill();
            continue;
        }
        if (eof_) {
            if (end_ > pos_ && h.capturing()) h.on_text({b + pos_, end_ - pos_}, false);
            return;
        }
        // Keep captured text whole across chunks so an entity is never cut in two.
        if (!h.capturing()) pos_ = end_;
        refill();
    }
}

// One markup item at p ('<'); returns the bytes it took, 0 when more input is needed.
template <class H>
size_t XmlScanner::tag(const char* p, const char* e, H& h) {
    if (e - p < 2) return 0;
    char c = p[1];
    if (c == '/') {
        const char* n0;
        const char* ne = scan_name(p + 2, e, kWs | kGt, n0);
        if (ne == e) return 0;
        const char* q = *ne == '>' ? ne : find_char(ne, e, '>');
        if (!q) return 0;
        h.on_end({n0, static_cast<size_t>(ne - n0)});
        return static_cast<size_t>(q + 1 - p);
    }
    if (c == '?') {
        const char* q = find(p + 2, e, "?>", 2);
        return q ? static_cast<size_t>(q + 2 - p) : 0;
    }
    if (c == '!') {
        if (e - p < 4) return 0;
        if (p[2] == '-' && p[3] == '-') {
            const char* q = find(p + 4, e, "-->", 3);
            return q ? static_cast<size_t>(q + 3 - p) : 0;
        }
        if (e - p < 9) return 0;
        if (std::memcmp(p, "<![CDATA[", 9) == 0) {
            const char* q = find(p + 9, e, "]]>", 3);
            if (!q) return 0;
            if (h.capturing()) h.on_text({p + 9, static_cast<size_t>(q - (p + 9))}, true);
            return static_cast<size_t>(q + 3 - p);
        }
        // A document type declaration: skipped with its internal subset; its entities are
        // never defined, so nothing can expand.
        int depth = 0;
        for (const char* q = p + 2; q < e; ++q) {
            if (*q == '[') ++depth;
            else if (*q == ']') --depth;
            else if (*q == '>' && depth <= 0) return static_cast<size_t>(q + 1 - p);
        }
        return 0;
    }
    const char* n0;
    const char* q = scan_name(p + 1, e, kTagStop, n0);
    if (q == e) return 0;
    std::string_view name(n0, static_cast<size_t>(q - n0));
    if (name.empty()) malformed("a tag without a name");
    attrs_.clear();
    bool empty = false;
    for (;;) {
        while (q < e && is_ws(*q)) ++q;
        if (q == e) return 0;
        if (*q == '>') {
            ++q;
            break;
        }
        if (*q == '/') {
            if (q + 1 == e) return 0;
            if (q[1] != '>') malformed("'/' inside a tag");
            empty = true;
            q += 2;
            break;
        }
        const char* a0;
        q = scan_name(q, e, kAttrStop, a0);
        if (q == e) return 0;
        const char* n1 = q;
        while (q < e && is_ws(*q)) ++q;
        if (q == e) return 0;
        if (*q != '=') malformed("an attribute without a value");
        ++q;
        while (q < e && is_ws(*q)) ++q;
        if (q == e) return 0;
        char quote = *q;
        if (quote != '"' && quote != '\'') malformed("an unquoted attribute value");
        const char* v0 = ++q;
        q = find_char(q, e, quote);
        if (!q) return 0;
        attrs_.push_back({{a0, static_cast<size_t>(n1 - a0)}, {v0, static_cast<size_t>(q - v0)}});
        ++q;
    }
    h.on_start(name, attrs_);
    if (empty) h.on_end(name);
    return static_cast<size_t>(q - p);
}

}  // namespace igxl::detail
