// The package layer: the part index, plain member streams and the fast inflater.
#include "export/xlsx_package.h"
#include "export/vector_state.h"

#ifdef IGXL_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <algorithm>

#include "util/lines.h"

namespace igxl::detail {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

std::string normalize_part(std::string_view p) {
    std::string s(p);
    std::replace(s.begin(), s.end(), '\\', '/');
    std::vector<std::string> segs;
    size_t i = 0;
    while (i <= s.size()) {
        size_t j = s.find('/', i);
        if (j == std::string::npos) j = s.size();
        std::string seg = s.substr(i, j - i);
        if (seg == "..") {
            if (!segs.empty()) segs.pop_back();
        } else if (!seg.empty() && seg != ".") {
            segs.push_back(std::move(seg));
        }
        i = j + 1;
    }
    std::string out;
    for (auto& seg : segs) {
        if (!out.empty()) out += '/';
        out += seg;
    }
    return out;
}

std::string dir_of(const std::string& part) {
    size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// A member as libzip hands it out (stored members, and anything the inflater does not take).
class PartStream : public ByteSource {
public:
    PartStream(const Package& pkg, zip_uint64_t idx, std::string part) : pkg_(pkg), part_(std::move(part)) {
        f_ = zip_fopen_index(pkg.za_, idx, 0);
        if (!f_) pkg.fail(part_, zip_get_error(pkg.za_));
    }
    ~PartStream() override {
        if (f_) zip_fclose(f_);
    }
    size_t read(char* buf, size_t n) override {
        zip_int64_t got = zip_fread(f_, buf, n);
        if (got < 0) pkg_.fail(part_, zip_file_get_error(f_));
        pkg_.count(static_cast<uint64_t>(got));
        return static_cast<size_t>(got);
    }

private:
    const Package& pkg_;
    std::string part_;
    zip_file_t* f_ = nullptr;
};

// Deflated members are inflated here rather than by libzip: ISA-L's inflate is several
// times faster than zlib's, and this is the hot path of every check. Size and CRC are still
// verified at the end of the member.
class PartInflater : public ByteSource {
public:
    PartInflater(const Package& pkg, zip_uint64_t idx, const zip_stat_t& st, std::string part)
        : pkg_(pkg), part_(std::move(part)), crc_(st.crc), size_(st.size), in_(size_t(1) << 17) {
        f_ = zip_fopen_index(pkg.za_, idx, ZIP_FL_COMPRESSED);
        if (!f_) pkg.fail(part_, zip_get_error(pkg.za_));
#ifdef IGXL_HAVE_ISAL
        isal_inflate_init(&st_);
        st_.crc_flag = ISAL_GZIP_NO_HDR;
#else
        if (inflateInit2(&zs_, -15) != Z_OK) pkg.fail(part_, nullptr);
#endif
    }
    ~PartInflater() override {
#ifndef IGXL_HAVE_ISAL
        inflateEnd(&zs_);
#endif
        if (f_) zip_fclose(f_);
    }
    size_t read(char* buf, size_t n) override {
        if (n > (size_t(1) << 30)) n = size_t(1) << 30;
        while (!done_) {
#ifdef IGXL_HAVE_ISAL
            if (st_.avail_in == 0 && !in_eof_) {
                st_.next_in = in_.data();
                st_.avail_in = static_cast<uint32_t>(fill());
            }
            st_.next_out = reinterpret_cast<uint8_t*>(buf);
            st_.avail_out = static_cast<uint32_t>(n);
            int rc = isal_inflate(&st_);
            xlsx::detail::after_vector_code();
            if (rc != ISAL_DECOMP_OK) damaged("inflate failed");
            size_t got = n - st_.avail_out;
            total_ += got;
            if (st_.block_state == ISAL_BLOCK_FINISH) finish(st_.crc);
            bool starved = st_.avail_in == 0 && in_eof_;
#else
            if (zs_.avail_in == 0 && !in_eof_) {
                zs_.next_in = in_.data();
                zs_.avail_in = static_cast<uInt>(fill());
            }
            zs_.next_out = reinterpret_cast<Bytef*>(buf);
            zs_.avail_out = static_cast<uInt>(n);
            int rc = inflate(&zs_, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) damaged("inflate failed");
            size_t got = n - zs_.avail_out;
            total_ += got;
            crc_run_ = static_cast<uint32_t>(crc32(crc_run_, reinterpret_cast<Bytef*>(buf), static_cast<uInt>(got)));
            if (rc == Z_STREAM_END) finish(crc_run_);
            bool starved = zs_.avail_in == 0 && in_eof_;
#endif
            if (got > 0) {
                pkg_.count(got);
                return got;
            }
            if (starved && !done_) damaged("the compressed data ends early");
        }
        return 0;
    }

private:
    size_t fill() {
        zip_int64_t got = zip_fread(f_, in_.data(), in_.size());
        if (got < 0) pkg_.fail(part_, zip_file_get_error(f_));
        if (got == 0) in_eof_ = true;
        return static_cast<size_t>(got);
    }
    void finish(uint32_t crc) {
        done_ = true;
        if (crc != crc_) damaged("CRC error");
        if (total_ != size_) damaged("the inflated size differs from the directory's");
    }
    [[noreturn]] void damaged(const char* why) const {
        throw Error("cannot read workbook '" + pkg_.path() + "': part '" + part_ + "': " + why);
    }
    const Package& pkg_;
    std::string part_;
    uint32_t crc_;
    uint64_t size_, total_ = 0;
    std::vector<uint8_t> in_;
    zip_file_t* f_ = nullptr;
    bool in_eof_ = false, done_ = false;
#ifdef IGXL_HAVE_ISAL
    inflate_state st_;
#else
    z_stream zs_ = {};
    uint32_t crc_run_ = 0;
#endif
};

std::string zip_error_text(int code) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, code);
    std::string text = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    return text;
}

Package::Package(const Package& other, std::atomic<uint64_t>& shared)
    : path_(other.path_), index_(other.index_), max_unpacked_(other.max_unpacked_), shared_(&shared) {
    int err = 0;
    za_ = zip_open(path_.c_str(), ZIP_RDONLY, &err);
    if (!za_) {
        throw Error("cannot read workbook '" + path_ + "': " + zip_error_text(err));
    }
    // The index names entries by number: a file replaced since the first handle was opened
    // must not be read through it.
    if (zip_get_num_entries(za_, 0) != zip_get_num_entries(other.za_, 0))
        throw Error("cannot read workbook '" + path_ + "': it changed while it was read");
}

Package::Package(const std::string& path, uint64_t max_unpacked) : path_(path), max_unpacked_(max_unpacked) {
    if (!util::path_exists(path)) throw FileNotFoundError(path);
    if (util::is_directory(path)) throw BadInputError(path, "'" + path + "' is a folder, not a workbook");
    int err = 0;
    za_ = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (!za_) {
        if (err == ZIP_ER_NOZIP) {
            std::string head = util::read_file(path).substr(0, 8);
            if (head == std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
                throw BadInputError(path, "cannot read workbook '" + path +
                            "': it is encrypted (password-protected) or a legacy .xls file; "
                            "save it as an unprotected .xlsx or .xlsm");
            throw BadInputError(path, "cannot read workbook '" + path + "': not a ZIP package (not an .xlsx/.xlsm file)");
        }
        throw BadInputError(path, "cannot read workbook '" + path + "': " + zip_error_text(err));
    }
    zip_int64_t n = zip_get_num_entries(za_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(za_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (!name) continue;
        // Part names are case-insensitive; some writers use backslashes.
        index_.emplace(lower(normalize_part(name)), static_cast<zip_uint64_t>(i));
    }
}

Package::~Package() {
    if (za_) zip_discard(za_);
}

bool Package::find(const std::string& part, zip_uint64_t& idx) const {
    auto it = index_.find(lower(normalize_part(part)));
    if (it == index_.end()) return false;
    idx = it->second;
    return true;
}

uint64_t Package::packed_size(const std::string& part) const {
    zip_uint64_t idx;
    zip_stat_t st;
    if (!find(part, idx) || zip_stat_index(za_, idx, 0, &st) != 0 || !(st.valid & ZIP_STAT_COMP_SIZE)) return 0;
    return st.comp_size;
}

std::unique_ptr<ByteSource> Package::open(const std::string& part) const {
    zip_uint64_t idx;
    if (!find(part, idx)) throw Error("cannot read workbook '" + path_ + "': part '" + part + "' is missing");
    zip_stat_t st;
    // A part that says it is larger than what is left is refused before it is read.
    const uint64_t used = shared_ ? shared_->load(std::memory_order_relaxed) : unpacked_;
    if (zip_stat_index(za_, idx, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
        st.size > max_unpacked_ - std::min(used, max_unpacked_))
        too_large();
    if (zip_stat_index(za_, idx, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_METHOD) && (st.valid & ZIP_STAT_CRC) &&
        (st.valid & ZIP_STAT_SIZE) && st.comp_method == ZIP_CM_DEFLATE &&
        (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE))
        return std::make_unique<PartInflater>(*this, idx, st, part);
    return std::make_unique<PartStream>(*this, idx, part);
}

void Package::fail(const std::string& part, zip_error_t* ze) const {
    std::string why = ze ? zip_error_strerror(ze) : "read error";
    if (ze && zip_error_code_zip(ze) == ZIP_ER_NOPASSWD) why = "the part is encrypted (password-protected workbook)";
    throw Error("cannot read workbook '" + path_ + "': part '" + part + "': " + why);
}

void Package::too_large() const {
    throw BadInputError(path_, "cannot read workbook '" + path_ + "': it unpacks to more than " + limit_text(max_unpacked_) +
                                   " (raise the limit with --max-unpacked if the program really is that large)");
}

void Package::drain(ByteSource& s) {
    std::vector<char> rest(size_t(1) << 16);
    while (s.read(rest.data(), rest.size()) > 0) {
    }
}

}  // namespace igxl::detail
