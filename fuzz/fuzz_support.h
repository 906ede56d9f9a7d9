// What every fuzz target shares: a scratch folder of its own, and writing the input into it.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace igxl::fuzz {

namespace fs = std::filesystem;

// A folder for this process, emptied before each input so nothing one input left behind can
// change what the next one does.
inline const fs::path& scratch() {
    static const fs::path dir = [] {
        fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        fs::path d = base / ("igxl_fuzz_" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

inline void clear_scratch() {
    for (const auto& e : fs::directory_iterator(scratch())) fs::remove_all(e.path());
}

inline fs::path write_input(const std::string& name, const uint8_t* data, size_t size) {
    fs::path p = scratch() / name;
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return p;
}

inline std::string read_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The readers and the VBA side print progress on standard output; a campaign runs millions of
// inputs, so that output goes nowhere (libFuzzer reports on standard error).
inline void silence_stdout() {
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

}  // namespace igxl::fuzz
