// The one rule for merged cells: a merged range shows its value in its top-left cell only, so
// every other cell it covers reads as empty, whatever the file stores there.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "export/xlsx.h"

namespace igxl::detail {

// Whether m hides the cell at (row, col), both 0-based: inside the range, not its top-left.
inline bool hides(const xlsx::Range& m, uint64_t row, uint64_t col) {
    return row >= m.first_row && row <= m.last_row && col >= m.first_col && col <= m.last_col &&
           !(row == m.first_row && col == m.first_col);
}

// Whether any of ranges hides the cell at (row, col), both 0-based.
inline bool hidden(const std::vector<xlsx::Range>& ranges, uint64_t row, uint64_t col) {
    for (const xlsx::Range& m : ranges)
        if (hides(m, row, col)) return true;
    return false;
}

// The merged ranges that cover sheet row r (1-based) while rows are visited in order; the merges
// are sorted by their first row once, on construction.
class MergeWindow {
public:
    explicit MergeWindow(std::vector<xlsx::Range>& merges) : merges_(merges) {
        std::sort(merges.begin(), merges.end(),
                  [](const xlsx::Range& a, const xlsx::Range& b) { return a.first_row < b.first_row; });
    }
    const std::vector<xlsx::Range>& covering(uint64_t r) {
        while (next_ < merges_.size() && merges_[next_].first_row + 1 <= r) active_.push_back(merges_[next_++]);
        if (!active_.empty())
            active_.erase(std::remove_if(active_.begin(), active_.end(),
                                         [&](const xlsx::Range& m) { return m.last_row + 1 < r; }),
                          active_.end());
        return active_;
    }

private:
    const std::vector<xlsx::Range>& merges_;
    size_t next_ = 0;
    std::vector<xlsx::Range> active_;
};

}  // namespace igxl::detail
