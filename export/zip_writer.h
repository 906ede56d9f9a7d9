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
    // An entry whose bytes come in runs from several places: begin() writes its local header,
    // write() then lays down exactly packed bytes.
    void begin(std::string_view name, std::uint32_t crc, std::uint64_t size, std::uint64_t packed,
               bool deflated = true);
    void write(std::string_view bytes) { put(bytes); }
    // The central directory; the file stays open for the caller to close.
    void finish();

    const std::vector<std::string>& names() const { return names_; }

private:
    void put(std::string_view bytes);
    void check_entry_end() const;

    struct Entry {
        std::string name;
        std::uint32_t crc, packed, size, offset;
        std::uint16_t method;
    };
    std::FILE* file_;
    std::string path_;
    std::uint64_t offset_ = 0;
    std::uint64_t entry_end_ = 0;  // where the open entry's bytes end
    std::vector<Entry> entries_;
    std::vector<std::string> names_;
};

}  // namespace igxl::xlsx::writer::detail
