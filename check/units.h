// Engineering unit text for evaluated periods, frequencies and clock values.
#pragma once
#include <optional>
#include <string>

namespace igxl {

// val divided by the first of G (1e9), M (1e6), K (1e3), m (1e-3), u (1e-6), n (1e-9),
// p (1e-12) that val reaches, with three decimals and the letter: 1.5 -> "1500.000m",
// 2.5e-9 -> "2.500n". Nothing for values below 1e-12, zero, negatives and NaN.
std::optional<std::string> add_unit(double val);

namespace detail {
// Rounds to 5 decimals the way the exact decimal value of the double rounds (half to even on
// exact ties): the double that printf("%.5f") text reads back as, sign of zero included.
double round5(double v);
}  // namespace detail

}  // namespace igxl
