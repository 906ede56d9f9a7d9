// Pin levels reader: per power pin its supply level and its fold (current clamp) level.
#pragma once
#include <string>

#include <tsl/ordered_map.h>

namespace igxl {

// Pin name (upper case) -> value expression (upper case, leading "=" dropped).
using PinValueMap = tsl::ordered_map<std::string, std::string>;

class ParsePinLevel {
public:
    ParsePinLevel() = default;

    // Adds the VMAIN/VPS and IFOLDLEVEL rows of one sheet text file. Throws FileNotFoundError
    // for a missing file, ShortRowError for such a row without column E, and Error for one
    // whose value is blank.
    void read_pin_level(const std::string& pin_level_path);

    PinValueMap& get_pin_level_info() { return pin_level_dict; }
    PinValueMap& get_pin_clamp_info() { return pin_clamp_dict; }

private:
    PinValueMap pin_level_dict;
    PinValueMap pin_clamp_dict;
};

}  // namespace igxl
