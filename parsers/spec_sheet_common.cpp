#include "parsers/spec_sheet_common.h"

#include <optional>

#include "parsers/spec_sheets.h"
#include "parsers/sheet_columns.h"
#include "util/lines.h"
#include "util/text.h"

namespace igxl {

namespace {

// Column keys of one sheet, laid out once: every row's symbol map is a copy of `blank` (keys in
// first-appearance order, empty values) with the values filled in by position, which spares
// hashing every key of every row.
struct KeyLayout {
    SpecSymbolMap blank;
    std::vector<size_t> slot;  // value column (from the first) -> position of its key in blank

    explicit KeyLayout(const std::vector<std::string>& upper_keys) {
        for (size_t i = spec_columns::kFirstValue; i < upper_keys.size(); ++i) {
            auto it = blank.try_emplace(upper_keys[i]).first;
            slot.push_back(static_cast<size_t>(it - blank.begin()));
        }
    }

    SpecSymbolMap build(const std::vector<std::string_view>& fields) const {
        SpecSymbolMap out = blank;
        fill(out, fields);
        return out;
    }

    // Sets the values of out, a copy of blank, from a row's fields.
    void fill(SpecSymbolMap& out, const std::vector<std::string_view>& fields) const {
        // Columns in order, so a repeated key keeps the right-most value.
        for (size_t k = 0; k < slot.size(); ++k) {
            size_t i = k + spec_columns::kFirstValue;
            auto it = out.nth(slot[k]);
            if (i < fields.size()) {
                util::to_upper_into(fields[i], it.value());
            } else {
                it.value().clear();
            }
        }
    }
};

}  // namespace

SpecSymbolMap get_spec_info(const std::vector<std::string_view>& line_list,
                            const std::vector<std::string>& key_list) {
    std::vector<std::string> upper_keys;
    upper_keys.reserve(key_list.size());
    for (const auto& k : key_list) upper_keys.push_back(util::to_upper(k));
    return KeyLayout(upper_keys).build(line_list);
}

void Halvard::read_spec(const std::string& spec_path, Platform platform) {
    util::LineReader reader(util::resolve_sheet_path(spec_path));
    std::vector<std::string> keys;
    std::optional<KeyLayout> layout;
    std::vector<std::string_view> f;  // reused row after row
    std::string_view line;
    size_t index = 0;
    for (; reader.next(line); ++index) {
        if (index == 0) {
            spec_version = detail::read_sheet_version(line, platform, reader.path());
            continue;
        }
        if (index == 1) continue;
        util::split_into(line, '\t', f);
        if (index == 2) {
            // Category headings span the empty cells to their right (merged cells export
            // their text only in the first one).
            for (size_t i = 0; i < f.size(); ++i) {
                if (!f[i].empty() || i == 0) {
                    keys.emplace_back(f[i]);
                } else {
                    keys.push_back(keys.back());
                }
            }
            continue;
        }
        if (index == 3) {
            // A selector row wider than the category row continues the last heading.
            for (size_t i = 0; i < f.size(); ++i) {
                if (i >= keys.size()) keys.push_back(keys.empty() ? std::string() : keys.back());
            }
            for (size_t i = 0; i < f.size(); ++i) {
                keys[i] = util::to_upper(keys[i] + " " + std::string(f[i]));
            }
            for (size_t i = f.size(); i < keys.size(); ++i) keys[i] = util::to_upper(keys[i]);
            continue;
        }
        // No end-of-table test: every row below the headers is a symbol row.
        if (!layout) layout.emplace(keys);
        std::string symbol =
            f.size() > spec_columns::kSymbol ? util::to_upper(f[spec_columns::kSymbol]) : std::string();
        // The row's map is built where it stays, and a repeated symbol replaces its map in its
        // first place.
        auto it = spec_dict.find(symbol);
        if (it == spec_dict.end()) {
            it = spec_dict.try_emplace(std::move(symbol), layout->blank).first;
        } else {
            it.value() = layout->blank;
        }
        layout->fill(it.value(), f);
    }
}

}  // namespace igxl
