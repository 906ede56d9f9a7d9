#include "parsers/spec_sheet_common.h"
#include "parsers/spec_sheets.h"
#include "parsers/sheet_columns.h"
#include "util/lines.h"
#include "util/text.h"

namespace igxl {

void ParseGlobalSpec::read_spec(const std::string& spec_path, Platform platform) {
    util::LineReader reader(util::resolve_sheet_path(spec_path));
    std::vector<std::string_view> f;  // reused row after row
    std::string_view line;
    size_t index = 0;
    for (; reader.next(line); ++index) {
        if (index == 0) {
            spec_version = detail::read_sheet_version(line, platform, reader.path());
            continue;
        }
        if (index < 3) continue;  // blank row and column headers
        util::split_into(line, '\t', f);
        using namespace spec_columns;
        std::string_view symbol = f.size() > kSymbol ? f[kSymbol] : std::string_view();
        if (index == 3) {
            // Exported sheets put the first symbol in sheet row 4; older layouts carry one
            // more header row there, which must not become a symbol.
            if (symbol.empty() || util::iequals(symbol, "Symbol")) continue;
        }
        if (f.size() <= kFirstValue && !symbol.empty()) {
            throw ShortRowError(reader.path() + ":" + std::to_string(reader.line_number()) +
                                ": global spec '" + std::string(symbol) +
                                "' has no value column (column D)");
        }
        // Like the categorised sheets there is no end-of-table test; blank rows share the
        // empty symbol.
        spec_dict[util::to_upper(symbol)] = f.size() > kFirstValue ? util::to_upper(f[kFirstValue]) : std::string();
    }
}

}  // namespace igxl
