// A small pull tokenizer for the XML of workbook parts. It reads a part in chunks and hands
// start tags, end tags and character data to a handler, so no part is ever held whole. It knows
// what workbook parts use (elements, attributes, entities, CDATA, comments, processing
// instructions); it defines no entities of its own and never fetches anything.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/error.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
using XmlAttrs = std::span<const XmlAttr>;

// Character data as the scanner found it: Plain holds no '&' and no CR and stands as written;
// Escaped may hold entities or CRs (see append_xml_text); CData is CDATA content.
enum class XmlText : uint8_t { Plain, Escaped, CData };

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
//   void on_start(std::string_view local_name, XmlAttrs attrs);
//   void on_end(std::string_view local_name);
//   bool capturing() const;              // whether character data is wanted now
//   void on_text(std::string_view s, XmlText kind);
// and may have
//   size_t fast_tag(const char* lt, const char* e);  // bytes of a whole record at lt, or 0
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

    // The buffer keeps kPad readable bytes after its end, so the scans below may load 16 bytes
    // at any position before e and drop the hits past it (fast_tag handlers may use them too).
    static constexpr size_t kPad = 64;
    // Scans a name from b up to the first byte of class stop; returns its end (e when the
    // buffer ends first) and sets start to the local name's first byte (after the last ':').
    // No bound test here nor in the blank skips of tag(): a '>' stands after the buffer's data
    // (see refill), and '>' ends every name and is no blank.
    static const char* scan_name(const char* b, uint8_t stop, const char*& start) {
        start = b;
        for (;; ++b) {
            uint8_t k = cls(*b);
            if (k) {
                if (k & stop) break;
                if (k & kColon) start = b + 1;
            }
        }
        return b;
    }
    static const char* find_char(const char* b, const char* e, char c) {
#if defined(__SSE2__)
        const __m128i n = _mm_set1_epi8(c);
        for (; b < e; b += 16) {
            unsigned m = static_cast<unsigned>(
                _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)), n)));
            if (m) {
                const char* r = b + __builtin_ctz(m);
                return r < e ? r : nullptr;
            }
        }
        return nullptr;
#else
        for (; e - b >= 4; b += 4) {
            if (b[0] == c) return b;
            if (b[1] == c) return b + 1;
            if (b[2] == c) return b + 2;
            if (b[3] == c) return b + 3;
        }
        for (; b < e; ++b)
            if (*b == c) return b;
        return nullptr;
#endif
    }
    // Copies the 16 bytes at from to out (16 writable) with the first replaced by c, in one store.
    static void copy16_with_first(const char* from, char c, char* out) {
#if defined(__SSE2__)
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        x = _mm_or_si128(_mm_and_si128(x, _mm_set_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0)),
                         _mm_set_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, c));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), x);
#else
        std::memcpy(out, from, 16);
        out[0] = c;
#endif
    }
    // Copies the 32 bytes at from to out (32 writable) with every 'E' lowered, in two stores.
    static void copy32_lowering_e(const char* from, char* out) {
#if defined(__SSE2__)
        const __m128i upper_e = _mm_set1_epi8('E'), bit = _mm_set1_epi8(0x20);
        for (int k = 0; k < 32; k += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k));
            x = _mm_or_si128(x, _mm_and_si128(_mm_cmpeq_epi8(x, upper_e), bit));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), x);
        }
#else
        for (int k = 0; k < 32; ++k) out[k] = from[k] == 'E' ? 'e' : from[k];
#endif
    }
    // Whether the n bytes at b hold a tab, LF or CR (16 bytes readable from any of them).
    static bool has_break(const char* b, size_t n) {
#if defined(__SSE2__)
        const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
        for (size_t i = 0; i < n; i += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, tab), _mm_cmpeq_epi8(x, lf)), _mm_cmpeq_epi8(x, cr))));
            if (n - i < 16) m &= (1u << (n - i)) - 1;
            if (m) return true;
        }
        return false;
#else
        for (size_t i = 0; i < n; ++i)
            if (b[i] == '\t' || b[i] == '\n' || b[i] == '\r') return true;
        return false;
#endif
    }
    // find_text_end_flags for the tokenizer, which needs only whether the text is escaped.
    static const char* find_text_end(const char* b, const char* e, bool& escaped) {
        unsigned flags;
        const char* lt = find_text_end_flags<false>(b, e, flags);
        escaped = (flags & kTextEscaped) != 0;
        return lt;
    }

    // What find_text_end_flags reports of the text before the '<' (or before e).
    static constexpr unsigned kTextEscaped = 1, kTextBreak = 2, kTextUx = 4;
    // The next '<' from b, null when e comes first. flags: whether the text holds a '&' or CR
    // (kTextEscaped: it needs decoding) and, in the same pass, a tab, LF or CR (kTextBreak) or an
    // "_x" that may start an OOXML escape (kTextUx); with Texts false only kTextEscaped is told
    // (the tokenizer, and values that are numbers or indexes, need no more).
    template <bool Texts = true>
    static const char* find_text_end_flags(const char* b, const char* e, unsigned& flags) {
#if defined(__SSE2__)
        const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), cr = _mm_set1_epi8('\r');
        const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n');
        const __m128i us = _mm_set1_epi8('_'), x = _mm_set1_epi8('x');
        unsigned esc = 0, brk = 0, ux = 0;
        for (; b < e; b += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
            __m128i is_cr = _mm_cmpeq_epi8(v, cr);
            unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lt)));
            unsigned a = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, amp), is_cr)));
            unsigned k = 0, u = 0;
            if constexpr (Texts) {
                k = static_cast<unsigned>(_mm_movemask_epi8(
                    _mm_or_si128(is_cr, _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, lf)))));
                u = static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(v, us),
                                                    _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 1)), x))));
            }
            if (e - b < 16) {
                unsigned valid = (1u << (e - b)) - 1;
                m &= valid;
                a &= valid;
                k &= valid;
                u &= valid;
            }
            if (m) {
                unsigned before = (1u << __builtin_ctz(m)) - 1;
                esc |= a & before;
                brk |= k & before;
                ux |= u & before;
                flags = (esc ? kTextEscaped : 0) | (brk ? kTextBreak : 0) | (ux ? kTextUx : 0);
                return b + __builtin_ctz(m);
            }
            esc |= a;
            brk |= k;
            ux |= u;
        }
        flags = (esc ? kTextEscaped : 0) | (brk ? kTextBreak : 0) | (ux ? kTextUx : 0);
        return nullptr;
#else
        flags = 0;
        for (; b < e; ++b) {
            if (*b == '<') return b;
            if (*b == '&' || *b == '\r') flags |= kTextEscaped;
            if (*b == '\t' || *b == '\n' || *b == '\r') flags |= kTextBreak;
            if (*b == '_' && b + 1 < e && b[1] == 'x') flags |= kTextUx;
        }
        return nullptr;
#endif
    }

private:
    enum : uint8_t { kWs = kXmlWs, kTagStop = kXmlTagStop, kAttrStop = kXmlAttrStop, kColon = kXmlColon, kGt = kXmlGt };
    static uint8_t cls(char c) { return kXmlClasses.c[static_cast<unsigned char>(c)]; }
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
    std::vector<XmlAttr> attrs_;  // sized ahead; the first nattrs_ are the current tag's
    size_t nattrs_ = 0;
};

template <class H>
void XmlScanner::run(H& h) {
    buf_.resize((size_t(1) << 18) + kPad);
    buf_[0] = '>';
    attrs_.resize(16);
    for (;;) {
        // Local pointers over the buffer: the members are settled once per chunk, not per tag.
        const char* b = buf_.data();
        const char* p = b + pos_;
        const char* e = b + end_;  // kPad bytes after e stay readable
        bool need_more = false;
        for (;;) {
            // Between tags of sheet XML there is mostly nothing: the next byte is the '<'.
            bool escaped = false;
            const char* lt = p < e && *p == '<' ? p : find_text_end(p, e, escaped);
            if (!lt) break;
            if (lt > p && h.capturing())
                h.on_text({p, static_cast<size_t>(lt - p)}, escaped ? XmlText::Escaped : XmlText::Plain);
            size_t used = 0;
            // A handler may take its most common records whole, ahead of the generic path.
            if constexpr (requires { h.fast_tag(lt, e); }) used = h.fast_tag(lt, e);
            if (used == 0) used = tag(lt, e, h);
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
            if (end_ > pos_ && h.capturing()) h.on_text({b + pos_, end_ - pos_}, XmlText::Escaped);
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
        if (p[3] == '>' && !cls(p[2]) && p + 3 < e) {
            // </c>, </v>: a one-letter name needs no scan.
            h.on_end({p + 2, 1});
            return 4;
        }
        const char* n0;
        const char* ne = scan_name(p + 2, kWs | kGt, n0);
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
            if (h.capturing()) h.on_text({p + 9, static_cast<size_t>(q - (p + 9))}, XmlText::CData);
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
    if (p[2] == '>' && !cls(c) && p + 2 < e) {
        // <v>, <f>, <t>: a one-letter name without attributes.
        h.on_start({p + 1, 1}, XmlAttrs());
        return 3;
    }
    const char* n0;
    const char* q = scan_name(p + 1, kTagStop, n0);
    if (q == e) return 0;
    std::string_view name(n0, static_cast<size_t>(q - n0));
    if (name.empty()) malformed("a tag without a name");
    nattrs_ = 0;
    bool empty = false;
    for (;;) {
        while (cls(*q) & kWs) ++q;
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
        q = scan_name(q, kAttrStop, a0);
        if (q == e) return 0;
        const char* n1 = q;
        while (cls(*q) & kWs) ++q;
        if (q == e) return 0;
        if (*q != '=') malformed("an attribute without a value");
        ++q;
        while (cls(*q) & kWs) ++q;
        if (q == e) return 0;
        char quote = *q;
        if (quote != '"' && quote != '\'') malformed("an unquoted attribute value");
        const char* v0 = ++q;
        q = find_char(q, e, quote);
        if (!q) return 0;
        if (nattrs_ == attrs_.size()) attrs_.resize(attrs_.size() * 2);
        attrs_[nattrs_++] = {{a0, static_cast<size_t>(n1 - a0)}, {v0, static_cast<size_t>(q - v0)}};
        ++q;
    }
    h.on_start(name, XmlAttrs(attrs_.data(), nattrs_));
    if (empty) h.on_end(name);
    return static_cast<size_t>(q - p);
}

}  // namespace igxl::detail
