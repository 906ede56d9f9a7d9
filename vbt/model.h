// The code model every part of the VBT check exchanges: scopes, types and procedure kinds, and
// the records the parser fills and the report writer and refactorer read.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>

namespace igxl::vbt {

enum class VariableScope { LOCAL, MODULE_PRIVATE, GLOBAL, CLASS_PRIVATE, CLASS_PUBLIC, CLASS_EXTERNAL };

enum class VariableType {
    INTEGER,
    LONG,
    SINGLE,
    DOUBLE,
    STRING,
    BOOLEAN,
    VARIANT,
    SITELONG,
    SITEDOUBLE,
    SITEBOOLEAN,
    DSPWAVE,
    ENUM,
    TYPE,
    PINDATA,
    PINLISTDATA,
    CSL,
    USERCLASS,
    PINLIST,
    PATTERN,
};

enum class FunctionType { VBT, DSP, IP, OTHER };

// The text values reports print ("local", "Long", "VBT", ...).
std::string_view to_text(VariableScope scope);
std::string_view to_text(VariableType type);
std::string_view to_text(FunctionType kind);

// One declared variable or constant; a line naming several gives one record per name.
struct VariableInfo {
    std::string name;
    std::string original_name;  // the source name, kept when name is changed later
    VariableScope scope;
    VariableType var_type;
    bool is_array;
    std::string file_path;
    int line_number;  // 1-based
    std::optional<std::string> function_name = std::nullopt;  // none at module level
    bool is_const = false;
    std::optional<std::string> correct_name = std::nullopt;  // set only with an issue
    std::optional<std::string> issue_description = std::nullopt;

    bool has_issue() const { return issue_description && !issue_description->empty(); }
};

// One procedure parameter as written in the header.
struct Parameter {
    std::string name;
    std::string type;       // "Variant" when the header gives none
    std::string pass_mode;  // "ByVal"/"ByRef" as written, or empty
};

struct FunctionInfo {
    std::string name;  // "unknown" when the header could not be read
    std::string original_name;
    FunctionType func_type;
    std::string file_path;
    int start_line;
    int end_line;  // 0 until the procedure is closed
    std::vector<Parameter> parameters;
    std::vector<std::string> issues;  // parameter messages
};

// One Type or Enum definition.
struct TypeInfo {
    std::string name;
    std::string original_name;
    std::string info_type;  // "Type" or "Enum"
    std::string file_path;
    int line_number;
    std::string scope = "public";  // "public" or "private"
    std::optional<std::string> correct_name = std::nullopt;
    std::optional<std::string> issue_description = std::nullopt;
    int reference_count = 0;  // (line, definition) matches of the reference scan
    std::set<std::string> referenced_files = {};

    bool has_issue() const { return issue_description && !issue_description->empty(); }
};

// One use of a variable name. A large program has far more uses than declarations, so the texts
// are views into text the parser keeps for its whole life (the module texts and its paths): a
// reference is valid as long as the parser (or a copy of it) that produced it.
struct VariableReference {
    std::string_view var_name;
    std::string_view file_path;
    int line_number;
    std::optional<std::string_view> function_name = std::nullopt;  // none outside procedures
    std::string_view context = {};  // the whole line, surrounding white space removed
};

// Hash for maps keyed by text that can also be searched with a string_view.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Insertion-ordered map keyed by text; a later insertion under an existing key replaces in place.
template <class V>
using OrderedMap = tsl::ordered_map<std::string, V, TextHash, std::equal_to<>>;

using ReferenceMap = OrderedMap<std::vector<VariableReference>>;

}  // namespace igxl::vbt
