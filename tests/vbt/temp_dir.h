// A scratch folder for module trees written by a test, removed afterwards.
#pragma once
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace igxl::vbt {

class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("vbt_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string str() const { return path_.string(); }
    void write(const std::string& rel, const std::string& bytes) const {
        auto full = path_ / rel;
        std::filesystem::create_directories(full.parent_path());
        std::ofstream(full, std::ios::binary) << bytes;
    }

private:
    std::filesystem::path path_;
    static inline int counter_ = 0;
};

}  // namespace igxl::vbt
