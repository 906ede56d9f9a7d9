#include "check/units.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

namespace detail {
// Rounds to 5 decimals the way the exact decimal value of the double rounds (half to even on
// exact ties), as the report has always shown levels.
double round5(double v) {
    if (!std::isfinite(v)) return v;
    // Every level and clamp of every record passes here, so the usual case avoids formatting:
    // v * 1e5 is off from the exact product by at most half an ulp, so when it lies further
    // than a whole ulp from a half, rounding it gives the same integer k as rounding the exact
    // value, and k / 1e5 (one correctly rounded division) is the double the decimal text reads.
    const double scaled = v * 1e5;
    if (std::fabs(scaled) < 0x1p52) {
        const double below = std::floor(scaled);
        // Exact but for (-1, 0), where the sum with 1 may round by 2^-54 at most.
        const double frac = scaled - below;
        if (std::fabs(frac - 0.5) > std::fabs(scaled) * 0x1p-52 + 0x1p-50) {
            const double k = frac < 0.5 ? below : below + 1;
            // A value rounded to zero keeps its sign, as "-0.00000" reads back as -0.0.
            return k == 0 ? std::copysign(0.0, v) : k / 1e5;
        }
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.5f", v);
    return std::strtod(buf, nullptr);
}
}  // namespace detail

}  // namespace igxl
