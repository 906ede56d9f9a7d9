// A thin PCRE2 wrapper (JIT-compiled, UTF with Unicode properties) with the operations the
// readers use: search anywhere, match at the start, full match, find all, split, replace.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::util {

class Regex;

// Result of one match. Groups are byte ranges into the subject; an unset group is npos.
class Match {
public:
    Match();
    ~Match();
    Match(Match&&) noexcept;
    Match& operator=(Match&&) noexcept;
    Match(const Match&) = delete;
    Match& operator=(const Match&) = delete;

    explicit operator bool() const { return ok_; }
    size_t size() const { return ranges_.size(); }
    bool matched(size_t i = 0) const { return i < ranges_.size() && ranges_[i].first != npos; }
    size_t start(size_t i = 0) const { return ranges_.at(i).first; }
    size_t end(size_t i = 0) const { return ranges_.at(i).second; }
    // Text of group i; the empty text for an unset group.
    std::string_view group(size_t i = 0) const;
    std::string_view group(std::string_view name) const;
    bool matched(std::string_view name) const;

    static constexpr size_t npos = static_cast<size_t>(-1);

private:
    friend class Regex;
    bool ok_ = false;
    std::string_view subject_;
    std::vector<std::pair<size_t, size_t>> ranges_;
    const Regex* re_ = nullptr;
    void* md_ = nullptr;  // pcre2_match_data, reused across calls
    uint32_t md_pairs_ = 0;
};

class Regex {
public:
    enum Flags : uint32_t {
        NONE = 0,
        ICASE = 1u << 0,      // case-insensitive
        MULTILINE = 1u << 1,  // ^ and $ at line breaks
        DOTALL = 1u << 2,     // . matches a line break
        ASCII = 1u << 3,      // \w, \d, \b by ASCII only (default: Unicode properties)
    };

    explicit Regex(std::string_view pattern, uint32_t flags = NONE);
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    const std::string& pattern() const { return pattern_; }

    // First match at or after pos.
    bool search(std::string_view s, Match& m, size_t pos = 0) const;
    bool search(std::string_view s, size_t pos = 0) const;
    // Match that begins at pos (Python's re.match).
    bool match(std::string_view s, Match& m, size_t pos = 0) const;
    bool match(std::string_view s, size_t pos = 0) const;
    // Match that spans the whole text (Python's re.fullmatch).
    bool full_match(std::string_view s, Match& m) const;
    bool full_match(std::string_view s) const;

    // Every non-overlapping match, as Python's re.findall: group 0 when the pattern has no
    // groups, group 1 when it has one or more.
    std::vector<std::string> find_all(std::string_view s) const;

    // Python's re.split (captured groups are not returned).
    std::vector<std::string> split(std::string_view s) const;
    // Replace every match; in the replacement "$1"/"${name}" name groups (PCRE2 syntax).
    std::string replace_all(std::string_view s, std::string_view replacement) const;

    int group_index(std::string_view name) const;

private:
    friend class Match;
    bool run(std::string_view s, size_t pos, Match& m, int mode) const;
    std::string pattern_;
    void* code_ = nullptr;           // unanchored
    void* code_anchored_ = nullptr;  // anchored at start
    void* code_full_ = nullptr;      // anchored at both ends
    uint32_t groups_ = 0;
};

}  // namespace igxl::util
