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
    std::size_t instance_arg_list;  // the argument-name list column; kNoColumn when none
    std::size_t instance_first_arg;  // the column of Arg0
    std::size_t flow_hard_bin;      // flow table columns (0-based) of the bins and the result
    std::size_t flow_sort_bin;
    std::size_t flow_result;
};

// A layout column a platform's sheets do not have.
inline constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);

// Test instances: UltraFLEX sheets list the argument names in column O and the arguments from
// P on; J750 sheets (DFF 1.3) have no list and hold Arg0 in column N.
inline constexpr std::array<PlatformLayout, 3> kPlatformLayouts = {{
    {Platform::UltraFLEX, "UltraFLEX", true, false, 144, 14, 15, 16, 18, 19},
    {Platform::UltraFLEXplus, "UltraFLEXplus", true, true, 144, 14, 15, 16, 18, 19},
    {Platform::J750, "J750", false, false, 93, kNoColumn, 13, 11, 13, 14},
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

// What a sheet's title row says of the platform it was exported for: its "platform=" field or,
// for the J750, the "DFF n.n" form. "Jaguar" (the UltraFLEX's own name) tells only the family,
// since both UltraFLEX testers share the title form; a field spelling one of our names tells
// the platform itself.
struct TitlePlatform {
    Platform platform;
    bool exact;  // false: only the family of platform is known
};

inline std::optional<TitlePlatform> platform_named_by_title(std::string_view title) {
    if (title.starts_with("DFF ")) return TitlePlatform{Platform::J750, true};
    const std::size_t at = title.find("platform=");
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view name = title.substr(at + 9);
    name = name.substr(0, name.find_first_of(":\t ,"));
    if (auto p = parse_platform(name)) return TitlePlatform{*p, true};
    std::string low;
    for (char c : name) low += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (low == "jaguar") return TitlePlatform{Platform::UltraFLEX, false};
    return std::nullopt;
}

// Whether a sheet with that title is read by the rules of platform p.
inline bool title_fits(const TitlePlatform& t, Platform p) {
    if (t.exact) return t.platform == p;
    return layout_of(t.platform).ultraflex_family == layout_of(p).ultraflex_family;
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
