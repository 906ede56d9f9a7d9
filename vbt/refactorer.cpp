#include "vbt/refactorer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "export/xlsx.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "util/text.h"
#include "vbt/apply_flag.h"
#include "vbt/keywords.h"
#include "vbt/parser.h"
#include "vbt/source.h"

namespace igxl::vbt {

using util::Regex;
namespace fs = std::filesystem;

const char* outcome_text(Outcome outcome) {
    switch (outcome) {
        case Outcome::pending: return "未处理";
        case Outcome::applied: return "已应用";
        case Outcome::already_applied: return "已是新名称";
        case Outcome::skipped: return "已跳过";
        case Outcome::failed: return "失败";
    }
    return "";
}

namespace {

std::string local_time(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm tm = util::local_time(now);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

std::string now_text() { return local_time("%Y-%m-%d %H:%M:%S"); }

std::string describe(const std::string& type, const std::string& old_name, const std::string& new_name,
                     const std::string& function) {
    if (type == "global_variable") return "全局变量 '" + old_name + "' 重命名为 '" + new_name + "'";
    if (type == "module_variable") return "模块变量 '" + old_name + "' 重命名为 '" + new_name + "'";
    if (type == "local_variable")
        return "局部变量 '" + old_name + "' 在函数 '" + function + "' 中重命名为 '" + new_name + "'";
    if (type == "parameter")
        return "参数 '" + old_name + "' 在函数 '" + function + "' 中重命名为 '" + new_name + "'";
    if (type == "type_definition") return "Type定义 '" + old_name + "' 重命名为 '" + new_name + "'";
    return "Enum定义 '" + old_name + "' 重命名为 '" + new_name + "'";
}

// A new name must be a plain identifier (VBA allows 255 characters), or the module would no
// longer compile.
bool is_identifier(std::string_view s) {
    static const Regex ident("[A-Za-z][A-Za-z0-9_]{0,254}", Regex::ASCII);
    return ident.full_match(s);
}

// Words VBA reserves (any letter case): no variable, procedure or type may bear them.
bool is_reserved_word(std::string_view name) {
    static const std::set<std::string, std::less<>> words = [] {
        std::set<std::string, std::less<>> w;
        for (const char* k :
             {"and", "as", "attribute", "boolean", "byref", "byte", "byval", "call", "case", "cbool", "cbyte",
              "ccur", "cdate", "cdbl", "cdec", "cint", "clng", "clnglng", "clngptr", "close", "const", "csng",
              "cstr", "currency", "cvar", "date", "decimal", "declare", "defbool", "defbyte", "defcur", "defdate",
              "defdbl", "defint", "deflng", "deflnglng", "deflngptr", "defobj", "defsng", "defstr", "defvar",
              "dim", "do", "double", "each", "else", "elseif", "empty", "end", "endif", "enum", "eqv", "erase",
              "error", "event", "exit", "false", "for", "friend", "function", "get", "global", "gosub", "goto",
              "if", "imp", "implements", "in", "input", "integer", "is", "let", "like", "lock", "long",
              "longlong", "longptr", "loop", "lset", "me", "mod", "new", "next", "not", "nothing", "null",
              "object", "on", "open", "option", "optional", "or", "paramarray", "preserve", "print", "private",
              "property", "ptrsafe", "public", "put", "raiseevent", "redim", "rem", "resume", "return", "rset",
              "select", "set", "single", "static", "step", "stop", "string", "sub", "then", "to", "true", "type",
              "typeof", "unlock", "until", "variant", "wend", "while", "with", "withevents", "write", "xor"})
            w.insert(k);
        return w;
    }();
    return words.count(util::to_lower(name)) > 0;
}

bool starts_with_icase(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && util::iequals(s.substr(0, p.size()), p);
}

// Whether the line holds name as a whole word (case-sensitive).
bool has_word(std::string_view line, std::string_view name) {
    bool found = false;
    detail::for_each_word_run(line, [&](std::string_view run, bool) { found = found || run == name; });
    return found;
}

std::string free_backup_path(const std::string& file_path) {
    std::string base = file_path + ".backup_" + local_time("%Y%m%d_%H%M%S");
    std::string path = base;
    for (int n = 1; util::path_exists(path); ++n) path = base + "_" + std::to_string(n);
    return path;
}

// The module's name as VBA knows it: its VB_Name attribute, else the file's stem.
std::string module_name(const std::string& path, const SourceLines& lines) {
    static const Regex vb_name("^\\s*Attribute\\s+VB_Name\\s*=\\s*\"([^\"]*)\"", Regex::ICASE);
    util::Match m;
    for (size_t i = 0; i < lines.size() && i < 10; ++i)
        if (vb_name.search(lines[i], m)) return std::string(m.group(1));
    return util::path_to_utf8(util::path_from_utf8(path).stem());
}

// The change log's record lists, writable (the ordered map's own iteration is read-only).
struct MutableLog {
    ChangeLog& log;
    struct Iterator {
        mutable ChangeLog::iterator it;
        std::pair<const std::string&, std::vector<ChangeRecord>&> operator*() const { return {it->first, it.value()}; }
        Iterator& operator++() {
            ++it;
            return *this;
        }
        bool operator!=(const Iterator& o) const { return it != o.it; }
    };
    Iterator begin() { return {log.begin()}; }
    Iterator end() { return {log.end()}; }
};
MutableLog mutable_log(ChangeLog& log) { return {log}; }

bool is_local_kind(const std::string& kind) { return kind == "local_variable" || kind == "parameter"; }

}  // namespace

// One rename as it reaches the files: where the name was declared and how far it reaches.
struct VBTRefactorer::Rule {
    std::string kind;
    std::string old_name;
    std::string new_name;
    std::string decl_file;
    int decl_line = 0;
    int priority = 1;  // local/parameter 3, module 2, global/Type/Enum 1: the narrower scope wins
    size_t order = 0;  // later records win over earlier ones of the same scope
    int first_line = 0, last_line = 0;  // a local's or parameter's procedure; 0: not known
    bool every_file = false;            // globals and public Types/Enums
    bool case_only = false;             // gCount -> GCount: every use, whatever its letter case
    std::vector<ChangeRecord*> records;  // the confirmed rows this rule carries out
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
        if (is_local_kind(rule->kind)) {
            if (rule->first_line == 0 || decl_line == 0) return false;
            return line >= rule->first_line && line <= rule->last_line;
        }
        for (const auto& [a, b] : excluded)
            if (line >= a && line <= b) return false;
        return true;
    }
};

// One module's rewrite, worked out before anything is written.
struct VBTRefactorer::FileEdit {
    std::string path;
    std::string failure;  // why the module cannot be rewritten; empty when it can
    bool changed = false;
    std::string original;  // the file's bytes
    std::string bytes;     // the new bytes
    std::vector<const Rule*> used;
    size_t renamed = 0;  // names declared here or replaced here
};

// Every name a new name could clash with, by where it is declared.
struct VBTRefactorer::NameIndex {
    enum Kind : uint8_t { global, module_level, local, procedure, type_or_enum, module };
    struct Decl {
        std::string name;  // lower case
        Kind kind;
        std::string file;
        int line = 0;
        int first_line = 0, last_line = 0;  // the procedure of a local or parameter
        const char* what;                   // for the reason text
        std::string shown;                  // the name as written
    };
    std::vector<Decl> decls;

    explicit NameIndex(const VBAParser& p, const std::vector<std::string>& module_names) {
        auto add = [&](const std::string& name, Kind kind, const std::string& file, int line, int first, int last,
                       const char* what) { decls.push_back({util::to_lower(name), kind, file, line, first, last, what, name}); };
        for (const VariableInfo& v : p.global_variables)
            add(v.name, global, v.file_path.str(), v.line_number, 0, 0, v.is_const ? "常量" : "全局变量");
        for (const auto& [file, list] : p.module_variables)
            for (const VariableInfo& v : list)
                add(v.name, module_level, file, v.line_number, 0, 0, v.is_const ? "常量" : "模块变量");
        for (const auto& [key, f] : p.functions) {
            add(f.name, procedure, f.file_path.str(), f.start_line, 0, 0, "过程");
            for (const Parameter& prm : f.parameters)
                add(prm.name, local, f.file_path.str(), f.start_line, f.start_line, f.end_line, "参数");
            auto locals = p.local_variables.find(key);
            if (locals != p.local_variables.end())
                for (const VariableInfo& v : locals->second)
                    add(v.name, local, f.file_path.str(), v.line_number, f.start_line, f.end_line,
                        v.is_const ? "常量" : "局部变量");
        }
        for (const auto& [key, t] : p.types) add(t.name, type_or_enum, t.file_path.str(), t.line_number, 0, 0, "Type");
        for (const auto& [key, t] : p.enums) add(t.name, type_or_enum, t.file_path.str(), t.line_number, 0, 0, "Enum");
        size_t i = 0;
        for (const auto& [path, lines] : p.files) add(module_names[i++], module, path, 0, 0, 0, "模块");
    }
};

VBTRefactorer::VBTRefactorer(const VBAParser& parser_, diag::Sink& sink, RefactorOptions options)
    : parser(parser_), sink_(&sink), options_(std::move(options)) {
    for (const auto& [path, lines] : parser.files) module_names_.push_back(module_name(path, lines));
}

void VBTRefactorer::say(diag::Severity severity, const char* code, std::string text, const std::string& file,
                        int line) const {
    diag::Location where;
    where.file = file;
    where.line = static_cast<unsigned>(std::max(line, 0));
    diag::emit(*sink_, severity, code, std::move(text), diag::kConsole, std::move(where));
}

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

VBTRefactorer::Totals VBTRefactorer::totals() const {
    Totals t;
    for (const auto& [type, records] : changes_made)
        for (const ChangeRecord& r : records) {
            switch (r.outcome) {
                case Outcome::applied: ++t.applied; break;
                case Outcome::already_applied: ++t.already_applied; break;
                case Outcome::skipped: ++t.skipped; break;
                case Outcome::failed:
                case Outcome::pending: ++t.failed; break;
            }
        }
    return t;
}

bool VBTRefactorer::apply_changes_from_excel(const std::string& excel_path) {
    say(diag::Severity::info, "vbt.reading-review", "正在读取Excel报告: " + excel_path);
    std::vector<std::string> confirmations;
    try {
        struct SheetKind {
            const char* sheet;
            const char* type;
            const char* label;
            const char* failure;  // nullptr: the sheet is optional (older workbooks lack it)
            const char* name_header;
        };
        static const SheetKind kinds[] = {
            {"Global Variables", "global_variable", "全局变量: ", "读取全局变量工作表失败: ", "变量名"},
            {"Module Variables", "module_variable", "模块变量: ", "读取模块变量工作表失败: ", "变量名"},
            {"Local Variables", "local_variable", "局部变量: ", "读取局部变量工作表失败: ", "变量名"},
            {"Function Parameters", "parameter", "参数: ", nullptr, "参数名"},
            {"Type Definitions", "type_definition", "Type定义: ", nullptr, "名称"},
            {"Enum Definitions", "enum_definition", "Enum定义: ", nullptr, "名称"},
        };
        const std::vector<std::string> sheets = xlsx::Workbook(excel_path).sheet_names();
        for (const SheetKind& kind : kinds) {
            if (!kind.failure && std::find(sheets.begin(), sheets.end(), kind.sheet) == sheets.end()) continue;
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
                int new_col = column("正确命名");
                // Sheets without a column for the reviewer's own name take the suggestion.
                if (new_col < 0 && std::string_view(kind.type) != "global_variable" &&
                    std::string_view(kind.type) != "module_variable" && std::string_view(kind.type) != "local_variable")
                    new_col = column("建议名称");
                int func_col = column("函数名");
                if (func_col < 0) func_col = column("所在函数");
                const int name_col = column(kind.name_header), file_col = column("文件路径"), line_col = column("行号");
                static const xlsx::Cell empty;
                for (size_t r = 0; r < table.rows.size(); ++r) {
                    const auto& row = table.rows[r];
                    auto cell = [&](int c) -> const xlsx::Cell& {
                        return c >= 0 && static_cast<size_t>(c) < row.size() ? row[static_cast<size_t>(c)] : empty;
                    };
                    const ApplyFlag flag = read_apply_flag(cell(apply));
                    if (flag == ApplyFlag::NOT_UNDERSTOOD)
                        say(diag::Severity::warning, "vbt.apply-mark-not-understood",
                            std::string(kind.sheet) + " 第 " + std::to_string(r + 2) + " 行: 无法识别的“应用”值 '" +
                                cell(apply).text + "'，该行未应用",
                            excel_path, static_cast<int>(r + 2));
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
                    ChangeRecord rec;
                    rec.file_path = file_col >= 0 ? cell(file_col).text : "";
                    rec.line_number = line;
                    rec.original_name = old_name;
                    rec.new_name = new_name;
                    rec.description = describe(kind.type, old_name, new_name, func_col >= 0 ? cell(func_col).text : "");
                    rec.timestamp = now_text();
                    add_change(kind.type, std::move(rec));
                    confirmations.push_back(std::string(kind.label) + old_name + " -> " + new_name);
                }
            } catch (const std::exception& e) {
                // A sheet the dry run left out (nothing to review there) is reported, not an error.
                say(diag::Severity::warning, "vbt.review-sheet-failed",
                    std::string(kind.failure ? kind.failure : "读取工作表失败: ") + e.what(), excel_path);
            }
        }
        if (confirmations.empty()) {
            say(diag::Severity::info, "vbt.nothing-confirmed", "未找到任何确认的修改");
            return false;
        }
        say(diag::Severity::info, "vbt.confirmed",
            "从Excel中读取到 " + std::to_string(confirmations.size()) + " 个确认的修改:");
        for (size_t i = 0; i < confirmations.size() && i < 10; ++i)
            say(diag::Severity::info, "vbt.confirmed-item", "  - " + confirmations[i]);
        if (confirmations.size() > 10)
            say(diag::Severity::info, "vbt.confirmed-more",
                "  ... 以及另外 " + std::to_string(confirmations.size() - 10) + " 个修改");
        apply_all_changes();
        return true;
    } catch (const std::exception& e) {
        say(diag::Severity::error, "vbt.review-failed", std::string("读取Excel文件失败: ") + e.what(), excel_path);
        for (auto&& [type, records] : mutable_log(changes_made))
            for (ChangeRecord& r : records)
                if (r.outcome == Outcome::pending) {
                    r.outcome = Outcome::failed;
                    r.reason = e.what();
                }
        return !confirmations.empty();
    }
}

void VBTRefactorer::refactor_all_issues() {
    say(diag::Severity::info, "vbt.auto-refactor", "开始自动重构...");
    refactor_global_variables();
    refactor_module_variables();
    refactor_local_variables();
    refactor_type_definitions();
    refactor_enum_definitions();
    apply_all_changes();
    say(diag::Severity::info, "vbt.auto-refactor-done", "自动重构完成！");
}

namespace {
// The suggested name when it differs from the record's own, else none.
std::optional<std::string> proposed_name(const std::optional<std::string>& correct, const std::string& name) {
    if (!correct || correct->empty() || *correct == name) return std::nullopt;
    return correct;
}
std::optional<std::string> proposed_name(const VariableInfo& info) { return proposed_name(info.correct_name(), info.name); }
std::optional<std::string> proposed_name(const TypeInfo& info) { return proposed_name(info.correct_name, info.name); }
}  // namespace

#define IGXL_PROPOSE(type, info, function)                                                                       \
    if (const auto proposed = proposed_name(info))                                                               \
    add_change(type, ChangeRecord{(info).file_path, (info).line_number, (info).name, *proposed,                  \
                                  describe(type, (info).name, *proposed, function), now_text(), Outcome::pending, \
                                  {}})

void VBTRefactorer::refactor_global_variables() {
    for (const auto& v : parser.global_variables)
        IGXL_PROPOSE("global_variable", v, "");
}

void VBTRefactorer::refactor_module_variables() {
    for (const auto& [path, list] : parser.module_variables)
        for (const auto& v : list)
            IGXL_PROPOSE("module_variable", v, "");
}

void VBTRefactorer::refactor_local_variables() {
    for (const auto& [key, list] : parser.local_variables)
        for (const auto& v : list)
            IGXL_PROPOSE("local_variable", v, v.function_name ? v.function_name->str() : "");
}

void VBTRefactorer::refactor_type_definitions() {
    for (const auto& [key, t] : parser.types)
        IGXL_PROPOSE("type_definition", t, "");
}

void VBTRefactorer::refactor_enum_definitions() {
    for (const auto& [key, t] : parser.enums)
        IGXL_PROPOSE("enum_definition", t, "");
}

#undef IGXL_PROPOSE

// The workbook keeps paths as they were given to the dry run, which may have been started from
// another folder or with the tree named another way. A path is looked for as it stands, then
// under the tree given now, then by its trailing components below that tree.
std::string VBTRefactorer::resolve_path(const std::string& stored) const {
    if (parser.files.contains(stored)) return stored;
    if (stored.empty()) return {};
    std::error_code ec;
    auto canonical = [&](const fs::path& p) {
        fs::path c = fs::weakly_canonical(p, ec);
        return ec ? p.lexically_normal() : c;
    };
    std::vector<fs::path> tried{canonical(util::path_from_utf8(stored))};
    const fs::path root = options_.root.empty() ? fs::path() : canonical(util::path_from_utf8(options_.root));
    if (!root.empty() && util::path_from_utf8(stored).is_relative()) tried.push_back(canonical(root / util::path_from_utf8(stored)));
    for (const auto& [path, lines] : parser.files) {
        const fs::path here = canonical(util::path_from_utf8(path));
        for (const fs::path& t : tried)
            if (here == t) return path;
    }
    if (root.empty()) return {};
    // Trailing components: "src/A.bas" from a dry run of "src" is A.bas under the tree given now.
    std::vector<std::string> want;
    for (const auto& part : util::path_from_utf8(stored).lexically_normal()) want.push_back(util::path_to_utf8(part));
    std::string match;
    size_t matches = 0;
    for (const auto& [path, lines] : parser.files) {
        fs::path rel = canonical(util::path_from_utf8(path)).lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..") continue;
        std::vector<std::string> have;
        for (const auto& part : rel) have.push_back(util::path_to_utf8(part));
        if (have.size() > want.size()) continue;
        if (std::equal(have.rbegin(), have.rend(), want.rbegin())) {
            match = path;
            ++matches;
        }
    }
    return matches == 1 ? match : std::string();
}

// A public member of a class or document module: its uses elsewhere go through an object
// (obj.Member) and are not tied to the declaring module, so a rename within the module would
// break them.
static bool is_class_public(const VBAParser& parser, const ChangeRecord& r) {
    auto own = parser.module_variables.find(r.file_path);
    if (own == parser.module_variables.end()) return false;
    for (const VariableInfo& v : own->second)
        if (v.line_number == r.line_number && v.name == r.original_name) return v.scope == VariableScope::CLASS_PUBLIC;
    return false;
}

// Decides, before anything is written, which confirmed renames can be carried out.
void VBTRefactorer::check_records(const NameIndex& names) {
    auto skip = [&](ChangeRecord& r, std::string why) {
        r.outcome = Outcome::skipped;
        r.reason = std::move(why);
    };
    // The record's own declaration among the names, so that it does not clash with itself.
    auto own = [&](const ChangeRecord& r, const NameIndex::Decl& d) {
        return d.file == r.file_path && d.name == util::to_lower(r.original_name) &&
               (d.line == r.line_number || d.kind == NameIndex::module);
    };
    for (auto&& [type, records] : mutable_log(changes_made)) {
        for (ChangeRecord& r : records) {
            if (r.outcome != Outcome::pending) continue;
            if (!is_identifier(r.new_name)) {
                say(diag::Severity::warning, "vbt.not-identifier",
                    "跳过无效的新名称 '" + r.new_name + "' (变量 '" + r.original_name + "')", r.file_path,
                    r.line_number);
                skip(r, "新名称不是合法的标识符");
                continue;
            }
            if (is_reserved_word(r.new_name)) {
                skip(r, "新名称是VBA关键字");
                continue;
            }
            const std::string stored = r.file_path;
            std::string found = resolve_path(stored);
            if (found.empty()) {
                skip(r, "文件未找到: " + stored);
                continue;
            }
            r.file_path = found;
            const SourceLines& lines = parser.files.at(found);
            const size_t idx = static_cast<size_t>(std::max(r.line_number, 1) - 1);
            std::string_view decl = r.line_number >= 1 && idx < lines.size() ? lines[idx] : std::string_view();
            if (!has_word(decl, r.original_name)) {
                if (has_word(decl, r.new_name))
                    r.outcome = Outcome::already_applied;
                else
                    skip(r, "文件在dry-run之后已改动: 第 " + std::to_string(r.line_number) + " 行没有 '" +
                                r.original_name + "'");
                continue;
            }
            if (type == "module_variable" && is_class_public(parser, r)) {
                skip(r, "类的公共成员在其他模块中以 对象.成员 的形式使用，不能只在本模块中改名，请手动修改");
                continue;
            }
        }
    }
    // Names as they will be once every remaining rename is applied; checked again while a round
    // skips something, as a skipped rename no longer frees its old name.
    for (bool again = true; again;) {
        again = false;
        std::vector<std::string> final_names(names.decls.size());
        for (size_t i = 0; i < names.decls.size(); ++i) final_names[i] = names.decls[i].name;
        for (auto&& [type, records] : mutable_log(changes_made))
            for (ChangeRecord& r : records) {
                if (r.outcome != Outcome::pending) continue;
                for (size_t i = 0; i < names.decls.size(); ++i)
                    if (own(r, names.decls[i]) && names.decls[i].kind != NameIndex::module)
                        final_names[i] = util::to_lower(r.new_name);
            }
        for (auto&& [type, records] : mutable_log(changes_made)) {
            for (ChangeRecord& r : records) {
                if (r.outcome != Outcome::pending) continue;
                const std::string want = util::to_lower(r.new_name);
                // The record's scope: the procedure of a local or parameter.
                int first = 0, last = 0;
                if (is_local_kind(type))
                    for (const auto& [key, f] : parser.functions)
                        if (f.file_path == r.file_path && f.start_line <= r.line_number && r.line_number <= f.end_line) {
                            first = f.start_line;
                            last = f.end_line;
                            break;
                        }
                const bool module_scope = type == "module_variable";
                for (size_t i = 0; i < names.decls.size(); ++i) {
                    const NameIndex::Decl& d = names.decls[i];
                    if (final_names[i] != want || own(r, d)) continue;
                    bool meets = false;
                    switch (d.kind) {
                        case NameIndex::global:
                        case NameIndex::procedure:
                        case NameIndex::type_or_enum:
                        case NameIndex::module: meets = true; break;
                        case NameIndex::module_level:
                            // A module-level name is seen in its own module; a global renamed to
                            // it would be hidden there.
                            meets = d.file == r.file_path || type == "global_variable";
                            break;
                        case NameIndex::local:
                            // Same procedure; or a wider variable that a local of the new name
                            // would shadow where it is used.
                            if (is_local_kind(type))
                                meets = d.file == r.file_path && d.first_line == first && d.last_line == last;
                            else
                                meets = (type == "global_variable" || d.file == r.file_path) &&
                                        (module_scope || type == "global_variable");
                            break;
                    }
                    if (!meets) continue;
                    again = true;
                    r.outcome = Outcome::skipped;
                    r.reason = "名称冲突: '" + r.new_name + "' 已是" + d.what + " '" + d.shown + "' (" + d.file +
                               (d.line ? ":" + std::to_string(d.line) : std::string()) + ")";
                    break;
                }
            }
        }
    }
}

std::vector<VBTRefactorer::Rule> VBTRefactorer::build_rules() {
    std::vector<Rule> rules;
    size_t order = 0;
    for (auto&& [type, records] : mutable_log(changes_made)) {
        for (ChangeRecord& rec : records) {
            if (rec.outcome != Outcome::pending) continue;
            Rule rule;
            rule.kind = type;
            rule.old_name = rec.original_name;
            rule.new_name = rec.new_name;
            rule.decl_file = rec.file_path;
            rule.decl_line = rec.line_number;
            rule.order = order++;
            rule.case_only = rule.old_name != rule.new_name && util::iequals(rule.old_name, rule.new_name);
            rule.records.push_back(&rec);
            if (is_local_kind(type)) {
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

// Temporary files of a run that was killed (a backup or a module half-way to its new name) are
// removed, so they are neither mistaken for modules nor left to pile up.
void VBTRefactorer::remove_stale_temp_files() const {
    std::set<fs::path> dirs;
    std::set<std::string> modules;
    for (const auto& [path, lines] : parser.files) {
        dirs.insert(util::path_from_utf8(path).parent_path());
        modules.insert(util::path_to_utf8(util::path_from_utf8(path).filename()));
    }
    // Only the files nobody holds: a run writing in the same folder right now keeps its own.
    auto ours = [&](std::string_view final_name) {
        if (modules.count(std::string(final_name))) return true;
        for (const std::string& m : modules)
            if (final_name.starts_with(m + ".backup_")) return true;
        return false;
    };
    for (const fs::path& dir : dirs)
        for (const std::string& path : util::remove_abandoned_temp_files(util::path_to_utf8(dir), ours))
            say(diag::Severity::warning, "vbt.stale-temp-removed", "已删除上次中断的重构留下的临时文件: " + path, path);
}

void VBTRefactorer::apply_all_changes() {
    remove_stale_temp_files();
    const NameIndex names(parser, module_names_);
    check_records(names);
    for (const auto& [type, records] : changes_made)
        for (const ChangeRecord& r : records)
            if (r.outcome == Outcome::skipped)
                say(diag::Severity::warning, "vbt.rename-skipped",
                    "跳过修改 " + r.original_name + " -> " + r.new_name + " (" + r.file_path + ":" +
                        std::to_string(r.line_number) + "): " + r.reason,
                    r.file_path, r.line_number);

    std::vector<Rule> rules = build_rules();
    std::vector<bool> active(rules.size(), true);
    // Files of the declarations first, in the order they first appear in the log; then every other
    // parsed file a global or public definition reaches, touched only when its text changes.
    std::vector<std::string> order;
    for (const Rule& r : rules)
        if (std::find(order.begin(), order.end(), r.decl_file) == order.end()) order.push_back(r.decl_file);
    if (std::any_of(rules.begin(), rules.end(), [](const Rule& r) { return r.every_file; }))
        for (const auto& [path, lines] : parser.files)
            if (std::find(order.begin(), order.end(), path) == order.end()) order.push_back(path);

    // Every module is worked out before the first is written. A module that cannot be rewritten
    // takes the renames that reach it out of the run, so no rename is left half done across
    // modules; the others are worked out again without them.
    std::vector<FileEdit> edits;
    for (size_t round = 0; round <= rules.size(); ++round) {
        edits.clear();
        bool dropped = false;
        for (const std::string& path : order) {
            std::vector<const Rule*> reaching;
            for (size_t i = 0; i < rules.size(); ++i) {
                const Rule& r = rules[i];
                if (active[i] && (r.decl_file == path || (r.every_file && parser.files.contains(r.decl_file))))
                    reaching.push_back(&r);
            }
            if (reaching.empty()) continue;
            FileEdit edit = plan_file(path, reaching);
            if (!edit.failure.empty()) {
                say(diag::Severity::error, "vbt.backup-failed", "备份文件失败 " + path + ": " + edit.failure, path);
                for (const Rule* r : edit.used) {
                    const auto i = static_cast<size_t>(r - rules.data());
                    active[i] = false;
                    dropped = true;
                    for (ChangeRecord* rec : r->records) {
                        rec->outcome = Outcome::failed;
                        rec->reason = path + ": " + edit.failure;
                    }
                }
                continue;
            }
            if (edit.changed) edits.push_back(std::move(edit));
        }
        if (!dropped) break;
    }
    for (size_t i = 0; i < rules.size(); ++i)
        if (active[i])
            for (ChangeRecord* rec : rules[i].records) rec->outcome = Outcome::applied;

    if (!options_.journal_path.empty() && !edits.empty()) {
        try {
            util::append_durably(options_.journal_path, "# " + now_text() + " 重构开始\n");
        } catch (const std::exception& e) {
            say(diag::Severity::warning, "vbt.journal-failed", std::string("无法写入重构日志: ") + e.what());
        }
    }
    std::set<const Rule*> written_any;
    for (size_t e = 0; e < edits.size(); ++e) {
        if (options_.stop_requested && options_.stop_requested()) {
            interrupted_ = true;
            // What was not written yet: renames that reach none of the modules written are
            // skipped; renames already written in some modules are reported as failed.
            std::set<const Rule*> pending;
            for (size_t k = e; k < edits.size(); ++k) pending.insert(edits[k].used.begin(), edits[k].used.end());
            for (const Rule* r : pending)
                for (ChangeRecord* rec : r->records) {
                    if (written_any.count(r)) {
                        rec->outcome = Outcome::failed;
                        rec->reason = "运行被中断，只改了部分文件";
                    } else {
                        rec->outcome = Outcome::skipped;
                        rec->reason = "运行被中断";
                    }
                }
            say(diag::Severity::warning, "vbt.interrupted",
                "重构被中断: 已改写 " + std::to_string(e) + " 个文件，另有 " + std::to_string(edits.size() - e) +
                    " 个文件未改动");
            break;
        }
        if (write_file(edits[e])) {
            written_any.insert(edits[e].used.begin(), edits[e].used.end());
        } else {
            for (const Rule* r : edits[e].used)
                for (ChangeRecord* rec : r->records) {
                    rec->outcome = Outcome::failed;
                    rec->reason = edits[e].path + ": " + edits[e].failure;
                }
        }
    }
}

VBTRefactorer::FileEdit VBTRefactorer::plan_file(const std::string& file_path,
                                                 const std::vector<const Rule*>& rules) const {
    FileEdit edit;
    edit.path = file_path;
    auto parsed = parser.files.find(file_path);
    if (parsed == parser.files.end()) return edit;
    const SourceLines& source = parsed->second;
    const TextEncoding& encoding = source.encoding();

    // Renames are worked out on the lines as parsed; a module they leave unchanged is not touched.
    std::vector<std::string> lines;
    lines.reserve(source.size());
    for (std::string_view l : source) {
        if (!l.empty() && l.back() == '\n') l.remove_suffix(1);
        lines.emplace_back(l);
    }
    const std::vector<std::string> before = lines;
    edit.used = apply_variable_references_to_file(lines, rules, file_path);
    edit.renamed = 0;
    {
        std::unordered_set<std::string_view> names;
        for (const Rule* r : edit.used) names.insert(r->old_name);
        edit.renamed = names.size();
    }
    if (lines == before) return edit;

    try {
        edit.original = util::read_file(file_path);
        std::vector<RawLine> raw;
        const std::string_view bom = split_raw_lines(edit.original, encoding, raw);
        // The renames are placed by the parsed line numbers; a module edited since then is left alone.
        if (raw.size() != before.size()) throw Error("the file changed after it was parsed");
        edit.bytes.reserve(edit.original.size() + 64);
        edit.bytes.append(bom);
        for (size_t i = 0; i < raw.size(); ++i) {
            auto text = decode_line(raw[i].content, encoding);
            if (!text || *text != before[i]) throw Error("the file changed after it was parsed");
            if (lines[i] == before[i]) {
                edit.bytes.append(raw[i].content);
            } else {
                // Only lines with a rename are encoded again; each must convert back to exactly
                // the bytes it came from, so nothing outside the renamed names changes.
                auto same = encode_line(before[i], encoding);
                if (!same || *same != raw[i].content)
                    throw Error("line " + std::to_string(i + 1) + " cannot be written back unchanged in " +
                                encoding.label());
                auto renamed = encode_line(lines[i], encoding);
                if (!renamed) throw Error("line " + std::to_string(i + 1) + " cannot be written in " + encoding.label());
                edit.bytes.append(*renamed);
            }
            edit.bytes.append(raw[i].end);
        }
    } catch (const std::exception& e) {
        edit.failure = e.what();
        return edit;
    }
    edit.changed = edit.bytes != edit.original;
    return edit;
}

bool VBTRefactorer::write_file(FileEdit& edit) {
    const std::string& file_path = edit.path;
    std::string backup = free_backup_path(file_path);
    try {
        util::write_new_file(backup, edit.original);
    } catch (const std::exception& e) {
        edit.failure = e.what();
        say(diag::Severity::error, "vbt.backup-failed", "备份文件失败 " + file_path + ": " + e.what(), file_path);
        return false;
    }
    say(diag::Severity::info, "vbt.backed-up", "已备份文件: " + backup, file_path);
    if (!options_.journal_path.empty()) {
        try {
            util::append_durably(options_.journal_path, now_text() + "\t" + file_path + "\t" + backup + "\n");
        } catch (const std::exception& e) {
            edit.failure = std::string("the refactor journal cannot be written: ") + e.what();
            say(diag::Severity::error, "vbt.write-failed", "写入文件失败 " + file_path + ": " + edit.failure, file_path);
            return false;
        }
    }
    try {
        util::write_file_atomic(file_path, edit.bytes);
    } catch (const std::exception& e) {
        edit.failure = e.what();
        say(diag::Severity::error, "vbt.write-failed", "写入文件失败 " + file_path + ": " + e.what(), file_path);
        return false;
    }
    say(diag::Severity::info, "vbt.rewritten", "已修改文件: " + file_path, file_path);
    say(diag::Severity::info, "vbt.rewritten-count", "  - 更新了 " + std::to_string(edit.renamed) + " 个变量名的所有引用",
        file_path);
    return true;
}

std::vector<const VBTRefactorer::Rule*> VBTRefactorer::apply_variable_references_to_file(
    std::vector<std::string>& lines, const std::vector<const Rule*>& rules, const std::string& file_path) const {
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
        if (r->kind == "global_variable" || r->kind == "module_variable" || r->kind == "type_definition" ||
            r->kind == "enum_definition") {
            auto shadowing = shadowed_in.find(lower);
            if (shadowing != shadowed_in.end()) plan.excluded = shadowing->second;
        }
        if (plan.decl_line == 0 && (plan.declaration_only || is_local_kind(r->kind))) continue;
        plans.push_back(std::move(plan));
    }
    std::unordered_map<std::string_view, std::vector<const FilePlan*>> by_name;
    // A case-only rename reaches every use whatever its letter case: VBA does not tell them apart.
    std::unordered_map<std::string, std::vector<const FilePlan*>> by_lower_name;
    // The renames declared here, plus those declared elsewhere that replaced something here.
    std::vector<const Rule*> used;
    auto use = [&](const Rule* r) {
        if (std::find(used.begin(), used.end(), r) == used.end()) used.push_back(r);
    };
    for (const FilePlan& p : plans) {
        by_name[p.rule->old_name].push_back(&p);
        if (p.rule->case_only) by_lower_name[util::to_lower(p.rule->old_name)].push_back(&p);
        if (p.rule->decl_file == file_path) use(p.rule);
    }
    if (by_name.empty()) return used;
    // Module names, for qualified uses such as Module1.g_X.
    std::unordered_set<std::string> modules(module_names_.size());
    for (const std::string& m : module_names_) modules.insert(util::to_lower(m));
    std::string own_module;
    {
        size_t i = 0;
        for (const auto& [path, ls] : parser.files) {
            if (path == file_path) own_module = util::to_lower(module_names_[i]);
            ++i;
        }
    }

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
        // Attribute lines belong to the editor (VB_Name, member attributes): never renamed.
        if (starts_with_icase(stripped, "Attribute ")) continue;
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
                const std::vector<const FilePlan*>* candidates = nullptr;
                auto found = by_name.find(run);
                if (found != by_name.end()) {
                    candidates = &found->second;
                } else if (!by_lower_name.empty()) {
                    auto lower = by_lower_name.find(util::to_lower(run));
                    if (lower != by_lower_name.end()) candidates = &lower->second;
                }
                if (!candidates) return;
                const size_t at = static_cast<size_t>(run.data() - line.data());
                // obj.name and With-block .name are members, and name:= is a named argument: neither
                // is the variable. Module.name is the module's own name for it.
                std::string qualifier;
                if (at > 0 && line[at - 1] == '.') {
                    size_t q = at - 1;
                    while (q > 0 && detail::is_ascii_word(static_cast<unsigned char>(line[q - 1]))) --q;
                    qualifier = util::to_lower(std::string_view(line).substr(q, at - 1 - q));
                    if (qualifier.empty() || !modules.count(qualifier)) return;
                    if (q > 0 && line[q - 1] == '.') return;  // a.Module1.x: a member after all
                }
                size_t after = at + run.size();
                while (after < line.size() && (line[after] == ' ' || line[after] == '\t')) ++after;
                if (line.compare(after, 2, ":=") == 0) return;
                const FilePlan* best = nullptr;
                for (const FilePlan* p : *candidates) {
                    if (!p->applies(line_no) || (member_name && p->variable)) continue;
                    if (!qualifier.empty()) {
                        // Only names a module exports are reached through it: a global, a public
                        // Type or Enum, or a module-level name qualified by its own module.
                        const bool exported = p->rule->every_file || (p->rule->kind == "module_variable" &&
                                                                      qualifier == own_module &&
                                                                      p->rule->decl_file == file_path);
                        if (!exported || is_local_kind(p->rule->kind)) continue;
                    }
                    if (!best || p->rule->priority > best->rule->priority ||
                        (p->rule->priority == best->rule->priority && p->rule->order > best->rule->order))
                        best = p;
                }
                if (!best) return;
                use(best->rule);
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
    return used;
}

}  // namespace igxl::vbt
