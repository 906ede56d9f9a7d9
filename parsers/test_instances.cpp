#include "parsers/test_instances.h"

#include <algorithm>
#include <cstring>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace {

std::string_view field(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? f[i] : std::string_view{};
}

// ASCII upper case into a buffer kept across rows, so the per-row lookups allocate nothing.
void upper_into(std::string_view s, std::string& out) {
    out.assign(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool printable_ascii(std::string_view s) {
    for (char c : s) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

const util::Regex& pattern_regex(bool patx) {
    static const util::Regex patx_file(R"(\t([\S ]+\.patx))", util::Regex::ICASE);
    static const util::Regex pat_file(R"(\t([\S ]+\.pat))", util::Regex::ICASE);
    return patx ? patx_file : pat_file;
}

}  // namespace

namespace detail {

// The expression matches from a field's first character to the last ".pat" of the field that
// no blank other than a space precedes, so a field of printable ASCII yields exactly the text
// up to its last ".pat" (when something comes before it). Fields with other characters (Unicode
// blanks, control characters, invalid UTF-8) are left to the expression itself.
std::vector<std::string> find_pattern_names(std::string_view line,
                                            const std::vector<std::string_view>& fields,
                                            size_t width, bool patx) {
    std::vector<std::string> names;
    const size_t count = std::min(width, fields.size());
    if (count < 2) return names;
    const char* base = line.data();
    const size_t end = static_cast<size_t>(fields[count - 1].data() - base) + fields[count - 1].size();
    const size_t ext = patx ? 5 : 4;

    size_t k = 1;            // field holding the last ".pat" found
    size_t name_end = 0;     // end of that ".pat" (0: none yet in field k)
    bool exact = true;       // every name so far is plain ASCII
    auto take = [&] {
        if (!name_end) return;
        const size_t start = static_cast<size_t>(fields[k].data() - base);
        std::string_view name = line.substr(start, name_end - start);
        exact = exact && printable_ascii(name);
        names.emplace_back(name);
        name_end = 0;
    };
    size_t pos = static_cast<size_t>(fields[1].data() - base);
    while (pos < end) {
        const void* hit = std::memchr(base + pos, '.', end - pos);
        if (!hit) break;
        const size_t dot = static_cast<size_t>(static_cast<const char*>(hit) - base);
        pos = dot + 1;
        if (dot + ext > end || lower(base[dot + 1]) != 'p' || lower(base[dot + 2]) != 'a' ||
            lower(base[dot + 3]) != 't' || (patx && lower(base[dot + 4]) != 'x')) {
            continue;
        }
        // The letters after the dot are no tabs, so the whole ".pat" lies in the dot's field.
        while (static_cast<size_t>(fields[k].data() - base) + fields[k].size() <= dot) {
            take();
            ++k;
        }
        if (fields[k].data() - base < static_cast<std::ptrdiff_t>(dot)) name_end = dot + ext;
    }
    take();
    if (!exact) return pattern_regex(patx).find_all(line.substr(0, end));
    return names;
}

}  // namespace detail

namespace {

// Fills a record where it stays in the map: a record is ten strings and a list, and moving it
// in costs as much again.
void fill_instance_content(InstanceRecord& r, const std::vector<std::string_view>& f,
                           std::string pattern_info, Platform platform) {
    using namespace instance_columns;
    const PlatformLayout& layout = layout_of(platform);
    r.Method = field(f, kMethod);
    r.DCCategory = field(f, kDCCategory);
    r.DCSelector = field(f, kDCSelector);
    r.TimeSet = field(f, kTimeSet);
    r.ACCategory = field(f, kACCategory);
    r.ACSelector = field(f, kACSelector);
    r.PinLevel = field(f, kPinLevel);
    r.Pattern = std::move(pattern_info);
    const size_t first = layout.instance_first_arg;
    if (layout.instance_arg_list == kNoColumn) {
        // No argument-list column (J750): the arguments run up to the last one filled in.
        const size_t width = std::min(f.size(), layout.instance_width);
        size_t last = width;
        while (last > first && util::strip(f[last - 1]).empty()) --last;
        for (size_t i = first; i < last; ++i) r.ArgDetails.emplace_back(f[i]);
        return;
    }
    r.ArgList = field(f, layout.instance_arg_list);
    // One detail per argument name; an empty list still names one.
    size_t args = 1;
    for (const char* p = r.ArgList.data(), *e = p + r.ArgList.size();
         (p = static_cast<const char*>(std::memchr(p, ',', static_cast<size_t>(e - p)))); ++p) {
        ++args;
    }
    const size_t last = std::min(first + args, f.size());
    if (last > first) r.ArgDetails.reserve(last - first);
    for (size_t i = first; i < last; ++i) r.ArgDetails.emplace_back(f[i]);
}

}  // namespace

void Delmora::read_test_instance(const std::string& test_instance_path,
                                 const PatternSetMap& pattern_set_dict,
                                 Platform platform) {
    const bool patx = layout_of(platform).pattern_set_patx;
    // UltraFLEX sheets carry more argument columns than J750 sheets.
    const size_t width = layout_of(platform).instance_width;

    // A field of another length than every set name cannot name a set: no need to look it up.
    size_t shortest_set = std::string::npos, longest_set = 0;
    for (const auto& [set, patterns] : pattern_set_dict) {
        shortest_set = std::min(shortest_set, set.size());
        longest_set = std::max(longest_set, set.size());
    }

    const std::string path = util::resolve_sheet_path(test_instance_path);
    util::LineReader reader(path);
    std::vector<std::string_view> fields;
    std::string key;
    std::string_view line;
    size_t index = 0;
    while (reader.next(line)) {
        if (index++ < kTableHeaderRows) continue;  // title and header rows
        util::split_into(line, '\t', fields);
        const std::string_view name = field(fields, instance_columns::kName);
        if (name.empty()) break;  // the list ends at its first row without a name
        upper_into(name, key);
        auto& records = test_instance_dict[key];

        if (!pattern_set_dict.empty()) {
            // Every argument in columns O to T (J750: N to S) that names a set adds the set's patterns, once
            // per column that names it.
            const std::vector<std::string>* named[instance_columns::kPatternSetArgColumns];
            size_t hits = 0, length = 0;
            const PlatformLayout& layout = layout_of(platform);
            const size_t first_arg =
                layout.instance_arg_list == kNoColumn ? layout.instance_first_arg : layout.instance_arg_list;
            for (size_t i = first_arg; i < first_arg + instance_columns::kPatternSetArgColumns; ++i) {
                const std::string_view arg = field(fields, i);
                if (arg.size() < shortest_set || arg.size() > longest_set) continue;
                upper_into(arg, key);
                auto it = pattern_set_dict.find(key);
                if (it == pattern_set_dict.end()) continue;
                named[hits++] = &it->second;
                for (const auto& p : it->second) length += p.size() + 1;
            }
            std::string pattern;
            pattern.reserve(length);
            for (size_t h = 0; h < hits; ++h) {
                if (h) pattern.push_back(',');
                for (size_t j = 0; j < named[h]->size(); ++j) {
                    if (j) pattern.push_back(',');
                    pattern += (*named[h])[j];
                }
            }
            if (!pattern.empty()) {
                fill_instance_content(records.emplace_back(), fields, std::move(pattern), platform);
                records.back().file = path;
                records.back().line = static_cast<unsigned>(reader.line_number());
                continue;
            }
        }
        // The search runs over the row itself: its first `width` fields are the line's start.
        fill_instance_content(records.emplace_back(), fields,
                              util::join(detail::find_pattern_names(line, fields, width, patx), ","),
                              platform);
        records.back().file = path;
        records.back().line = static_cast<unsigned>(reader.line_number());
    }
}

}  // namespace igxl
