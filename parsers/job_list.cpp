#include "parsers/job_list.h"

#include <algorithm>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/text.h"

namespace igxl {

namespace {
// Split at every ",", keeping empty pieces, straight into the record's list.
std::vector<std::string> split_list(std::string_view field) {
    std::vector<std::string> out;
    out.reserve(1 + static_cast<size_t>(std::count(field.begin(), field.end(), ',')));
    for (size_t start = 0;;) {
        const size_t comma = field.find(',', start);
        if (comma == std::string_view::npos) {
            out.emplace_back(field.substr(start));
            return out;
        }
        out.emplace_back(field.substr(start, comma - start));
        start = comma + 1;
    }
}
}  // namespace

JobRecord get_job_list_content(const std::vector<std::string_view>& f, const std::string& file,
                               size_t line) {
    using namespace job_list_columns;
    if (f.size() < kFieldsOfAJob) {
        throw ShortRowError(file + ":" + std::to_string(line) +
                            ": job row has " + std::to_string(f.size()) +
                            " fields, expected at least 8 (columns A to H)");
    }
    JobRecord r;
    r.TestInstanceList = split_list(f[kTestInstances]);
    r.FlowTable = std::string(f[kFlowTable]);
    r.DCSpec = std::string(f[kDCSpecs]);
    r.ACSpec = std::string(f[kACSpecs]);
    r.PatternSet = split_list(f[kPatternSets]);
    return r;
}

namespace {
// Kept out of the row loop: a rare path that would otherwise weigh on every row.
[[gnu::noinline, gnu::cold]] void warn_short_row(diag::Sink& sink, const std::string& file,
                                                 size_t line_number, std::string_view line,
                                                 bool had_break) {
    diag::Location where;
    where.file = file;
    where.line = static_cast<unsigned>(line_number);
    diag::emit(sink, diag::Severity::warning, "job-list.no-flow-table",
               "Warning: No flow table found in this line: " + std::string(line) +
                   (had_break ? "\n" : ""),
               diag::kConsole, std::move(where));
}
}  // namespace

void Kestine::read_job_list(const std::string& job_list_path) {
    util::LineReader reader(job_list_path);
    std::vector<std::string_view> fields;  // reused row after row
    std::string_view line;
    size_t index = 0;
    while (reader.next(line)) {
        if (index++ < kTableHeaderRows) continue;  // title and header rows
        util::split_into(line, '\t', fields);
        if (fields.size() < job_list_columns::kFieldsWithFlowTable) {
            warn_short_row(*sink_, job_list_path, reader.line_number(), line, reader.had_break());
            continue;
        }
        const std::string_view name = fields[job_list_columns::kJobName];
        if (name.empty()) continue;
        JobRecord rec = get_job_list_content(fields, job_list_path, reader.line_number());
        // A repeated job name replaces the record but keeps its first position.
        job_list_dict[std::string(name)] = std::move(rec);
    }
}

}  // namespace igxl
