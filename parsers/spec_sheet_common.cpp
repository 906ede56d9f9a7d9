#include "parsers/spec_sheet_common.h"

#include <memory>
#include <optional>

#include "parsers/spec_sheets.h"
#include "parsers/sheet_columns.h"
#include "util/lines.h"
#include "util/text.h"

namespace igxl {

namespace {

// Column keys of one sheet, laid out once and shared by its symbols; a key repeated keeps one
// column, whose value is the right-most.
struct KeyLayout {
    std::shared_ptr<SpecColumns> columns = std::make_shared<SpecColumns>();
    std::vector<size_t> slot;  // value field (from the first) -> its column

    explicit KeyLayout(const std::vector<std::string>& upper_keys) {
        for (size_t i = spec_columns::kFirstValue; i < upper_keys.size(); ++i)
            slot.push_back(columns->add(upper_keys[i]));
    }

    // A row's values by column, from its fields (upper case already); reuses `by_column`.
    SpecSymbolMap build(const std::vector<std::string_view>& fields,
                        std::vector<std::string_view>& by_column) const {
        by_column.assign(columns->size(), std::string_view());
        // Fields in order, so a repeated key keeps the right-most value.
        for (size_t k = 0; k < slot.size(); ++k) {
            const size_t i = k + spec_columns::kFirstValue;
            by_column[slot[k]] = i < fields.size() ? fields[i] : std::string_view();
        }
        return SpecSymbolMap(columns, by_column);
    }
};

}  // namespace

SpecSymbolMap get_spec_info(const std::vector<std::string_view>& line_list,
                            const std::vector<std::string>& key_list) {
    std::vector<std::string> upper_keys;
    upper_keys.reserve(key_list.size());
    for (const auto& k : key_list) upper_keys.push_back(util::to_upper(k));
    std::vector<std::string> upper_fields;
    upper_fields.reserve(line_list.size());
    for (std::string_view f : line_list) upper_fields.push_back(util::to_upper(f));
    const std::vector<std::string_view> fields(upper_fields.begin(), upper_fields.end());
    std::vector<std::string_view> by_column;
    return KeyLayout(upper_keys).build(fields, by_column);
}

void Halvard::read_spec(const std::string& spec_path, Platform platform) {
    util::LineReader reader(util::resolve_sheet_path(spec_path));
    std::vector<std::string> keys;
    std::optional<KeyLayout> layout;
    std::vector<std::string_view> f;  // reused row after row
    std::string upper;                // the row, upper case, which f views
    std::vector<std::string_view> by_column;
    std::string_view line;
    size_t index = 0;
    for (; reader.next(line); ++index) {
        if (index == 0) {
            spec_version = detail::read_sheet_version(line, platform, reader.path());
            continue;
        }
        if (index == 1) continue;
        // Keys, symbols and values are all kept upper case: each row is upper-cased whole.
        util::to_upper_into(line, upper);
        util::split_into(upper, '\t', f);
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
            for (size_t i = 0; i < f.size(); ++i) keys[i].append(1, ' ').append(f[i]);
            continue;
        }
        // No end-of-table test: every row below the headers is a symbol row.
        if (!layout) layout.emplace(keys);
        std::string symbol(f.size() > spec_columns::kSymbol ? f[spec_columns::kSymbol] : std::string_view());
        // A repeated symbol replaces its map in its first place.
        SpecSymbolMap row = layout->build(f, by_column);
        auto it = spec_dict.find(symbol);
        if (it == spec_dict.end()) {
            spec_dict.emplace(std::move(symbol), std::move(row));
        } else {
            it.value() = std::move(row);
        }
    }
}

}  // namespace igxl
