// Time set reader: the period expression of every time set and the clock pins of each.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/platform.h"

namespace igxl {

// Time set name (upper case) -> period expression ("=" removed, upper case).
using TimingPeriodMap = tsl::ordered_map<std::string, std::string>;
// Clock key -> clock expression. A time set has a few clocks or none: held in a vector, not
// tsl's default deque, whose first block alone is half a kilobyte per time set.
using ClockMap = tsl::ordered_map<std::string, std::string, std::hash<std::string>, std::equal_to<std::string>,
                                  std::allocator<std::pair<std::string, std::string>>,
                                  std::vector<std::pair<std::string, std::string>>>;
// Time set name (upper case) -> its clocks (possibly none).
using TimingClockMap = tsl::ordered_map<std::string, ClockMap>;

class ParseTIM {
public:
    ParseTIM() = default;

    // Adds the time sets of one sheet text file in the platform's layout (UltraFLEX family or
    // J750).
    // Throws FileNotFoundError when the file is missing (after the "%20" retry).
    void read_timing(const std::string& timing_path, Platform platform);

    TimingPeriodMap& get_timing_info() { return timing_period; }
    TimingClockMap& get_clk_info() { return clk_dic; }

private:
    TimingPeriodMap timing_period;
    TimingClockMap clk_dic;
};

}  // namespace igxl
