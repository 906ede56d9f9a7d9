#include "vbt/parser.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"
#include "vbt/naming_rules.h"

namespace igxl::vbt {

using util::Match;
using util::Regex;

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

bool ends_with_bas(const std::string& name) {
    if (name.size() < 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return tail == ".bas";
}

// Top-down walk: a directory's module files, then its sub-directories. Entries are taken in name
// order so that repeated runs report in the same order. Directories that cannot be listed and
// links to directories are passed over.
void collect_modules(const std::string& dir, std::vector<std::string>& out) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) return;
    std::vector<std::string> file_names, dir_names;
    for (fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code ec2;
        std::string name = it->path().filename().string();
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
        if (ends_with_bas(name)) out.push_back(join_path(dir, name));
    for (const auto& name : dir_names) collect_modules(join_path(dir, name), out);
}

// The whole file in one read into a buffer of its size; util::read_file gives the error message
// when the fast way fails.
std::string read_module(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
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
    static const Regex header("^\\s*(Public|Private|Friend)?\\s*(?:Function|Sub)\\s+", Regex::ICASE);
    return header.match(line);
}

bool is_variable_declaration(std::string_view line) {
    if (!may_start_with(line, "pgdc")) return false;
    if (is_function_definition(line)) return false;
    // "(Public|Private|Global)\s+Const\s+" is covered: its keyword and blank already match here.
    static const Regex declaration("^\\s*(Public|Private|Global|Dim|Const)\\s+", Regex::ICASE);
    return declaration.match(line);
}

}  // namespace detail

bool VBAParser::is_function_definition(std::string_view line) { return detail::is_function_definition(line); }
bool VBAParser::is_variable_declaration(std::string_view line) { return detail::is_variable_declaration(line); }

void VBAParser::parse_files(const std::string& directory_path) {
    std::vector<std::string> paths;
    collect_modules(directory_path, paths);
    std::cout << "找到 " << paths.size() << " 个 .bas 文件" << std::endl;
    for (const std::string& path : paths) {
        try {
            SourceLines lines(decode_source(read_module(path)));
            files.insert_or_assign(path, lines);
            parse_file(path, lines);
        } catch (const std::exception& e) {
            std::cout << "解析文件 " << path << " 时出错: " << e.what() << std::endl;
        }
    }
    global_variables.shrink_to_fit();
    collect_variable_references();
    check_function_parameters();
    std::cout << "解析完成：" << global_variables.size() << " 个全局变量，" << functions.size() << " 个函数"
              << std::endl;
}

void VBAParser::parse_file(const std::string& path, const SourceLines& lines) {
    const SharedText file_path(path);  // one copy for all of the file's records
    static const Regex type_header("^\\s*(Public|Private)\\s+Type\\s+", Regex::ICASE);
    static const Regex enum_header("^\\s*(Public|Private)\\s+Enum\\s+", Regex::ICASE);
    std::optional<FunctionInfo> current;
    std::optional<SharedText> current_name;  // one copy for all of the procedure's locals
    bool inside = false;
    auto close = [&](int end_line) {
        current->end_line = end_line;
        std::string key = path + ":" + current->name;
        // Locals arrive one declaration at a time; give back the spare room once the list is whole.
        if (auto locals = local_variables.find(key); locals != local_variables.end()) locals.value().shrink_to_fit();
        functions.insert_or_assign(std::move(key), std::move(*current));
        current.reset();
    };
    int line_num = 0;
    for (std::string_view raw : lines) {
        ++line_num;
        const std::string_view l = detail::strip(raw);
        if (is_function_definition(l)) {
            // A header also closes a procedure whose End line is missing.
            if (inside && current) close(line_num - 1);
            inside = true;
            current = parse_function_definition(l, file_path, line_num);
            current_name = SharedText(current->name);
            continue;
        }
        if (!inside) {
            if (l.starts_with("Type ") || (may_start_with(l, "p") && type_header.match(l)))
                parse_type_definition(l, lines, line_num, file_path);
            else if (l.starts_with("Enum ") || (may_start_with(l, "p") && enum_header.match(l)))
                parse_enum_definition(l, lines, line_num, file_path);
            else if (is_variable_declaration(l))
                parse_variable_declaration(l, file_path, line_num, std::nullopt);
            continue;
        }
        if (!current) continue;
        if (is_variable_declaration(l)) {
            parse_variable_declaration(l, file_path, line_num, current_name);
        } else if (l.starts_with("End Function") || l.starts_with("End Sub")) {
            close(line_num);
            inside = false;
        }
    }
    if (inside && current) close(static_cast<int>(lines.size()));
    if (auto own = module_variables.find(path); own != module_variables.end()) own.value().shrink_to_fit();
}

FunctionInfo VBAParser::parse_function_definition(std::string_view line, const SharedText& file_path,
                                                  int line_num) {
    static const Regex header(
        "^\\s*(Public|Private|Friend)?\\s*(Function|Sub)\\s+(?P<name>\\w+)\\s*(\\((?P<params>.*)\\))?",
        Regex::ICASE);
    static const int name_group = header.group_index("name");
    static const int params_group = header.group_index("params");
    Match m;
    if (!header.match(line, m))
        return FunctionInfo{"unknown", "unknown", FunctionType::OTHER, file_path, line_num, 0, {}, {}};
    std::string name(m.group(static_cast<size_t>(name_group)));
    std::string_view params = m.group(static_cast<size_t>(params_group));
    FunctionType kind = kind_of(name);
    return FunctionInfo{name, name, kind, file_path, line_num, 0, parse_function_parameters(params), {}};
}

std::vector<Parameter> VBAParser::parse_function_parameters(std::string_view params_str) {
    std::vector<Parameter> out;
    if (detail::strip(params_str).empty()) return out;
    // Commas inside brackets (defaults such as Array(1, 2)) do not separate parameters.
    std::vector<std::string_view> pieces;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < params_str.size(); ++i) {
        char c = params_str[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth == 0) {
            std::string_view piece = detail::strip(params_str.substr(start, i - start));
            if (!piece.empty()) pieces.push_back(piece);
            start = i + 1;
        }
    }
    std::string_view last = detail::strip(params_str.substr(start));
    if (!last.empty()) pieces.push_back(last);

    static const Regex param("^(ByVal|ByRef)?\\s*(?P<name>\\w+)\\s*(As\\s+(?P<type>[\\w\\[\\]]+))?", Regex::ICASE);
    static const int name_group = param.group_index("name");
    static const int type_group = param.group_index("type");
    Match m;
    out.reserve(pieces.size());
    for (std::string_view piece : pieces) {
        if (!param.match(piece, m)) continue;
        std::string type = m.matched(static_cast<size_t>(type_group))
                               ? std::string(m.group(static_cast<size_t>(type_group)))
                               : std::string("Variant");
        out.push_back(Parameter{std::string(m.group(static_cast<size_t>(name_group))), std::move(type),
                                std::string(m.group(1))});
    }
    return out;
}

void VBAParser::parse_variable_declaration(std::string_view line, const SharedText& file_path, int line_num,
                                           const std::optional<SharedText>& function_name) {
    try {
        static const Regex declaration(
            "^\\s*(Public|Private|Global|Dim|Const)\\s+(?:(Const)\\s+)?(?P<names>.+?)\\s+As\\s+(?:New\\s+)?"
            "(?P<type>\\w+)(?:\\s*\\([^)]*\\))?\\s*(?:=\\s*.+)?$",
            Regex::ICASE);
        static const int names_group = declaration.group_index("names");
        static const int type_group = declaration.group_index("type");
        Match m;
        if (!declaration.match(line, m)) return;
        std::string keyword(m.group(1));
        for (char& c : keyword)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        const bool local = function_name && !function_name->empty();
        VariableScope scope = local                                      ? VariableScope::LOCAL
                              : keyword == "public" || keyword == "global" ? VariableScope::GLOBAL
                                                                           : VariableScope::MODULE_PRIVATE;
        VariableType type = parse_variable_type(m.group(static_cast<size_t>(type_group)));
        const bool is_const = m.matched(2) || keyword == "const";
        const bool is_array = line.find('(') != std::string_view::npos;

        std::string_view names = m.group(static_cast<size_t>(names_group));
        size_t start = 0;
        while (true) {
            size_t comma = names.find(',', start);
            std::string name(detail::strip(names.substr(start, comma == std::string_view::npos ? names.npos
                                                                                              : comma - start)));
            VariableInfo info{name, name, scope, type, is_array, file_path, line_num, function_name, is_const};
            auto [correct, issue] = VBTNamingRules::get_correct_variable_name(info);
            if (issue && !issue->empty()) {
                info.correct_name = std::move(correct);
                info.issue_description = std::move(issue);
            }
            if (scope == VariableScope::GLOBAL)
                global_variables.push_back(std::move(info));
            else if (local)
                local_variables[file_path.str() + ":" + function_name->str()].push_back(std::move(info));
            else
                module_variables[file_path.str()].push_back(std::move(info));
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    } catch (const std::exception& e) {
        std::cout << "解析变量声明时出错 (行 " << line_num << "): " << line << " - " << e.what() << std::endl;
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

void VBAParser::check_function_parameters() {
    for (auto it = functions.begin(); it != functions.end(); ++it) {
        FunctionInfo& func = it.value();
        for (const Parameter& p : func.parameters) {
            auto [correct, issue] =
                VBTNamingRules::check_function_parameter(p.name, p.type, p.pass_mode, func.func_type);
            if (!issue || issue->empty()) continue;
            std::string text = "参数 '" + p.name + "': " + *issue;
            if (correct != p.name) text += " (建议改为: '" + correct + "')";
            func.issues.push_back(std::move(text));
        }
        func.issues.shrink_to_fit();
    }
}

}  // namespace igxl::vbt
