// What changed between two revisions of a test program, matched by meaning: jobs by name, flow
// entries by test name and occurrence, instances by name, level rows by pin, time sets by name,
// spec symbols by column, pattern sets by name, global specs by symbol.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parsers/platform.h"
#include "util/diagnostics.h"
#include "util/error.h"

namespace igxl::diff {

// Input the user must mend: a missing program, a form this tool does not read, a revision
// without a job list, a job in neither revision.
class InputError : public Error {
public:
    using Error::Error;
};

enum class ChangeType { added, removed, changed, moved, note };
enum class Kind { job, flow_entry, instance, level, time_set, spec, global_spec, pattern_set };

inline constexpr std::array<ChangeType, 5> kChangeTypes = {
    ChangeType::added, ChangeType::removed, ChangeType::changed, ChangeType::moved,
    ChangeType::note};
inline constexpr std::array<Kind, 8> kKinds = {Kind::job,      Kind::flow_entry, Kind::instance,
                                               Kind::level,    Kind::time_set,   Kind::spec,
                                               Kind::global_spec, Kind::pattern_set};

// "added", "removed", "changed", "moved", "note".
std::string_view to_text(ChangeType change);
// "job", "flow entry", "instance", "level", "time set", "spec", "global spec", "pattern set".
std::string_view to_text(Kind kind);

struct Change {
    ChangeType change = ChangeType::changed;
    Kind kind = Kind::job;
    std::string job;    // empty where the item belongs to no single job
    std::string sheet;  // the sheet the item is read from
    std::string key;    // the matched item's name: test, instance, pin, symbol, set...
    std::string field;  // empty for a whole item added or removed
    std::optional<std::string> old_value;  // absent for an addition
    std::optional<std::string> new_value;  // absent for a removal

    bool operator==(const Change&) const = default;
};

struct DiffOptions {
    std::vector<std::string> jobs;       // empty: every job of either revision
    Platform platform = kDefaultPlatform;  // sheet layouts of both revisions
};

struct DiffResult {
    std::string old_program;  // as the caller named them
    std::string new_program;
    std::vector<std::string> jobs;  // the jobs compared, old revision's order first
    std::vector<Change> changes;

    size_t count(ChangeType change) const;
    // True when any change is more than a note.
    bool has_change() const;
};

// Makes a program in any accepted form a folder of sheet text files: a folder is used as it is,
// an .xlsm workbook is exported and an .igxl/.zip program unpacked into work_dir. Returns the
// folder holding the sheets. Throws InputError for a form it does not know or a missing program.
std::string prepare_program(const std::string& program, const std::string& work_dir);

// Compares two folders of sheet text files. Unreadable sheets are reported as warning events
// (code "diff.sheet-unreadable") and left out of the comparison on both sides; progress goes out
// as progress events. Throws InputError when a revision has no job list or a job named in
// options is in neither revision.
DiffResult diff_programs(const std::string& old_dir, const std::string& new_dir,
                         const DiffOptions& options, diag::Sink& sink = diag::null_sink());

}  // namespace igxl::diff
