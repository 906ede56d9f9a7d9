#include <algorithm>
#include <type_traits>

#include "check/sheet_buffer.h"
#include "check/progress.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "util/error.h"

namespace igxl {

namespace {

// Excel refuses cells longer than 32767 characters; a pattern used by thousands of tests gathers
// longer lists. Such a text is cut (on a character boundary) and ends in "...".
constexpr size_t kCellLimit = 32767;

bool fits_cell(std::string_view text) {
    if (text.size() <= kCellLimit) return true;
    size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    return chars <= kCellLimit;
}

}  // namespace

void Vantor::write_cell_text(xw::Worksheet& ws, std::uint32_t row, std::uint32_t col,
                             const std::string& text) {
    if (fits_cell(text)) {
        ws.write_string(row, col, text);
        return;
    }
    ws.write_string(row, col, utf8_prefix(text, kCellLimit - 3) + "...");
    report(diag::Severity::warning, "check.cell-text-cut",
           "Warning: text cut to " + std::to_string(kCellLimit) + " characters in row " +
               std::to_string(row + 1) + ", column " + std::to_string(col + 1) +
               " of the pattern map sheet");
}

void Vantor::write_pat_tset_map(const PatternInstanceMap& pat2inst, const PatternTsetMap& my_dict,
                                SheetBuffer& buffer) {
    // Filled in row order, straight into the worksheet; the header row, completed as patterns
    // with more time sets are met, is held by the worksheet until the sheet is done.
    xw::Worksheet& ws = buffer.sheet();
    const std::string value_head =
        options_.cycle_mode == CycleMode::Period ? "Period_" : "Frequency_";
    ws.write_string(0, 0, "Instances");
    ws.write_string(0, 1, "Pattern");
    ws.write_string(0, 2, "Tset_0");
    ws.write_string(0, 3, value_head + "0");
    std::uint32_t header_pairs = 1;  // time-set column pairs the header names
    std::uint32_t r = 1;
    size_t k = 0;
    // Both maps hold the same patterns in a normal run. Without a pattern folder the time-set
    // map lacks them and their rows are still written, so count the rows to stay within 100.
    const double n = static_cast<double>(std::max(my_dict.size(), pat2inst.size()));
    for (const auto& [pattern, tests] : pat2inst) {
        write_cell_text(ws, r, 0, tests);
        ws.write_string(r, 1, pattern);
        auto found = my_dict.find(pattern);
        if (found != my_dict.end()) {
            const auto& tsets = found->second;
            // The header names each pair once, the first time a pattern has that many.
            for (; header_pairs < tsets.size(); ++header_pairs) {
                ws.write_string(0, 2 + 2 * header_pairs, "Tset_" + std::to_string(header_pairs));
                ws.write_string(0, 3 + 2 * header_pairs, value_head + std::to_string(header_pairs));
            }
            std::uint32_t c = 2;
            for (const auto& [tset, values] : tsets) {
                ws.write_string(r, c++, tset);
                write_cell_text(ws, r, c++, values);
            }
        }
        // A pattern without time sets (no pattern folder was given) keeps its row without them.
        ++k;
        if (n > 0) update_progressbar(progress::kPatternMapSheet.at(static_cast<double>(k), static_cast<double>(n)));
        ++r;
    }
}

void Vantor::write_bin_descrp(SheetBuffer& buffer) {
    const auto& sort_bin_dscrp = caches_.sort_bin_dscrp;
    xw::Worksheet& ws = buffer.sheet();  // filled in row order
    for (size_t i = 0; i < sort_bin_dscrp.size(); ++i) {
        ws.write_string(static_cast<std::uint32_t>(i), 0, sort_bin_dscrp[i][0]);
        ws.write_string(static_cast<std::uint32_t>(i), 1, sort_bin_dscrp[i][1]);
    }
    if (sort_bin_dscrp.empty()) return;
    ws.highlight_duplicates({0, 0, static_cast<std::uint32_t>(sort_bin_dscrp.size() - 1), 0}, format_red);
}

void Vantor::write_inst_para(SheetBuffer& buffer) {
    // Filled in row order, straight into the worksheet: each row is made into XML as the next
    // one starts.
    xw::Worksheet& ws = buffer.sheet();
    // Blank argument cells are marked red by one "blanks" rule per block of consecutive rows with
    // the same argument columns: the same cells as one rule per row, far fewer rules to store.
    struct Block {
        std::uint32_t first = 0, last = 0;
        std::uint32_t c1 = 0, c2 = 0;
        bool open = false;
    } block;
    auto flush = [&] {
        if (!block.open) return;
        // One rule for the block; each cell tests itself (the formula is relative to the top-left).
        ws.highlight_blanks({block.first, block.c1, block.last, block.c2}, format_red);
        block.open = false;
    };
    auto mark_blanks = [&](std::uint32_t row, std::uint32_t c1, std::uint32_t c2) {
        if (block.open && block.c1 == c1 && block.c2 == c2 && block.last + 1 == row) {
            block.last = row;
            return;
        }
        flush();
        block = Block{row, row, c1, c2, true};
    };

    excel_file_optimise(buffer);
    std::uint32_t r = 0;
    for (const auto [name, records] : caches_.test_instance_dict) {
        if (r == 0) {
            ws.write_string(0, 0, "Comment");
            ws.write_string(0, 1, "Test Instance");
            std::uint32_t c = 2;
            for (std::string_view key : InstanceRecord::KEYS) ws.write_string(0, c++, key);
            r = 1;
        }
        // The texts stay in the instance map until the sheet is finished below: the cells view them.
        ws.write_string_unowned(r, 1, name);
        for (const InstanceRecord& record : records) {
            std::uint32_t c = 2;
            record.visit_fields([&](std::string_view, const auto& value) {
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string_view>) {
                    ws.write_string_unowned(r, c, value);
                } else {
                    std::uint32_t a = c;
                    for (std::string_view arg : value) ws.write_string_unowned(r, a++, arg);
                    // A record without arguments has no argument cells to mark.
                    if (!value.empty())
                        mark_blanks(r, c, static_cast<std::uint32_t>(c + value.size() - 1));
                }
                ++c;
            });
            ++r;
        }
    }
    flush();
    // The instances are given back once this sheet is written: its last row is made now, while
    // the texts its cells view are still there.
    buffer.flush();
}

}  // namespace igxl
