// Module text as the parser keeps it: decoded UTF-8 with LF line ends, one buffer per module,
// split into lines that keep their LF. Plus the character-level scans the parser relies on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace igxl::vbt {

// How a module's bytes were read, so that a rewrite writes them back the same way.
struct TextEncoding {
    enum Kind : uint8_t {
        utf8,
        utf16le,
        utf16be,
        legacy,  // a legacy code page, through the converter
        raw_bytes,  // did not decode: each byte kept as one character (U+0000..U+00FF)
    };
    Kind kind = utf8;
    bool bom = false;       // the file starts with a byte order mark (kept on rewrite)
    std::string code_page;  // the converter's name, for kind legacy
    // "UTF-8", "UTF-16LE", "CP936", "bytes" ...
    std::string label() const;
};

// A module file as text: UTF-8 with the file's own line ends, without the byte order mark.
struct DecodedModule {
    std::string text;
    TextEncoding encoding;
};

// Valid UTF-8 (with or without BOM) is UTF-8; a UTF-16 BOM gives UTF-16; otherwise the bytes are
// read in code_page (a converter name, see util::code_page_name). Bytes that do not decode are
// read as raw_bytes: every byte kept, so names in ASCII can still be renamed exactly.
DecodedModule decode_module(std::string_view bytes, const std::string& code_page);
// The same; valid UTF-8 (the common case) is taken over instead of copied.
DecodedModule decode_module(std::string&& bytes, const std::string& code_page);

// One physical line of a module file, in the file's own encoding.
struct RawLine {
    std::string_view content;  // without the line end
    std::string_view end;      // "\n", "\r\n", "\r" in the encoding, or empty on the last line
};
// The byte order mark (empty when none) and the lines of a module file's bytes.
std::string_view split_raw_lines(std::string_view bytes, const TextEncoding& encoding, std::vector<RawLine>& lines);
// One line's bytes as UTF-8, and back; nothing when they do not convert.
std::optional<std::string> decode_line(std::string_view bytes, const TextEncoding& encoding);
std::optional<std::string> encode_line(std::string_view utf8, const TextEncoding& encoding);

class SourceLines {
public:
    SourceLines() = default;
    // text must already use LF line ends (see decode_source).
    explicit SourceLines(std::string text);

    size_t size() const { return starts_.empty() ? 0 : starts_.size() - 1; }
    bool empty() const { return size() == 0; }
    // Line i (0-based) with its LF terminator, if it has one.
    std::string_view operator[](size_t i) const {
        return std::string_view(*text_).substr(starts_[i], starts_[i + 1] - starts_[i]);
    }
    std::string_view at(size_t i) const;  // throws std::out_of_range

    // The whole text; lines are views into it and stay valid while any copy of this object lives.
    const std::string& text() const;
    std::shared_ptr<const std::string> shared_text() const { return text_; }
    std::vector<std::string> to_vector() const;

    // How the module file was read (set by the parser).
    const TextEncoding& encoding() const { return encoding_; }
    void set_encoding(TextEncoding encoding) { encoding_ = std::move(encoding); }

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;
        const_iterator() = default;
        const_iterator(const SourceLines* owner, size_t i) : owner_(owner), i_(i) {}
        std::string_view operator*() const { return (*owner_)[i_]; }
        const_iterator& operator++() { ++i_; return *this; }
        const_iterator operator++(int) { auto t = *this; ++i_; return t; }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }
        bool operator!=(const const_iterator& o) const { return i_ != o.i_; }
    private:
        const SourceLines* owner_ = nullptr;
        size_t i_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    std::shared_ptr<const std::string> text_;
    std::vector<uint32_t> starts_;  // line i spans [starts_[i], starts_[i + 1])
    TextEncoding encoding_;
};

// Module file bytes as text: bytes that are not valid UTF-8 are dropped, then CR LF and lone CR
// become LF (decoding first, so a dropped byte between CR and LF does not make two line ends).
std::string decode_source(std::string bytes);

namespace detail {

// Leading and trailing white space removed, Unicode spaces included (U+00A0, U+3000, ...).
std::string_view strip(std::string_view s);

// Whether a code point is a word character as the regular expressions see it (\w, \b).
bool is_word_code_point(uint32_t cp);

// Calls f(run, identifier) for every maximal run of word characters in the line, left to right.
// identifier is true when the run is an ASCII name: [A-Za-z_][A-Za-z0-9_]*. These are exactly the
// words "\b([a-zA-Z_][a-zA-Z0-9_]*)\b" finds, and a run equals a word name exactly when
// "\bname\b" is found there, so one pass replaces one regular-expression search per name.
template <class F>
void for_each_word_run(std::string_view line, F&& f);

// Decodes one code point at s[i]; sets len (1 for a byte that starts no valid sequence).
uint32_t decode_at(std::string_view s, size_t i, size_t& len);

inline bool is_ascii_word(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

template <class F>
void for_each_word_run(std::string_view line, F&& f) {
    const size_t n = line.size();
    size_t i = 0;
    while (i < n) {
        // Skip to the start of the next run.
        size_t len = 1;
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool word = c < 0x80 ? is_ascii_word(c) : is_word_code_point(decode_at(line, i, len));
        if (!word) {
            i += len;
            continue;
        }
        const size_t start = i;
        bool ascii_name = c < 0x80 && !(c >= '0' && c <= '9');
        i += len;
        while (i < n) {
            c = static_cast<unsigned char>(line[i]);
            if (c < 0x80) {
                if (!is_ascii_word(c)) break;
                ++i;
                continue;
            }
            if (!is_word_code_point(decode_at(line, i, len))) break;
            ascii_name = false;
            i += len;
        }
        f(line.substr(start, i - start), ascii_name);
    }
}

}  // namespace detail
}  // namespace igxl::vbt
