#include "vbt_report/tessaly.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "export/xlsx_writer.h"
#include "util/error.h"
#include "util/platform.h"
#include "util/regex.h"
#include "vbt/naming_rules.h"

namespace igxl::vbt {

namespace {

namespace xw = xlsx::writer;

const std::string YES = "是";
const std::string NO = "否";

std::string local_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm = util::local_time(now);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
    return buf;
}

// A report never replaces an earlier one: a name taken already gets "_1", "_2", ...
std::string report_path(const std::string& output_dir, const std::string& prefix) {
    const std::string stem = prefix + local_stamp();
    std::string path = util::join_path(output_dir, stem + ".xlsx");
    std::error_code ec;
    for (int n = 1; std::filesystem::exists(util::path_from_utf8(path), ec); ++n)
        path = util::join_path(output_dir, stem + "_" + std::to_string(n) + ".xlsx");
    return path;
}

// The reports this writer makes, by their final names: a temporary file standing for one of them
// that nobody holds was left by a run that was killed while writing it.
bool is_report_name(std::string_view name) {
    return (name.starts_with("Orvane_Report_") || name.starts_with("VBT_Refactor_Report_")) && name.ends_with(".xlsx");
}

// Characters, not bytes: a Chinese header counts one per character.
size_t text_length(std::string_view s) {
    size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

const std::string& text_or_empty(const std::optional<std::string>& s) {
    static const std::string none;
    return s ? *s : none;
}
const std::string& text_or_empty(const std::optional<SharedText>& s) {
    static const std::string none;
    return s ? s->str() : none;
}

// Closes the workbook on every way out; a failed save is reported only when nothing else failed.
// The workbook is written under a temporary name and takes its own only when saved whole, so a
// failure (a full disk, say) leaves no report that looks complete.
class OpenWorkbook {
public:
    // A sheet's rows are made into XML and compressed as they are written, so a large program's
    // report never holds all its cells; rows must then come in order.
    explicit OpenWorkbook(const std::string& path) : path_(path), file_(path), wb_(file_.temp_path()) {}
    OpenWorkbook(const OpenWorkbook&) = delete;
    OpenWorkbook& operator=(const OpenWorkbook&) = delete;
    xw::Workbook& get() { return wb_; }
    void close() {
        try {
            wb_.close();
        } catch (const std::exception& e) {
            throw Error("cannot save the workbook '" + path_ + "': " + e.what());
        }
        file_.commit();
    }

private:
    std::string path_;
    util::AtomicFile file_;  // removes the temporary file unless committed
    xw::Workbook wb_;
};

struct TableOptions {
    bool fit_widths = true;
    int apply_column = -1;  // gets a TRUE/FALSE drop-down on every data row
};

// One report sheet written row by row as its records are read. The sheet is added with its
// header on the first cell, so a table without rows leaves no sheet behind. Column widths are
// tracked while writing and set at the end: the writer places column settings before the rows
// when the workbook is saved.
class SheetStream {
public:
    SheetStream(xw::Workbook& wb, std::string sheet_name, std::vector<std::string> headers,
                TableOptions options = {})
        : wb_(&wb), name_(std::move(sheet_name)), headers_(std::move(headers)), options_(options) {}

    SheetStream& text(const std::string& s) {
        if (const auto col = next_column())
            put(*col, [&] { ws_->write_string(row_, *col, s); }, text_length(s));
        return *this;
    }
    SheetStream& number(long long n) {
        if (const auto col = next_column())
            put(*col, [&] { ws_->write_number(row_, *col, static_cast<double>(n)); }, std::to_string(n).size());
        return *this;
    }
    SheetStream& boolean(bool b) {
        if (const auto col = next_column())
            put(*col, [&] { ws_->write_boolean(row_, *col, b); }, b ? 4 : 5);
        return *this;
    }
    void end_row() {
        open();
        ++row_;
        column_ = 0;
    }
    bool empty() const { return ws_ == nullptr; }

    // Widths, the drop-down, a frozen header row and a filter over the table; nothing when no row
    // was written.
    void finish() {
        if (!ws_) return;
        try {
            ws_->freeze_panes(1, 0);
            ws_->autofilter({0, 0, row_ - 1, static_cast<std::uint32_t>(headers_.size() - 1)});
            if (options_.fit_widths)
                for (size_t c = 0; c < widest_.size(); ++c)
                    ws_->set_column(static_cast<std::uint32_t>(c), static_cast<std::uint32_t>(c),
                                    static_cast<double>(std::min<size_t>(widest_[c] + 2, 50)));
            if (options_.apply_column >= 0 && row_ > 1) {
                const auto col = static_cast<std::uint32_t>(options_.apply_column);
                ws_->list_validation({1, col, row_ - 1, col}, {"TRUE", "FALSE"});
            }
            ws_->finish();
        } catch (const std::exception& e) {
            throw Error(where() + ": " + e.what());
        }
    }

private:
    std::string where() const { return "cannot write the sheet '" + name_ + "'"; }

    void open() {
        if (ws_) return;
        try {
            ws_ = &wb_->add_worksheet(name_);
        } catch (const std::exception& e) {
            throw Error("cannot add the sheet '" + name_ + "': " + e.what());
        }
        widest_.assign(headers_.size(), 0);
        for (size_t c = 0; c < headers_.size(); ++c) {
            put(static_cast<std::uint32_t>(c), [&] { ws_->write_string(0, static_cast<std::uint32_t>(c), headers_[c]); },
                text_length(headers_[c]));
        }
        row_ = 1;
    }
    // Cells past the header's width are dropped.
    std::optional<std::uint32_t> next_column() {
        open();
        const size_t c = column_++;
        if (c >= headers_.size()) return std::nullopt;
        return static_cast<std::uint32_t>(c);
    }
    template <class Write>
    void put(std::uint32_t col, Write write, size_t length) {
        try {
            write();
        } catch (const std::exception& e) {
            throw Error(where() + ": " + e.what());
        }
        widest_[col] = std::max(widest_[col], length);
    }

    xw::Workbook* wb_;
    std::string name_;
    std::vector<std::string> headers_;
    TableOptions options_;
    xw::Worksheet* ws_ = nullptr;
    std::uint32_t row_ = 0;
    size_t column_ = 0;
    std::vector<size_t> widest_;
};

}  // namespace

void Tessaly::remove_abandoned_reports(const std::string& output_dir) const {
    for (const std::string& path : util::remove_abandoned_temp_files(output_dir, is_report_name)) {
        diag::Location where;
        where.file = path;
        diag::emit(*sink_, diag::Severity::warning, "vbt.stale-temp-removed",
                   "已删除上次中断的运行留下的临时文件: " + path, diag::kConsole, std::move(where));
    }
}

std::string Tessaly::generate_dry_run_report(const ProgressFn& update_progressbar, const VBAParser& parser,
                                             const std::string& output_dir) {
    auto progress = [&](int value) {
        if (update_progressbar) update_progressbar(value);
    };
    remove_abandoned_reports(output_dir);
    const std::string path = report_path(output_dir, "Orvane_Report_");
    say("vbt.dry-run-report-writing", "正在生成dry-run报告: " + path);
    VariableIssues issues = parser.get_all_variable_issues();
    progress(10);
    OpenWorkbook wb(path);
    write_variable_issues_sheet(wb.get(), issues.global_variables, "Global Variables", parser);
    progress(20);
    write_variable_issues_sheet(wb.get(), issues.module_variables, "Module Variables", parser);
    progress(30);
    write_variable_issues_sheet(wb.get(), issues.local_variables, "Local Variables", parser);
    progress(40);
    write_type_issues_sheet(wb.get(), issues.type_definitions, "Type Definitions");
    progress(50);
    write_type_issues_sheet(wb.get(), issues.enum_definitions, "Enum Definitions");
    progress(60);
    write_function_issues_sheet(wb.get(), parser.functions, "Function Parameters");
    progress(70);
    write_summary_sheet(wb.get(), issues, parser);
    progress(80);
    write_manual_check_sheet(wb.get(), parser, "Manual Check Required");
    progress(90);
    wb.close();
    say("vbt.dry-run-report-written", "Dry-run报告已生成: " + path);
    return path;
}

void Tessaly::write_variable_issues_sheet(xw::Workbook& writer, const std::vector<const VariableInfo*>& variables,
                                          const std::string& sheet_name, const VBAParser& parser) {
    if (variables.empty()) return;
    // The last columns are the reviewer's: the name to apply (prefilled with the suggestion), the
    // confirmation, and for locals the procedure, which the refactorer reads back.
    const bool local_sheet = sheet_name == "Local Variables";
    std::vector<std::string> headers = {"变量名",  "建议名称", "问题描述", "作用域",   "类型",      "是否数组",
                                        "文件路径", "行号",     "所在函数", "引用次数", "涉及文件数", "是否常量",
                                        CORRECT_NAME_HEADER, APPLY_HEADER};
    if (local_sheet) headers.emplace_back(FUNCTION_HEADER);
    // A program has many locals of one name (i, tmp, ...): gather each name's uses per procedure once.
    struct Uses {
        long long total = 0;
        std::unordered_map<std::string_view, long long> by_function;
        size_t files = 0;
    };
    std::unordered_map<std::string_view, Uses> uses_of;
    auto uses = [&](const std::string& name) -> const Uses& {
        auto [it, fresh] = uses_of.try_emplace(name);
        if (!fresh) return it->second;
        auto found = parser.reference_counts.find(std::string_view(name));
        if (found == parser.reference_counts.end()) return it->second;
        const ReferenceCount& counted = found->second;
        it->second.total = static_cast<long long>(counted.total);
        for (const auto& [procedure, n] : counted.by_procedure)
            it->second.by_function[parser.procedure_name(procedure)] += static_cast<long long>(n);
        it->second.files = counted.files;
        return it->second;
    };
    // The records keep only that they have an issue; the rules give the texts again, once for the
    // many records that share a name and the fields the rules read (a local named alike in every
    // procedure, say).
    std::unordered_map<std::string, RuleResult> rule_results;
    auto rule_result = [&](const VariableInfo& v) -> const RuleResult& {
        std::string key = v.name;
        key += '\0';
        key += static_cast<char>(v.scope);
        key += static_cast<char>(v.var_type);
        key += static_cast<char>(v.is_array);
        key += static_cast<char>(v.is_const);
        auto [it, fresh] = rule_results.try_emplace(std::move(key));
        if (fresh) it->second = VBTNamingRules::get_correct_variable_name(v);
        return it->second;
    };
    static const RuleResult no_issue;
    SheetStream sheet(writer, sheet_name, std::move(headers), {true, 13});
    for (const VariableInfo* v : variables) {
        const Uses& u = uses(v->original_name);
        long long count = u.total;
        if (to_text(v->scope) == "local" && v->function_name && !v->function_name->empty()) {
            auto in_function = u.by_function.find(v->function_name->str());
            count = in_function == u.by_function.end() ? 0 : in_function->second;
        }
        const auto& [correct, issue] = v->has_issue() ? rule_result(*v) : no_issue;
        sheet.text(v->name)
            .text(v->has_issue() ? correct : std::string())
            .text(text_or_empty(issue))
            .text(std::string(to_text(v->scope)))
            .text(std::string(to_text(v->var_type)))
            .text(v->is_array ? YES : NO)
            .text(v->file_path.str())
            .number(v->line_number)
            .text(text_or_empty(v->function_name))
            .number(count)
            .number(static_cast<long long>(u.files))
            .text(v->is_const ? YES : NO)
            .text(v->has_issue() ? correct : std::string())
            .boolean(false);
        if (local_sheet) sheet.text(text_or_empty(v->function_name));
        sheet.end_row();
    }
    sheet.finish();
}

void Tessaly::write_type_issues_sheet(xw::Workbook& writer, const std::vector<const TypeInfo*>& types,
                                      const std::string& sheet_name) {
    if (types.empty()) return;
    // The reviewer's columns follow the designed ones, as on the variable sheets.
    SheetStream sheet(writer, sheet_name,
                      {"名称", "建议名称", "问题描述", "类型", "作用域", "引用次数", "涉及文件数", "文件路径", "行号",
                       CORRECT_NAME_HEADER, APPLY_HEADER},
                      {true, 10});
    for (const TypeInfo* t : types) {
        std::string scope = t->scope;
        for (size_t i = 0; i < scope.size(); ++i) {
            char c = scope[i];
            scope[i] = i == 0 ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c)
                              : static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        sheet.text(t->name)
            .text(text_or_empty(t->correct_name))
            .text(text_or_empty(t->issue_description))
            .text(t->info_type)
            .text(scope)
            .number(t->reference_count)
            .number(static_cast<long long>(t->referenced_files.size()))
            .text(t->file_path.str())
            .number(t->line_number)
            .text(text_or_empty(t->correct_name))
            .boolean(false)
            .end_row();
    }
    sheet.finish();
}

void Tessaly::write_function_issues_sheet(xw::Workbook& writer, const OrderedMap<FunctionInfo>& functions,
                                          const std::string& sheet_name) {
    static const util::Regex param_name("参数\\s+'([^']+)':");
    static const util::Regex suggestion("建议改为:\\s*'([^']*)'");
    static const std::string marker = " (建议改为:";
    SheetStream sheet(writer, sheet_name,
                      {"参数名", "建议名称", "问题描述", "函数名", "函数类型", "类型", "文件路径", "行号", "所在函数",
                       CORRECT_NAME_HEADER, APPLY_HEADER},
                      {true, 10});
    util::Match m;
    for (const auto& [key, f] : functions) {
        for (const std::string& issue : f.issues()) {
            if (issue.find("参数") == std::string::npos) continue;
            std::string name = param_name.search(issue, m) ? std::string(m.group(1)) : "Unknown";
            std::string suggested = suggestion.search(issue, m) ? std::string(m.group(1)) : "";
            size_t cut = issue.find(marker);
            sheet.text(name)
                .text(suggested)
                .text(cut == std::string::npos ? issue : issue.substr(0, cut))
                .text(f.name)
                .text(std::string(to_text(f.func_type)))
                .text("函数参数")
                .text(f.file_path.str())
                .number(f.start_line)
                .text(f.name)
                .text(suggested)
                .boolean(false)
                .end_row();
        }
    }
    sheet.finish();
}

void Tessaly::write_summary_sheet(xw::Workbook& writer, const VariableIssues& all_issues, const VBAParser& parser) {
    long long module_total = 0, local_total = 0;
    for (const auto& [path, list] : parser.module_variables) module_total += static_cast<long long>(list.size());
    for (const auto& [key, list] : parser.local_variables) local_total += static_cast<long long>(list.size());
    auto n = [](size_t v) { return static_cast<long long>(v); };
    SheetStream sheet(writer, "Summary", {"检查项目", "发现问题数", "总数量"}, {false, -1});
    sheet.text("全局变量").number(n(all_issues.global_variables.size())).number(n(parser.global_variables.size())).end_row();
    sheet.text("模块变量").number(n(all_issues.module_variables.size())).number(module_total).end_row();
    sheet.text("局部变量").number(n(all_issues.local_variables.size())).number(local_total).end_row();
    sheet.text("Type定义").number(n(all_issues.type_definitions.size())).number(n(parser.types.size())).end_row();
    sheet.text("Enum定义").number(n(all_issues.enum_definitions.size())).number(n(parser.enums.size())).end_row();
    sheet.text("总计").number(n(all_issues.total())).text("N/A").end_row();
    // Modules left out by an exclusion pattern or as generated: not checked, never refactored.
    if (!parser.excluded_modules.empty())
        sheet.text(EXCLUDED_MODULES_ITEM).text("N/A").number(n(parser.excluded_modules.size())).end_row();
    sheet.finish();
}

void Tessaly::write_manual_check_sheet(xw::Workbook& writer, const VBAParser& parser, const std::string& sheet_name) {
    SheetStream sheet(writer, sheet_name, {"检查类型", "文件路径", "行号", "问题描述", "建议操作"});
    auto row = [&](const char* kind, const std::string& file, long long line, const std::string& issue,
                   const char* action) { sheet.text(kind).text(file).number(line).text(issue).text(action).end_row(); };
    for (const VariableInfo& v : parser.global_variables) {
        if (to_text(v.var_type) == "Variant" && !v.is_const && v.name != "site")
            row("变量类型判断", v.file_path.str(), v.line_number, "变量 '" + v.name + "' 为Variant类型，请确认是否为正确类型",
                "确认变量类型，如有需要请手动更改变量声明");
    }
    std::set<std::string> seen;
    for (const VariableInfo& v : parser.global_variables) {
        if (!seen.insert(v.name).second)
            row("变量名冲突", v.file_path.str(), v.line_number, "变量名 '" + v.name + "' 可能与其他变量冲突",
                "检查是否存在命名冲突，考虑重命名");
    }
    for (const auto& [key, f] : parser.functions) {
        const long long lines = static_cast<long long>(f.end_line) - f.start_line + 1;
        if (lines > 60)
            row("函数长度", f.file_path.str(), f.start_line,
                "函数 '" + f.name + "' 长度为 " + std::to_string(lines) + " 行，超过建议的60行",
                "考虑将函数分解为更小的函数");
    }
    sheet.finish();
}

std::string Tessaly::generate_refactor_report(const ChangeLog& changes_made, const std::string& output_dir) {
    remove_abandoned_reports(output_dir);
    const std::string path = report_path(output_dir, "VBT_Refactor_Report_");
    say("vbt.refactor-report-writing", "正在生成重构报告: " + path);
    OpenWorkbook wb(path);
    write_refactor_changes_sheet(wb.get(), changes_made, "Refactor Changes");
    write_refactor_summary_sheet(wb.get(), changes_made, "Refactor Summary");
    wb.close();
    say("vbt.refactor-report-written", "重构报告已生成: " + path);
    return path;
}

void Tessaly::write_refactor_changes_sheet(xw::Workbook& writer, const ChangeLog& changes_made,
                                           const std::string& sheet_name) {
    SheetStream sheet(writer, sheet_name,
                      {"修改类型", "文件路径", "行号", "原名称", "新名称", "修改描述", "修改时间", "结果", "原因"},
                      {false, -1});
    for (const auto& [type, records] : changes_made)
        for (const ChangeRecord& r : records)
            sheet.text(type)
                .text(r.file_path)
                .number(r.line_number)
                .text(r.original_name)
                .text(r.new_name)
                .text(r.description)
                .text(r.timestamp)
                .text(outcome_text(r.outcome))
                .text(r.reason)
                .end_row();
    sheet.finish();
}

void Tessaly::write_refactor_summary_sheet(xw::Workbook& writer, const ChangeLog& changes_made,
                                           const std::string& sheet_name) {
    SheetStream sheet(writer, sheet_name, {"修改类型", "修改数量"}, {false, -1});
    long long total = 0;
    for (const auto& [type, records] : changes_made) {
        sheet.text(type).number(static_cast<long long>(records.size())).end_row();
        total += static_cast<long long>(records.size());
    }
    sheet.text("总计").number(total).end_row();
    sheet.finish();
}

}  // namespace igxl::vbt

extern "C" igxl::vbt::ReportWriter* igxl_vbt_create_report_writer() { return new igxl::vbt::Tessaly(); }
