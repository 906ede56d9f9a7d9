// The comparison of two read revisions, item kind by item kind.
#pragma once
#include <string>
#include <vector>

#include "diff/program_diff.h"
#include "diff/revision.h"

namespace igxl::diff::detail {

std::vector<Change> compare_revisions(const Revision& old_rev, const Revision& new_rev,
                                      const std::vector<std::string>& jobs);

// Indexes (into seq) of one longest strictly increasing subsequence of seq, in order.
std::vector<size_t> longest_increasing_run(const std::vector<size_t>& seq);

// True when two field texts hold the same value: equal text, or equal after the leading "=" and
// blanks, or numbers of equal value written differently ("10" and "10.0").
bool same_text(std::string_view a, std::string_view b);

}  // namespace igxl::diff::detail
