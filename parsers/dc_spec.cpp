#include "parsers/spec_sheets.h"

namespace igxl {

void Vexdon::read_dc_spec(const std::string& dc_spec_path, Platform platform) {
    read_spec(dc_spec_path, platform);
}

SpecMap& Vexdon::get_dc_info() { return get_info(); }

}  // namespace igxl
