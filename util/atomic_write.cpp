#include "util/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/error.h"

namespace igxl::util {

namespace {

std::string errno_text() { return std::strerror(errno); }

bool write_all(int fd, std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes data to a fresh temporary file beside path; returns its name. Throws on failure with
// nothing left behind.
std::string write_temp(const std::string& path, std::string_view data, mode_t mode) {
    std::string tmp = path + std::string(kTempMarker) + "XXXXXX";
    int fd = ::mkstemp(tmp.data());
    if (fd < 0) throw Error("cannot create a temporary file beside it: " + errno_text());
    bool ok = write_all(fd, data);
    std::string why = ok ? "" : errno_text();
    if (ok && ::fchmod(fd, mode) != 0) {
        ok = false;
        why = errno_text();
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        why = errno_text();
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = errno_text();
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        throw Error(why);
    }
    return tmp;
}

mode_t default_mode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

void replace_file_atomically(const std::string& path, std::string_view data) {
    struct stat st{};
    mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : default_mode();
    std::string tmp = write_temp(path, data, mode);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string why = errno_text();
        ::unlink(tmp.c_str());
        throw Error(why);
    }
}

void create_file_atomically(const std::string& path, std::string_view data) {
    std::string tmp = write_temp(path, data, default_mode());
    // A hard link fails when the name exists, unlike rename, so nothing is ever replaced.
    if (::link(tmp.c_str(), path.c_str()) != 0) {
        std::string why = errno == EEXIST ? "the file already exists" : errno_text();
        ::unlink(tmp.c_str());
        throw Error(why);
    }
    ::unlink(tmp.c_str());
}

void append_durably(const std::string& path, std::string_view text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) throw Error("cannot open '" + path + "': " + errno_text());
    bool ok = write_all(fd, text) && ::fsync(fd) == 0;
    std::string why = ok ? "" : errno_text();
    if (::close(fd) != 0 && ok) {
        ok = false;
        why = errno_text();
    }
    if (!ok) throw Error("cannot write '" + path + "': " + why);
}

bool is_temp_file_of(std::string_view name, std::string_view final_name) {
    const size_t want = final_name.size() + kTempMarker.size() + 6;
    return name.size() == want && name.substr(0, final_name.size()) == final_name &&
           name.substr(final_name.size(), kTempMarker.size()) == kTempMarker;
}

}  // namespace igxl::util
