// Test instance reader: per instance name, what each row defines, with the patterns it runs.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/pattern_sets.h"
#include "parsers/platform.h"

namespace igxl {

namespace util {
class Regex;
}

struct InstanceRecord {
    std::string Method;        // column D
    std::string DCCategory;    // column F
    std::string DCSelector;    // column G
    std::string TimeSet;       // column J
    std::string ACCategory;    // column H
    std::string ACSelector;    // column I
    std::string PinLevel;      // column L
    std::string Pattern;       // pattern names joined with ","; may be empty
    std::string ArgList;       // column O
    std::vector<std::string> ArgDetails;  // one field per argument name, from column P on
                                          // (J750: Arg0 on, from column N, no argument list)
    // Where the row stands (not a field of the record: it is not shown and not compared).
    std::string file;
    unsigned line = 0;

    // Key texts in record order; they head the instance parameter report.
    static constexpr std::array<std::string_view, 10> KEYS = {
        "Method",      "DC Category", "DC Selector", "TimeSet", "AC Category",
        "AC Selector", "PinLevel",    "Pattern",     "ArgList", "ArgDetails"};

    // Calls f(key, value) for every field in key order; value is a const std::string& for every
    // key but "ArgDetails", which gives its const std::vector<std::string>&.
    template <class F>
    void visit_fields(F&& f) const {
        f(KEYS[0], Method);
        f(KEYS[1], DCCategory);
        f(KEYS[2], DCSelector);
        f(KEYS[3], TimeSet);
        f(KEYS[4], ACCategory);
        f(KEYS[5], ACSelector);
        f(KEYS[6], PinLevel);
        f(KEYS[7], Pattern);
        f(KEYS[8], ArgList);
        f(KEYS[9], ArgDetails);
    }

    bool operator==(const InstanceRecord& o) const {
        return Method == o.Method && DCCategory == o.DCCategory && DCSelector == o.DCSelector &&
               TimeSet == o.TimeSet && ACCategory == o.ACCategory && ACSelector == o.ACSelector &&
               PinLevel == o.PinLevel && Pattern == o.Pattern && ArgList == o.ArgList &&
               ArgDetails == o.ArgDetails;
    }
};

// Upper-cased instance name -> the records of the rows carrying it, in file order.
using InstanceMap = tsl::ordered_map<std::string, std::vector<InstanceRecord>>;

class Delmora {
public:
    Delmora() = default;

    // Adds the sheet's rows. pattern_set_dict is the resolved pattern set map (may be empty);
    // without a set named in columns O to T the pattern names are found in the row's fields.
    // Throws FileNotFoundError for a missing file. Fields a short row lacks read as empty.
    void read_test_instance(const std::string& test_instance_path,
                            const PatternSetMap& pattern_set_dict, Platform platform);
    InstanceMap& get_instance_info() { return test_instance_dict; }

private:
    InstanceMap test_instance_dict;
};

namespace detail {
// The pattern file names the instance reader's expression (`\t([\S ]+\.patx)` when patx, else
// `\t([\S ]+\.pat)`, without case) finds in line, a row whose fields are `fields` (views into
// line), searched over its first `width` fields. Same names, in the same order, as running the
// expression over the tab-joined fields, without scanning every field with it.
std::vector<std::string> find_pattern_names(std::string_view line,
                                            const std::vector<std::string_view>& fields,
                                            size_t width, bool patx);
}  // namespace detail

}  // namespace igxl
