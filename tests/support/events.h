// Collects the events a library emits and gives their texts as the console showed them, one line
// each, so tests can look for a line as it reads.
#pragma once
#include <string>

#include "util/diagnostics.h"

namespace igxl::testing {

inline std::string lines_of(const diag::CollectingSink& sink, unsigned channel = diag::kBoth) {
    std::string out;
    for (const std::string& t : sink.texts(channel)) out += t + "\n";
    return out;
}

}  // namespace igxl::testing
