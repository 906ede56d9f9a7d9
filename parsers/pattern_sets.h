// Pattern set reader: pattern set sheets into set -> pattern names, nested sets resolved into
// pattern file names, per-set cycle counts, and the time sets a pattern file uses (via patinfo).
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/platform.h"

namespace igxl {

// Upper-cased set name -> names listed for it (pattern files or other sets), in row order.
using PatternSetMap = tsl::ordered_map<std::string, std::vector<std::string>>;
// Upper-cased set name -> cycle count.
using PatternCycleMap = tsl::ordered_map<std::string, int64_t>;

// Pattern file extensions, longest first: the order decides where a name is cut.
inline constexpr std::array<std::string_view, 4> VALID_PATTERN_EXTENSIONS = {
    ".PATX.GZ", ".PAT.GZ", ".PATX", ".PAT"};

// What read_tset_from_pattern stores when the pattern file is missing.
inline constexpr std::string_view PATTERN_MISSING_TEXT = "Error: pattern file does not exist";

// The program run for time-set listings: "patinfo" (looked up on PATH) until a host or a test
// names another. Process-wide; set it before any check runs.
void set_patinfo_program(const std::string& program);
const std::string& get_patinfo_program();

// True when at least one of substrings occurs in s (case-sensitive).
bool contains_any_substring(std::string_view s, const std::vector<std::string_view>& substrings);
template <size_t N>
bool contains_any_substring(std::string_view s, const std::array<std::string_view, N>& subs) {
    return contains_any_substring(s, std::vector<std::string_view>(subs.begin(), subs.end()));
}

// Cuts s after the first substring (in list order, compared without case) that occurs before
// its end; an occurrence that ends exactly at the end of s does not count.
std::string truncate_after_substring(std::string_view s,
                                     const std::vector<std::string_view>& substrings);
template <size_t N>
std::string truncate_after_substring(std::string_view s,
                                     const std::array<std::string_view, N>& subs) {
    return truncate_after_substring(s, std::vector<std::string_view>(subs.begin(), subs.end()));
}

class Quorvin {
public:
    Quorvin() = default;

    // Reads one pattern set sheet into the set map and the cycle map. The pattern folder takes
    // no part in it. Throws FileNotFoundError, Error (no version in the title row) and
    // ShortRowError (a row without its pattern column).
    void read_pattern_set(const std::string& pattern_set_path,
                          const std::string& pattern_file_path = {},
                          Platform platform = Platform::UltraFLEXplus);

    // Every set resolved into pattern file names. Throws Error for an entry that is neither a
    // pattern file nor a known set, and for a set that contains itself.
    PatternSetMap get_pattern_set_info() const;
    // One set entry resolved into pattern file names (same failures).
    std::vector<std::string> get_pat_path(const std::string& pat_path) const;

    PatternCycleMap& get_pattern_cycle_info() { return cycle_dict; }
    // The set map as read (entries unresolved).
    PatternSetMap& get_pattern_set_dict() { return pattern_set_dict; }
    const std::optional<std::string>& get_pattern_set_version() const {
        return pattern_set_version;
    }

    // Adds the cycle count of a pattern listing text file to the set's entry (which must exist).
    void read_pattern_file(const std::string& pattern_file_path,
                           const std::string& pattern_set_name);

    // Runs patinfo on the pattern named by pattern_file_path under pattern_folder_path and keeps
    // the time-set names it lists. An empty folder changes nothing; a missing pattern file
    // leaves the single PATTERN_MISSING_TEXT. The listing lands in
    // <pattern_folder_path>/pattern_tset.txt. Throws Error when patinfo cannot be started or
    // leaves no listing.
    void read_tset_from_pattern(const std::string& pattern_folder_path,
                                const std::string& pattern_file_path);
    std::vector<std::string>& get_pattern_tset() { return tset_name; }

private:
    void resolve(const std::string& pat_path, std::vector<std::string>& chain,
                 std::vector<std::string>& out) const;

    std::vector<std::string> tset_name;
    PatternSetMap pattern_set_dict;
    PatternCycleMap cycle_dict;
    std::optional<std::string> pattern_set_version;
};

namespace detail {
// Joins the pattern folder and a pattern name as written in an instance sheet: the folder's
// last part and the name's first part stand for the same folder ('D:\prog\patterns' with
// '.\patterns\func\a.PAT' -> 'D:/prog/patterns/func/a.PAT').
std::string join_pattern_path(const std::string& folder, const std::string& file);
// Time-set names in a patinfo listing (lines "\t<name> <digit>").
std::vector<std::string> parse_tset_listing(std::string_view text);
}  // namespace detail

}  // namespace igxl
