// Power block of a job sheet (supply level per power pin) and the power pin clamp table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "check/power_order.h"
#include "check/units.h"
#include "check/sheet_buffer.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "util/error.h"
#include "util/text.h"

namespace igxl {

namespace fs = std::filesystem;


int Vantor::power_process_and_get_count(const std::string& flow_table_directory,
                                        const FlowEntry& entry, int flow_table_index) {
    const std::string& name = entry.Parameter;
    auto it = test_instance_dict.find(name);
    if (it == test_instance_dict.end()) {
        diag::Location where;
        where.item = name;
        report(diag::Severity::info, "check.instance-not-found",
               "Info: cannot found " + name + " in Test Instance, please check.", diag::kBoth,
               std::move(where));
        return static_cast<int>(power_list.size());
    }
    auto& clamps = power_pin_clamp_dict[name];
    clamps.clear();

    int row = flow_table_index + 1;
    for (const auto& record : it->second) {
        if (record.DCCategory.empty()) {
            ++row;
            continue;
        }
        std::string category = record.DCCategory;
        if (category.rfind("::", 0) == 0 && !options_.context_env.empty())
            category = options_.context_env + category;
        const std::string& selector = record.DCSelector;

        const std::string path =
            (fs::path(flow_table_directory) / (record.PinLevel + ".txt")).string();
        auto cached = pin_level_files_.find(path);
        if (cached == pin_level_files_.end()) {
            ParsePinLevel reader;
            reader.read_pin_level(path);
            cached = pin_level_files_
                         .emplace(path, PinLevelFile{std::move(reader.get_pin_level_info()),
                                                     std::move(reader.get_pin_clamp_info())})
                         .first;
        }
        const PinValueMap& levels = cached->second.levels;
        const PinValueMap& clamp_map = cached->second.clamps;

        // Pin -> display name, and the pins shown, in power order file order when there is one.
        std::vector<std::pair<std::string, std::string>> shown;  // (pin, display name)
        if (!options_.power_order.empty()) {
            if (!power_order_rows_) power_order_rows_ = read_power_order(options_.power_order.string());
            for (const auto& [pin, alias] : *power_order_rows_) {
                // The level map's pin names are upper case; the file may be written in any case.
                const std::string key = util::to_upper(pin);
                if (levels.contains(key)) {
                    // A pin named again keeps its first place and takes the later alias, so it
                    // gets one column, not one per row.
                    const std::string& display = alias.empty() ? pin : alias;
                    auto same = std::find_if(shown.begin(), shown.end(),
                                             [&](const auto& s) { return s.first == key; });
                    if (same != shown.end())
                        same->second = display;
                    else
                        shown.emplace_back(key, display);
                } else {
                    diag::Location where;
                    where.item = pin;
                    where.test = name;
                    where.file = path;
                    report(diag::Severity::warning, "check.power-pin-not-in-levels",
                           "Cannot find power pin name in pin level file!", diag::kLog, where);
                    report(diag::Severity::warning, "check.power-pin-not-in-levels", "Power pin name is: " + pin,
                           diag::kLog, std::move(where));
                }
            }
        } else {
            for (const auto& [pin, _] : levels) shown.emplace_back(pin, pin);
        }

        for (const auto& [pin, display] : shown) {
            auto clamp_it = clamp_map.find(pin);
            if (clamp_it == clamp_map.end())
                throw Error(path + ": power pin '" + pin + "' has no IFOLDLEVEL row");
            int column;
            auto known = power_column_.find(display);
            if (known != power_column_.end()) {
                column = known->second;
            } else {
                power_list.push_back(display);
                column = print_inst_info_col_cnt + static_cast<int>(power_list.size()) - 1;
                power_column_[display] = column;
                work_sheet->write_text(0, static_cast<std::uint32_t>(column), display);
                work_sheet->sheet().set_column(static_cast<std::uint32_t>(column), static_cast<std::uint32_t>(column), 15);
            }
            const double level =
                detail::round5(evaluate_spec_expression(levels.at(pin), dc_spec_dict, category, selector));
            if (level == 0.0) {
                work_sheet->write_text(static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(column),
                           util::format_double(level), format_orange);
            } else {
                work_sheet->write_number(static_cast<std::uint32_t>(row), static_cast<std::uint32_t>(column),
                             level);
            }
            clamps[pin] = detail::round5(
                evaluate_spec_expression(clamp_it->second, dc_spec_dict, category, selector));
        }
        ++row;
    }
    return static_cast<int>(power_list.size());
}

void Vantor::write_power_pin_clamp(SheetBuffer& ws) {
    // Pins in order of first occurrence.
    tsl::ordered_map<std::string, size_t> pins;
    for (const auto& [test, values] : power_pin_clamp_dict)
        for (const auto& [pin, _] : values)
            if (!pins.contains(pin)) pins.emplace(pin, pins.size());

    // Tests grouped by the first pin column they hold a value for, in map order within a group.
    std::vector<std::vector<const std::string*>> by_first_pin(pins.size());
    for (const auto& [test, values] : power_pin_clamp_dict) {
        if (values.empty()) continue;
        size_t first = pins.size();
        for (const auto& [pin, _] : values) first = std::min(first, pins.at(pin));
        by_first_pin[first].push_back(&test);
    }

    ws.write_text(0, 0, "Test Instance");
    for (const auto& [pin, col] : pins) ws.write_text(0, static_cast<std::uint32_t>(col + 1), pin);
    std::uint32_t row = 1;
    for (const auto& group : by_first_pin) {
        for (const std::string* test : group) {
            ws.write_text(row, 0, *test);
            const auto& values = power_pin_clamp_dict.at(*test);
            for (const auto& [pin, col] : pins) {
                auto v = values.find(pin);
                ws.write_number(row, static_cast<std::uint32_t>(col + 1),
                             v != values.end() ? v->second : std::numeric_limits<double>::quiet_NaN());
            }
            ++row;
        }
    }
    excel_file_optimise(ws, "B2");
}

}  // namespace igxl
