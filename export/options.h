// Limits of one export. A packed program or workbook past one of them is refused with an error
// naming the file and the limit, before it can fill the disk or the memory.
#pragma once
#include <cstdint>
#include <string>

namespace igxl {

struct ExportOptions {
    // Bytes one export may unpack: the members of an archive, or the parts of a workbook.
    uint64_t max_unpacked = uint64_t(2) << 30;
    // Files in one archive (a test program holds a few hundred sheets and modules).
    uint64_t max_members = 20000;
    // Bytes in one line of a sheet text file (a row of 16,384 fields of 500 characters fits).
    uint64_t max_line_length = uint64_t(8) << 20;
    // Threads that write the sheets of a workbook at once; 0 lets the machine decide (at most 4).
    unsigned threads = 0;
};

// A limit as messages show it: "2 GB", "8 MB", else bytes.
inline std::string limit_text(uint64_t bytes) {
    constexpr uint64_t kMB = uint64_t(1) << 20, kGB = uint64_t(1) << 30;
    if (bytes >= kGB && bytes % kGB == 0) return std::to_string(bytes / kGB) + " GB";
    if (bytes >= kMB && bytes % kMB == 0) return std::to_string(bytes / kMB) + " MB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace igxl
