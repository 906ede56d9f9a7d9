// The diff's outputs: the workbook for reviewers and the same changes as JSON data.
#pragma once
#include <string>

#include "diff/program_diff.h"

namespace igxl::diff {

// Writes the diff workbook: a "Summary" sheet (counts by kind and by job) and one sheet per
// kind of item with old and new values side by side. Throws Error when it cannot be written.
void write_diff_workbook(const DiffResult& result, const std::string& path);

// Writes {"tool", "version", "old", "new", "counts", "changes": [...]}; fields that do not
// apply to a change are left out. Throws Error when the file cannot be written.
void write_diff_json(const DiffResult& result, const std::string& path,
                     const std::string& version);

// The sheet of the workbook that lists changes of a kind ("Flow entries", ...).
std::string sheet_name(Kind kind);

}  // namespace igxl::diff
