// Another process writing a file beside a test's: a forked child makes an AtomicFile for a final
// path and holds its temporary file, as a run writing its report does, until it is told to finish
// (it then discards the file) or is killed (the file stays, as a killed run's would). POSIX only.
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "util/platform.h"

namespace igxl::testing {

class TempFileHolder {
public:
    explicit TempFileHolder(const std::string& final_path) {
        int to_parent[2], to_child[2];
        if (::pipe(to_parent) != 0) return;
        if (::pipe(to_child) != 0) {
            ::close(to_parent[0]);
            ::close(to_parent[1]);
            return;
        }
        child_ = ::fork();
        if (child_ == 0) {
            ::close(to_parent[0]);
            ::close(to_child[1]);
            util::AtomicFile file(final_path);
            const std::string name = file.temp_path() + "\n";
            if (::write(to_parent[1], name.data(), name.size()) != static_cast<ssize_t>(name.size()))
                ::_exit(1);
            char c;
            while (::read(to_child[0], &c, 1) > 0) {
            }
            file.discard();
            ::_exit(0);
        }
        ::close(to_parent[1]);
        ::close(to_child[0]);
        release_ = to_child[1];
        if (child_ < 0) {
            ::close(to_parent[0]);
            return;
        }
        char c;
        while (::read(to_parent[0], &c, 1) == 1 && c != '\n') temp_ += c;
        ::close(to_parent[0]);
    }
    ~TempFileHolder() {
        if (child_ > 0) kill();
    }
    TempFileHolder(const TempFileHolder&) = delete;
    TempFileHolder& operator=(const TempFileHolder&) = delete;

    // The file the child holds; empty when it could not be started.
    const std::string& temp_path() const { return temp_; }

    // Lets the child discard its file and end; true when it ended normally.
    bool finish() { return end(false); }
    // Kills the child (SIGKILL); true when it died of it.
    bool kill() { return end(true); }

private:
    bool end(bool by_signal) {
        if (child_ <= 0) return false;
        if (by_signal) ::kill(child_, SIGKILL);
        ::close(release_);
        int status = 0;
        const bool waited = ::waitpid(child_, &status, 0) == child_;
        child_ = -1;
        if (!waited) return false;
        return by_signal ? WIFSIGNALED(status) : WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    pid_t child_ = -1;
    int release_ = -1;
    std::string temp_;
};

}  // namespace igxl::testing
