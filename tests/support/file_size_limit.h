// Makes this process's file writes fail beyond a size, as on a full disk: a write past the limit
// returns an error (EFBIG) instead of raising the signal that would end the test program.
#pragma once
#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <string>

namespace igxl::testing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes) {
        old_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        ok_ = ::getrlimit(RLIMIT_FSIZE, &old_) == 0;
        rlimit lim = old_;
        lim.rlim_cur = static_cast<rlim_t>(bytes);
        ok_ = ok_ && ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit() {
        if (ok_) ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, old_handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return ok_; }

private:
    rlimit old_{};
    bool ok_ = false;
    void (*old_handler_)(int) = SIG_DFL;
};

// A shell prefix that runs the command after it under a like limit, in the shell's blocks (512
// bytes for dash, 1 KiB for bash).
inline std::string shell_file_size_limit(unsigned kib) {
    return "trap '' XFSZ; ulimit -f " + std::to_string(kib) + "; exec ";
}

}  // namespace igxl::testing
