// The platform layer: every call into the operating system goes through here, so the rest of the
// code base builds unchanged on another OS. Paths are UTF-8 text everywhere; an implementation
// converts them to the OS's own form at the call. Failures throw igxl::Error naming the path and
// the OS's reason. Nothing here depends on POSIX or Windows types.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/error.h"

namespace igxl::util {

// ---- paths ----
// A filesystem path from UTF-8 text and back, whatever the OS's native path encoding.
std::filesystem::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const std::filesystem::path& path);
// folder / name, both UTF-8, joined as the OS joins paths; the result in UTF-8.
std::string join_path(std::string_view folder, std::string_view name);

// ---- processes ----
// Starts program with the given arguments (argv[0] included, as the program sees it; a bare
// name is looked up on the search path), no shell in between, standard output written to
// stdout_path (created or truncated), and waits for it. Returns the exit status; a program
// ended by a signal reports 128 + the signal's number, as a shell would. Throws Error when
// the program cannot be started or the output file cannot be created.
int run_program(const std::vector<std::string>& argv, const std::string& stdout_path);

// The program could not be started; reason() is the OS's word for why ("No such file or directory").
class ProgramStartError : public Error {
public:
    ProgramStartError(const std::string& program, std::string reason)
        : Error("cannot run '" + program + "': " + reason), reason_(std::move(reason)) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// Number of the running process (temporary names in tests and tools).
std::uint64_t process_id();

// True when standard output / standard error is a terminal (progress bars draw only there).
bool stdout_is_terminal();
bool stderr_is_terminal();

// Readies the console, when there is one, for what a command line writes: UTF-8 text (the Chinese
// messages) and the cursor controls the progress bar uses. The hosts call it first thing; on
// POSIX terminals there is nothing to do.
void prepare_console();

// Local time of t, as std::localtime but safe to call from several threads.
std::tm local_time(std::time_t t);

// ---- shared libraries ----
// An opaque handle to a loaded library; the library stays loaded for the life of the process,
// because objects and exceptions it creates may outlive any one call.
struct LibraryHandle {
    void* native = nullptr;
    explicit operator bool() const { return native != nullptr; }
};

// Loads a library by path, or by bare file name through the OS's library search. Throws
// Error with the loader's reason.
LibraryHandle load_library(const std::string& path_or_name);
// Address of an exported symbol; throws Error when the library does not export it.
void* library_symbol(LibraryHandle library, const std::string& name);
// File name of a library as the OS spells it: "Tessaly" -> "libTessaly.so" (or "Tessaly.dll").
std::string shared_library_file_name(std::string_view base_name);

// Full path of the executable or library whose code holds address (empty when it cannot be told).
std::string module_path_of(const void* address);
// Full path of the running program (empty when it cannot be told).
std::string executable_path();

// ---- files ----
// Opens a file as std::fopen does, the path given in UTF-8. Returns nullptr on failure (errno set).
std::FILE* open_file(const std::string& path, const char* mode);

// Reads exactly size bytes at offset of an open file without moving its position; throws Error
// (path named) on a read error or a short file.
void read_at(std::FILE* file, std::uint64_t offset, char* out, std::size_t size, const std::string& path);

// Opens path for writing as a fresh regular file (created, or truncated). A symbolic link standing
// at that name is removed, never followed, so a hostile archive cannot redirect a write. Throws Error.
std::FILE* create_file_replacing_links(const std::string& path);

// Renames from over to atomically: the target is the old file or the new one, never neither.
// Throws Error.
void rename_over(const std::string& from, const std::string& to);

// Puts the finished file from in place of to, for output whose old file is to go anyway. Not
// atomic: the old file is removed first, since on ext4 a rename over an existing file makes the
// kernel allocate and start writing the new file's blocks at once, which costs more than writing
// them did. A stop in between leaves the new file under its own name. Throws Error.
void put_in_place(const std::string& from, const std::string& to);

// Removes a file; true when it existed and was removed. Never throws.
bool remove_file(const std::string& path) noexcept;

// Writes bytes to path atomically: a temporary file in the same folder is written, flushed to
// disk and renamed over path only when complete. An existing file keeps its permissions; on any
// failure (a full disk, say) the old file stays as it was and nothing is left under the final or
// the temporary name. Throws Error.
void write_file_atomic(const std::string& path, std::string_view bytes);

// Writes bytes to a new file; fails when path already exists (a backup must never overwrite an
// older one). Written whole or not at all. Throws Error.
void write_new_file(const std::string& path, std::string_view bytes);

// For writers that want a file name to write to (a spreadsheet library, say): a temporary file
// beside the final path that takes the final name only on commit(). Destroyed uncommitted, it
// removes the temporary file, so a failed write leaves nothing under either name. The object holds
// the temporary file (see remove_abandoned_file) for its whole life, whoever else opens it by name.
class AtomicFile {
public:
    explicit AtomicFile(std::string final_path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Where the writer writes; an empty file exists there until commit or discard.
    const std::string& temp_path() const { return temp_; }
    const std::string& final_path() const { return final_; }
    // Flushes the written file to disk, gives it the permissions a file at the final path has (or
    // the usual ones for a new file) and renames it into place. Throws Error (the temporary file
    // removed).
    void commit();
    // As commit(), but never replaces a file: when a file already stands at path the written
    // file stays uncommitted and false is returned, so the caller can try another name. Throws
    // Error on any other failure (the temporary file removed).
    bool commit_as_new(const std::string& path);
    // Removes the temporary file (done by the destructor too).
    void discard() noexcept;

private:
    void release_hold() noexcept;
    std::string final_, temp_;
    bool open_ = true;
    std::intptr_t hold_ = -1;  // the OS's descriptor or handle that marks the file as being written
};

// Names of temporary files this layer makes beside a final path: "<final name>.tmp" and six
// characters. Lets a later run recognise what a killed predecessor left.
inline constexpr std::string_view kTempFileInfix = ".tmp";
bool is_temp_file_of(std::string_view file_name, std::string_view final_name);
// The final name a temporary file name stands for, its ".tmpXXXXXX" endings taken off (a scratch
// file beside a report's temporary file has two); empty when file_name is no temporary file name.
std::string final_name_of_temp(std::string_view file_name);

// Every temporary file above is held by its writer from the moment it is created until it is
// renamed into place or removed (POSIX: an exclusive flock on a descriptor kept open; Windows: a
// handle kept open, which an exclusive open cannot get past). remove_abandoned_file removes path
// only when nobody holds it, i.e. the run that wrote it is gone (killed, or the machine lost
// power): a file a live run is writing right now, in this process or another, is left alone.
// True when it was removed. Never throws.
bool remove_abandoned_file(const std::string& path) noexcept;

// Removes from folder the temporary files killed runs left: each whose final name (see
// final_name_of_temp) ours() accepts and that no live writer holds. Never descends into
// subfolders. Returns the removed files' paths in name order. Never throws.
std::vector<std::string> remove_abandoned_temp_files(const std::string& folder,
                                                     const std::function<bool(std::string_view final_name)>& ours);

// ---- temporary folders ----
// Makes a new empty folder "<prefix>XXXXXX" in the system's temporary folder; returns its path.
std::string make_temp_dir(std::string_view prefix);
// Removes a folder and all it holds; false when something could not be removed. Never throws.
bool remove_tree(const std::string& path) noexcept;

// A temporary folder removed with everything in it when the owner goes out of scope.
class TempDir {
public:
    explicit TempDir(std::string_view prefix) : path_(make_temp_dir(prefix)) {}
    ~TempDir() {
        if (!path_.empty()) remove_tree(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Keeps the folder: the caller owns it from now on.
    std::string release() { return std::exchange(path_, {}); }

private:
    std::string path_;
};

// Appends text to path (created when missing) and flushes it to the disk before returning, so the
// line survives the process being killed right after (a journal). Throws Error.
void append_durably(const std::string& path, std::string_view text);

// ---- stop requests ----
// From watch_stop_signals() on, SIGINT and SIGTERM (Ctrl-C) only set a flag: long work asks
// stop_requested() between steps, finishes the step in hand and ends in order.
void watch_stop_signals();
bool stop_requested();
// Exit status of a run ended by such a request, as a shell reports SIGINT.
inline constexpr int kStoppedStatus = 130;

// ---- resources ----
// Largest resident memory this process has used, in KiB (0 when it cannot be told).
std::uint64_t peak_memory_kib();
// Hands memory the allocator holds free back to the system (a long run's freed parts would
// otherwise stay resident); nothing where the allocator offers no such call.
void release_free_memory() noexcept;

}  // namespace igxl::util
