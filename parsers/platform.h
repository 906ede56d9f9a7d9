// Tester platforms and what each one's exported sheets look like, in one table.
#pragma once
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace igxl {

enum class Platform : unsigned char { UltraFLEX, UltraFLEXplus, J750 };

// The platform a check assumes when none is chosen.
inline constexpr Platform kDefaultPlatform = Platform::UltraFLEX;

// The sheet layouts that differ between platforms.
struct PlatformLayout {
    Platform platform;
    std::string_view name;          // as typed on the command line
    bool ultraflex_family;          // "version=n.n:" title rows and the UltraFLEX time set layout
    bool pattern_set_patx;          // test instances name pattern sets through PatX columns
    std::size_t instance_width;     // fields of a test-instance row
    std::size_t flow_hard_bin;      // flow table columns (0-based) of the bins and the result
    std::size_t flow_sort_bin;
    std::size_t flow_result;
};

inline constexpr std::array<PlatformLayout, 3> kPlatformLayouts = {{
    {Platform::UltraFLEX, "UltraFLEX", true, false, 144, 16, 18, 19},
    {Platform::UltraFLEXplus, "UltraFLEXplus", true, true, 144, 16, 18, 19},
    {Platform::J750, "J750", false, false, 93, 11, 13, 14},
}};

constexpr const PlatformLayout& layout_of(Platform p) {
    return kPlatformLayouts[static_cast<std::size_t>(p)];
}

constexpr std::string_view platform_name(Platform p) { return layout_of(p).name; }

// The platform a name stands for, compared without regard to case.
inline std::optional<Platform> parse_platform(std::string_view text) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (const auto& l : kPlatformLayouts) {
        if (l.name.size() != text.size()) continue;
        bool same = true;
        for (std::size_t i = 0; same && i < text.size(); ++i) same = lower(l.name[i]) == lower(text[i]);
        if (same) return l.platform;
    }
    return std::nullopt;
}

// The accepted names, "UltraFLEX, UltraFLEXplus, J750".
inline std::string platform_names() {
    std::string out;
    for (const auto& l : kPlatformLayouts) {
        if (!out.empty()) out += ", ";
        out += l.name;
    }
    return out;
}

}  // namespace igxl
