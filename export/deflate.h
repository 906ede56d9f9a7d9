// Raw deflate of a part's XML into memory, and the CRC-32 a ZIP entry carries. ISA-L level 1
// when it is available (several times faster than zlib for the same size within a few per cent),
// zlib level 1 otherwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace igxl::xlsx::writer::detail {

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Compresses bytes onto out(); the CRC and size of what came in are kept as it goes.
    void write(std::string_view bytes);
    // Ends the stream with its final block (finish) or with a byte-aligned non-final one
    // (flush_open): a stream flushed open can be followed by another deflate stream's bytes, and
    // the two read as one. No write after either.
    void finish();
    void flush_open();

    // The compressed bytes, in pieces of at most 1 MiB laid end to end: a large sheet's output
    // grows without being copied or held at twice its size.
    std::vector<std::string> take_out();
    // The pieces already full (all but the one being filled), handed over to be stored elsewhere.
    std::vector<std::string> take_full();
    std::uint64_t out_size() const;
    std::uint32_t crc() const { return crc_; }
    std::uint64_t in_size() const { return in_size_; }

private:
    void run(std::string_view bytes, int mode);

    struct State;
    std::unique_ptr<State> state_;
    // Room for at least one more byte at the end of out_.
    std::string& room();
    // The last piece is made full size once and filled up to last_used_; the others are full.
    std::vector<std::string> out_;
    std::size_t last_used_ = 0;
    std::uint64_t out_size_ = 0;
    std::uint32_t crc_ = 0;
    std::uint64_t in_size_ = 0;
};

std::uint32_t crc32_update(std::uint32_t crc, std::string_view bytes);
// The CRC of A followed by B from the CRCs of both and B's length.
std::uint32_t crc32_combine(std::uint32_t crc_a, std::uint32_t crc_b, std::uint64_t length_b);

// One part compressed whole.
struct CompressedPart {
    std::vector<std::string> data;
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
};
CompressedPart compress_part(std::string_view bytes);

}  // namespace igxl::xlsx::writer::detail
