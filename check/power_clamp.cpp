// Power block of a job sheet (supply level per power pin) and the power pin clamp table.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include "check/job_walk.h"
#include "check/power_order.h"
#include "check/units.h"
#include "check/sheet_buffer.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "util/error.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl {

namespace fs = std::filesystem;

void PowerClampTable::start(const std::string& test) {
    if (current_) share_current();
    auto found = tests_.find(test);
    if (found == tests_.end()) found = tests_.emplace(keep_name(test), Run{}).first;
    current_ = &found.value();
    *current_ = Run{static_cast<std::uint32_t>(values_.size()), 0};
}

std::string_view PowerClampTable::keep_name(std::string_view name) {
    constexpr size_t kBlock = 64 * 1024;
    if (name.empty()) return {};
    if (name.size() > block_left_) {
        block_size_ = std::max(kBlock, name.size());
        name_blocks_.push_back(std::make_unique_for_overwrite<char[]>(block_size_));
        block_left_ = block_size_;
    }
    char* at = name_blocks_.back().get() + (block_size_ - block_left_);
    std::copy(name.begin(), name.end(), at);
    block_left_ -= name.size();
    return {at, name.size()};
}

size_t PowerClampTable::hash(const Run& run) const {
    size_t h = run.count;
    for (std::uint32_t i = run.begin; i != run.begin + run.count; ++i) {
        h = h * 1000003u ^ pins_of_[i];
        h = h * 1000003u ^ std::hash<std::uint64_t>()(std::bit_cast<std::uint64_t>(values_[i]));
    }
    return h;
}

bool PowerClampTable::same(const Run& a, const Run& b) const {
    if (a.count != b.count) return false;
    for (std::uint32_t i = 0; i != a.count; ++i) {
        // Bit for bit: a value shared must print the same.
        if (pins_of_[a.begin + i] != pins_of_[b.begin + i] ||
            std::bit_cast<std::uint64_t>(values_[a.begin + i]) != std::bit_cast<std::uint64_t>(values_[b.begin + i]))
            return false;
    }
    return true;
}

void PowerClampTable::share_current() {
    Run& run = *current_;
    if (run.count == 0) return;
    const size_t h = hash(run);
    auto [first, last] = shared_.equal_range(h);
    for (auto it = first; it != last; ++it) {
        if (same(it->second, run)) {
            // The test started last owns the end of the store: its own copy is dropped.
            pins_of_.resize(run.begin);
            values_.resize(run.begin);
            run.begin = it->second.begin;
            return;
        }
    }
    shared_.emplace(h, run);
}

void PowerClampTable::set(Pin p, double value) {
    for (std::uint32_t i = current_->begin; i != current_->begin + current_->count; ++i) {
        if (pins_of_[i] == p) {
            values_[i] = value;
            return;
        }
    }
    // The test started last owns the end of the store, so its run grows in place.
    pins_of_.push_back(p);
    values_.push_back(value);
    ++current_->count;
}

PowerClampTable::Pin PowerClampTable::pin_index(std::string_view pin) {
    std::string key(pin);
    auto [it, added] = pins_.try_emplace(key, static_cast<Pin>(pin_names_.size()));
    if (added) pin_names_.push_back(std::move(key));
    return it->second;
}

void PowerClampTable::clear() {
    tests_.clear();
    name_blocks_.clear();
    block_size_ = block_left_ = 0;
    current_ = nullptr;
    pins_of_.clear();
    values_.clear();
    shared_.clear();
    pins_.clear();
    pin_names_.clear();
}

JobWalk::LevelSheetPins& JobWalk::level_sheet_pins(const std::string& flow_table_directory,
                                                   const std::string& pin_level) {
    auto found = level_sheets_.find(pin_level);
    if (found != level_sheets_.end()) return found->second;

    LevelSheetPins sheet;
    sheet.path = util::join_path(flow_table_directory, pin_level + ".txt");
    auto cached = cache_.pin_level_files.find(sheet.path);
    if (cached == cache_.pin_level_files.end()) {
        ParsePinLevel reader;
        reader.read_pin_level(sheet.path);
        cached = cache_.pin_level_files
                     .emplace(sheet.path, RunCaches::PinLevelFile{std::move(reader.get_pin_level_info()),
                                                                  std::move(reader.get_pin_clamp_info())})
                     .first;
    }
    const PinValueMap& levels = cached->second.levels;
    const PinValueMap& clamp_map = cached->second.clamps;

    // Pin -> display name, and the pins shown, in power order file order when there is one.
    auto show = [&](const std::string& pin, const std::string& display) {
        auto clamp = clamp_map.find(pin);
        sheet.shown.push_back({pin, display, &levels.at(pin), clamp == clamp_map.end() ? nullptr : &clamp->second});
    };
    if (!options().power_order.empty()) {
        if (!cache_.power_order_rows)
            cache_.power_order_rows = read_power_order(util::path_to_utf8(options().power_order));
        for (const auto& [pin, alias] : *cache_.power_order_rows) {
            // The level map's pin names are upper case; the file may be written in any case.
            const std::string key = util::to_upper(pin);
            if (levels.contains(key)) {
                // A pin named again keeps its first place and takes the later alias, so it gets
                // one column, not one per row.
                const std::string& display = alias.empty() ? pin : alias;
                auto same = std::find_if(sheet.shown.begin(), sheet.shown.end(),
                                         [&](const auto& s) { return s.pin == key; });
                if (same != sheet.shown.end())
                    same->display = display;
                else
                    show(key, display);
            } else {
                sheet.not_in_levels.push_back(pin);
            }
        }
    } else {
        for (const auto& [pin, _] : levels) show(pin, pin);
    }
    return level_sheets_.emplace(pin_level, std::move(sheet)).first->second;
}

double JobWalk::shown_value(LevelSheetPins::Value& memo, const std::string& expr, const std::string& category,
                            const std::string& selector) {
    if (!memo.done) {
        std::vector<diag::Event>* outer = event_capture_;
        event_capture_ = &memo.events;
        try {
            memo.value = detail::round5(evaluate_spec_expression(expr, dc_spec_dict, category, selector));
            memo.ok = true;
        } catch (const std::exception& e) {
            memo.message = e.what();
        }
        event_capture_ = outer;
        memo.done = true;
        if (outer) outer->insert(outer->end(), memo.events.begin(), memo.events.end());
    } else {
        for (const auto& e : memo.events) report(e);
    }
    if (!memo.ok) throw Error(memo.message);
    return memo.value;
}

int JobWalk::power_process_and_get_count(const std::string& flow_table_directory,
                                        const FlowEntry& entry, int flow_table_index,
                                        const InstanceRows* records) {
    const std::string& name = entry.Parameter;
    if (!records) {
        diag::Location where;
        where.item = name;
        report(diag::Severity::info, "check.instance-not-found",
               "Info: cannot found " + name + " in Test Instance, please check.", diag::kBoth,
               std::move(where));
        return static_cast<int>(power_list.size());
    }
    PowerClampTable& power_pin_clamp_dict = cache_.power_pin_clamp_dict;
    power_pin_clamp_dict.start(name);

    int row = flow_table_index + 1;
    for (const auto& record : *records) {
        if (record.DCCategory().empty()) {
            ++row;
            continue;
        }
        const std::string& category = with_context_env(record.DCCategory());
        const std::string selector(record.DCSelector());

        LevelSheetPins& sheet = level_sheet_pins(flow_table_directory, std::string(record.PinLevel()));
        for (const std::string& pin : sheet.not_in_levels) {
            diag::Location where;
            where.item = pin;
            where.test = name;
            where.file = sheet.path;
            report(diag::Severity::warning, "check.power-pin-not-in-levels",
                   "Cannot find power pin name in pin level file!", diag::kLog, where);
            report(diag::Severity::warning, "check.power-pin-not-in-levels", "Power pin name is: " + pin,
                   diag::kLog, std::move(where));
        }

        memo_key_.assign(category).append(1, '\x1f').append(selector);
        auto [known, added] = sheet.values.try_emplace(memo_key_);
        if (added) known->second.resize(2 * sheet.shown.size());
        std::vector<LevelSheetPins::Value>& values = known->second;
        for (size_t i = 0; i < sheet.shown.size(); ++i) {
            LevelSheetPins::Shown& shown = sheet.shown[i];
            if (!shown.clamp)
                throw Error(sheet.path + ": power pin '" + shown.pin + "' has no IFOLDLEVEL row");
            if (shown.column < 0) {
                auto known = power_column_.find(shown.display);
                if (known != power_column_.end()) {
                    shown.column = known->second;
                } else {
                    power_list.push_back(shown.display);
                    shown.column = print_inst_info_col_cnt + static_cast<int>(power_list.size()) - 1;
                    power_column_[shown.display] = shown.column;
                    const auto column = static_cast<std::uint32_t>(shown.column);
                    work_sheet->write_text(0, column, shown.display);
                    work_sheet->sheet().set_column(column, column, 15);
                }
            }
            const auto column = static_cast<std::uint32_t>(shown.column);
            const double level = shown_value(values[2 * i], *shown.level, category, selector);
            if (level == 0.0) {
                work_sheet->write_text(static_cast<std::uint32_t>(row), column, util::format_double(level),
                                       driver_.format_orange);
            } else {
                work_sheet->write_number(static_cast<std::uint32_t>(row), column, level);
            }
            const double clamp = shown_value(values[2 * i + 1], *shown.clamp, category, selector);
            if (shown.clamp_pin == LevelSheetPins::kNoClampPin) shown.clamp_pin = power_pin_clamp_dict.pin_index(shown.pin);
            power_pin_clamp_dict.set(shown.clamp_pin, clamp);
        }
        ++row;
    }
    return static_cast<int>(power_list.size());
}

void Vantor::write_power_pin_clamp(SheetBuffer& ws) {
    const PowerClampTable& table = caches_.power_pin_clamp_dict;
    // Pin columns in order of first occurrence over the tests; rank[pin] is its column - 1.
    constexpr size_t kNone = SIZE_MAX;
    std::vector<size_t> rank(table.pin_count(), kNone);
    std::vector<PowerClampTable::Pin> columns;
    for (const auto& [test, run] : table.tests()) {
        for (std::uint32_t i = 0; i < run.count; ++i) {
            const PowerClampTable::Pin pin = table.value(run, i).first;
            if (rank[pin] == kNone) {
                rank[pin] = columns.size();
                columns.push_back(pin);
            }
        }
    }

    // Tests grouped by the first pin column they hold a value for, in map order within a group.
    std::vector<std::vector<std::pair<std::string_view, PowerClampTable::Run>>> by_first_pin(columns.size());
    for (const auto& [test, run] : table.tests()) {
        if (run.count == 0) continue;
        size_t first = columns.size();
        for (std::uint32_t i = 0; i < run.count; ++i) first = std::min(first, rank[table.value(run, i).first]);
        by_first_pin[first].emplace_back(test, run);
    }

    // Filled in row order, straight into the worksheet.
    xw::Worksheet& sheet = ws.sheet();
    sheet.write_string(0, 0, "Test Instance");
    for (size_t col = 0; col < columns.size(); ++col)
        sheet.write_string(0, static_cast<std::uint32_t>(col + 1), table.pin_name(columns[col]));
    std::uint32_t row = 1;
    std::vector<double> cells(columns.size());
    for (const auto& group : by_first_pin) {
        for (const auto& [test, run] : group) {
            sheet.write_string(row, 0, test);
            std::fill(cells.begin(), cells.end(), std::numeric_limits<double>::quiet_NaN());
            for (std::uint32_t i = 0; i < run.count; ++i) {
                const auto [pin, value] = table.value(run, i);
                cells[rank[pin]] = value;
            }
            for (size_t col = 0; col < cells.size(); ++col)
                sheet.write_number(row, static_cast<std::uint32_t>(col + 1), cells[col]);
            ++row;
        }
    }
    excel_file_optimise(ws, "B2");
}

}  // namespace igxl
