// The ZIP container of a workbook package, written in one pass: each entry's local header, its
// already compressed bytes, and at the end the central directory. No ZIP64: a package part or the
// whole file reaching 4 GiB is refused with an error, never written damaged.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::xlsx::writer::detail {

class ZipWriter {
public:
    // Writes to an open file; path names it in errors.
    ZipWriter(std::FILE* file, std::string path) : file_(file), path_(std::move(path)) {}

    // One entry of raw-deflate pieces laid end to end (deflated) or of bytes stored as they are.
    void add(std::string_view name, const std::vector<std::string>& pieces, std::uint32_t crc,
             std::uint64_t size, bool deflated = true);
    // The central directory; the file stays open for the caller to close.
    void finish();

    const std::vector<std::string>& names() const { return names_; }

private:
    void put(std::string_view bytes);

    struct Entry {
        std::string name;
        std::uint32_t crc, packed, size, offset;
        std::uint16_t method;
    };
    std::FILE* file_;
    std::string path_;
    std::uint64_t offset_ = 0;
    std::vector<Entry> entries_;
    std::vector<std::string> names_;
};

}  // namespace igxl::xlsx::writer::detail
