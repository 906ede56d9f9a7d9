// POSIX implementation of the platform layer (Linux and other Unix systems).
#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <spawn.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

#include "util/error.h"
#include "util/platform.h"

extern char** environ;

namespace igxl::util {

namespace fs = std::filesystem;

namespace {

std::string errno_text(int err) { return std::strerror(err); }

[[noreturn]] void fail(const std::string& what, const std::string& path, int err) {
    throw Error("cannot " + what + " '" + path + "': " + errno_text(err));
}

// Retries a call interrupted by a signal.
template <typename F>
auto retry(F f) {
    decltype(f()) r;
    do r = f();
    while (r < 0 && errno == EINTR);
    return r;
}

// Writes all of data; false with errno set on failure.
bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string random_suffix() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 gen{std::random_device{}() ^ static_cast<uint64_t>(::getpid())};
    std::string s(6, 'x');
    for (char& c : s) c = kChars[gen() % (sizeof kChars - 1)];
    return s;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// True when path still names the file open as fd.
bool still_named(int fd, const std::string& path) {
    struct stat by_fd {}, by_name {};
    return ::fstat(fd, &by_fd) == 0 && ::lstat(path.c_str(), &by_name) == 0 && same_file(by_fd, by_name);
}

// Creates a new file "<final>.tmpXXXXXX" beside final_path with the usual permissions
// (0666 less the umask, as any new file), held for writing: an exclusive flock on the returned
// descriptor, which lives as long as the descriptor (flock locks belong to the open file, so the
// writer opening and closing the file by name elsewhere never drops it). temp receives the name.
int create_temp_beside(const std::string& final_path, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = final_path + std::string(kTempFileInfix) + random_suffix();
        int fd = retry([&] { return ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
        if (fd < 0) {
            if (errno != EEXIST) fail("create a temporary file beside", final_path, errno);
            continue;
        }
        // Another run sweeping the folder may take the file between its creation and the lock
        // (it is not held yet, so it looks abandoned): it removes the file while holding the lock,
        // so once the lock is ours the name tells whether the file is still there.
        if (retry([&] { return ::flock(fd, LOCK_EX); }) != 0) {
            const int err = errno;
            // A file system without locks still gets its temporary files; they are just not
            // told apart from a dead run's.
            if (err != ENOLCK && err != EOPNOTSUPP && err != EINVAL) {
                ::close(fd);
                ::unlink(temp.c_str());
                fail("create a temporary file beside", final_path, err);
            }
        }
        if (still_named(fd, temp)) return fd;
        ::close(fd);
    }
    fail("create a temporary file beside", final_path, EEXIST);
}

// The folder holding path, for flushing a rename to disk.
std::string folder_of(const std::string& path) {
    fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? "." : parent.string();
}

void sync_folder(const std::string& path) {
    int dfd = ::open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;  // best effort: the rename itself is what makes the file visible
    ::fsync(dfd);
    ::close(dfd);
}

// Gives fd the permission bits of an existing file at path (a replacement keeps them).
void keep_permissions(int fd, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
}

// Flushes fd, renames temp over final and closes fd; on failure removes temp and throws. The
// rename comes before the close, so the file is held until it has its final name.
void finish_temp(int fd, const std::string& temp, const std::string& final_path) {
    int err = 0;
    if (::fsync(fd) != 0) err = errno;
    if (!err && ::rename(temp.c_str(), final_path.c_str()) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (err) {
        ::unlink(temp.c_str());
        fail("write", final_path, err);
    }
    sync_folder(final_path);
}

}  // namespace

// ---- paths ----

fs::path path_from_utf8(std::string_view utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string path_to_utf8(const fs::path& path) {
    std::u8string s = path.u8string();
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

std::string join_path(std::string_view folder, std::string_view name) {
    return path_to_utf8(path_from_utf8(folder) / path_from_utf8(name));
}

// ---- processes ----

int run_program(const std::vector<std::string>& argv, const std::string& stdout_path) {
    if (argv.empty()) throw Error("cannot run a program: no program named");
    int fd = retry([&] {
        return ::open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    });
    if (fd < 0) fail("write", stdout_path, errno);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fd);
    if (rc != 0) throw ProgramStartError(argv[0], errno_text(rc));
    int status = 0;
    if (retry([&] { return ::waitpid(pid, &status, 0); }) < 0)
        throw Error("cannot wait for '" + argv[0] + "': " + errno_text(errno));
    // posix_spawnp reports a program that exists but cannot be executed through the child's
    // exit status 127, as a shell does.
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

std::uint64_t process_id() { return static_cast<std::uint64_t>(::getpid()); }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) != 0; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) != 0; }

void prepare_console() {}

bool glob_match(const std::string& pattern, const std::string& text) {
    return ::fnmatch(pattern.c_str(), text.c_str(), FNM_CASEFOLD) == 0;
}

std::tm local_time(std::time_t t) {
    std::tm out{};
    ::localtime_r(&t, &out);
    return out;
}

// ---- shared libraries ----

LibraryHandle load_library(const std::string& path_or_name) {
    void* h = ::dlopen(path_or_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* why = ::dlerror();
        throw Error(why ? why : "cannot load '" + path_or_name + "'");
    }
    return LibraryHandle{h};
}

void* library_symbol(LibraryHandle library, const std::string& name) {
    ::dlerror();
    void* sym = library ? ::dlsym(library.native, name.c_str()) : nullptr;
    if (!sym) {
        const char* why = ::dlerror();
        throw Error(why ? std::string(why) : "symbol '" + name + "' not found");
    }
    return sym;
}

std::string shared_library_file_name(std::string_view base_name) {
    return "lib" + std::string(base_name) + ".so";
}

std::string module_path_of(const void* address) {
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return {};
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::path(info.dli_fname), ec);
    if (ec) return {};
    return p.string();
}

std::string executable_path() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

// ---- files ----

std::FILE* open_file(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

void read_at(std::FILE* file, std::uint64_t offset, char* out, std::size_t size, const std::string& path) {
    const int fd = ::fileno(file);
    size_t got = 0;
    while (got < size) {
        ssize_t n = ::pread(fd, out + got, size - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("read", path, errno);
        if (n == 0) throw Error("cannot read '" + path + "': the file ends early");
        got += static_cast<size_t>(n);
    }
}

std::FILE* create_file_replacing_links(const std::string& path) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
    int fd = retry([&] { return ::open(path.c_str(), flags, 0666); });
    if (fd < 0 && (errno == ELOOP || errno == EISDIR)) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ::unlink(path.c_str());
            fd = retry([&] { return ::open(path.c_str(), flags, 0666); });
        } else {
            errno = EISDIR;
        }
    }
    if (fd < 0) fail("write", path, errno);
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        int err = errno;
        ::close(fd);
        fail("write", path, err);
    }
    return f;
}

void rename_over(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) fail("write", to, errno);
}

void put_in_place(const std::string& from, const std::string& to) {
    // Whatever keeps the unlink from working (a folder, no right) makes the rename fail with it.
    ::unlink(to.c_str());
    rename_over(from, to);
}

bool remove_file(const std::string& path) noexcept { return ::unlink(path.c_str()) == 0; }

void write_file_atomic(const std::string& path, std::string_view bytes) {
    std::string temp;
    int fd = create_temp_beside(path, temp);
    if (!write_all(fd, bytes)) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        fail("write", path, err);
    }
    keep_permissions(fd, path);
    finish_temp(fd, temp, path);
}

void write_new_file(const std::string& path, std::string_view bytes) {
    // Written under a temporary name and then linked to its own, which fails when the name is
    // taken: a killed run never leaves a partial file that looks like a whole one.
    std::string temp;
    int fd = create_temp_beside(path, temp);
    // The descriptor (and with it the hold on the temporary file) is closed only once the file
    // has its name or is gone.
    int err = 0;
    if (!write_all(fd, bytes)) err = errno;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (!err && ::link(temp.c_str(), path.c_str()) != 0) {
        err = errno;
        // A file system without hard links: take the name unless something holds it already.
        if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0) {
                err = EEXIST;
            } else if (::rename(temp.c_str(), path.c_str()) == 0) {
                ::close(fd);
                sync_folder(path);
                return;
            } else {
                err = errno;
            }
        }
    }
    ::unlink(temp.c_str());
    if (::close(fd) != 0 && !err) err = errno;
    if (err) fail("write", path, err);
    sync_folder(path);
}

AtomicFile::AtomicFile(std::string final_path) : final_(std::move(final_path)) {
    hold_ = create_temp_beside(final_, temp_);
}

AtomicFile::~AtomicFile() {
    discard();
    release_hold();
}

void AtomicFile::release_hold() noexcept {
    if (hold_ >= 0) ::close(static_cast<int>(hold_));
    hold_ = -1;
}

void AtomicFile::commit() {
    if (!open_) throw Error("cannot write '" + final_ + "': already committed or discarded");
    open_ = false;
    int fd = retry([&] { return ::open(temp_.c_str(), O_RDWR | O_CLOEXEC); });
    if (fd < 0) {
        int err = errno;
        ::unlink(temp_.c_str());
        release_hold();
        fail("write", final_, err);
    }
    keep_permissions(fd, final_);
    try {
        finish_temp(fd, temp_, final_);
    } catch (...) {
        release_hold();
        throw;
    }
    release_hold();
}

bool AtomicFile::commit_as_new(const std::string& path) {
    if (!open_) throw Error("cannot write '" + path + "': already committed or discarded");
    int fd = retry([&] { return ::open(temp_.c_str(), O_RDWR | O_CLOEXEC); });
    int err = fd < 0 ? errno : 0;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (fd >= 0 && ::close(fd) != 0 && !err) err = errno;
    if (!err && ::link(temp_.c_str(), path.c_str()) != 0) {
        err = errno;
        if (err == EEXIST) return false;
        // A file system without hard links: take the name unless something holds it already.
        if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) == 0) return false;
            err = ::rename(temp_.c_str(), path.c_str()) == 0 ? 0 : errno;
            if (!err) {
                open_ = false;
                final_ = path;
                release_hold();
                sync_folder(path);
                return true;
            }
        }
    }
    open_ = false;
    ::unlink(temp_.c_str());
    release_hold();
    if (err) fail("write", path, err);
    final_ = path;
    sync_folder(path);
    return true;
}

void AtomicFile::discard() noexcept {
    if (!open_) return;
    open_ = false;
    ::unlink(temp_.c_str());
    release_hold();
}

bool remove_abandoned_file(const std::string& path) noexcept {
    // O_NONBLOCK: a FIFO standing at such a name must not stop the sweep.
    int fd = retry([&] { return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return false;
    bool removed = false;
    struct stat st {};
    // The lock is kept while removing: a writer that created the file but has not locked it yet
    // waits for it, then finds the name gone and makes another.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && retry([&] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 &&
        still_named(fd, path))
        removed = ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

void append_durably(const std::string& path, std::string_view text) {
    int fd = retry([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666); });
    if (fd < 0) fail("open", path, errno);
    int err = 0;
    if (!write_all(fd, text)) err = errno;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    if (err) fail("write", path, err);
}

namespace {
volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }
}  // namespace

void watch_stop_signals() {
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking read (a prompt) returns at once
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

bool stop_requested() { return g_stop != 0; }

// ---- temporary folders ----

std::string make_temp_dir(std::string_view prefix) {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string templ = (base / (std::string(prefix) + "XXXXXX")).string();
    if (!::mkdtemp(templ.data())) fail("create a temporary folder", templ, errno);
    return templ;
}

bool remove_tree(const std::string& path) noexcept {
    std::error_code ec;
    fs::remove_all(path, ec);
    return !ec;
}

// ---- resources ----

std::uint64_t peak_memory_kib() {
    struct rusage ru {};
    if (::getrusage(RUSAGE_SELF, &ru) != 0) return 0;
    return static_cast<std::uint64_t>(ru.ru_maxrss);
}

void release_free_memory() noexcept {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace igxl::util
