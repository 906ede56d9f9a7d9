#include "parsers/test_instances.h"

#include <algorithm>

#include "util/error.h"
#include "util/lines.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace {

std::string_view field(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? f[i] : std::string_view{};
}

// The row's first n fields joined with tabs.
std::string search_text(const std::vector<std::string_view>& f, size_t n) {
    std::string out;
    const size_t count = std::min(n, f.size());
    for (size_t i = 0; i < count; ++i) {
        if (i) out.push_back('\t');
        out.append(f[i]);
    }
    return out;
}

}  // namespace

InstanceRecord Delmora::get_instance_content(const std::vector<std::string_view>& f,
                                             std::string pattern_info) {
    InstanceRecord r;
    r.Method = std::string(field(f, 3));
    r.DCCategory = std::string(field(f, 5));
    r.DCSelector = std::string(field(f, 6));
    r.TimeSet = std::string(field(f, 9));
    r.ACCategory = std::string(field(f, 7));
    r.ACSelector = std::string(field(f, 8));
    r.PinLevel = std::string(field(f, 11));
    r.Pattern = std::move(pattern_info);
    r.ArgList = std::string(field(f, 14));
    const size_t args = util::split(r.ArgList, ',').size();
    for (size_t i = 15; i < 15 + args && i < f.size(); ++i) r.ArgDetails.emplace_back(f[i]);
    return r;
}

void Delmora::find_pat_path(const util::Regex& pat_pattern, std::string_view test_instance_line,
                            const std::vector<std::string_view>& line_list) {
    const std::string pattern = util::join(pat_pattern.find_all(test_instance_line), ",");
    test_instance_dict[util::to_upper(field(line_list, 1))].push_back(
        get_instance_content(line_list, pattern));
}

void Delmora::read_test_instance(const std::string& test_instance_path,
                                 const PatternSetMap& pattern_set_dict,
                                 const std::string& platform) {
    static const util::Regex patx_file(R"(\t([\S ]+\.patx))", util::Regex::ICASE);
    static const util::Regex pat_file(R"(\t([\S ]+\.pat))", util::Regex::ICASE);
    const util::Regex& pat_pattern = platform == "UltraFLEXplus" ? patx_file : pat_file;
    // UltraFLEX sheets carry more argument columns than J750 sheets.
    const size_t width = util::contains(platform, "UltraFLEX") ? 144 : 93;

    util::LineReader reader(util::resolve_sheet_path(test_instance_path));
    std::string_view line;
    size_t index = 0;
    while (reader.next(line)) {
        if (index++ < 4) continue;  // title and header rows
        auto fields = util::split(line, '\t');
        const std::string_view name = field(fields, 1);
        if (name.empty()) break;  // the list ends at its first row without a name
        auto& records = test_instance_dict[util::to_upper(name)];

        if (!pattern_set_dict.empty()) {
            // Every argument in columns O to T that names a set adds the set's patterns, once
            // per column that names it.
            std::string pattern;
            int hits = 0;
            for (size_t i = 14; i <= 19; ++i) {
                auto it = pattern_set_dict.find(util::to_upper(field(fields, i)));
                if (it == pattern_set_dict.end()) continue;
                if (hits++) pattern.push_back(',');
                pattern += util::join(it->second, ",");
            }
            if (!pattern.empty()) {
                records.push_back(get_instance_content(fields, std::move(pattern)));
                continue;
            }
        }
        find_pat_path(pat_pattern, search_text(fields, width), fields);
    }
}

}  // namespace igxl
