// The platform a fixture names, for parser tests that read it from a file.
#pragma once
#include <stdexcept>
#include <string>

#include "parsers/platform.h"

namespace igxl::test_support {

inline Platform to_platform(const std::string& name) {
    auto p = parse_platform(name);
    if (!p) throw std::invalid_argument("no platform '" + name + "'");
    return *p;
}

}  // namespace igxl::test_support
