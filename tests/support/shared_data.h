// Real-world inputs are read in place from ../shared/ beside the checkout. A user's clone has
// nothing there: tests that need those files skip and say why, and everything else runs.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace igxl::testing {

inline std::string missing_shared_reason(const std::filesystem::path& path) {
    return "test data not present: " + path.string() +
           " (read from ../shared/ beside the checkout, which a plain clone has not)";
}

// A parametrised suite listed from shared data gets this one value when there is none, so the
// suite is instantiated and its test shows as skipped instead of vanishing or failing.
inline const std::string kNoSharedData = "no_shared_data";

inline std::vector<std::string> or_missing_marker(std::vector<std::string> params) {
    if (params.empty()) params.push_back(kNoSharedData);
    return params;
}

}  // namespace igxl::testing

// Skips the current test, with the reason shown, when the shared data at WHERE is absent.
#define IGXL_REQUIRE_SHARED(where)                                                   \
    do {                                                                             \
        const std::filesystem::path igxl_shared_path_{where};                        \
        if (!std::filesystem::exists(igxl_shared_path_))                             \
            GTEST_SKIP() << ::igxl::testing::missing_shared_reason(igxl_shared_path_); \
    } while (0)
