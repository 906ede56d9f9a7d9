// Renames identifiers in VBT modules so that they follow the naming rules: either the renames a
// reviewer confirmed in a dry-run report, or every proposal of the rules. Every rename is checked
// before anything is written (a new name must be an identifier, no keyword, and clash with no
// name it would meet); each rewritten module is backed up beside itself first and written back in
// the encoding and with the line ends it was read with. Every confirmed rename ends as applied,
// already in place, skipped (with the reason) or failed, kept in the change log for the report.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/diagnostics.h"
#include "vbt/model.h"

namespace igxl::vbt {

class VBAParser;

enum class Outcome : uint8_t { pending, applied, already_applied, skipped, failed };
// The text of an outcome in the refactor report and on the console.
const char* outcome_text(Outcome outcome);

struct ChangeRecord {
    std::string file_path;  // file of the declaration (the parsed module once it was found)
    int line_number = 0;    // line of the declaration, 1-based
    std::string original_name;
    std::string new_name;
    std::string description;
    std::string timestamp;  // "%Y-%m-%d %H:%M:%S"
    Outcome outcome = Outcome::pending;
    std::string reason;  // why a rename was skipped or failed
};

// Change type ("global_variable", "module_variable", "local_variable", "parameter",
// "type_definition", "enum_definition") -> its records; keys in the order the types first occurred.
using ChangeLog = OrderedMap<std::vector<ChangeRecord>>;

struct RefactorOptions {
    // The module tree given on the command line: paths in a reviewed workbook are found in it,
    // whatever folder the dry run was started from.
    std::string root;
    // Where each module rewritten is recorded before it is replaced (empty: no journal).
    std::string journal_path;
    // Asked between modules; true ends the run after the module in hand.
    std::function<bool()> stop_requested;
};

class VBTRefactorer {
public:
    explicit VBTRefactorer(const VBAParser& parser, diag::Sink& sink = diag::null_sink(),
                           RefactorOptions options = {});

    // Reads the confirmed rows of a reviewed dry-run report and applies them. True when at least
    // one confirmed change was read (whatever became of it: see totals()).
    bool apply_changes_from_excel(const std::string& excel_path);
    // Applies every rename the naming rules propose, without review.
    void refactor_all_issues();

    struct Totals {
        size_t applied = 0, already_applied = 0, skipped = 0, failed = 0;
        size_t total() const { return applied + already_applied + skipped + failed; }
        // Every rename is in the code now.
        bool complete() const { return applied + already_applied == total(); }
    };
    Totals totals() const;
    // The run was stopped on request before every module was rewritten.
    bool interrupted() const { return interrupted_; }

    const VBAParser& parser;
    ChangeLog changes_made;

    // Line tests (leading white space allowed, any letter case).
    static bool is_variable_declaration(std::string_view line);
    static bool is_function_definition(std::string_view line);

private:
    friend struct RefactorerTestAccess;
    struct Rule;
    struct FilePlan;
    struct FileEdit;
    struct NameIndex;

    void refactor_global_variables();
    void refactor_module_variables();
    void refactor_local_variables();
    void refactor_type_definitions();
    void refactor_enum_definitions();
    void add_change(const std::string& change_type, ChangeRecord change_info);
    void apply_all_changes();
    void remove_stale_temp_files() const;
    std::string resolve_path(const std::string& stored) const;
    void check_records(const NameIndex& names);
    // Works out one module's new bytes without writing anything.
    FileEdit plan_file(const std::string& file_path, const std::vector<const Rule*>& rules) const;
    bool write_file(FileEdit& edit);
    // Renames in place; returns the rules that renamed something in the file or are declared in it.
    std::vector<const Rule*> apply_variable_references_to_file(std::vector<std::string>& lines,
                                                               const std::vector<const Rule*>& rules,
                                                               const std::string& file_path) const;
    std::vector<Rule> build_rules();
    void say(diag::Severity severity, const char* code, std::string text, const std::string& file = {},
             int line = 0) const;

    diag::Sink* sink_;
    RefactorOptions options_;
    bool interrupted_ = false;
    std::vector<std::string> module_names_;  // lower case: VB_Name or the file's stem, per module
};

}  // namespace igxl::vbt
