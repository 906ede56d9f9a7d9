#include "util/lines.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "util/error.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl::util {

namespace {
[[noreturn]] void open_failed(const std::string& path, int err) {
    if (err == ENOENT || err == ENOTDIR) throw FileNotFoundError(path);
    throw Error("cannot open '" + path + "': " + std::strerror(err));
}
}  // namespace

LineReader::LineReader(const std::string& path) : path_(path), buf_(1 << 16) {
    if (is_directory(path)) throw Error("cannot open '" + path + "': Is a directory");
    f_ = open_file(path, "rb");
    if (!f_) open_failed(path, errno);
}

LineReader::~LineReader() {
    if (f_) std::fclose(f_);
}

bool LineReader::fill() {
    if (eof_) return false;
    size_t n = std::fread(buf_.data(), 1, buf_.size(), f_);
    if (n < buf_.size()) {
        if (std::ferror(f_)) throw Error("cannot read '" + path_ + "': " + std::strerror(errno));
        eof_ = true;
    }
    begin_ = 0;
    end_ = n;
    lf_at_ = cr_at_ = static_cast<size_t>(-1);
    return n > 0;
}

size_t LineReader::next_in_buffer(size_t& cached, char c) const {
    if (cached == static_cast<size_t>(-1) || cached < begin_) {
        const void* hit = std::memchr(buf_.data() + begin_, c, end_ - begin_);
        cached = hit ? static_cast<size_t>(static_cast<const char*>(hit) - buf_.data()) : end_;
    }
    return cached;
}

bool LineReader::next(std::string_view& line) {
    carry_.clear();
    bool in_carry = false;
    for (;;) {
        if (begin_ == end_ && !fill()) {
            if (in_carry) {
                had_break_ = false;
                ++line_no_;
                line = carry_;
                return true;
            }
            return false;
        }
        if (skip_lf_) {
            skip_lf_ = false;
            if (buf_[begin_] == '\n') {
                ++begin_;
                continue;
            }
        }
        const char* p = buf_.data() + begin_;
        size_t avail = end_ - begin_;
        const size_t i = std::min(next_in_buffer(lf_at_, '\n'), next_in_buffer(cr_at_, '\r')) -
                         begin_;
        if (i == avail) {
            carry_.append(p, avail);
            in_carry = true;
            begin_ = end_;
            continue;
        }
        char brk = p[i];
        ++line_no_;
        had_break_ = true;
        if (in_carry) {
            carry_.append(p, i);
            line = carry_;
        } else {
            line = std::string_view(p, i);
        }
        begin_ += i + 1;
        if (brk == '\r') {
            if (begin_ < end_) {
                if (buf_[begin_] == '\n') ++begin_;
            } else {
                skip_lf_ = true;
            }
        }
        // A view into buf_ stays valid: the buffer is only refilled on the next call.
        return true;
    }
}

std::string read_file(const std::string& path) {
    if (is_directory(path)) throw Error("cannot open '" + path + "': Is a directory");
    std::FILE* f = open_file(path, "rb");
    if (!f) open_failed(path, errno);
    std::string out;
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    bool bad = std::ferror(f);
    std::fclose(f);
    if (bad) throw Error("cannot read '" + path + "'");
    return out;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool path_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}
bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = ::opendir(path.c_str());
    if (!d) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string resolve_sheet_path(const std::string& path) {
    if (path_exists(path)) return path;
    std::string alt = replace_all(path, "%20", " ");
    if (alt != path && path_exists(alt)) return alt;
    return path;
}

}  // namespace igxl::util
