#include "export/zip_writer.h"

#include "util/error.h"

namespace igxl::xlsx::writer::detail {

namespace {

constexpr std::uint64_t kLimit = 0xFFFFFFFFull;
// 1980-01-01 00:00, the earliest time a ZIP entry can carry: packages built from the same rows
// are byte for byte the same.
constexpr std::uint16_t kDosDate = (1 << 5) | 1;

void le16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void le32(std::string& s, std::uint32_t v) {
    le16(s, v & 0xFFFF);
    le16(s, v >> 16);
}

}  // namespace

void ZipWriter::put(std::string_view bytes) {
    if (bytes.empty()) return;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        throw Error("cannot write '" + path_ + "': the disk may be full");
    offset_ += bytes.size();
}

void ZipWriter::add(std::string_view name, const std::vector<std::string>& pieces, std::uint32_t crc,
                    std::uint64_t size, bool deflated) {
    std::uint64_t packed = 0;
    for (const std::string& p : pieces) packed += p.size();
    begin(name, crc, size, packed, deflated);
    for (const std::string& p : pieces) put(p);
}

void ZipWriter::check_entry_end() const {
    if (offset_ != entry_end_)
        throw Error("cannot write '" + path_ + "': the part " + (entries_.empty() ? std::string() : entries_.back().name) +
                    " came out at another size than announced");
}

void ZipWriter::begin(std::string_view name, std::uint32_t crc, std::uint64_t size, std::uint64_t packed,
                      bool deflated) {
    check_entry_end();
    if (size > kLimit || packed > kLimit || offset_ > kLimit)
        throw Error("cannot write '" + path_ + "': the part " + std::string(name) + " passes 4 GiB");
    Entry e{std::string(name), crc, static_cast<std::uint32_t>(packed), static_cast<std::uint32_t>(size),
            static_cast<std::uint32_t>(offset_), static_cast<std::uint16_t>(deflated ? 8 : 0)};
    std::string h;
    le32(h, 0x04034b50);
    le16(h, 20);  // version needed: deflate
    le16(h, 0);   // flags
    le16(h, e.method);
    le16(h, 0);
    le16(h, kDosDate);
    le32(h, e.crc);
    le32(h, e.packed);
    le32(h, e.size);
    le16(h, static_cast<std::uint32_t>(e.name.size()));
    le16(h, 0);
    h += e.name;
    put(h);
    entry_end_ = offset_ + packed;
    entries_.push_back(std::move(e));
    names_.emplace_back(name);
}

void ZipWriter::finish() {
    check_entry_end();
    if (entries_.size() > 0xFFFF) throw Error("cannot write '" + path_ + "': too many parts");
    const std::uint64_t start = offset_;
    std::string d;
    for (const Entry& e : entries_) {
        le32(d, 0x02014b50);
        le16(d, 20);  // made by: MS-DOS attributes, version 2.0
        le16(d, 20);
        le16(d, 0);
        le16(d, e.method);
        le16(d, 0);
        le16(d, kDosDate);
        le32(d, e.crc);
        le32(d, e.packed);
        le32(d, e.size);
        le16(d, static_cast<std::uint32_t>(e.name.size()));
        le16(d, 0);  // extra
        le16(d, 0);  // comment
        le16(d, 0);  // disk
        le16(d, 0);  // internal attributes
        le32(d, 0);  // external attributes
        le32(d, e.offset);
        d += e.name;
    }
    const std::uint64_t directory_size = d.size();
    if (start + directory_size > kLimit) throw Error("cannot write '" + path_ + "': the package passes 4 GiB");
    le32(d, 0x06054b50);
    le16(d, 0);
    le16(d, 0);
    le16(d, static_cast<std::uint32_t>(entries_.size()));
    le16(d, static_cast<std::uint32_t>(entries_.size()));
    le32(d, static_cast<std::uint32_t>(directory_size));
    le32(d, static_cast<std::uint32_t>(start));
    le16(d, 0);
    put(d);
}

}  // namespace igxl::xlsx::writer::detail
