#include "vbt_report/tessaly.h"

#include <xlsxwriter.h>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "util/error.h"
#include "util/regex.h"

namespace igxl::vbt {

namespace {

using Value = std::variant<std::string, long long, bool>;
using Row = std::vector<Value>;

const char* const YES = "是";
const char* const NO = "否";

std::string local_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d_%H%M%S", &tm);
    return buf;
}

std::string report_path(const std::string& output_dir, const std::string& prefix) {
    return (std::filesystem::path(output_dir) / (prefix + local_stamp() + ".xlsx")).string();
}

void check(lxw_error err, const std::string& what) {
    if (err != LXW_NO_ERROR) throw Error(what + ": " + lxw_strerror(err));
}

// Characters, not bytes: a Chinese header counts one per character.
size_t text_length(std::string_view s) {
    size_t n = 0;
    for (char c : s)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

std::string text_of(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* i = std::get_if<long long>(&v)) return std::to_string(*i);
    return std::get<bool>(v) ? "TRUE" : "FALSE";
}

std::string text_or_empty(const std::optional<std::string>& s) { return s ? *s : std::string(); }
std::string text_or_empty(const std::optional<SharedText>& s) { return s ? s->str() : std::string(); }

// Closes the workbook on every way out; a failed save is reported only when nothing else failed.
class OpenWorkbook {
public:
    explicit OpenWorkbook(const std::string& path) : path_(path) {
        wb_ = workbook_new(path.c_str());
        if (!wb_) throw Error("cannot create the workbook '" + path + "'");
    }
    ~OpenWorkbook() {
        if (wb_) workbook_close(wb_);
    }
    OpenWorkbook(const OpenWorkbook&) = delete;
    OpenWorkbook& operator=(const OpenWorkbook&) = delete;
    lxw_workbook* get() const { return wb_; }
    void close() {
        lxw_workbook* wb = wb_;
        wb_ = nullptr;
        check(workbook_close(wb), "cannot save the workbook '" + path_ + "'");
    }

private:
    std::string path_;
    lxw_workbook* wb_ = nullptr;
};

struct TableOptions {
    bool fit_widths = true;
    int apply_column = -1;  // gets a TRUE/FALSE drop-down on every data row
};

void write_table(lxw_workbook* wb, const std::string& sheet_name, const std::vector<std::string>& headers,
                 const std::vector<Row>& rows, const TableOptions& options = {}) {
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheet_name.c_str());
    if (!ws) throw Error("cannot add the sheet '" + sheet_name + "'");
    std::vector<size_t> widest(headers.size(), 0);
    const std::string where = "cannot write the sheet '" + sheet_name + "'";
    for (size_t c = 0; c < headers.size(); ++c) {
        check(worksheet_write_string(ws, 0, static_cast<lxw_col_t>(c), headers[c].c_str(), nullptr), where);
        widest[c] = text_length(headers[c]);
    }
    for (size_t r = 0; r < rows.size(); ++r) {
        const auto row = static_cast<lxw_row_t>(r + 1);
        for (size_t c = 0; c < rows[r].size() && c < headers.size(); ++c) {
            const Value& v = rows[r][c];
            const auto col = static_cast<lxw_col_t>(c);
            if (const auto* s = std::get_if<std::string>(&v))
                check(worksheet_write_string(ws, row, col, s->c_str(), nullptr), where);
            else if (const auto* i = std::get_if<long long>(&v))
                check(worksheet_write_number(ws, row, col, static_cast<double>(*i), nullptr), where);
            else
                check(worksheet_write_boolean(ws, row, col, std::get<bool>(v) ? 1 : 0, nullptr), where);
            widest[c] = std::max(widest[c], text_length(text_of(v)));
        }
    }
    if (options.fit_widths)
        for (size_t c = 0; c < widest.size(); ++c)
            check(worksheet_set_column(ws, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                       static_cast<double>(std::min<size_t>(widest[c] + 2, 50)), nullptr),
                  where);
    if (options.apply_column >= 0 && !rows.empty()) {
        static const char* choices[] = {"TRUE", "FALSE", nullptr};
        lxw_data_validation validation{};
        validation.validate = LXW_VALIDATION_TYPE_LIST;
        validation.value_list = const_cast<char**>(choices);
        const auto col = static_cast<lxw_col_t>(options.apply_column);
        check(worksheet_data_validation_range(ws, 1, col, static_cast<lxw_row_t>(rows.size()), col, &validation),
              where);
    }
}

}  // namespace

std::string Tessaly::generate_dry_run_report(const ProgressFn& update_progressbar, const VBAParser& parser,
                                             const std::string& output_dir) {
    auto progress = [&](int value) {
        if (update_progressbar) update_progressbar(value);
    };
    const std::string path = report_path(output_dir, "Orvane_Report_");
    std::cout << "正在生成dry-run报告: " << path << std::endl;
    VariableIssues issues = parser.get_all_variable_issues();
    progress(10);
    OpenWorkbook wb(path);
    write_variable_issues_sheet(wb.get(), issues.global_variables, "Global Variables", parser.variable_references);
    progress(20);
    write_variable_issues_sheet(wb.get(), issues.module_variables, "Module Variables", parser.variable_references);
    progress(30);
    write_variable_issues_sheet(wb.get(), issues.local_variables, "Local Variables", parser.variable_references);
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
    std::cout << "Dry-run报告已生成: " << path << std::endl;
    return path;
}

void Tessaly::write_variable_issues_sheet(lxw_workbook* writer, const std::vector<const VariableInfo*>& variables,
                                          const std::string& sheet_name, const ReferenceMap& references) {
    if (variables.empty()) return;
    // The last columns are the reviewer's: the name to apply (prefilled with the suggestion), the
    // confirmation, and for locals the procedure, which the refactorer reads back.
    const bool local_sheet = sheet_name == "Local Variables";
    std::vector<std::string> headers = {"变量名",  "建议名称", "问题描述", "作用域",   "类型",      "是否数组",
                                        "文件路径", "行号",     "所在函数", "引用次数", "涉及文件数", "是否常量",
                                        CORRECT_NAME_HEADER, APPLY_HEADER};
    if (local_sheet) headers.emplace_back(FUNCTION_HEADER);
    // A program has many locals of one name (i, tmp, ...), each with the same long reference
    // list: count each name's uses per procedure and its files once.
    struct Uses {
        long long total = 0;
        std::unordered_map<std::string_view, long long> by_function;
        size_t files = 0;
    };
    std::unordered_map<std::string_view, Uses> uses_of;
    auto uses = [&](const std::string& name) -> const Uses& {
        auto [it, fresh] = uses_of.try_emplace(name);
        if (!fresh) return it->second;
        auto found = references.find(std::string_view(name));
        if (found == references.end()) return it->second;
        std::unordered_set<std::string_view> files;
        for (const VariableReference& ref : found->second) {
            ++it->second.total;
            if (const auto function = ref.function_name()) ++it->second.by_function[*function];
            files.insert(ref.file_path());
        }
        it->second.files = files.size();
        return it->second;
    };
    std::vector<Row> rows;
    rows.reserve(variables.size());
    for (const VariableInfo* v : variables) {
        const Uses& u = uses(v->original_name);
        long long count = u.total;
        if (to_text(v->scope) == "local" && v->function_name && !v->function_name->empty()) {
            auto in_function = u.by_function.find(v->function_name->str());
            count = in_function == u.by_function.end() ? 0 : in_function->second;
        }
        const auto files = u.files;
        Row row = {v->name,
                   text_or_empty(v->correct_name),
                   text_or_empty(v->issue_description),
                   std::string(to_text(v->scope)),
                   std::string(to_text(v->var_type)),
                   std::string(v->is_array ? YES : NO),
                   v->file_path,
                   static_cast<long long>(v->line_number),
                   text_or_empty(v->function_name),
                   count,
                   static_cast<long long>(files),
                   std::string(v->is_const ? YES : NO),
                   text_or_empty(v->correct_name),
                   false};
        if (local_sheet) row.emplace_back(text_or_empty(v->function_name));
        rows.push_back(std::move(row));
    }
    write_table(writer, sheet_name, headers, rows, {true, 13});
}

void Tessaly::write_type_issues_sheet(lxw_workbook* writer, const std::vector<const TypeInfo*>& types,
                                      const std::string& sheet_name) {
    if (types.empty()) return;
    std::vector<Row> rows;
    for (const TypeInfo* t : types) {
        std::string scope = t->scope;
        for (size_t i = 0; i < scope.size(); ++i) {
            char c = scope[i];
            scope[i] = i == 0 ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c)
                              : static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        rows.push_back({t->name, text_or_empty(t->correct_name), text_or_empty(t->issue_description), t->info_type,
                        scope, static_cast<long long>(t->reference_count),
                        static_cast<long long>(t->referenced_files.size()), t->file_path,
                        static_cast<long long>(t->line_number)});
    }
    write_table(writer, sheet_name,
                {"名称", "建议名称", "问题描述", "类型", "作用域", "引用次数", "涉及文件数", "文件路径", "行号"}, rows);
}

void Tessaly::write_function_issues_sheet(lxw_workbook* writer, const OrderedMap<FunctionInfo>& functions,
                                          const std::string& sheet_name) {
    static const util::Regex param_name("参数\\s+'([^']+)':");
    static const util::Regex suggestion("建议改为:\\s*'([^']*)'");
    static const std::string marker = " (建议改为:";
    std::vector<Row> rows;
    util::Match m;
    for (const auto& [key, f] : functions) {
        for (const std::string& issue : f.issues) {
            if (issue.find("参数") == std::string::npos) continue;
            std::string name = param_name.search(issue, m) ? std::string(m.group(1)) : "Unknown";
            std::string suggested = suggestion.search(issue, m) ? std::string(m.group(1)) : "";
            size_t cut = issue.find(marker);
            rows.push_back({name, suggested, cut == std::string::npos ? issue : issue.substr(0, cut), f.name,
                            std::string(to_text(f.func_type)), std::string("函数参数"), f.file_path,
                            static_cast<long long>(f.start_line), f.name});
        }
    }
    if (rows.empty()) return;
    write_table(writer, sheet_name,
                {"参数名", "建议名称", "问题描述", "函数名", "函数类型", "类型", "文件路径", "行号", "所在函数"}, rows);
}

void Tessaly::write_summary_sheet(lxw_workbook* writer, const VariableIssues& all_issues, const VBAParser& parser) {
    long long module_total = 0, local_total = 0;
    for (const auto& [path, list] : parser.module_variables) module_total += static_cast<long long>(list.size());
    for (const auto& [key, list] : parser.local_variables) local_total += static_cast<long long>(list.size());
    auto n = [](size_t v) { return static_cast<long long>(v); };
    std::vector<Row> rows = {
        {std::string("全局变量"), n(all_issues.global_variables.size()), n(parser.global_variables.size())},
        {std::string("模块变量"), n(all_issues.module_variables.size()), module_total},
        {std::string("局部变量"), n(all_issues.local_variables.size()), local_total},
        {std::string("Type定义"), n(all_issues.type_definitions.size()), n(parser.types.size())},
        {std::string("Enum定义"), n(all_issues.enum_definitions.size()), n(parser.enums.size())},
        {std::string("总计"), n(all_issues.total()), std::string("N/A")},
    };
    write_table(writer, "Summary", {"检查项目", "发现问题数", "总数量"}, rows, {false, -1});
}

void Tessaly::write_manual_check_sheet(lxw_workbook* writer, const VBAParser& parser, const std::string& sheet_name) {
    std::vector<Row> rows;
    for (const VariableInfo& v : parser.global_variables) {
        if (to_text(v.var_type) == "Variant" && !v.is_const && v.name != "site")
            rows.push_back({std::string("变量类型判断"), v.file_path, static_cast<long long>(v.line_number),
                            "变量 '" + v.name + "' 为Variant类型，请确认是否为正确类型",
                            std::string("确认变量类型，如有需要请手动更改变量声明")});
    }
    std::set<std::string> seen;
    for (const VariableInfo& v : parser.global_variables) {
        if (!seen.insert(v.name).second)
            rows.push_back({std::string("变量名冲突"), v.file_path, static_cast<long long>(v.line_number),
                            "变量名 '" + v.name + "' 可能与其他变量冲突", std::string("检查是否存在命名冲突，考虑重命名")});
    }
    for (const auto& [key, f] : parser.functions) {
        const long long lines = static_cast<long long>(f.end_line) - f.start_line + 1;
        if (lines > 60)
            rows.push_back({std::string("函数长度"), f.file_path, static_cast<long long>(f.start_line),
                            "函数 '" + f.name + "' 长度为 " + std::to_string(lines) + " 行，超过建议的60行",
                            std::string("考虑将函数分解为更小的函数")});
    }
    if (rows.empty()) return;
    write_table(writer, sheet_name, {"检查类型", "文件路径", "行号", "问题描述", "建议操作"}, rows);
}

std::string Tessaly::generate_refactor_report(const ChangeLog& changes_made, const std::string& output_dir) {
    const std::string path = report_path(output_dir, "VBT_Refactor_Report_");
    std::cout << "正在生成重构报告: " << path << std::endl;
    OpenWorkbook wb(path);
    write_refactor_changes_sheet(wb.get(), changes_made, "Refactor Changes");
    write_refactor_summary_sheet(wb.get(), changes_made, "Refactor Summary");
    wb.close();
    std::cout << "重构报告已生成: " << path << std::endl;
    return path;
}

void Tessaly::write_refactor_changes_sheet(lxw_workbook* writer, const ChangeLog& changes_made,
                                           const std::string& sheet_name) {
    std::vector<Row> rows;
    for (const auto& [type, records] : changes_made)
        for (const ChangeRecord& r : records)
            rows.push_back({type, r.file_path, static_cast<long long>(r.line_number), r.original_name, r.new_name,
                            r.description, r.timestamp});
    if (rows.empty()) return;
    write_table(writer, sheet_name, {"修改类型", "文件路径", "行号", "原名称", "新名称", "修改描述", "修改时间"}, rows,
                {false, -1});
}

void Tessaly::write_refactor_summary_sheet(lxw_workbook* writer, const ChangeLog& changes_made,
                                           const std::string& sheet_name) {
    std::vector<Row> rows;
    long long total = 0;
    for (const auto& [type, records] : changes_made) {
        rows.push_back({type, static_cast<long long>(records.size())});
        total += static_cast<long long>(records.size());
    }
    rows.push_back({std::string("总计"), total});
    write_table(writer, sheet_name, {"修改类型", "修改数量"}, rows, {false, -1});
}

}  // namespace igxl::vbt

extern "C" igxl::vbt::ReportWriter* igxl_vbt_create_report_writer() { return new igxl::vbt::Tessaly(); }
