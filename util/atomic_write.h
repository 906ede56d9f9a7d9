// Writing files so that a reader (or a run that was killed) never sees half of one: the data goes
// to a temporary file in the same folder, which is renamed into place only when complete.
#pragma once
#include <string>
#include <string_view>

namespace igxl::util {

// The marker in the names of our temporary files: "<final name>.tmp" + six characters.
inline constexpr std::string_view kTempMarker = ".tmp";

// Replaces (or creates) path with data atomically; an existing file keeps its permission bits.
// Throws Error with the system's reason; on failure nothing is left under a temporary name and
// the file at path is as it was.
void replace_file_atomically(const std::string& path, std::string_view data);

// Creates path with data atomically; fails (Error) when path exists, so an older file of that
// name is never replaced.
void create_file_atomically(const std::string& path, std::string_view data);

// Appends text to path (created when missing) and flushes it to the disk before returning.
void append_durably(const std::string& path, std::string_view text);

// True when name looks like one of our temporary files for final_name ("<final_name>.tmpXXXXXX").
bool is_temp_file_of(std::string_view name, std::string_view final_name);

}  // namespace igxl::util
