#include "vbt/parser.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "util/diagnostics.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "util/text.h"
#include "vbt/naming_rules.h"
#include "vbt/statements.h"

namespace igxl::vbt {

using util::Match;
using util::Regex;

// A large program has one record per declared name; keep them small.
static_assert(sizeof(VariableInfo) <= 120);

namespace {

// First character after ASCII white space, lower-cased; 0x80 for a non-ASCII one (the patterns
// match case-insensitively and with Unicode spaces, so such lines go to the regular expression).
unsigned char first_letter(std::string_view line) {
    for (char ch : line) {
        auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
        if (c >= 0x80) return 0x80;
        return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return 0;
}

// Most lines are statements and comments; a line whose first letter cannot begin the keyword
// of a pattern is rejected without running it.
bool may_start_with(std::string_view line, std::string_view letters) {
    unsigned char c = first_letter(line);
    return c == 0x80 || (c != 0 && letters.find(static_cast<char>(c)) != std::string_view::npos);
}

std::string join_path(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

bool ends_with(std::string_view name, std::string_view ext) {
    if (name.size() < ext.size()) return false;
    std::string tail(name.substr(name.size() - ext.size()));
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return tail == ext;
}

// Standard modules, and class and document modules as the VBA editor exports them.
bool is_module_file(const std::string& name) { return ends_with(name, ".bas") || ends_with(name, ".cls"); }

// Top-down walk: a directory's module files, then its sub-directories. Entries are taken in name
// order so that repeated runs report in the same order. Directories that cannot be listed and
// links to directories are passed over.
void collect_modules(const std::string& dir, std::vector<std::string>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(util::path_from_utf8(dir), ec);
    if (ec) return;
    std::vector<std::string> file_names, dir_names;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code ec2;
        std::string name = util::path_to_utf8(it->path().filename());
        if (it->is_directory(ec2)) {
            if (!it->is_symlink(ec2)) dir_names.push_back(std::move(name));
        } else {
            file_names.push_back(std::move(name));
        }
        if (ec) break;
    }
    std::sort(file_names.begin(), file_names.end());
    std::sort(dir_names.begin(), dir_names.end());
    for (const auto& name : file_names)
        if (is_module_file(name)) out.push_back(join_path(dir, name));
    for (const auto& name : dir_names) collect_modules(join_path(dir, name), out);
}

// The whole file in one read into a buffer of its size; util::read_file gives the error message
// when the fast way fails.
std::string read_module(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(util::path_from_utf8(path), ec);
    if (ec) return util::read_file(path);
    std::FILE* f = util::open_file(path, "rb");
    if (!f) return util::read_file(path);
    std::string bytes(size, '\0');
    size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    const bool more = got == bytes.size() && std::fgetc(f) != EOF;  // the file grew meanwhile
    const bool failed = std::ferror(f);
    std::fclose(f);
    if (failed || more) return util::read_file(path);
    bytes.resize(got);
    return bytes;
}

// Why a module is left out of the check: an exclusion pattern matches it, or a comment among its
// first lines marks it as generated (editing a generated module is lost when it is generated again).
std::optional<ExcludedModule::Reason> exclusion_of(const std::string& path, const std::string& directory,
                                                   const std::vector<std::string>& patterns) {
    if (patterns.empty()) return std::nullopt;
    std::string relative = path;
    if (relative.rfind(directory, 0) == 0) {
        relative.erase(0, directory.size());
        while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
    }
    const std::string name = util::path_to_utf8(util::path_from_utf8(path).filename());
    for (const std::string& pattern : patterns)
        if (util::glob_match(pattern, pattern.find('/') == std::string::npos ? name : relative))
            return ExcludedModule::Reason::PATTERN;
    return std::nullopt;
}

// The header is the comment block at the top of a module, before its first line of code
// (Attribute and Option lines do not end it).
bool is_generated(const SourceLines& lines) {
    constexpr size_t HEADER_LINES = 40;
    for (size_t i = 0; i < lines.size() && i < HEADER_LINES; ++i) {
        std::string_view l = detail::strip(lines[i]);
        if (i == 0 && l.substr(0, 3) == "\xEF\xBB\xBF") l = detail::strip(l.substr(3));  // a byte order mark
        const std::string_view first = detail::leading_word(l);
        if (l.empty() || detail::word_is(first, "Attribute") || detail::word_is(first, "Option") ||
            detail::word_is(first, "VERSION"))
            continue;
        if (l[0] != '\'' && !detail::word_is(first, "Rem")) return false;
        const std::string lowered = util::to_lower(l);
        if (util::contains(lowered, "vbt:generated") || util::contains(lowered, "do not edit")) return true;
    }
    return false;
}

FunctionType kind_of(std::string_view name) {
    auto ends = [&](std::string_view s) {
        return name.size() >= s.size() && name.substr(name.size() - s.size()) == s;
    };
    if (ends("_VBT")) return FunctionType::VBT;
    if (ends("_DSP")) return FunctionType::DSP;
    if (ends("_IP")) return FunctionType::IP;
    return FunctionType::OTHER;
}

}  // namespace

namespace detail {

bool is_function_definition(std::string_view line) {
    if (!may_start_with(line, "pfs")) return false;
    return read_procedure_header(strip(line)).has_value();
}

bool is_variable_declaration(std::string_view line) {
    if (!may_start_with(line, "pgdcs")) return false;
    const std::string_view l = strip(line);
    return !read_procedure_header(l) && read_declaration(l).has_value();
}

}  // namespace detail

bool VBAParser::is_function_definition(std::string_view line) { return detail::is_function_definition(line); }
bool VBAParser::is_variable_declaration(std::string_view line) { return detail::is_variable_declaration(line); }

void VBAParser::info(const char* code, std::string text) const {
    diag::emit(*sink_, diag::Severity::info, code, std::move(text), diag::kConsole);
}

void VBAParser::parse_files(const std::string& directory_path) {
    std::vector<std::string> paths;
    collect_modules(directory_path, paths);
    const size_t classes =
        static_cast<size_t>(std::count_if(paths.begin(), paths.end(), [](const std::string& p) { return ends_with(p, ".cls"); }));
    info("vbt.modules-found", "找到 " + std::to_string(paths.size() - classes) + " 个 .bas 文件" +
                                  (classes ? "，" + std::to_string(classes) + " 个 .cls 文件" : std::string()));
    for (const std::string& read_from : paths) {
        // Modules read from where a workbook's project was extracted are named after the workbook.
        std::string path = read_from;
        if (!options.shown_root.empty() && read_from.rfind(directory_path, 0) == 0) {
            std::string_view rest = std::string_view(read_from).substr(directory_path.size());
            while (!rest.empty() && rest[0] == '/') rest.remove_prefix(1);
            path = join_path(options.shown_root, std::string(rest));
        }
        if (auto reason = exclusion_of(read_from, directory_path, options.exclude)) {
            excluded_modules.push_back({path, *reason});
            continue;
        }
        try {
            DecodedModule module = decode_module(read_module(read_from), options.code_page);
            SourceLines lines(decode_source(std::move(module.text)));
            lines.set_encoding(std::move(module.encoding));
            if (is_generated(lines)) {
                excluded_modules.push_back({path, ExcludedModule::Reason::GENERATED});
                continue;
            }
            if (lines.encoding().kind == TextEncoding::raw_bytes) {
                diag::Location where;
                where.file = path;
                diag::emit(*sink_, diag::Severity::warning, "vbt.undecodable-module",
                           "警告: 模块 " + path + " 不是有效的 UTF-8，也无法按代码页 " + options.code_page +
                               " 解码；已按原始字节读取 (请用 --encoding 指定模块的代码页，如 --encoding cp936)",
                           diag::kConsole, where);
            }
            files.insert_or_assign(path, lines);
            parse_file(path, lines);
        } catch (const std::exception& e) {
            diag::Location where;
            where.file = path;
            diag::emit(*sink_, diag::Severity::error, "vbt.module-failed",
                       "解析文件 " + path + " 时出错: " + e.what(), diag::kConsole, where);
        }
    }
    global_variables.shrink_to_fit();
    collect_variable_references();
    info("vbt.parse-done", "解析完成：" + std::to_string(global_variables.size()) + " 个全局变量，" +
                               std::to_string(functions.size()) + " 个函数");
}

void VBAParser::parse_file(const std::string& path, const SourceLines& lines) {
    // The reference scan's line classes are made in the same pass, from the same tests where a
    // line is a statement of its own.
    detail::LineClassBuilder classes(lines);
    const SharedText file_path(path);  // one copy for all of the file's records
    std::optional<FunctionInfo> current;
    std::optional<SharedText> current_name;  // one copy for all of the procedure's locals
    auto close = [&](int end_line) {
        current->end_line = end_line;
        std::string key = path + ":" + current->name;
        // Locals arrive one declaration at a time; give back the spare room once the list is whole.
        if (auto locals = local_variables.find(key); locals != local_variables.end()) locals.value().shrink_to_fit();
        functions.insert_or_assign(std::move(key), std::move(*current));
        current.reset();
        current_name.reset();
    };
    // Every branch of #If blocks is read; a name declared again in another branch is the same variable.
    int branch_depth = 0;
    std::set<std::string> branch_names;
    detail::StatementReader reader(lines);
    detail::Statement st;
    while (reader.next(st)) {
        const std::string_view l = st.code;
        const detail::StatementTests tests = detail::test_statement(l);
        const auto first = static_cast<size_t>(st.line - 1);
        while (classes.done() < first) classes.next();
        if (st.whole_line && classes.done() == first) classes.next(&tests, l);
        while (classes.done() < static_cast<size_t>(st.last_line)) classes.next();
        if (l[0] == '#') {
            const std::string_view directive = detail::leading_word(detail::strip(l.substr(1)));
            if (detail::word_is(directive, "If")) {
                ++branch_depth;
            } else if (detail::word_is(directive, "End") && branch_depth > 0 && --branch_depth == 0) {
                branch_names.clear();
            }
            continue;
        }
        std::set<std::string>* branches = branch_depth > 0 ? &branch_names : nullptr;
        if (tests.header) {
            // A header also closes a procedure whose End line is missing.
            if (current) close(st.line - 1);
            current = function_definition(*tests.header, file_path, st.line);
            current_name = SharedText(current->name);
            continue;
        }
        if (!current) {
            std::string_view w = detail::leading_word(l);
            if (detail::word_is(w, "Public") || detail::word_is(w, "Private"))
                w = detail::leading_word(detail::after_word(l, w));
            if (detail::word_is(w, "Type"))
                parse_type_definition(l, lines, st.line, file_path);
            else if (detail::word_is(w, "Enum"))
                parse_enum_definition(l, lines, st.line, file_path);
            else if (tests.declaration)
                add_declaration(*tests.declaration, l, file_path, st.line, std::nullopt, branches);
            continue;
        }
        if (tests.procedure_end)
            close(st.line);
        else if (tests.declaration)
            add_declaration(*tests.declaration, l, file_path, st.line, current_name, branches);
    }
    if (current) close(static_cast<int>(lines.size()));
    while (classes.done() < lines.size()) classes.next();
    line_classes_.insert_or_assign(path, classes.take());
    if (auto own = module_variables.find(path); own != module_variables.end()) own.value().shrink_to_fit();
}

FunctionInfo VBAParser::parse_function_definition(std::string_view line, const SharedText& file_path,
                                                  int line_num) {
    const auto header = detail::read_procedure_header(detail::strip(line));
    if (!header) return FunctionInfo{"unknown", "unknown", FunctionType::OTHER, file_path, line_num, 0, {}};
    return function_definition(*header, file_path, line_num);
}

FunctionInfo VBAParser::function_definition(const detail::ProcedureHeader& header, const SharedText& file_path,
                                            int line_num) {
    if (header.name.empty()) return FunctionInfo{"unknown", "unknown", FunctionType::OTHER, file_path, line_num, 0, {}};
    std::string name(header.name);
    FunctionType kind = kind_of(name);
    return FunctionInfo{name, name, kind, file_path, line_num, 0, parse_function_parameters(header.params)};
}

std::vector<Parameter> VBAParser::parse_function_parameters(std::string_view params_str) {
    std::vector<Parameter> out;
    // Commas inside brackets and strings (defaults such as Array(1, 2)) do not separate parameters.
    for (std::string_view piece : detail::split_top_level(params_str)) {
        std::string_view pass_mode;
        bool param_array = false;
        while (true) {
            const std::string_view w = detail::leading_word(piece);
            if (detail::word_is(w, "ByVal") || detail::word_is(w, "ByRef"))
                pass_mode = w;
            else if (detail::word_is(w, "ParamArray"))
                param_array = true;
            else if (!detail::word_is(w, "Optional"))
                break;
            piece = detail::after_word(piece, w);
        }
        const auto item = detail::read_declared_name(piece);
        if (!item) continue;
        // A ParamArray takes no ByVal or ByRef; it stands in their place so that no rule asks for one.
        std::string mode = param_array && pass_mode.empty() ? "ParamArray" : std::string(pass_mode);
        out.push_back(Parameter{std::string(item->name), item->type.empty() ? "Variant" : item->type, std::move(mode)});
    }
    out.shrink_to_fit();  // held for the run, one list per procedure
    return out;
}

void VBAParser::add_declaration(const detail::DeclarationStatement& declaration, std::string_view line,
                                const SharedText& file_path, int line_num,
                                const std::optional<SharedText>& function_name, std::set<std::string>* branch_names) {
    try {
        std::string keyword(declaration.keyword);
        for (char& c : keyword)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        const bool local = function_name && !function_name->empty();
        const bool exported = keyword == "public" || keyword == "global";
        // The members of a class or document module belong to its objects, not to the project.
        const bool member = ends_with(file_path.str(), ".cls");
        VariableScope scope = local      ? VariableScope::LOCAL
                              : member   ? (exported ? VariableScope::CLASS_PUBLIC : VariableScope::CLASS_PRIVATE)
                              : exported ? VariableScope::GLOBAL
                                         : VariableScope::MODULE_PRIVATE;
        const std::string container = local ? file_path.str() + ":" + function_name->str() : file_path.str();
        for (std::string_view piece : detail::split_top_level(declaration.list)) {
            const auto item = detail::read_declared_name(piece);
            if (!item) continue;
            std::string name(item->name);
            if (branch_names) {
                std::string key = std::string(to_text(scope)) + ":" + container + ":";
                for (char c : name) key += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
                if (!branch_names->insert(std::move(key)).second) continue;
            }
            const VariableType type = item->type.empty() ? VariableType::VARIANT : parse_variable_type(item->type);
            VariableInfo info{.name = name,
                              .original_name = name,
                              .file_path = file_path,
                              .function_name = function_name,
                              .line_number = line_num,
                              .scope = scope,
                              .var_type = type,
                              .is_array = item->is_array,
                              .is_const = declaration.is_const};
            const auto issue = VBTNamingRules::get_correct_variable_name(info).second;
            info.flagged = issue && !issue->empty();
            if (scope == VariableScope::GLOBAL)
                global_variables.push_back(std::move(info));
            else if (local)
                local_variables[container].push_back(std::move(info));
            else
                module_variables[container].push_back(std::move(info));
        }
    } catch (const std::exception& e) {
        diag::Location where;
        where.file = file_path.str();
        where.line = static_cast<unsigned>(line_num);
        diag::emit(*sink_, diag::Severity::error, "vbt.declaration-failed",
                   "解析变量声明时出错 (行 " + std::to_string(line_num) + "): " + std::string(line) + " - " + e.what(),
                   diag::kConsole, where);
    }
}

VariableType VBAParser::parse_variable_type(std::string_view type_str) {
    std::string t(type_str);
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    static const std::pair<std::string_view, VariableType> table[] = {
        {"integer", VariableType::INTEGER},         {"long", VariableType::LONG},
        {"single", VariableType::SINGLE},           {"double", VariableType::DOUBLE},
        {"string", VariableType::STRING},           {"boolean", VariableType::BOOLEAN},
        {"variant", VariableType::VARIANT},         {"sitelong", VariableType::SITELONG},
        {"sitedouble", VariableType::SITEDOUBLE},   {"siteboolean", VariableType::SITEBOOLEAN},
        {"dspwave", VariableType::DSPWAVE},         {"pindata", VariableType::PINDATA},
        {"pinlistdata", VariableType::PINLISTDATA}, {"pinlist", VariableType::PINLIST},
        {"pattern", VariableType::PATTERN},         {"csl", VariableType::CSL},
    };
    for (const auto& [text, type] : table)
        if (t == text) return type;
    return VariableType::VARIANT;  // user types, classes, Object, Date, ...
}

namespace {
// Type and Enum headers differ only in their keyword, prefix and message.
std::optional<TypeInfo> read_definition_header(std::string_view line, const Regex& header, int line_num,
                                               const SharedText& file_path, std::string_view info_type,
                                               std::string_view prefix, std::string_view issue) {
    Match m;
    if (!header.match(line, m)) return std::nullopt;
    std::string name(m.group("name"));
    std::string scope = "public";
    if (m.matched("scope")) {
        std::string s(m.group("scope"));
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (s == "private") scope = "private";
    }
    TypeInfo info{name, name, std::string(info_type), file_path, line_num, scope};
    if (!name.starts_with(prefix)) {
        info.correct_name = std::string(prefix) + name;
        info.issue_description = std::string(issue);
    }
    return info;
}
}  // namespace

void VBAParser::parse_type_definition(std::string_view line, const SourceLines&, int line_num,
                                      const SharedText& file_path) {
    static const Regex header("^\\s*(?P<scope>Public|Private)?\\s*Type\\s+(?P<name>\\w+)", Regex::ICASE);
    auto info = read_definition_header(line, header, line_num, file_path, "Type", "type_",
                                       "Type定义应以 'type_' 为前缀");
    if (info) types.insert_or_assign(file_path.str() + ":" + info->name, std::move(*info));
}

void VBAParser::parse_enum_definition(std::string_view line, const SourceLines&, int line_num,
                                      const SharedText& file_path) {
    static const Regex header("^\\s*(?P<scope>Public|Private)?\\s*Enum\\s+(?P<name>\\w+)", Regex::ICASE);
    auto info = read_definition_header(line, header, line_num, file_path, "Enum", "enum_",
                                       "Enum定义应以 'enum_' 为前缀");
    if (info) enums.insert_or_assign(file_path.str() + ":" + info->name, std::move(*info));
}

}  // namespace igxl::vbt
