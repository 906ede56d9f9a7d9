#include "parsers/pin_levels.h"

#include <string_view>
#include <vector>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace {
// The value is the first run of non-blanks, without a leading "=" ("0.5 * A" gives "0.5").
const util::Regex& value_regex() {
    static const util::Regex re(R"(=?(\S+))");
    return re;
}
}  // namespace

void ParsePinLevel::read_pin_level(const std::string& pin_level_path) {
    util::LineReader reader(util::resolve_sheet_path(pin_level_path));
    util::Match m;
    std::vector<std::string_view> f;  // reused row after row
    std::string_view line;
    size_t index = 0;
    for (; reader.next(line); ++index) {
        if (index < 3) continue;  // title, blank and header rows
        util::split_into(line, '\t', f);
        // The table ends at its first row without a pin name.
        using namespace pin_level_columns;
        if (f.size() <= kPin || f[kPin].empty()) break;
        if (f.size() <= kParameter) continue;  // no parameter: nothing this reader keeps

        const std::string_view pin = f[kPin];
        std::string param = util::to_upper(f[kParameter]);
        PinValueMap* target = nullptr;
        if (param == "VMAIN" || param == "VPS") {
            target = &pin_level_dict;
        } else if (param == "IFOLDLEVEL") {
            target = &pin_clamp_dict;
        } else {
            continue;
        }
        if (f.size() <= kValue) {
            throw ShortRowError(reader.path() + ":" + std::to_string(reader.line_number()) +
                                ": " + param + " row of pin '" + std::string(pin) +
                                "' has no value column (column E)");
        }
        if (!value_regex().search(f[kValue], m)) {
            throw Error(reader.path() + ":" + std::to_string(reader.line_number()) + ": " +
                        param + " row of pin '" + std::string(pin) +
                        "' has no value in column E");
        }
        (*target)[util::to_upper(pin)] = util::to_upper(m.group(1));
    }
}

}  // namespace igxl
