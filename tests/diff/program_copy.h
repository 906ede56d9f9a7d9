// Scratch copies of a program's sheet folder, and the small text edits that make a revision.
#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/platform.h"

namespace igxl::diff::testing {

namespace fs = std::filesystem;

class ScratchDir {
public:
    explicit ScratchDir(const std::string& name) {
        path_ = fs::temp_directory_path() /
                ("igxl_diff_" + std::to_string(igxl::util::process_id()) + "_" + name + "_" +
                 std::to_string(counter_++));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    fs::path path_;
    static inline int counter_ = 0;
};

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void spill(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// Lines of a sheet file with their breaks removed (files are written back with "\n").
inline std::vector<std::string> lines_of(const fs::path& p) {
    std::vector<std::string> out;
    std::istringstream in(slurp(p));
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

inline void write_lines(const fs::path& p, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    spill(p, text);
}

// Index of the only line of the file that holds every one of parts (fails the test otherwise).
inline size_t find_line(const std::vector<std::string>& lines,
                        const std::vector<std::string>& parts) {
    size_t found = lines.size(), hits = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        bool all = true;
        for (const auto& p : parts) all = all && lines[i].find(p) != std::string::npos;
        if (all) {
            found = i;
            ++hits;
        }
    }
    EXPECT_EQ(hits, 1u) << "lines holding " << parts.front();
    return found;
}

// Replaces field `col` (0-based, tab-separated) of the line holding parts.
inline void set_field(const fs::path& p, const std::vector<std::string>& parts, size_t col,
                      const std::string& value) {
    auto lines = lines_of(p);
    const size_t at = find_line(lines, parts);
    ASSERT_LT(at, lines.size());
    std::vector<std::string> fields;
    std::string f;
    std::istringstream in(lines[at]);
    while (std::getline(in, f, '\t')) fields.push_back(f);
    if (!lines[at].empty() && lines[at].back() == '\t') fields.push_back("");
    ASSERT_LT(col, fields.size());
    fields[col] = value;
    std::string joined;
    for (size_t i = 0; i < fields.size(); ++i) joined += (i ? "\t" : "") + fields[i];
    lines[at] = joined;
    write_lines(p, lines);
}

inline void insert_after(const fs::path& p, const std::vector<std::string>& parts,
                         const std::string& line) {
    auto lines = lines_of(p);
    const size_t at = find_line(lines, parts);
    ASSERT_LT(at, lines.size());
    lines.insert(lines.begin() + static_cast<long>(at) + 1, line);
    write_lines(p, lines);
}

inline void remove_line(const fs::path& p, const std::vector<std::string>& parts) {
    auto lines = lines_of(p);
    const size_t at = find_line(lines, parts);
    ASSERT_LT(at, lines.size());
    lines.erase(lines.begin() + static_cast<long>(at));
    write_lines(p, lines);
}

// Moves the line holding `what` to just after the line holding `after`.
inline void move_after(const fs::path& p, const std::vector<std::string>& what,
                       const std::vector<std::string>& after) {
    auto lines = lines_of(p);
    const size_t from = find_line(lines, what);
    ASSERT_LT(from, lines.size());
    const std::string moved = lines[from];
    lines.erase(lines.begin() + static_cast<long>(from));
    const size_t to = find_line(lines, after);
    ASSERT_LT(to, lines.size());
    lines.insert(lines.begin() + static_cast<long>(to) + 1, moved);
    write_lines(p, lines);
}

inline void copy_program(const fs::path& from, const fs::path& to) {
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

}  // namespace igxl::diff::testing
