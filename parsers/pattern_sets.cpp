#include "parsers/pattern_sets.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace {

std::string& patinfo_program() {
    static std::string program = "patinfo";
    return program;
}

std::string where(const std::string& file, size_t line) {
    return file + ":" + std::to_string(line) + ": ";
}

// Python's int(text, 16): optional sign, optional "0x", hex digits (underscores not needed).
bool parse_hex(std::string_view s, int64_t& out) {
    s = util::strip(s);
    bool neg = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty()) return false;
    uint64_t v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        if (v > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) >> 4)) return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    out = neg ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

}  // namespace

void set_patinfo_program(const std::string& program) { patinfo_program() = program; }
const std::string& get_patinfo_program() { return patinfo_program(); }

bool contains_any_substring(std::string_view s, const std::vector<std::string_view>& substrings) {
    for (auto sub : substrings)
        if (s.find(sub) != std::string_view::npos) return true;
    return false;
}

std::string truncate_after_substring(std::string_view s,
                                     const std::vector<std::string_view>& substrings) {
    const std::string lower = util::to_lower(s);
    size_t cut = s.size();
    for (auto sub : substrings) {
        size_t p = lower.find(util::to_lower(sub));
        // Signed arithmetic: a substring longer than s never qualifies.
        if (p != std::string::npos &&
            static_cast<long long>(p) < static_cast<long long>(cut) -
                                            static_cast<long long>(sub.size())) {
            cut = p + sub.size();
            break;
        }
    }
    return std::string(s.substr(0, cut));
}

void Quorvin::read_pattern_set(const std::string& pattern_set_path,
                               const std::string& /*pattern_file_path*/,
                               Platform platform) {
    static const util::Regex uflex_version(R"(version=(\S+?):)");
    static const util::Regex dff_version(R"(DFF (\d+(\.\d+)?))");

    const std::string path = util::resolve_sheet_path(pattern_set_path);
    util::LineReader reader(path);
    const bool uflex = layout_of(platform).ultraflex_family;

    std::string current_key;
    std::string previous;
    bool have_previous = false;
    bool starting = false;  // the current set's first row is not stored yet
    using namespace pattern_set_columns;
    size_t column = kPatternOther;
    std::vector<std::string_view> fields;  // reused row after row
    std::string_view line;
    for (size_t index = 0; reader.next(line); ++index) {
        if (index == kTitleRow) {
            util::Match m;
            const util::Regex& re = uflex ? uflex_version : dff_version;
            if (!re.search(line, m)) {
                throw Error(where(path, 1) + "pattern set title row holds no sheet version (" +
                            (uflex ? "version=...:" : "DFF n.n") + ")");
            }
            pattern_set_version = std::string(m.group(1));
            // Version 2.1 sheets (seen in real exports) keep the file name in column E, as 2.3.
            const std::string& v = *pattern_set_version;
            column = (v == "2.3" || v == "2.1") ? kPatternV23 : v == "1.1" ? kPatternV11 : kPatternOther;
            continue;
        }
        if (index < kFirstDataRow) continue;
        util::split_into(line, '\t', fields);
        if (fields.size() <= kSetName || fields[kSetName].empty()) break;
        const std::string_view set = fields[kSetName];
        if (!have_previous || set != previous) {
            previous = std::string(set);
            have_previous = true;
            current_key = util::to_upper(previous);
            cycle_dict[current_key] = 0;
            starting = true;
        }
        if (fields.size() <= column) {
            throw ShortRowError(where(path, reader.line_number()) + "pattern set row has " +
                                std::to_string(fields.size()) + " fields, the pattern name is " +
                                "expected in column " + std::string(1, char('A' + column)));
        }
        // The set's list is stored with its first pattern: a row that fails leaves neither an
        // empty set (which would resolve to no pattern) nor a half-cleared earlier one.
        auto& list = pattern_set_dict[current_key];
        if (starting) list.clear();  // a set that comes back after another set starts over
        starting = false;
        list.emplace_back(fields[column]);
    }
}

std::vector<std::string> Quorvin::get_pat_path(const std::string& pat_path) const {
    std::vector<std::string> out;
    std::vector<std::string> chain;
    resolve(pat_path, chain, out);
    return out;
}

void Quorvin::resolve(const std::string& pat_path, std::vector<std::string>& chain,
                      std::vector<std::string>& out) const {
    const std::string upper = util::to_upper(pat_path);
    for (auto ext : VALID_PATTERN_EXTENSIONS) {
        if (upper.size() >= ext.size() && upper.compare(upper.size() - ext.size(), ext.size(),
                                                        ext.data(), ext.size()) == 0) {
            out.push_back(pat_path);
            return;
        }
    }
    if (contains_any_substring(upper, VALID_PATTERN_EXTENSIONS)) {
        out.push_back(truncate_after_substring(pat_path, VALID_PATTERN_EXTENSIONS));
        return;
    }
    auto it = pattern_set_dict.find(upper);
    if (it == pattern_set_dict.end())
        throw Error("Error: Patset found item without pattern definition: " + pat_path);
    for (const auto& seen : chain) {
        if (seen == upper) {
            std::string cycle;
            for (const auto& c : chain) cycle += c + " -> ";
            throw Error("Error: Patset contains itself: " + cycle + upper);
        }
    }
    chain.push_back(upper);
    for (const auto& entry : it->second) resolve(entry, chain, out);
    chain.pop_back();
}

PatternSetMap Quorvin::get_pattern_set_info() const {
    PatternSetMap result;
    for (const auto& [key, entries] : pattern_set_dict) {
        std::vector<std::string> names;
        std::vector<std::string> chain{key};
        for (const auto& entry : entries) resolve(entry, chain, names);
        result.emplace(key, std::move(names));
    }
    return result;
}

void Quorvin::read_pattern_file(const std::string& pattern_file_path,
                                const std::string& pattern_set_name) {
    static const util::Regex vector_count_of(R"(Number\sof\spattern\svectors:\s(\d+))");
    static const util::Regex repeat_count(R"(repeat\s=\s(\d+))");
    static const util::Regex digit_start(R"(\d)");

    auto it = cycle_dict.find(util::to_upper(pattern_set_name));
    if (it == cycle_dict.end())
        throw Error("no pattern set '" + pattern_set_name + "' to count the cycles of '" +
                    pattern_file_path + "' for");

    util::LineReader reader(pattern_file_path);
    int64_t running = 0;
    std::string vectors = "0";
    std::string_view line;
    util::Match m;
    while (reader.next(line)) {
        if (vector_count_of.search(line, m)) vectors = std::string(m.group(1));
        if (!digit_start.match(line)) continue;
        const std::string at = where(pattern_file_path, reader.line_number());
        if (!repeat_count.search(line, m))
            throw Error(at + "vector line holds no \"repeat = N\"");
        int64_t repeat = 0;
        if (!util::parse_int(m.group(1), repeat))
            throw Error(at + "repeat count is not a number: " + std::string(m.group(1)));
        auto pieces = util::split_ws(line);
        if (pieces.size() < 2) throw ShortRowError(at + "vector line holds no cycle count");
        std::string_view cycles = pieces[1];
        if (!(cycles.starts_with("0x0000") || cycles.starts_with("0000"))) cycles = "0";
        int64_t count = 0;
        if (!parse_hex(cycles, count))
            throw Error(at + "cycle count is not hexadecimal: " + std::string(cycles));
        running += repeat * count;
    }
    int64_t vector_total = 0;
    if (!util::parse_int(vectors, vector_total))
        throw Error(pattern_file_path + ": vector count is not a number: " + vectors);
    it.value() += running + vector_total;
}

namespace detail {

std::string join_pattern_path(const std::string& folder, const std::string& file) {
    static const util::Regex separators(R"([/\\])");
    auto folder_parts = separators.split(folder);
    auto file_parts = separators.split(file);
    std::vector<std::string> parts(folder_parts.begin(), folder_parts.end() - 1);
    parts.insert(parts.end(), file_parts.begin() + 1, file_parts.end());
    return util::join(parts, "/");
}

std::vector<std::string> parse_tset_listing(std::string_view text) {
    static const util::Regex tset_line("\\t(\\S+) {1,2}\\d\\n");
    return tset_line.find_all(text);
}

}  // namespace detail

void Quorvin::read_tset_from_pattern(const std::string& pattern_folder_path,
                                     const std::string& pattern_file_path) {
    if (pattern_folder_path.empty()) return;
    const std::string pattern = detail::join_pattern_path(pattern_folder_path, pattern_file_path);
    if (!util::path_exists(pattern)) {
        tset_name = {std::string(PATTERN_MISSING_TEXT)};
        return;
    }
    const std::string output = pattern_folder_path + "/pattern_tset.txt";

    // The pattern path comes from a workbook: hand it to patinfo as one argument, never
    // through a shell, so no character in it can start another command.
    const std::string& program = patinfo_program();
    try {
        util::run_program({program, pattern, "-tset"}, output);
    } catch (const util::ProgramStartError& e) {
        throw Error("cannot run '" + program + "' on '" + pattern + "': " + e.reason());
    }
    // patinfo reports its own failures on standard error and lists nothing; its exit status
    // adds nothing the listing does not show.

    std::string text;
    util::LineReader reader(output);
    std::string_view line;
    while (reader.next(line)) {
        text.append(line);
        if (reader.had_break()) text.push_back('\n');
    }
    tset_name = detail::parse_tset_listing(text);
}

}  // namespace igxl
