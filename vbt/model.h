// The code model every part of the VBT check exchanges: scopes, types and procedure kinds, and
// the records the parser fills and the report writer and refactorer read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>

#include "util/text.h"

namespace igxl::vbt {

enum class VariableScope : uint8_t { LOCAL, MODULE_PRIVATE, GLOBAL, CLASS_PRIVATE, CLASS_PUBLIC, CLASS_EXTERNAL };

enum class VariableType : uint8_t {
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

enum class FunctionType : uint8_t { VBT, DSP, IP, OTHER };

// The text values reports print ("local", "Long", "VBT", ...).
std::string_view to_text(VariableScope scope);
std::string_view to_text(VariableType type);
std::string_view to_text(FunctionType kind);

// A text that many records repeat, such as the path of their module: the parser makes one per
// module and every record holds a counted reference to it, not a copy of its own.
class SharedText {
public:
    SharedText() = default;
    SharedText(std::string text) : text_(std::make_shared<const std::string>(std::move(text))) {}
    SharedText(const char* text) : SharedText(std::string(text)) {}

    const std::string& str() const { return text_ ? *text_ : empty_text(); }
    operator const std::string&() const { return str(); }
    const char* c_str() const { return str().c_str(); }
    size_t size() const { return str().size(); }
    bool empty() const { return str().empty(); }

    friend bool operator==(const SharedText& a, const SharedText& b) {
        return a.text_ == b.text_ || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, std::string_view b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, const std::string& b) { return a.str() == b; }
    friend bool operator==(const SharedText& a, const char* b) { return a.str() == b; }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& t) { return out << t.str(); }

private:
    static const std::string& empty_text() {
        static const std::string empty;
        return empty;
    }
    std::shared_ptr<const std::string> text_;
};

// One declared variable or constant; a line naming several gives one record per name.
// A large program has a hundred thousand of them: the small fields are packed at the end.
struct VariableInfo {
    std::string name;
    std::string original_name;  // the source name, kept when name is changed later
    SharedText file_path;
    std::optional<SharedText> function_name = std::nullopt;  // none at module level; shared by the procedure's locals
    int line_number = 0;  // 1-based
    VariableScope scope = VariableScope::LOCAL;
    VariableType var_type = VariableType::VARIANT;
    bool is_array = false;
    bool is_const = false;
    // The naming rules found an issue. A large program has a hundred thousand records with one,
    // so their texts are not held: the rules make them again, from the fields above, when asked.
    bool flagged = false;

    bool has_issue() const { return flagged; }
    // The suggested name and the issue text; none without an issue.
    std::optional<std::string> correct_name() const;
    std::optional<std::string> issue_description() const;
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
    SharedText file_path;
    int start_line;
    int end_line;  // 0 until the procedure is closed
    std::vector<Parameter> parameters;

    // The naming rules' messages on the parameters, made when asked for: a large program has tens
    // of thousands of procedures, and the texts are read once, for the report.
    std::vector<std::string> issues() const;
};

// One Type or Enum definition.
struct TypeInfo {
    std::string name;
    std::string original_name;
    std::string info_type;  // "Type" or "Enum"
    SharedText file_path;
    int line_number;
    std::string scope = "public";  // "public" or "private"
    std::optional<std::string> correct_name = std::nullopt;
    std::optional<std::string> issue_description = std::nullopt;
    int reference_count = 0;  // (line, definition) matches of the reference scan
    std::set<std::string> referenced_files = {};

    bool has_issue() const { return issue_description && !issue_description->empty(); }
};

namespace detail {
// What the references of one parser point into: the module texts and paths, and the procedure
// names, kept for the parser's life (also when a re-parse replaces a file's entry) and shared by
// copies of the parser. Append-only, so indices and views stay valid.
struct ReferenceTables {
    struct File {
        std::string path;
        std::shared_ptr<const std::string> text;
    };
    std::deque<File> files;                   // a deque: paths never move as files are added
    std::vector<std::string_view> procedures;  // views into the module texts
};
}  // namespace detail

// One use of a variable name. A large program has about one use per line, so a reference holds
// only indices into its parser's tables and the position of the name in the module text; its
// texts are views into text that parser keeps. A reference is valid as long as the parser (or a
// copy of it) that produced it.
class VariableReference {
public:
    static constexpr uint32_t NO_PROCEDURE = UINT32_MAX;

    VariableReference() = default;
    // offset: where the name starts in the file's text; procedure: index into the procedure
    // table, or NO_PROCEDURE outside procedures.
    VariableReference(const detail::ReferenceTables* tables, uint32_t file, uint32_t line, uint32_t offset,
                      uint32_t procedure)
        : tables_(tables), file_(file), line_(line), offset_(offset), procedure_(procedure) {}

    std::string_view var_name() const;
    std::string_view file_path() const { return tables_->files[file_].path; }
    int line_number() const { return static_cast<int>(line_); }  // 1-based
    std::optional<std::string_view> function_name() const {  // none outside procedures
        if (procedure_ == NO_PROCEDURE) return std::nullopt;
        return tables_->procedures[procedure_];
    }
    std::string_view context() const;  // the whole line, surrounding white space removed

private:
    const detail::ReferenceTables* tables_ = nullptr;
    uint32_t file_ = 0;
    uint32_t line_ = 0;
    uint32_t offset_ = 0;
    uint32_t procedure_ = NO_PROCEDURE;
};

using util::TextHash;

// Insertion-ordered map keyed by text; a later insertion under an existing key replaces in place.
template <class V>
using OrderedMap = tsl::ordered_map<std::string, V, TextHash, std::equal_to<>>;

using ReferenceMap = OrderedMap<std::vector<VariableReference>>;

}  // namespace igxl::vbt
