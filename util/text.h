// Small text helpers with the semantics the sheet readers expect (Python-like split and strip).
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::util {

// Hash for maps keyed by text that can also be searched with a string_view (with
// std::equal_to<>), so a look-up makes no string.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Split at every occurrence of sep, keeping empty pieces ("a,,b" -> "a","","b"; "" -> "").
std::vector<std::string_view> split(std::string_view s, char sep);
std::vector<std::string_view> split(std::string_view s, std::string_view sep);
// As split, into out (cleared first): a reader reusing one vector row after row allocates once.
void split_into(std::string_view s, char sep, std::vector<std::string_view>& out);

// Split at runs of white space, dropping empty pieces (Python's str.split()).
std::vector<std::string_view> split_ws(std::string_view s);

std::string join(const std::vector<std::string>& parts, std::string_view sep);
std::string join(const std::vector<std::string_view>& parts, std::string_view sep);

bool is_space(char c);
std::string_view strip(std::string_view s);
std::string_view lstrip(std::string_view s);
std::string_view rstrip(std::string_view s);
std::string_view strip_chars(std::string_view s, std::string_view chars);

// ASCII case mapping: every name the sheets compare is ASCII.
std::string to_upper(std::string_view s);
// The same into a buffer kept by the caller (emptied first): row after row, nothing allocated.
void to_upper_into(std::string_view s, std::string& out);
std::string to_lower(std::string_view s);
bool iequals(std::string_view a, std::string_view b);

std::string replace_all(std::string_view s, std::string_view from, std::string_view to);
bool contains(std::string_view s, std::string_view part);

// Shell-style pattern match (*, ?, [...]); "*" also matches "/". ASCII letter case ignored. The C
// library does the matching, so it lives in the platform layer (Windows: * and ? only).
bool glob_match(const std::string& pattern, const std::string& text);

// Shortest text that reads back to the same double, in Python's repr form:
// '2.0', '0.5', '1e-09', '2.5e-05', '1e+16', 'nan', 'inf'.
std::string format_double(double v);
// The same text written into out (at least kMaxDoubleText bytes) without allocating; returns its
// length. For writers that format millions of cells.
inline constexpr size_t kMaxDoubleText = 32;
size_t format_double_to(double v, char* out);
// Lays out the significant digits d[0..nd) of a number d.ddd x 10^exp10 as format_double does;
// returns the end of the text. For callers that have the digits without a double.
char* layout_double_digits(const char* digits, int nd, int exp10, char* out);

// Python's str(int) for a parsed integer text; returns false when s is not a plain integer.
bool parse_int(std::string_view s, int64_t& out);
// Python float() of a text: optional blanks, sign, digits, '.', exponent, inf/nan.
bool parse_double(std::string_view s, double& out);

}  // namespace igxl::util
