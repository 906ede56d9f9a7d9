#include "parsers/spec_sheets.h"

namespace igxl {

void Ulmara::read_ac_spec(const std::string& ac_spec_path, Platform platform) {
    read_spec(ac_spec_path, platform);
}

SpecMap& Ulmara::get_ac_info() { return get_info(); }

}  // namespace igxl
