// Runs a command line for a test and captures what it printed (standard output and standard error).
#pragma once
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace igxl::testing {

struct CommandResult {
    int status = -1;  // exit status, -1 when the command could not run or was killed
    std::string out;
};

inline CommandResult run_command(const std::string& cmd) {
    CommandResult r;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

}  // namespace igxl::testing
