// Streaming line reader for sheet text files and other text inputs: one pass, a fixed buffer,
// LF, CR LF and lone CR all end a line (the universal-newline rule of text mode).
#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::util {

class LineReader {
public:
    // Throws FileNotFoundError when the path names no file, Error when it cannot be read.
    explicit LineReader(const std::string& path);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Next line without its line break; false at the end. The view lives until the next call.
    bool next(std::string_view& line);
    // True when the line returned last ended in a line break (the last line of a file may not).
    bool had_break() const { return had_break_; }
    // 1-based number of the line returned last.
    size_t line_number() const { return line_no_; }
    const std::string& path() const { return path_; }

private:
    bool fill();
    size_t next_in_buffer(size_t& cached, char c) const;
    std::string path_;
    std::FILE* f_ = nullptr;
    std::vector<char> buf_;
    size_t begin_ = 0, end_ = 0;
    bool eof_ = false;
    bool had_break_ = false;
    bool skip_lf_ = false;
    size_t line_no_ = 0;
    std::string carry_;
    // Next LF and CR at or after begin_ (end_ when the buffer holds none), found with memchr and
    // kept until passed, so files with only one kind of line break are not rescanned per line.
    size_t lf_at_ = static_cast<size_t>(-1), cr_at_ = static_cast<size_t>(-1);
};

// Whole file as bytes (FileNotFoundError / Error as above).
std::string read_file(const std::string& path);

// True when path names an existing regular file (or directory, for path_exists).
bool file_exists(const std::string& path);
bool path_exists(const std::string& path);
bool is_directory(const std::string& path);
// Names of the entries of a folder, sorted (empty when it cannot be listed).
std::vector<std::string> list_directory(const std::string& path);

// The sheet readers' rule: a path that names no file is retried with every "%20" replaced by
// a blank. Returns the path to open (the original when neither exists, so the open fails on it).
std::string resolve_sheet_path(const std::string& path);

}  // namespace igxl::util
