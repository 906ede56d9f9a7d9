// Renames identifiers in VBT modules so that they follow the naming rules: either the renames a
// reviewer confirmed in a dry-run report, or every proposal of the rules. Each rewritten module
// is backed up beside itself first; every change is kept in a change log for the refactor report.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "vbt/model.h"

namespace igxl::vbt {

class VBAParser;

struct ChangeRecord {
    std::string file_path;  // file of the declaration
    int line_number = 0;    // line of the declaration, 1-based
    std::string original_name;
    std::string new_name;
    std::string description;
    std::string timestamp;  // "%Y-%m-%d %H:%M:%S"
};

// Change type ("global_variable", "module_variable", "local_variable", "type_definition",
// "enum_definition") -> its records; keys in the order the types first occurred.
using ChangeLog = OrderedMap<std::vector<ChangeRecord>>;

class VBTRefactorer {
public:
    explicit VBTRefactorer(const VBAParser& parser);

    // Reads the confirmed rows of a reviewed dry-run report and applies them. True when at least
    // one confirmed change was read.
    bool apply_changes_from_excel(const std::string& excel_path);
    // Applies every rename the naming rules propose, without review.
    void refactor_all_issues();

    const VBAParser& parser;
    ChangeLog changes_made;

    // Line tests (leading white space allowed, any letter case).
    static bool is_variable_declaration(std::string_view line);
    static bool is_function_definition(std::string_view line);

private:
    friend struct RefactorerTestAccess;
    struct Rule;
    struct FilePlan;

    void refactor_global_variables();
    void refactor_module_variables();
    void refactor_local_variables();
    void refactor_type_definitions();
    void refactor_enum_definitions();
    void add_change(const std::string& change_type, ChangeRecord change_info);
    void apply_all_changes();
    void apply_changes_to_file(const std::string& file_path, const std::vector<const Rule*>& rules,
                               bool only_if_changed);
    // Renames in place; returns the number of distinct old names declared in the file or replaced in it.
    size_t apply_variable_references_to_file(std::vector<std::string>& lines,
                                             const std::vector<const Rule*>& rules,
                                             const std::string& file_path) const;
    std::vector<Rule> build_rules() const;
};

}  // namespace igxl::vbt
