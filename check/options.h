// Everything a check run is told, parsed once by the host and handed to the driver as one value.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "export/options.h"
#include "parsers/platform.h"

namespace igxl {

// Whether the pattern map and job sheets show each time set's period or its frequency.
enum class CycleMode : unsigned char { Period, Frequency };

inline constexpr std::string_view cycle_mode_name(CycleMode m) {
    return m == CycleMode::Frequency ? "Frequency" : "Period";
}

// The mode a name stands for, compared without regard to case.
inline std::optional<CycleMode> parse_cycle_mode(std::string_view text) {
    auto same = [&](std::string_view name) {
        if (name.size() != text.size()) return false;
        for (std::size_t i = 0; i < name.size(); ++i) {
            char a = name[i], b = text[i];
            if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
            if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
            if (a != b) return false;
        }
        return true;
    };
    if (same("Period")) return CycleMode::Period;
    if (same("Frequency")) return CycleMode::Frequency;
    return std::nullopt;
}

// The lowest severity of a remaining finding that makes a check fail its gate (exit status 3).
enum class FailOn : unsigned char { Never, Warning, Error };

inline constexpr std::string_view fail_on_name(FailOn f) {
    return f == FailOn::Error ? "error" : f == FailOn::Warning ? "warning" : "never";
}

inline std::optional<FailOn> parse_fail_on(std::string_view text) {
    if (text == "error") return FailOn::Error;
    if (text == "warning") return FailOn::Warning;
    if (text == "never") return FailOn::Never;
    return std::nullopt;
}

struct CheckOptions {
    std::filesystem::path program;       // .xlsm, .igxl/.zip or folder of sheet text files
    std::filesystem::path power_order;   // power order file (.xls); empty: none
    std::filesystem::path pattern_path;  // folder of the pattern files; empty: none
    Platform platform = kDefaultPlatform;
    CycleMode cycle_mode = CycleMode::Period;
    std::string context_env;  // prefixed to AC and DC categories that begin with "::"
    bool vbt = false;         // also run the VBT coding-standards check on the program's modules
    ExportOptions export_options;  // limits of unpacking or exporting the program
    std::filesystem::path json;      // findings as JSON; empty: none
    std::filesystem::path sarif;     // findings as SARIF 2.1.0; empty: none
    std::filesystem::path baseline;  // findings accepted before (a --json file); empty: none
    FailOn fail_on = FailOn::Never;
};

}  // namespace igxl
