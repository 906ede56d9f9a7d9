// Runs a command line with one folder on a disk that is full but for a few KiB, as a user's
// disk fills: a small tmpfs mounted there in a mount namespace of the command's own (as root, or
// in an unprivileged user namespace), so the mount ends with the command and never reaches the
// rest of the machine. Where neither is allowed, a file size limit takes its place: every file
// the command writes fails beyond the limit, as on a full disk (EFBIG instead of ENOSPC).
#pragma once
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/process.h"

namespace igxl::testing {

struct FullDiskResult {
    int status = -1;
    std::string out;   // standard output and standard error of the whole script
    std::string disk;  // how the disk was filled: "tmpfs" or "file size limit"
};

namespace detail {

// Single quotes for the shell.
inline std::string sh_quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// The prefix that runs a bash script in a mount namespace where tmpfs can be mounted, or empty.
inline const std::string& namespace_prefix() {
    static const std::string prefix = [] {
        const std::filesystem::path probe =
            std::filesystem::temp_directory_path() / ("igxl_tmpfs_probe_" + std::to_string(::getpid()));
        std::filesystem::create_directories(probe);
        const std::string mount = " bash -c " + sh_quote("mount -t tmpfs -o size=64k tmpfs " + probe.string());
        std::string found;
        for (const char* p : {"unshare -m", "unshare -r -m"}) {
            if (run_command(std::string(p) + mount).status == 0) {
                found = std::string(p) + " ";
                break;
            }
        }
        std::filesystem::remove_all(probe);
        return found;
    }();
    return prefix;
}

}  // namespace detail

// Runs setup (shell commands, with room: they put the command's inputs into full), then command
// with full's disk filled to all but free_kib KiB; afterwards everything in full (the filler
// left out) is copied to after, which the test inspects. full and after are created here.
inline FullDiskResult run_with_full_disk(const std::filesystem::path& full, const std::string& setup,
                                         const std::string& command, unsigned free_kib,
                                         const std::filesystem::path& after) {
    std::filesystem::create_directories(full);
    std::filesystem::create_directories(after);
    const std::string f = detail::sh_quote(full.string()), a = detail::sh_quote(after.string());
    const std::string& ns = detail::namespace_prefix();
    std::string script = "set -e\n";
    FullDiskResult r;
    if (!ns.empty()) {
        r.disk = "tmpfs";
        script += "mount -t tmpfs -o size=4m tmpfs " + f + "\n" + setup + "\n" +
                  "avail=$(df -k --output=avail " + f + " | tail -n 1)\n" +
                  "fill=$((avail - " + std::to_string(free_kib) + "))\n" +
                  "if [ $fill -gt 0 ]; then head -c $((fill * 1024)) /dev/zero > " + f + "/.filler || true; fi\n" +
                  "set +e\n(" + command + ")\nst=$?\nrm -f " + f + "/.filler\n";
    } else {
        r.disk = "file size limit";
        script += setup + "\nset +e\n(trap '' XFSZ; ulimit -f " + std::to_string(free_kib) + "; " + command +
                  ")\nst=$?\n";
    }
    script += "cp -a " + f + "/. " + a + "/\nexit $st\n";
    CommandResult c = run_command(ns + "bash -c " + detail::sh_quote(script));
    r.status = c.status;
    r.out = c.out;
    return r;
}

}  // namespace igxl::testing
