// The MS-OVBA decompression: a signature byte, then chunks of at most 4096 output bytes, each
// either stored raw or as flag bytes with literals and copy tokens that refer back into the
// chunk's own output. Every length and offset is checked against what is really there.
#include "export/vba_project.h"
#include "util/error.h"

namespace igxl::vba {

namespace {

constexpr size_t kChunk = 4096;

[[noreturn]] void broken(const std::string& what, size_t at, const std::string& why) {
    throw Error(what + ": compressed data broken at byte " + std::to_string(at) + ": " + why);
}

}  // namespace

std::string decompress(std::string_view data, const std::string& what, size_t max_out) {
    if (data.empty() || static_cast<unsigned char>(data[0]) != 0x01)
        broken(what, 0, "expected the signature byte 0x01");
    std::string out;
    size_t pos = 1;
    while (pos < data.size()) {
        if (data.size() - pos < 2) broken(what, pos, "a chunk header needs 2 bytes, 1 is left");
        unsigned header = static_cast<unsigned char>(data[pos]) | static_cast<unsigned char>(data[pos + 1]) << 8;
        size_t size = (header & 0x0FFF) + 3;  // the chunk with its header
        if (((header >> 12) & 0x7) != 0x3) broken(what, pos, "expected a chunk header with signature bits 011");
        if (size > data.size() - pos)
            broken(what, pos,
                   "the chunk claims " + std::to_string(size) + " bytes, " + std::to_string(data.size() - pos) + " are left");
        const size_t end = pos + size;
        const size_t start = out.size();
        pos += 2;
        if (!(header & 0x8000)) {
            // Stored raw: always a full 4096 bytes.
            if (size != kChunk + 2) broken(what, pos - 2, "a raw chunk must hold 4096 bytes");
            out.append(data.substr(pos, kChunk));
            pos = end;
        } else {
            while (pos < end) {
                unsigned flags = static_cast<unsigned char>(data[pos++]);
                for (int bit = 0; bit < 8 && pos < end; ++bit, flags >>= 1) {
                    if (!(flags & 1)) {
                        out.push_back(data[pos++]);
                    } else {
                        if (end - pos < 2) broken(what, pos, "a copy token needs 2 bytes, 1 is left in the chunk");
                        unsigned token = static_cast<unsigned char>(data[pos]) |
                                         static_cast<unsigned char>(data[pos + 1]) << 8;
                        size_t done = out.size() - start;
                        unsigned bits = 4;
                        while ((size_t(1) << bits) < done) ++bits;
                        size_t length = (token & (0xFFFFu >> bits)) + 3;
                        size_t offset = (token >> (16 - bits)) + 1;
                        if (offset > done)
                            broken(what, pos, "a copy token reaches " + std::to_string(offset) + " bytes back, only " +
                                                  std::to_string(done) + " are decompressed in the chunk");
                        if (done + length > kChunk) broken(what, pos, "a copy token runs past the 4096 bytes of its chunk");
                        for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
                        pos += 2;
                    }
                    if (out.size() - start > kChunk) broken(what, pos, "a chunk decompresses to more than 4096 bytes");
                }
            }
        }
        if (out.size() > max_out) broken(what, pos, "the text would exceed " + std::to_string(max_out) + " bytes");
    }
    return out;
}

}  // namespace igxl::vba
