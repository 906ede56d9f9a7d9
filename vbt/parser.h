// Reads a directory of VBT modules (.bas) into the code model: variables and constants by scope,
// procedures with their parameters, Type and Enum definitions, each checked against the naming
// rules; then scans the text again for variable uses and Type/Enum name counts. Parameter
// messages are made on request (FunctionInfo::issues).
#pragma once
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "util/diagnostics.h"
#include "vbt/model.h"
#include "vbt/source.h"
#include "vbt/statements.h"

namespace igxl::vbt {

// How often one variable name is used: in all, per procedure it is used in, and in how many files.
struct ReferenceCount {
    size_t total = 0;
    // One entry per procedure (in scan order) with its uses there. A large program has half a
    // million of them, so an entry names its procedure by index (VBAParser::procedure_name);
    // several procedures may bear one name (one per module).
    struct InProcedure {
        uint32_t procedure;
        uint32_t uses;
    };
    std::vector<InProcedure> by_procedure;
    size_t files = 0;
};

// Every record that carries a naming issue, by kind. The pointers are the parser's own records.
struct VariableIssues {
    std::vector<const VariableInfo*> global_variables;
    std::vector<const VariableInfo*> module_variables;
    std::vector<const VariableInfo*> local_variables;
    std::vector<const TypeInfo*> type_definitions;
    std::vector<const TypeInfo*> enum_definitions;

    size_t total() const {
        return global_variables.size() + module_variables.size() + local_variables.size() +
               type_definitions.size() + enum_definitions.size();
    }
};

namespace detail {
// How the reference scan reads each line of a module. Worked out once per line, when the parser
// reads the module, and kept until the scan has used it.
struct LineClasses {
    enum : uint8_t {
        SCANNED = 1,            // the variable scan reads the line (not a header, End line, declaration)
        ENTERS_PROCEDURE = 2,   // a procedure header
        IN_PROCEDURE = 4,       // inside a procedure once the line is read
        DEFINITION_HEADER = 8,  // "Type X" / "Enum Y": names a definition without using it
    };
    const std::string* text = nullptr;         // the module text the classes were made from
    std::vector<uint8_t> kinds;                // one per line
    std::vector<std::string_view> procedures;  // the procedures entered, in order (views into text)
};
LineClasses classify_lines(const SourceLines& lines);

// Makes a module's line classes one line at a time, in order. The parser makes them as it reads
// the module's statements: a line that is one statement of its own is classified with the tests
// the parser made of that statement, so that such a line is read only once.
class LineClassBuilder {
public:
    explicit LineClassBuilder(const SourceLines& lines);
    // Lines classified so far.
    size_t done() const { return classes_.kinds.size(); }
    // Classifies the next line; tests are those of its stripped text, stripped (the statement
    // that is the whole line), or null to work them out here.
    void next(const StatementTests* tests = nullptr, std::string_view stripped = {});
    LineClasses take() { return std::move(classes_); }

private:
    const SourceLines& lines_;
    LineClasses classes_;
    std::string_view current_;  // the procedure the lines stand in, when in_procedure_
    bool in_procedure_ = false;
    bool continues_declaration_ = false;
};
}  // namespace detail

// Modules to leave out of the check (and so out of the refactor).
struct ParseOptions {
    // Glob patterns (*, ?, [...]; letter case ignored). A pattern with a "/" is matched against the
    // module's path below the directory given to parse_files, one without against its file name.
    std::vector<std::string> exclude;
    // Code page (converter name, see util::code_page_name) of modules that are neither UTF-8
    // nor UTF-16 with a byte order mark.
    std::string code_page = "CP1252";
    // When set, the modules found under the directory given to parse_files are recorded under
    // this path in its place (the modules of a workbook, read from where they were extracted,
    // named after the workbook).
    std::string shown_root{};
};

// A module that was found but not read, and why.
struct ExcludedModule {
    enum class Reason { PATTERN, GENERATED };
    std::string path;
    Reason reason;
};

class VBAParser {
public:
    // Progress and per-file errors go to sink as events.
    explicit VBAParser(diag::Sink& sink = diag::null_sink()) : sink_(&sink) {}
    explicit VBAParser(ParseOptions options, diag::Sink& sink = diag::null_sink())
        : options(std::move(options)), sink_(&sink) {}

    // Parses every .bas and .cls file under the directory (any letter case, sub-directories
    // included; in a .cls the module-level names are class members, scope CLASS_PUBLIC/PRIVATE),
    // then collects references (parameters are checked when their messages are asked for). Modules
    // matching an exclusion pattern and generated modules (a "' vbt:generated" or "Do not edit"
    // comment in their first lines) are listed in excluded_modules instead. A failing file is
    // reported and skipped.
    void parse_files(const std::string& directory_path);

    // The uses of exactly this identifier (case-sensitive); empty when there are none. The scan
    // keeps only counts; the records of a name are made when first asked for.
    const std::vector<VariableReference>& get_variable_references(std::string_view var_name) const;
    VariableIssues get_all_variable_issues() const;
    // The name of a procedure the reference scan entered, by its index in ReferenceCount.
    std::string_view procedure_name(uint32_t procedure) const { return tables_->procedures[procedure]; }

    // Keys: files by path as found by the walk; functions by path + ":" + name; types and enums
    // by path + ":" + definition name; local_variables by the function key.
    OrderedMap<SourceLines> files;
    std::vector<VariableInfo> global_variables;
    OrderedMap<std::vector<VariableInfo>> module_variables;
    OrderedMap<std::vector<VariableInfo>> local_variables;
    OrderedMap<FunctionInfo> functions;
    OrderedMap<TypeInfo> types;
    OrderedMap<TypeInfo> enums;
    // Uses of every variable name that has any, in order of first use.
    OrderedMap<ReferenceCount> reference_counts;
    // The records of the names asked for through get_variable_references (a cache).
    mutable ReferenceMap variable_references;
    ParseOptions options;
    std::vector<ExcludedModule> excluded_modules;

private:
    friend struct TestAccess;
    struct WordLookup;

    void info(const char* code, std::string text) const;
    void parse_file(const std::string& file_path, const SourceLines& lines);
    static bool is_function_definition(std::string_view line);
    static FunctionInfo parse_function_definition(std::string_view line, const SharedText& file_path,
                                                  int line_num);
    static FunctionInfo function_definition(const detail::ProcedureHeader& header, const SharedText& file_path,
                                            int line_num);
    static std::vector<Parameter> parse_function_parameters(std::string_view params_str);
    static bool is_variable_declaration(std::string_view line);
    // Records the names of a declaration statement (line is its text, for messages). branch_names:
    // the names already declared in the #If block being read, or null outside one.
    void add_declaration(const detail::DeclarationStatement& declaration, std::string_view line,
                         const SharedText& file_path, int line_num, const std::optional<SharedText>& function_name,
                         std::set<std::string>* branch_names);
    static VariableType parse_variable_type(std::string_view type_str);
    void parse_type_definition(std::string_view line, const SourceLines& all_lines, int line_num,
                               const SharedText& file_path);
    void parse_enum_definition(std::string_view line, const SourceLines& all_lines, int line_num,
                               const SharedText& file_path);

    void collect_variable_references();
    void make_references(std::string_view name, std::vector<VariableReference>& out) const;

    // A module as the reference scan read it: its text in tables_, and the index there of the
    // first procedure it entered (the scan numbers procedures in the order it enters them).
    struct ScannedFile {
        uint32_t file;
        uint32_t first_procedure;
    };
    std::vector<ScannedFile> scanned_;
    // Each parsed module's lines as the reference scan reads them, by path; used up by the scan.
    OrderedMap<detail::LineClasses> line_classes_;
    // What references point into; shared by copies of the parser, so their references stay valid.
    std::shared_ptr<detail::ReferenceTables> tables_;
    diag::Sink* sink_;
};

namespace detail {
// The line tests of the parser, for code that classifies module lines the same way.
bool is_function_definition(std::string_view line);
bool is_variable_declaration(std::string_view line);
}  // namespace detail

}  // namespace igxl::vbt
