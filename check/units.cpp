#include "check/units.h"

#include <cstdio>

namespace igxl {
namespace {

struct Unit {
    double threshold;
    const char* letter;
};

// There is deliberately no row for 1: values from 1e-3 to below 1e3 are shown in "m".
constexpr Unit kUnits[] = {
    {1000000000.0, "G"}, {1000000.0, "M"}, {1000.0, "K"},        {0.001, "m"},
    {0.000001, "u"},     {0.000000001, "n"}, {0.000000000001, "p"},
};

}  // namespace

std::optional<std::string> add_unit(double val) {
    for (const Unit& u : kUnits) {
        if (val >= u.threshold) {
            char buf[64];
            // printf rounds the exact binary value half-to-even, as the report always has.
            // Large values need more room than the buffer: ask for the length first.
            int n = std::snprintf(buf, sizeof buf, "%.3f", val / u.threshold);
            std::string out;
            if (n >= static_cast<int>(sizeof buf)) {
                out.resize(static_cast<size_t>(n) + 1);
                std::snprintf(out.data(), out.size(), "%.3f", val / u.threshold);
                out.resize(static_cast<size_t>(n));
            } else {
                out.assign(buf, static_cast<size_t>(n));
            }
            return out + u.letter;
        }
    }
    return std::nullopt;
}

}  // namespace igxl
