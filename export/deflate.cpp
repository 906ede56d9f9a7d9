#include "export/deflate.h"

#include <zlib.h>

#include "export/vector_state.h"
#include "util/error.h"

#ifdef IGXL_HAVE_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#endif

namespace igxl::xlsx::writer::detail {

namespace {
enum Mode { kNoFlush, kFlushOpen, kFinish };
constexpr size_t kPiece = size_t(1) << 20;

using xlsx::detail::after_vector_code;
}  // namespace

#ifdef IGXL_HAVE_ISAL

struct Deflater::State {
    isal_zstream stream{};
    std::unique_ptr<uint8_t[]> level_buf{new uint8_t[ISAL_DEF_LVL1_DEFAULT]};
    bool done = false;
};

Deflater::Deflater() : state_(std::make_unique<State>()) {
    isal_deflate_init(&state_->stream);
    state_->stream.level = 1;
    state_->stream.level_buf = state_->level_buf.get();
    state_->stream.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    state_->stream.gzip_flag = IGZIP_DEFLATE;
}

void Deflater::run(std::string_view bytes, int mode) {
    if (state_->done) throw Error("deflate stream written after its end");
    isal_zstream& s = state_->stream;
    s.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data()));
    s.avail_in = static_cast<uint32_t>(bytes.size());
    s.flush = mode == kNoFlush ? NO_FLUSH : SYNC_FLUSH;
    s.end_of_stream = mode == kFinish ? 1 : 0;
    for (;;) {
        std::string& piece = room();
        s.next_out = reinterpret_cast<uint8_t*>(piece.data() + last_used_);
        s.avail_out = static_cast<uint32_t>(kPiece - last_used_);
        const int rc = isal_deflate(&s);
        after_vector_code();
        if (rc != COMP_OK) throw Error("deflate failed");
        out_size_ += kPiece - last_used_ - s.avail_out;
        last_used_ = kPiece - s.avail_out;
        if (s.avail_in > 0 || s.avail_out == 0) continue;
        if (mode == kFinish && s.internal_state.state != ZSTATE_END) continue;
        break;
    }
    if (mode != kNoFlush) {
        state_->done = true;
        // A small part keeps no empty room.
        out_.back().resize(last_used_);
        out_.back().shrink_to_fit();
        last_used_ = out_.back().size();
    }
}

#else

struct Deflater::State {
    z_stream stream{};
    bool done = false;
};

Deflater::Deflater() : state_(std::make_unique<State>()) {
    if (deflateInit2(&state_->stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("cannot start deflate");
}

void Deflater::run(std::string_view bytes, int mode) {
    if (state_->done) throw Error("deflate stream written after its end");
    z_stream& s = state_->stream;
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    s.avail_in = static_cast<uInt>(bytes.size());
    const int flush = mode == kNoFlush ? Z_NO_FLUSH : mode == kFlushOpen ? Z_SYNC_FLUSH : Z_FINISH;
    for (;;) {
        std::string& piece = room();
        s.next_out = reinterpret_cast<Bytef*>(piece.data() + last_used_);
        s.avail_out = static_cast<uInt>(kPiece - last_used_);
        const int rc = deflate(&s, flush);
        if (rc == Z_STREAM_ERROR) throw Error("deflate failed");
        out_size_ += kPiece - last_used_ - s.avail_out;
        last_used_ = kPiece - s.avail_out;
        if (mode == kFinish ? rc != Z_STREAM_END : (s.avail_in > 0 || s.avail_out == 0)) continue;
        break;
    }
    if (mode != kNoFlush) {
        state_->done = true;
        // A small part keeps no empty room.
        out_.back().resize(last_used_);
        out_.back().shrink_to_fit();
        last_used_ = out_.back().size();
    }
}

#endif

Deflater::~Deflater() {
#ifndef IGXL_HAVE_ISAL
    deflateEnd(&state_->stream);
#endif
}

std::string& Deflater::room() {
    if (out_.empty() || last_used_ >= kPiece) {
        // Made full size once (the bytes are written over by the compressor), not grown as it
        // fills.
        out_.emplace_back(kPiece, '\0');
        last_used_ = 0;
    }
    return out_.back();
}

std::vector<std::string> Deflater::take_out() {
    if (!out_.empty()) out_.back().resize(last_used_);
    out_size_ = 0;
    last_used_ = 0;
    return std::move(out_);
}

std::vector<std::string> Deflater::take_full() {
    std::vector<std::string> full;
    if (out_.size() < 2) return full;
    full.reserve(out_.size() - 1);
    for (std::size_t i = 0; i + 1 < out_.size(); ++i) {
        out_size_ -= out_[i].size();
        full.push_back(std::move(out_[i]));
    }
    out_.erase(out_.begin(), out_.end() - 1);
    return full;
}

std::uint64_t Deflater::out_size() const { return out_size_; }

void Deflater::write(std::string_view bytes) {
    if (bytes.empty()) return;
    crc_ = crc32_update(crc_, bytes);
    in_size_ += bytes.size();
    run(bytes, kNoFlush);
}

void Deflater::finish() { run({}, kFinish); }
void Deflater::flush_open() { run({}, kFlushOpen); }

std::uint32_t crc32_update(std::uint32_t crc, std::string_view bytes) {
#ifdef IGXL_HAVE_ISAL
    crc = crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    after_vector_code();
    return crc;
#else
    // zlib takes at most uInt bytes a call.
    while (!bytes.empty()) {
        const size_t n = std::min<size_t>(bytes.size(), 1u << 30);
        crc = static_cast<std::uint32_t>(
            ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n)));
        bytes.remove_prefix(n);
    }
    return crc;
#endif
}

std::uint32_t crc32_combine(std::uint32_t crc_a, std::uint32_t crc_b, std::uint64_t length_b) {
    // zlib's lengths are a long, 32 bits on Windows: a longer run is shifted over in steps
    // (combining with a zero CRC only shifts, the combination being linear).
    constexpr std::uint64_t kStep = std::uint64_t(1) << 30;
    uLong crc = crc_a;
    for (; length_b > kStep; length_b -= kStep) crc = ::crc32_combine(crc, 0, static_cast<z_off_t>(kStep));
    return static_cast<std::uint32_t>(::crc32_combine(crc, crc_b, static_cast<z_off_t>(length_b)));
}

CompressedPart compress_part(std::string_view bytes) {
    Deflater d;
    d.write(bytes);
    d.finish();
    return {d.take_out(), d.crc(), d.in_size()};
}

}  // namespace igxl::xlsx::writer::detail
