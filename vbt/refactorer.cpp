#include "vbt/refactorer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <unordered_map>
#include <unordered_set>

#include "export/xlsx.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "util/text.h"
#include "vbt/apply_flag.h"
#include "vbt/parser.h"
#include "vbt/keywords.h"
#include "vbt/source.h"

namespace igxl::vbt {

using util::Regex;

namespace {

std::string local_time(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm tm = util::local_time(now);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

std::string describe(const std::string& type, const std::string& old_name, const std::string& new_name,
                     const std::string& function) {
    if (type == "global_variable") return "全局变量 '" + old_name + "' 重命名为 '" + new_name + "'";
    if (type == "module_variable") return "模块变量 '" + old_name + "' 重命名为 '" + new_name + "'";
    if (type == "local_variable")
        return "局部变量 '" + old_name + "' 在函数 '" + function + "' 中重命名为 '" + new_name + "'";
    if (type == "type_definition") return "Type定义 '" + old_name + "' 重命名为 '" + new_name + "'";
    return "Enum定义 '" + old_name + "' 重命名为 '" + new_name + "'";
}

// A new name must be a plain identifier, or the rewritten module would no longer compile.
bool is_identifier(std::string_view s) {
    static const Regex ident("[A-Za-z][A-Za-z0-9_]*", Regex::ASCII);
    return ident.full_match(s);
}

bool valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        size_t len = 1;
        if (static_cast<unsigned char>(s[i]) >= 0x80 && detail::decode_at(s, i, len) == 0xFFFFFFFF) return false;
        i += len;
    }
    return true;
}

// Splits file bytes into lines and their own line ends (LF, CR LF or CR), so that a rewrite keeps
// every line end as it was.
void split_lines(const std::string& bytes, std::vector<std::string>& lines, std::vector<std::string>& ends) {
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') continue;
        lines.push_back(bytes.substr(start, i - start));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            ends.emplace_back("\r\n");
            ++i;
        } else {
            ends.emplace_back(1, bytes[i]);
        }
        start = i + 1;
    }
    if (start < bytes.size()) {
        lines.push_back(bytes.substr(start));
        ends.emplace_back();
    }
}

std::string free_backup_path(const std::string& file_path) {
    std::string base = file_path + ".backup_" + local_time("%Y%m%d_%H%M%S");
    std::string path = base;
    for (int n = 1; util::path_exists(path); ++n) path = base + "_" + std::to_string(n);
    return path;
}

bool starts_with_icase(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && util::iequals(s.substr(0, p.size()), p);
}

}  // namespace

// One rename as it reaches the files: where the name was declared and how far it reaches.
struct VBTRefactorer::Rule {
    std::string kind;
    std::string old_name;
    std::string new_name;
    std::string decl_file;
    int decl_line = 0;
    int priority = 1;  // local 3, module 2, global/Type/Enum 1: the narrower scope wins
    size_t order = 0;  // later records win over earlier ones of the same scope
    int first_line = 0, last_line = 0;  // a local's procedure; 0: not known
    bool every_file = false;            // globals and public Types/Enums
};

// A rule as it applies to one file.
struct VBTRefactorer::FilePlan {
    const Rule* rule;
    int decl_line;            // 0 when the declaration is in another file
    bool declaration_only;    // reserved words and procedure names: declaration line only
    bool variable;            // variables skip Type/Enum member names
    std::vector<std::pair<int, int>> excluded;  // procedures where a local or parameter shadows it

    bool applies(int line) const {
        if (line == decl_line) return true;
        if (declaration_only) return false;
        if (rule->kind == "local_variable") {
            if (rule->first_line == 0 || decl_line == 0) return false;
            return line >= rule->first_line && line <= rule->last_line;
        }
        for (const auto& [a, b] : excluded)
            if (line >= a && line <= b) return false;
        return true;
    }
};

VBTRefactorer::VBTRefactorer(const VBAParser& parser_) : parser(parser_) {}

bool VBTRefactorer::is_variable_declaration(std::string_view line) {
    static const Regex declaration("^\\s*(Public|Private|Global|Dim|Const)\\s+", Regex::ICASE);
    static const Regex constant("^\\s*(Public|Private|Global)\\s+Const\\s+", Regex::ICASE);
    return declaration.match(line) || constant.match(line);
}

bool VBTRefactorer::is_function_definition(std::string_view line) {
    static const Regex function("^\\s*(Public|Private|Friend)?\\s*Function\\s+", Regex::ICASE);
    static const Regex sub("^\\s*(Public|Private|Friend)?\\s*Sub\\s+", Regex::ICASE);
    return function.match(line) || sub.match(line);
}

void VBTRefactorer::add_change(const std::string& change_type, ChangeRecord change_info) {
    changes_made[change_type].push_back(std::move(change_info));
}

bool VBTRefactorer::apply_changes_from_excel(const std::string& excel_path) {
    std::cout << "正在读取Excel报告: " << excel_path << std::endl;
    std::vector<std::string> confirmations;
    try {
        struct SheetKind {
            const char* sheet;
            const char* type;
            const char* label;
            const char* failure;
        };
        static const SheetKind kinds[] = {
            {"Global Variables", "global_variable", "全局变量: ", "读取全局变量工作表失败: "},
            {"Module Variables", "module_variable", "模块变量: ", "读取模块变量工作表失败: "},
            {"Local Variables", "local_variable", "局部变量: ", "读取局部变量工作表失败: "},
        };
        for (const SheetKind& kind : kinds) {
            try {
                xlsx::Table table = xlsx::read_table(excel_path, kind.sheet);
                if (table.rows.empty()) continue;
                auto column = [&](std::string_view header) {
                    for (size_t c = 0; c < table.header.size(); ++c)
                        if (table.header[c].text == header) return static_cast<int>(c);
                    return -1;
                };
                int apply = -1;
                for (size_t c = 0; c < table.header.size() && apply < 0; ++c) {
                    const std::string& h = table.header[c].text;
                    if (util::contains(h, "应用") || util::contains(util::to_lower(h), "apply"))
                        apply = static_cast<int>(c);
                }
                if (apply < 0) continue;
                const int name_col = column("变量名"), new_col = column("正确命名"), file_col = column("文件路径"),
                          line_col = column("行号"), func_col = column("函数名");
                static const xlsx::Cell empty;
                for (size_t r = 0; r < table.rows.size(); ++r) {
                    const auto& row = table.rows[r];
                    auto cell = [&](int c) -> const xlsx::Cell& {
                        return c >= 0 && static_cast<size_t>(c) < row.size() ? row[static_cast<size_t>(c)] : empty;
                    };
                    const ApplyFlag flag = read_apply_flag(cell(apply));
                    if (flag == ApplyFlag::NOT_UNDERSTOOD)
                        std::cout << kind.sheet << " 第 " << r + 2 << " 行: 无法识别的“应用”值 '" << cell(apply).text
                                  << "'，该行未应用" << std::endl;
                    if (flag != ApplyFlag::YES) continue;
                    const std::string& old_name = cell(name_col).text;
                    const std::string& new_name = cell(new_col).text;
                    if (old_name.empty() || new_name.empty()) continue;
                    int line = 0;
                    if (line_col >= 0) {
                        const xlsx::Cell& c = cell(line_col);
                        int64_t v = 0;
                        if (c.kind == xlsx::Cell::Number && std::isfinite(c.number) && c.number == std::floor(c.number))
                            line = static_cast<int>(c.number);
                        else if (c.kind == xlsx::Cell::Text && util::parse_int(util::strip(c.text), v))
                            line = static_cast<int>(v);
                        else
                            throw Error("row " + std::to_string(r + 2) + ": '行号' is not a whole number: '" +
                                        c.text + "'");
                    }
                    if (!is_identifier(new_name)) {
                        std::cout << "跳过无效的新名称 '" << new_name << "' (变量 '" << old_name << "')" << std::endl;
                        continue;
                    }
                    ChangeRecord rec;
                    rec.file_path = file_col >= 0 ? cell(file_col).text : "";
                    rec.line_number = line;
                    rec.original_name = old_name;
                    rec.new_name = new_name;
                    rec.description = describe(kind.type, old_name, new_name, func_col >= 0 ? cell(func_col).text : "");
                    rec.timestamp = local_time("%Y-%m-%d %H:%M:%S");
                    add_change(kind.type, std::move(rec));
                    confirmations.push_back(std::string(kind.label) + old_name + " -> " + new_name);
                }
            } catch (const std::exception& e) {
                std::cout << kind.failure << e.what() << std::endl;
            }
        }
        if (confirmations.empty()) {
            std::cout << "未找到任何确认的修改" << std::endl;
            return false;
        }
        std::cout << "从Excel中读取到 " << confirmations.size() << " 个确认的修改:" << std::endl;
        for (size_t i = 0; i < confirmations.size() && i < 10; ++i) std::cout << "  - " << confirmations[i] << std::endl;
        if (confirmations.size() > 10)
            std::cout << "  ... 以及另外 " << confirmations.size() - 10 << " 个修改" << std::endl;
        apply_all_changes();
        return true;
    } catch (const std::exception& e) {
        std::cout << "读取Excel文件失败: " << e.what() << std::endl;
        return false;
    }
}

void VBTRefactorer::refactor_all_issues() {
    std::cout << "开始自动重构..." << std::endl;
    refactor_global_variables();
    refactor_module_variables();
    refactor_local_variables();
    refactor_type_definitions();
    refactor_enum_definitions();
    apply_all_changes();
    std::cout << "自动重构完成！" << std::endl;
}

namespace {
template <class Info>
bool proposes_rename(const Info& info) {
    return info.correct_name && !info.correct_name->empty() && *info.correct_name != info.name;
}
}  // namespace

#define IGXL_PROPOSE(type, info, function)                                                                   \
    add_change(type, ChangeRecord{(info).file_path, (info).line_number, (info).name, *(info).correct_name,   \
                                  describe(type, (info).name, *(info).correct_name, function),               \
                                  local_time("%Y-%m-%d %H:%M:%S")})

void VBTRefactorer::refactor_global_variables() {
    for (const auto& v : parser.global_variables)
        if (proposes_rename(v)) IGXL_PROPOSE("global_variable", v, "");
}

void VBTRefactorer::refactor_module_variables() {
    for (const auto& [path, list] : parser.module_variables)
        for (const auto& v : list)
            if (proposes_rename(v)) IGXL_PROPOSE("module_variable", v, "");
}

void VBTRefactorer::refactor_local_variables() {
    for (const auto& [key, list] : parser.local_variables)
        for (const auto& v : list)
            if (proposes_rename(v)) IGXL_PROPOSE("local_variable", v, v.function_name ? v.function_name->str() : "");
}

void VBTRefactorer::refactor_type_definitions() {
    for (const auto& [key, t] : parser.types)
        if (proposes_rename(t)) IGXL_PROPOSE("type_definition", t, "");
}

void VBTRefactorer::refactor_enum_definitions() {
    for (const auto& [key, t] : parser.enums)
        if (proposes_rename(t)) IGXL_PROPOSE("enum_definition", t, "");
}

#undef IGXL_PROPOSE

std::vector<VBTRefactorer::Rule> VBTRefactorer::build_rules() const {
    std::vector<Rule> rules;
    size_t order = 0;
    for (const auto& [type, records] : changes_made) {
        for (const ChangeRecord& rec : records) {
            Rule rule;
            rule.kind = type;
            rule.old_name = rec.original_name;
            rule.new_name = rec.new_name;
            rule.decl_file = rec.file_path;
            rule.decl_line = rec.line_number;
            rule.order = order++;
            if (type == "local_variable") {
                rule.priority = 3;
                for (const auto& [key, f] : parser.functions) {
                    if (f.file_path == rec.file_path && f.start_line <= rec.line_number &&
                        rec.line_number <= f.end_line) {
                        rule.first_line = f.start_line;
                        rule.last_line = f.end_line;
                        break;
                    }
                }
            } else if (type == "module_variable") {
                rule.priority = 2;
            } else if (type == "global_variable") {
                rule.every_file = true;
            } else {
                // A Private Type or Enum is known in its own module only.
                const auto& defs = type == "type_definition" ? parser.types : parser.enums;
                rule.every_file = true;
                for (const auto& [key, t] : defs)
                    if (t.file_path == rec.file_path && t.line_number == rec.line_number && t.scope == "private")
                        rule.every_file = false;
            }
            rules.push_back(std::move(rule));
        }
    }
    return rules;
}

void VBTRefactorer::apply_all_changes() {
    std::vector<Rule> rules = build_rules();
    // Files of the declarations first, in the order they first appear in the log; then every other
    // parsed file a global or public definition reaches, touched only when its text changes.
    std::vector<std::string> order;
    for (const Rule& r : rules)
        if (std::find(order.begin(), order.end(), r.decl_file) == order.end()) order.push_back(r.decl_file);
    const size_t declared = order.size();
    if (std::any_of(rules.begin(), rules.end(), [](const Rule& r) { return r.every_file; })) {
        for (const auto& [path, lines] : parser.files)
            if (std::find(order.begin(), order.end(), path) == order.end()) order.push_back(path);
    }
    for (size_t i = 0; i < order.size(); ++i) {
        const std::string& path = order[i];
        std::vector<const Rule*> reaching;
        for (const Rule& r : rules)
            if (r.decl_file == path || (r.every_file && parser.files.contains(r.decl_file))) reaching.push_back(&r);
        apply_changes_to_file(path, reaching, i >= declared);
    }
}

void VBTRefactorer::apply_changes_to_file(const std::string& file_path, const std::vector<const Rule*>& rules,
                                          bool only_if_changed) {
    auto parsed = parser.files.find(file_path);
    if (parsed == parser.files.end()) return;

    // Renames are worked out on the lines as parsed; a file they leave unchanged and that holds no
    // declaration being renamed is not touched at all.
    std::vector<std::string> lines;
    lines.reserve(parsed->second.size());
    for (std::string_view l : parsed->second) {
        if (!l.empty() && l.back() == '\n') l.remove_suffix(1);
        lines.emplace_back(l);
    }
    const std::vector<std::string> before = lines;
    size_t renamed = apply_variable_references_to_file(lines, rules, file_path);
    if (only_if_changed && lines == before) return;

    std::string bytes;
    std::vector<std::string> original, ends;
    try {
        bytes = util::read_file(file_path);
        if (!valid_utf8(bytes)) throw Error("the file is not valid UTF-8 text");
        // The renames are placed by the parsed line numbers; a file edited since then is left alone.
        if (decode_source(bytes) != parsed->second.text()) throw Error("the file changed after it was parsed");
        split_lines(bytes, original, ends);
        if (original != before) throw Error("the file changed after it was parsed");
    } catch (const std::exception& e) {
        std::cout << "备份文件失败 " << file_path << ": " << e.what() << std::endl;
        return;
    }

    std::string backup = free_backup_path(file_path);
    try {
        util::write_new_file(backup, bytes);
    } catch (const std::exception& e) {
        std::cout << "备份文件失败 " << file_path << ": " << e.what() << std::endl;
        return;
    }
    std::cout << "已备份文件: " << backup << std::endl;

    std::string text;
    text.reserve(bytes.size() + 64);
    for (size_t i = 0; i < lines.size(); ++i) text += lines[i] + ends[i];
    try {
        util::write_file_atomic(file_path, text);
    } catch (const std::exception& e) {
        std::cout << "写入文件失败 " << file_path << ": " << e.what() << std::endl;
        return;
    }
    std::cout << "已修改文件: " << file_path << std::endl;
    std::cout << "  - 更新了 " << renamed << " 个变量名的所有引用" << std::endl;
}

size_t VBTRefactorer::apply_variable_references_to_file(std::vector<std::string>& lines,
                                                        const std::vector<const Rule*>& rules,
                                                        const std::string& file_path) const {
    // What this file declares, looked up once per file: procedure names, the procedures in which
    // a local or parameter of a name (any letter case, as VBA compares) shadows a wider variable,
    // and the module-level names that hide a global of another module.
    std::unordered_set<std::string_view> function_names;
    std::unordered_map<std::string, std::vector<std::pair<int, int>>> shadowed_in;
    std::unordered_set<std::string> module_level;
    for (const auto& [key, f] : parser.functions) {
        if (f.file_path != file_path) continue;
        function_names.insert(f.name);
        function_names.insert(f.original_name);
        std::unordered_set<std::string> names;
        for (const Parameter& prm : f.parameters) names.insert(util::to_lower(prm.name));
        auto locals = parser.local_variables.find(key);
        if (locals != parser.local_variables.end())
            for (const VariableInfo& v : locals->second) names.insert(util::to_lower(v.name));
        for (const std::string& n : names) shadowed_in[n].emplace_back(f.start_line, f.end_line);
    }
    auto own = parser.module_variables.find(file_path);
    if (own != parser.module_variables.end())
        for (const VariableInfo& v : own->second) module_level.insert(util::to_lower(v.name));
    for (const VariableInfo& v : parser.global_variables)
        if (v.file_path == file_path) module_level.insert(util::to_lower(v.name));

    std::vector<FilePlan> plans;
    plans.reserve(rules.size());
    for (const Rule* r : rules) {
        const bool declared_in_file = r->decl_file == file_path;
        const std::string lower = util::to_lower(r->old_name);
        if (!declared_in_file && r->kind == "global_variable" && module_level.count(lower)) continue;
        FilePlan plan{r, declared_in_file ? r->decl_line : 0, false,
                      r->kind != "type_definition" && r->kind != "enum_definition", {}};
        plan.declaration_only = is_vba_keyword(r->old_name) || function_names.count(r->old_name);
        if (r->kind == "global_variable" || r->kind == "module_variable") {
            auto shadowing = shadowed_in.find(lower);
            if (shadowing != shadowed_in.end()) plan.excluded = shadowing->second;
        }
        if (plan.decl_line == 0 && (plan.declaration_only || r->kind == "local_variable")) continue;
        plans.push_back(std::move(plan));
    }
    std::unordered_map<std::string_view, std::vector<const FilePlan*>> by_name;
    // The count reported for the file: the names of the renames declared here, plus the names
    // declared elsewhere that were actually replaced here (not every global of the program).
    std::unordered_set<std::string_view> counted;
    for (const FilePlan& p : plans) {
        by_name[p.rule->old_name].push_back(&p);
        if (p.rule->decl_file == file_path) counted.insert(p.rule->old_name);
    }
    if (by_name.empty()) return 0;

    static const Regex definition_header("^(Public\\s+|Private\\s+)?(Type|Enum)\\s+\\w", Regex::ICASE);
    bool in_definition = false;  // inside a Type or Enum block
    bool comment_goes_on = false;  // a comment line ending in " _" continues on the next line
    for (size_t idx = 0; idx < lines.size(); ++idx) {
        const std::string& line = lines[idx];
        const int line_no = static_cast<int>(idx) + 1;
        std::string_view stripped = detail::strip(line);
        auto continues = [&](std::string_view comment) {
            std::string_view t = util::rstrip(comment);
            return !t.empty() && t.back() == '_' && (t.size() == 1 || t[t.size() - 2] == ' ' || t[t.size() - 2] == '\t');
        };
        if (comment_goes_on) {
            comment_goes_on = continues(line);
            continue;
        }
        bool member_line = false;
        if (in_definition) {
            if (starts_with_icase(stripped, "End Type") || starts_with_icase(stripped, "End Enum"))
                in_definition = false;
            else
                member_line = true;
        } else if (definition_header.match(stripped)) {
            in_definition = true;
        }
        if (starts_with_icase(stripped, "Rem") && (stripped.size() == 3 || stripped[3] == ' ' || stripped[3] == '\t')) {
            comment_goes_on = continues(line);
            continue;
        }

        std::string out;
        size_t copied = 0;  // line[copied..] not yet in out
        bool first_word = true;
        auto rename_code = [&](size_t from, size_t to) {
            std::string_view code = std::string_view(line).substr(from, to - from);
            detail::for_each_word_run(code, [&](std::string_view run, bool identifier) {
                const bool member_name = member_line && first_word;
                first_word = false;
                if (!identifier) return;
                auto found = by_name.find(run);
                if (found == by_name.end()) return;
                const size_t at = static_cast<size_t>(run.data() - line.data());
                // obj.name and With-block .name are members, and name:= is a named argument: neither
                // is the variable.
                if (at > 0 && line[at - 1] == '.') return;
                size_t after = at + run.size();
                while (after < line.size() && (line[after] == ' ' || line[after] == '\t')) ++after;
                if (line.compare(after, 2, ":=") == 0) return;
                const FilePlan* best = nullptr;
                for (const FilePlan* p : found->second) {
                    if (!p->applies(line_no) || (member_name && p->variable)) continue;
                    if (!best || p->rule->priority > best->rule->priority ||
                        (p->rule->priority == best->rule->priority && p->rule->order > best->rule->order))
                        best = p;
                }
                if (!best) return;
                counted.insert(best->rule->old_name);
                out.append(line, copied, at - copied);
                out += best->rule->new_name;
                copied = at + run.size();
            });
        };
        size_t i = 0, code_start = 0;
        while (i < line.size()) {
            char c = line[i];
            if (c == '"') {
                rename_code(code_start, i);
                size_t j = i + 1;
                while (j < line.size()) {
                    if (line[j] == '"') {
                        if (j + 1 < line.size() && line[j + 1] == '"') {
                            j += 2;
                            continue;
                        }
                        break;
                    }
                    ++j;
                }
                i = std::min(j + 1, line.size());
                code_start = i;
            } else if (c == '\'') {
                comment_goes_on = continues(std::string_view(line).substr(i));
                break;
            } else {
                ++i;
            }
        }
        rename_code(code_start, i);
        if (copied > 0) {
            out.append(line, copied, std::string::npos);
            lines[idx] = std::move(out);
        }
    }
    return counted.size();
}

}  // namespace igxl::vbt
