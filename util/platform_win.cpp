// Windows implementation of the platform layer. Text inside the program is UTF-8; every call into
// Windows takes and gives UTF-16 ("W" functions), so names such as D:\测试程序\Device A\ work
// whatever the system's ANSI code page is.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the headers below need its types.
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdlib>
#include <random>
#include <utility>

#include "util/error.h"
#include "util/platform.h"
#include "util/platform_win_detail.h"

namespace igxl::util {

namespace fs = std::filesystem;

namespace detail {

std::wstring widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) throw Error("not valid UTF-8 text: '" + std::string(utf8) + "'");
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                              nullptr, nullptr);
    return out;
}

// Quoting for the command line that CreateProcessW takes and the C runtime of the started
// program splits again: backslashes count only before a quote, and a quote inside an argument
// is escaped with one.
std::wstring quote_argument(std::wstring_view arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) return std::wstring(arg);
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    // Backslashes before the closing quote are doubled so that it stays a closing quote.
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring command_line(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const auto& a : argv) {
        if (!line.empty()) line.push_back(L' ');
        line += quote_argument(widen(a));
    }
    return line;
}

std::string error_text(unsigned long code) {
    wchar_t* buf = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS,
                               nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                               reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    if (n == 0 || !buf)  // no English text installed: the system's own language
        n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::string text = n && buf ? narrow(std::wstring_view(buf, n)) : "Windows error " + std::to_string(code);
    if (buf) ::LocalFree(buf);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

}  // namespace detail

using detail::error_text;
using detail::narrow;
using detail::widen;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, DWORD err) {
    throw Error("cannot " + what + " '" + path + "': " + error_text(err));
}

std::string random_suffix() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 gen{std::random_device{}() ^ ::GetCurrentProcessId()};
    std::string s(6, 'x');
    for (char& c : s) c = kChars[gen() % (sizeof kChars - 1)];
    return s;
}

// Closes a handle on every way out of a scope.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE handle) : h(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool ok() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    BOOL close() {
        BOOL r = TRUE;
        if (ok()) r = ::CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return r;
    }
};

// A temporary file is held by a handle open from its creation to its rename: the sweep of a later
// run opens a file exclusively before it removes it, which fails while any handle is open. The
// handle lets others read, write, rename and delete, so the writer can open the file by name and
// rename it into place while it is still held.
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Creates a new file "<final>.tmpXXXXXX" beside final_path, opened with access; temp receives its
// name. The handle returned holds it (see kHeldShare) from the moment it exists.
HANDLE create_temp_beside(const std::string& final_path, std::string& temp,
                          DWORD access = GENERIC_READ | GENERIC_WRITE) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = final_path + std::string(kTempFileInfix) + random_suffix();
        HANDLE h = ::CreateFileW(widen(temp).c_str(), access, kHeldShare, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        DWORD err = ::GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS)
            fail("create a temporary file beside", final_path, err);
    }
    fail("create a temporary file beside", final_path, ERROR_FILE_EXISTS);
}

bool write_all(HANDLE h, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, data.data(), chunk, &written, nullptr)) return false;
        data.remove_prefix(written);
    }
    return true;
}

// Puts a finished temporary file in place of target. An existing target is replaced with
// ReplaceFileW, which keeps its attributes and access rights; either way the target is the old
// file or the new one, and a target held open by another program (a report open in Excel)
// fails the call with the old file untouched. 0 or the Windows error code.
DWORD replace_with(const std::string& temp, const std::string& target) {
    const std::wstring wtemp = widen(temp), wtarget = widen(target);
    if (::GetFileAttributesW(wtarget.c_str()) != INVALID_FILE_ATTRIBUTES) {
        // A target another program holds open without letting it be deleted cannot be replaced:
        // say so before ReplaceFileW starts (some implementations leave a backup file behind).
        HANDLE probe = ::CreateFileW(wtarget.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (probe == INVALID_HANDLE_VALUE) {
            DWORD err = ::GetLastError();
            if (err != ERROR_FILE_NOT_FOUND) return err;
        } else {
            ::CloseHandle(probe);
        }
        if (::ReplaceFileW(wtarget.c_str(), wtemp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                           nullptr, nullptr))
            return 0;
        DWORD err = ::GetLastError();
        // Only a target that vanished in between is worth a second try with a plain move.
        if (err != ERROR_FILE_NOT_FOUND) return err;
    }
    if (::MoveFileExW(wtemp.c_str(), wtarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 0;
    return ::GetLastError();
}

// Puts temp in place of target while hold still holds it; should Windows refuse to rename a file
// that is open (a sharing violation), the hold is let go for the rename. 0 or the error code.
DWORD replace_held(Handle& hold, const std::string& temp, const std::string& target) {
    DWORD err = replace_with(temp, target);
    if (err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED || err == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
        hold.close();
        err = replace_with(temp, target);
    }
    return err;
}

// Flushes h (the temporary file temp), puts it in place of final_path and closes it; on failure
// removes temp and throws.
void finish_temp(Handle& h, const std::string& temp, const std::string& final_path) {
    DWORD err = 0;
    if (!::FlushFileBuffers(h.h)) err = ::GetLastError();
    if (!err) err = replace_held(h, temp, final_path);
    if (h.ok() && !h.close() && !err) err = ::GetLastError();
    if (err) {
        ::DeleteFileW(widen(temp).c_str());
        fail("write", final_path, err);
    }
}

}  // namespace

// ---- paths ----

fs::path path_from_utf8(std::string_view utf8) { return fs::path(widen(utf8)); }

std::string path_to_utf8(const fs::path& path) { return narrow(path.native()); }

std::string join_path(std::string_view folder, std::string_view name) {
    return path_to_utf8(path_from_utf8(folder) / path_from_utf8(name));
}

// ---- processes ----

int run_program(const std::vector<std::string>& argv, const std::string& stdout_path) {
    if (argv.empty()) throw Error("cannot run a program: no program named");
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle out(::CreateFileW(widen(stdout_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.ok()) fail("write", stdout_path, ::GetLastError());

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out.h;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    // No application name: Windows looks the first word up as a shell would (the program's own
    // folder, the current folder, the system folders, PATH; ".exe" added), without a shell.
    std::wstring line = detail::command_line(argv);
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        throw ProgramStartError(argv[0], error_text(::GetLastError()));
    out.close();
    Handle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0)
        throw Error("cannot wait for '" + argv[0] + "': " + error_text(::GetLastError()));
    DWORD code = 1;
    if (!::GetExitCodeProcess(pi.hProcess, &code))
        throw Error("cannot wait for '" + argv[0] + "': " + error_text(::GetLastError()));
    return static_cast<int>(code);
}

std::uint64_t process_id() { return ::GetCurrentProcessId(); }

namespace {
bool is_console(DWORD which) {
    DWORD mode = 0;
    HANDLE h = ::GetStdHandle(which);
    return h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode);
}
}  // namespace

bool stdout_is_terminal() { return is_console(STD_OUTPUT_HANDLE); }
bool stderr_is_terminal() { return is_console(STD_ERROR_HANDLE); }

namespace {
UINT g_console_code_page = 0;
void restore_console_code_page() {
    if (g_console_code_page) ::SetConsoleOutputCP(g_console_code_page);
}
}  // namespace

void prepare_console() {
    // Our texts are UTF-8 (the Chinese messages among them): the console shows them as such for
    // as long as we run, and gets its own code page back afterwards.
    if (!g_console_code_page && (is_console(STD_OUTPUT_HANDLE) || is_console(STD_ERROR_HANDLE))) {
        g_console_code_page = ::GetConsoleOutputCP();
        ::SetConsoleOutputCP(CP_UTF8);
        std::atexit(restore_console_code_page);
    }
    // The progress bar returns to the start of its line and clears it with the console's cursor
    // controls ("\r\033[K"), which Windows 10 understands once asked to.
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        HANDLE h = ::GetStdHandle(which);
        DWORD mode = 0;
        if (h && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode))
            ::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool glob_match(const std::string& pattern, const std::string& text) {
    // '*' any run, '?' one character, letters in either case; '[' stands for itself here.
    const std::wstring p = widen(pattern), t = widen(text);
    size_t pi = 0, ti = 0, star = std::wstring::npos, mark = 0;
    auto same = [](wchar_t a, wchar_t b) { return ::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(a))) == ::CharLowerW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(b))); };
    while (ti < t.size()) {
        if (pi < p.size() && (p[pi] == L'?' || same(p[pi], t[ti]))) {
            ++pi;
            ++ti;
        } else if (pi < p.size() && p[pi] == L'*') {
            star = pi++;
            mark = ti;
        } else if (star != std::wstring::npos) {
            pi = star + 1;
            ti = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == L'*') ++pi;
    return pi == p.size();
}

std::tm local_time(std::time_t t) {
    std::tm out{};
    ::localtime_s(&out, &t);
    return out;
}

// ---- shared libraries ----

LibraryHandle load_library(const std::string& path_or_name) {
    std::wstring w = widen(path_or_name);
    // A library named by path finds the DLLs it needs beside itself first.
    const bool has_folder = path_or_name.find_first_of("/\\") != std::string::npos;
    HMODULE h = ::LoadLibraryExW(w.c_str(), nullptr, has_folder ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    if (!h) throw Error("cannot load '" + path_or_name + "': " + error_text(::GetLastError()));
    return LibraryHandle{reinterpret_cast<void*>(h)};
}

void* library_symbol(LibraryHandle library, const std::string& name) {
    FARPROC sym = library ? ::GetProcAddress(static_cast<HMODULE>(library.native), name.c_str()) : nullptr;
    if (!sym) throw Error("symbol '" + name + "' not found");
    return reinterpret_cast<void*>(sym);
}

std::string shared_library_file_name(std::string_view base_name) { return std::string(base_name) + ".dll"; }

namespace {
std::string module_file_name(HMODULE module) {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return narrow(buf);
        }
        buf.resize(buf.size() * 2);
    }
}
}  // namespace

std::string module_path_of(const void* address) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module))
        return {};
    return module_file_name(module);
}

std::string executable_path() { return module_file_name(nullptr); }

// ---- files ----

std::FILE* open_file(const std::string& path, const char* mode) {
    try {
        return ::_wfopen(widen(path).c_str(), widen(mode).c_str());
    } catch (const Error&) {
        errno = EINVAL;
        return nullptr;
    }
}

void read_at(std::FILE* file, std::uint64_t offset, char* out, std::size_t size, const std::string& path) {
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(file)));
    if (h == INVALID_HANDLE_VALUE) throw Error("cannot read '" + path + "': not an open file");
    // ReadFile at an offset moves the handle's position on a synchronous handle: put it back so
    // the stream's own reading is not disturbed.
    LARGE_INTEGER zero{}, where{};
    ::SetFilePointerEx(h, zero, &where, FILE_CURRENT);
    size_t got = 0;
    DWORD err = 0;
    bool short_file = false;
    while (got < size) {
        OVERLAPPED ov{};
        const std::uint64_t at = offset + got;
        ov.Offset = static_cast<DWORD>(at & 0xffffffffu);
        ov.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        DWORD want = static_cast<DWORD>(std::min<size_t>(size - got, 1u << 30));
        if (!::ReadFile(h, out + got, want, &n, &ov)) {
            err = ::GetLastError();
            if (err == ERROR_HANDLE_EOF) {
                err = 0;
                short_file = true;
            }
            break;
        }
        if (n == 0) {
            short_file = true;
            break;
        }
        got += n;
    }
    ::SetFilePointerEx(h, where, nullptr, FILE_BEGIN);
    if (err) fail("read", path, err);
    if (short_file) throw Error("cannot read '" + path + "': the file ends early");
}

std::FILE* create_file_replacing_links(const std::string& path) {
    const std::wstring w = widen(path);
    // A symbolic link or junction at that name is removed, never followed.
    DWORD attrs = ::GetFileAttributesW(w.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY) ::RemoveDirectoryW(w.c_str());
        else ::DeleteFileW(w.c_str());
    }
    HANDLE h = ::CreateFileW(w.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) fail("write", path, ::GetLastError());
    int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        throw Error("cannot write '" + path + "': no file descriptor left");
    }
    std::FILE* f = ::_fdopen(fd, "wb");
    if (!f) {
        ::_close(fd);
        throw Error("cannot write '" + path + "': cannot open a stream on it");
    }
    return f;
}

void rename_over(const std::string& from, const std::string& to) {
    if (DWORD err = replace_with(from, to)) fail("write", to, err);
}

void put_in_place(const std::string& from, const std::string& to) { rename_over(from, to); }

bool remove_file(const std::string& path) noexcept {
    try {
        return ::DeleteFileW(widen(path).c_str()) != 0;
    } catch (...) {
        return false;
    }
}

void write_file_atomic(const std::string& path, std::string_view bytes) {
    std::string temp;
    Handle h(create_temp_beside(path, temp));
    if (!write_all(h.h, bytes)) {
        DWORD err = ::GetLastError();
        h.close();
        ::DeleteFileW(widen(temp).c_str());
        fail("write", path, err);
    }
    finish_temp(h, temp, path);
}

void write_new_file(const std::string& path, std::string_view bytes) {
    // Written under a temporary name and moved to its own without replacing: a name that is
    // taken fails the move, and a killed run never leaves a partial file under the real name.
    std::string temp;
    Handle h(create_temp_beside(path, temp));
    DWORD err = 0;
    if (!write_all(h.h, bytes)) err = ::GetLastError();
    if (!err && !::FlushFileBuffers(h.h)) err = ::GetLastError();
    // Moved while still held, unless Windows refuses to move an open file.
    auto move = [&] { return ::MoveFileExW(widen(temp).c_str(), widen(path).c_str(), MOVEFILE_WRITE_THROUGH); };
    if (!err && !move()) {
        err = ::GetLastError();
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED) {
            h.close();
            err = move() ? 0 : ::GetLastError();
        }
    }
    if (h.ok() && !h.close() && !err) err = ::GetLastError();
    if (err) {
        ::DeleteFileW(widen(temp).c_str());
        fail("write", path, err);
    }
}

AtomicFile::AtomicFile(std::string final_path) : final_(std::move(final_path)) {
    // Read access only: the writer opens the file by name for writing, with whatever sharing its
    // library asks for, and a handle that reads still blocks an exclusive open.
    hold_ = reinterpret_cast<std::intptr_t>(create_temp_beside(final_, temp_, GENERIC_READ));
}

AtomicFile::~AtomicFile() {
    discard();
    release_hold();
}

void AtomicFile::release_hold() noexcept {
    if (hold_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(hold_));
    hold_ = -1;
}

void AtomicFile::commit() {
    if (!open_) throw Error("cannot write '" + final_ + "': already committed or discarded");
    open_ = false;
    Handle hold(reinterpret_cast<HANDLE>(std::exchange(hold_, -1)));
    Handle h(::CreateFileW(widen(temp_).c_str(), GENERIC_READ | GENERIC_WRITE, kHeldShare, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD err = h.ok() ? 0 : ::GetLastError();
    if (!err && !::FlushFileBuffers(h.h)) err = ::GetLastError();
    if (h.ok() && !h.close() && !err) err = ::GetLastError();
    if (!err) err = replace_held(hold, temp_, final_);
    if (err) {
        ::DeleteFileW(widen(temp_).c_str());
        fail("write", final_, err);
    }
}

bool AtomicFile::commit_as_new(const std::string& path) {
    if (!open_) throw Error("cannot write '" + path + "': already committed or discarded");
    DWORD err = 0;
    {
        Handle h(::CreateFileW(widen(temp_).c_str(), GENERIC_READ | GENERIC_WRITE, kHeldShare, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.ok()) err = ::GetLastError();
        if (!err && !::FlushFileBuffers(h.h)) err = ::GetLastError();
        if (h.ok() && !h.close() && !err) err = ::GetLastError();
    }
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken, in one step, so
    // two runs finishing at once never take the same name.
    auto move = [&] { return ::MoveFileExW(widen(temp_).c_str(), widen(path).c_str(), MOVEFILE_WRITE_THROUGH); };
    bool moved = !err && move();
    if (!err && !moved) {
        err = ::GetLastError();
        // Windows refusing to move an open file: the hold is let go for the move.
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED) {
            release_hold();
            moved = move();
            err = moved ? 0 : ::GetLastError();
        }
    }
    if (moved) {
        open_ = false;
        final_ = path;
        release_hold();
        return true;
    }
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return false;
    open_ = false;
    ::DeleteFileW(widen(temp_).c_str());
    release_hold();
    fail("write", path, err);
}

void AtomicFile::discard() noexcept {
    if (!open_) return;
    open_ = false;
    remove_file(temp_);
    release_hold();
}

bool remove_abandoned_file(const std::string& path) noexcept {
    try {
        // No sharing at all: the open fails while anyone (a live writer's hold) has the file open,
        // and while it is open here nobody else can open it.
        Handle h(::CreateFileW(widen(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h.ok()) return false;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(h.h, &info) ||
            (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            return false;
        FILE_DISPOSITION_INFO dispose{};
        dispose.DeleteFile = TRUE;
        return ::SetFileInformationByHandle(h.h, FileDispositionInfo, &dispose, sizeof dispose) != 0;
    } catch (...) {
        return false;
    }
}

void append_durably(const std::string& path, std::string_view text) {
    // FILE_APPEND_DATA alone: every write lands at the end, whatever another writer did.
    Handle h(::CreateFileW(widen(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.ok()) fail("open", path, ::GetLastError());
    DWORD err = 0;
    if (!write_all(h.h, text)) err = ::GetLastError();
    if (!err && !::FlushFileBuffers(h.h)) err = ::GetLastError();
    if (!h.close() && !err) err = ::GetLastError();
    if (err) fail("write", path, err);
}

// ---- stop requests ----

namespace {
volatile LONG g_stop = 0;
BOOL WINAPI on_console_control(DWORD event) {
    // Ctrl-C and Ctrl-Break only raise the flag; the work in hand ends in order. Closing the
    // console or logging off keeps Windows' own handling (the process is ended).
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        ::InterlockedExchange(&g_stop, 1);
        return TRUE;
    }
    return FALSE;
}
}  // namespace

void watch_stop_signals() { ::SetConsoleCtrlHandler(on_console_control, TRUE); }

bool stop_requested() { return ::InterlockedCompareExchange(&g_stop, 0, 0) != 0; }

// ---- temporary folders ----

std::string make_temp_dir(std::string_view prefix) {
    // %TEMP% (or %TMP%, %USERPROFILE%, the Windows folder) as Windows itself decides.
    std::wstring base(MAX_PATH + 1, L'\0');
    DWORD n = ::GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    if (n == 0 || n > base.size()) fail("find the temporary folder", "%TEMP%", ::GetLastError());
    base.resize(n);
    const std::string folder = narrow(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + std::string(prefix) + random_suffix();
        if (::CreateDirectoryW(widen(path).c_str(), nullptr)) return path;
        DWORD err = ::GetLastError();
        if (err != ERROR_ALREADY_EXISTS) fail("create a temporary folder", path, err);
    }
    fail("create a temporary folder", folder, ERROR_ALREADY_EXISTS);
}

bool remove_tree(const std::string& path) noexcept {
    try {
        std::error_code ec;
        fs::remove_all(path_from_utf8(path), ec);
        return !ec;
    } catch (...) {
        return false;
    }
}

// ---- resources ----

std::uint64_t peak_memory_kib() {
    PROCESS_MEMORY_COUNTERS pmc{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc)) return 0;
    return static_cast<std::uint64_t>(pmc.PeakWorkingSetSize / 1024);
}

void release_free_memory() noexcept { ::_heapmin(); }

}  // namespace igxl::util
