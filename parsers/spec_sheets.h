// Spec sheet readers: DC and AC spec sheets (symbols valued per category and selector) and the
// global spec sheet (one value per symbol).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/platform.h"

namespace igxl {

// Column key ("CATEGORY SELECTOR", upper case) -> value (upper case), in column order.
// A symbol's few columns: held in a vector, not tsl's default deque, whose first block alone is
// half a kilobyte per symbol.
using SpecSymbolMap = tsl::ordered_map<std::string, std::string, std::hash<std::string>, std::equal_to<std::string>,
                                       std::allocator<std::pair<std::string, std::string>>,
                                       std::vector<std::pair<std::string, std::string>>>;
// Symbol (upper case) -> its columns.
using SpecMap = tsl::ordered_map<std::string, SpecSymbolMap>;
// Symbol (upper case) -> value (upper case).
using GlobalSpecMap = tsl::ordered_map<std::string, std::string>;

// One symbol's map from a data row: key_list[i] upper-cased -> line_list[i] upper-cased for
// every i from 3 to the end of key_list. A row shorter than the key list gives empty values.
SpecSymbolMap get_spec_info(const std::vector<std::string_view>& line_list,
                            const std::vector<std::string>& key_list);

// Generic reader of categorised spec sheets.
class Halvard {
public:
    Halvard() = default;

    // Adds the symbols of one sheet text file; the platform picks the version form of the
    // title row ("version=...:" for the UltraFLEX family, "DFF n.n" for J750). Throws
    // FileNotFoundError for a missing file (after the "%20" retry) and Error for a title row
    // without a version.
    void read_spec(const std::string& spec_path, Platform platform);

    SpecMap& get_info() { return spec_dict; }
    // Version of the last sheet read ("" before any).
    const std::string& get_spec_version() const { return spec_version; }

private:
    SpecMap spec_dict;
    std::string spec_version;
};

// DC spec sheets.
class Vexdon : public Halvard {
public:
    void read_dc_spec(const std::string& dc_spec_path, Platform platform);
    SpecMap& get_dc_info();
};

// AC spec sheets.
class Ulmara : public Halvard {
public:
    void read_ac_spec(const std::string& ac_spec_path, Platform platform);
    SpecMap& get_ac_info();
};

// The global spec sheet ("Global Specs").
class ParseGlobalSpec {
public:
    ParseGlobalSpec() = default;

    // Reads symbols (column B) and values (column D) from sheet row 4 on. Throws as
    // Halvard::read_spec, and ShortRowError for a symbol row without column D.
    void read_spec(const std::string& spec_path, Platform platform);

    GlobalSpecMap& get_info() { return spec_dict; }

private:
    GlobalSpecMap spec_dict;
    std::string spec_version;
};

}  // namespace igxl
