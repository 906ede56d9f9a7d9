// Check options built in one call, for driver tests.
#pragma once
#include <stdexcept>
#include <string>

#include "check/options.h"

namespace igxl::test_support {

inline CheckOptions opts(const std::string& program, const std::string& power_order = "",
                         const std::string& pattern_path = "",
                         Platform platform = Platform::UltraFLEX,
                         CycleMode cycle_mode = CycleMode::Period,
                         const std::string& context_env = "", bool vbt = false) {
    CheckOptions o;
    o.program = program;
    o.power_order = power_order;
    o.pattern_path = pattern_path;
    o.platform = platform;
    o.cycle_mode = cycle_mode;
    o.context_env = context_env;
    o.vbt = vbt;
    return o;
}

inline CycleMode cycle(const std::string& name) {
    auto m = parse_cycle_mode(name);
    if (!m) throw std::invalid_argument("no cycle mode '" + name + "'");
    return *m;
}

}  // namespace igxl::test_support
