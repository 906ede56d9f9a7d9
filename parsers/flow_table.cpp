#include "parsers/flow_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// The row's fields by the platform's layout; the parameter upper-cased into upper.
FlowRowFields flow_row(const std::vector<std::string_view>& f, const PlatformLayout& layout, size_t line,
                       std::string& upper) {
    using namespace flow_columns;
    FlowRowFields r;
    r.line = static_cast<unsigned>(line);
    r.Enable = field(f, kEnable);
    r.Job = field(f, kJob);
    r.Part = field(f, kPart);
    r.Opcode = field(f, kOpcode);
    util::to_upper_into(field(f, kParameter), upper);
    r.Parameter = upper;
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

FlowRowList::FlowRowList(std::initializer_list<FlowRowFields> rows) {
    for (const auto& r : rows) push_back(r);
}

std::uint32_t FlowRowList::file_index(std::string_view file) {
    // A flow reads a handful of files, the one last added most often.
    for (size_t i = files_.size(); i-- > 0;)
        if (files_[i] == file) return static_cast<std::uint32_t>(i);
    files_.emplace_back(file);
    return static_cast<std::uint32_t>(files_.size() - 1);
}

char* FlowRowList::reserve_text(size_t bytes) {
    if (text_blocks_.empty() || text_used_ + bytes > text_size_) {
        // Blocks grow with the list, so a short flow holds little and a long one few blocks.
        text_size_ = std::max(bytes, std::min<size_t>(size_t{1} << 18, std::max<size_t>(4096, text_size_ * 2)));
        text_blocks_.push_back(std::unique_ptr<char[]>(new char[text_size_]));  // every byte used is written
        text_used_ = 0;
    }
    char* at = text_blocks_.back().get() + text_used_;
    text_used_ += bytes;
    return at;
}

void FlowRowList::push_back(const FlowRowFields& row) { push_back(row, file_index(row.file)); }

void FlowRowList::push_back(const FlowRowFields& row, std::uint32_t file) {
    const std::array<std::string_view, FlowRow::kFieldCount> texts = {
        row.Opcode,  row.Parameter, row.TestName, row.TestNumber, row.LoLimit, row.HiLimit, row.Units,
        row.HardBin, row.SortBin,   row.Result,   row.Enable,     row.Job,     row.Part};
    size_t bytes = 0;
    for (auto t : texts) bytes += t.size();
    if (bytes > UINT32_MAX) throw Error("flow row too long: " + files_.at(file) + ":" + std::to_string(row.line));
    if (size_ % kBlockRows == 0 && size_ / kBlockRows == blocks_.size())
        blocks_.push_back(std::make_unique<FlowRow[]>(kBlockRows));
    FlowRow& r = blocks_[size_ / kBlockRows][size_ % kBlockRows];
    char* at = bytes ? reserve_text(bytes) : nullptr;
    r.text_ = at;
    r.file_ = &files_.at(file);
    r.file_index_ = file;
    r.line = row.line;
    r.conditional = row.conditional;
    std::uint32_t end = 0;
    for (size_t i = 0; i < texts.size(); ++i) {
        if (!texts[i].empty()) std::memcpy(at + end, texts[i].data(), texts[i].size());
        end += static_cast<std::uint32_t>(texts[i].size());
        r.ends_[i] = end;
    }
    ++size_;
}

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
    try {
        read_flow(flow_path, platform, chain);
    } catch (...) {
        take_entries();  // what was read before the failure stays readable
        throw;
    }
    take_entries();
}

void Fennick::take_entries() {
    // Made once the count is known: a list held for the whole walk, never grown by doubling.
    test_suite_list.reserve(test_suite_list.size() + entries_read.size());
    for (const EntryRead& read : entries_read) {
        const FlowRow& r = flow_rows[read.row];
        FlowEntry& e = test_suite_list.emplace_back();
        e.Opcode = r.Opcode();
        e.Parameter = r.Parameter();
        e.Result = r.Result();
        if (read.limit == kNoLimit) {
            e.TestNumber = r.TestNumber();
            e.HardBin = r.HardBin();
            e.SortBin = r.SortBin();
        } else {
            auto& [hard, sort, number] = limits_read[read.limit];
            e.HardBin = std::move(hard);
            e.SortBin = std::move(sort);
            e.TestNumber = std::move(number);
        }
    }
    std::vector<EntryRead>().swap(entries_read);
    std::vector<std::array<std::string, 3>>().swap(limits_read);
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

    const PlatformLayout& layout = layout_of(platform);
    // A test row without both bins waits for the next row, which may be its Use-Limit row.
    std::optional<EntryRead> pending;
    std::string pending_line;
    size_t pending_line_number = 0;
    auto settle = [&](const std::vector<std::string_view>* next) {
        bool found = false;
        if (next) {
            const std::string_view hard = field(*next, layout.flow_hard_bin), sort = field(*next, layout.flow_sort_bin);
            if (field(*next, flow_columns::kOpcode) == "Use-Limit" && !hard.empty() && !sort.empty()) {
                pending->limit = static_cast<std::uint32_t>(limits_read.size());
                limits_read.push_back({std::string(hard), std::string(sort),
                                       std::string(field(*next, flow_columns::kTestNumber))});
                found = true;
            }
        }
        if (!found) {
            diag::Location where;
            where.file = path;
            where.line = static_cast<unsigned>(pending_line_number);
            where.flow_sheet = path;
            where.item = flow_rows[pending->row].Parameter();
            diag::emit(*sink_, diag::Severity::warning, "flow.sort-bin-not-found",
                       "No SortBin test found: " + pending_line, diag::kConsole, std::move(where));
        }
        entries_read.push_back(*pending);
        pending.reset();
    };

    const std::uint32_t file = flow_rows.file_index(path);
    std::vector<std::string_view> fields;  // reused row after row
    std::string upper;                     // the row's parameter upper-cased, reused
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
            flow_rows.push_back(flow_row(fields, layout, reader.line_number(), upper), file);
        if (is_test_opcode(opcode) && env_empty && !parameter.empty()) {
            // The row was kept just above: the entry is made from it once the flow is read.
            const EntryRead entry{static_cast<std::uint32_t>(flow_rows.size() - 1), kNoLimit};
            if (field(fields, layout.flow_hard_bin).empty() || field(fields, layout.flow_sort_bin).empty()) {
                pending = entry;
                pending_line = std::string(line);
                pending_line_number = reader.line_number();
                if (reader.had_break()) pending_line.push_back('\n');
            } else {
                entries_read.push_back(entry);
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
