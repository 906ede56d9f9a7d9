#include "parsers/flow_table.h"

#include <filesystem>
#include <optional>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl {

namespace {

bool is_test_opcode(std::string_view op) {
    return op == "Test" || op == "Test-defer-limits" || op == "nop" || op == "Test-defer-all";
}

std::string_view field(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? f[i] : std::string_view{};
}

void quote_into(std::string& out, std::string_view s) {
    out.push_back('\'');
    for (char c : s) {
        if (c == '\\' || c == '\'') out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('\'');
}

// Identity of a flow file for the cycle check: the same file reached by different spellings.
std::string identity(const std::string& path) {
    std::error_code ec;
    auto canon = std::filesystem::weakly_canonical(util::path_from_utf8(path), ec);
    return ec ? path : util::path_to_utf8(canon);
}

bool keeps_row(std::string_view op) {
    return is_test_opcode(op) || op == "Use-Limit" || op == "set-device" || op == "set-error-bin";
}

FlowRow flow_row(const std::vector<std::string_view>& f, Platform platform,
                 const std::string& file, size_t line) {
    using namespace flow_columns;
    const PlatformLayout& layout = layout_of(platform);
    FlowRow r;
    r.file = file;
    r.line = static_cast<unsigned>(line);
    r.Enable = field(f, kEnable);
    r.Job = field(f, kJob);
    r.Part = field(f, kPart);
    r.Opcode = field(f, kOpcode);
    r.Parameter = util::to_upper(field(f, kParameter));
    r.TestName = field(f, kTestName);
    r.TestNumber = field(f, kTestNumber);
    // Only the UltraFLEX family's flow sheets carry limits (LoLim, HiLim, Scale, Units).
    if (layout.ultraflex_family) {
        r.LoLimit = field(f, kLoLimit);
        r.HiLimit = field(f, kHiLimit);
        r.Units = field(f, kUnits);
    }
    r.HardBin = field(f, layout.flow_hard_bin);
    r.SortBin = field(f, layout.flow_sort_bin);
    r.Result = field(f, layout.flow_result);
    // Sense, Condition and Name follow the result's Pass, Fail, State and Specifier columns.
    for (size_t i = layout.flow_result + kConditionFirstAfterResult;
         i <= layout.flow_result + kConditionLastAfterResult; ++i)
        if (!util::strip(field(f, i)).empty()) r.conditional = true;
    return r;
}

}  // namespace

std::string FlowEntry::to_text() const {
    std::string out = "{";
    bool first = true;
    for (auto [key, value] : fields()) {
        if (!first) out += ", ";
        first = false;
        quote_into(out, key);
        out += ": ";
        quote_into(out, value);
    }
    if (write_row_start >= 0) out += ", 'write_row_start': " + std::to_string(write_row_start);
    out += "}";
    return out;
}

FlowEntry get_flow_content(const std::vector<std::string_view>& f, Platform platform) {
    using namespace flow_columns;
    FlowEntry e;
    e.Opcode = std::string(field(f, kOpcode));
    e.Parameter = util::to_upper(field(f, kParameter));
    if (f.size() > kTestName) {
        const PlatformLayout& layout = layout_of(platform);
        e.TestNumber = std::string(field(f, kTestNumber));
        e.HardBin = std::string(field(f, layout.flow_hard_bin));
        e.SortBin = std::string(field(f, layout.flow_sort_bin));
        e.Result = std::string(field(f, layout.flow_result));
    }
    return e;
}

void Fennick::read_flow_table(const std::string& flow_path, Platform platform) {
    std::vector<std::pair<std::string, std::string>> chain;
    read_flow(flow_path, platform, chain);
    // Held for the whole walk of the job: the slack of the last doubling (up to half the list)
    // is given back while nothing bigger has been read yet.
    test_suite_list.shrink_to_fit();
}

void Fennick::read_flow(const std::string& flow_path, Platform platform,
                        std::vector<std::pair<std::string, std::string>>& chain) {
    const std::string path = util::resolve_sheet_path(flow_path);
    const std::string id = identity(path);
    for (const auto& [seen_id, seen_path] : chain) {
        if (seen_id == id) {
            std::string names;
            for (const auto& c : chain) names += c.second + " -> ";
            throw Error("flow table calls itself: " + names + path);
        }
    }
    util::LineReader reader(path);
    chain.emplace_back(id, path);

    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);

    // A test row without both bins waits for the next row, which may be its Use-Limit row.
    std::optional<FlowEntry> pending;
    std::string pending_line;
    size_t pending_line_number = 0;
    auto settle = [&](const std::vector<std::string_view>* next) {
        bool found = false;
        if (next) {
            FlowEntry limit = get_flow_content(*next, platform);
            if (limit.Opcode == "Use-Limit" && !limit.HardBin.empty() && !limit.SortBin.empty()) {
                pending->HardBin = std::move(limit.HardBin);
                pending->SortBin = std::move(limit.SortBin);
                pending->TestNumber = std::move(limit.TestNumber);
                found = true;
            }
        }
        if (!found) {
            diag::Location where;
            where.file = path;
            where.line = static_cast<unsigned>(pending_line_number);
            where.flow_sheet = path;
            where.item = pending->Parameter;
            diag::emit(*sink_, diag::Severity::warning, "flow.sort-bin-not-found",
                       "No SortBin test found: " + pending_line, diag::kConsole, std::move(where));
        }
        test_suite_list.push_back(std::move(*pending));
        pending.reset();
    };

    std::vector<std::string_view> fields;  // reused row after row
    std::string_view line;
    size_t index = 0;
    while (reader.next(line)) {
        if (index++ < kTableHeaderRows) continue;  // title and header rows
        util::split_into(line, '\t', fields);
        if (pending) settle(&fields);

        const std::string_view opcode = field(fields, flow_columns::kOpcode);
        if (opcode.empty()) break;  // the flow ends at its first row without an opcode
        const bool env_empty = field(fields, flow_columns::kEnv).empty();
        const std::string_view parameter = field(fields, flow_columns::kParameter);
        if (env_empty && keeps_row(opcode) && (opcode == "Use-Limit" || opcode.starts_with("set-") ||
                                               !parameter.empty()))
            flow_rows.push_back(flow_row(fields, platform, path, reader.line_number()));
        if (is_test_opcode(opcode) && env_empty && !parameter.empty()) {
            FlowEntry entry = get_flow_content(fields, platform);
            if (entry.HardBin.empty() || entry.SortBin.empty()) {
                pending = std::move(entry);
                pending_line = std::string(line);
                pending_line_number = reader.line_number();
                if (reader.had_break()) pending_line.push_back('\n');
            } else {
                test_suite_list.push_back(std::move(entry));
            }
        } else if (opcode == "call" && env_empty) {
            read_flow(directory + std::string(parameter) + ".txt", platform, chain);
        }
    }
    // A test row on the last line has no Use-Limit row to complete it.
    if (pending) settle(nullptr);
    chain.pop_back();
}

}  // namespace igxl
