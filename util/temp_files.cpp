// Finding the temporary files of killed runs: name rules and the folder walk are the same on every
// OS; whether a file is still being written is the platform layer's to tell.
#include <algorithm>
#include <filesystem>

#include "util/platform.h"

namespace igxl::util {

namespace {

constexpr std::size_t kSuffixLength = 6;

bool is_suffix_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Length of name without one ".tmpXXXXXX" ending, or npos when it has none.
std::size_t without_one_ending(std::string_view name) {
    const std::size_t ending = kTempFileInfix.size() + kSuffixLength;
    if (name.size() <= ending) return std::string_view::npos;
    const std::size_t at = name.size() - ending;
    if (name.substr(at, kTempFileInfix.size()) != kTempFileInfix) return std::string_view::npos;
    const std::string_view suffix = name.substr(at + kTempFileInfix.size());
    if (!std::all_of(suffix.begin(), suffix.end(), is_suffix_char)) return std::string_view::npos;
    return at;
}

}  // namespace

bool is_temp_file_of(std::string_view file_name, std::string_view final_name) {
    return without_one_ending(file_name) == final_name.size() && file_name.starts_with(final_name);
}

std::string final_name_of_temp(std::string_view file_name) {
    std::size_t at = without_one_ending(file_name);
    if (at == std::string_view::npos) return {};
    std::string_view name = file_name.substr(0, at);
    while ((at = without_one_ending(name)) != std::string_view::npos) name = name.substr(0, at);
    return std::string(name);
}

std::vector<std::string> remove_abandoned_temp_files(const std::string& folder,
                                                     const std::function<bool(std::string_view)>& ours) {
    std::vector<std::string> candidates;
    try {
        namespace fs = std::filesystem;
        std::error_code ec;
        const fs::path dir = folder.empty() ? fs::path(".") : path_from_utf8(folder);
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = path_to_utf8(it->path().filename());
            const std::string final_name = final_name_of_temp(name);
            if (final_name.empty() || !ours(final_name)) continue;
            candidates.push_back(path_to_utf8(it->path()));
        }
    } catch (...) {
        // A folder that cannot be listed holds nothing this run can clear; the run itself says why
        // when it writes there.
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::string> removed;
    for (std::string& path : candidates)
        if (remove_abandoned_file(path)) removed.push_back(std::move(path));
    return removed;
}

}  // namespace igxl::util
