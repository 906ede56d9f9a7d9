// The package layer of the XLSX reader: the ZIP members of a workbook found by part name and
// streamed, deflated ones through our own inflater, into the XML tokenizer.
#pragma once
#include <zip.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "export/options.h"
#include "export/xml_scan.h"
#include "util/error.h"

namespace igxl::detail {

// A part path inside the package: forward slashes, no leading slash, '.' and '..' resolved.
std::string normalize_part(std::string_view p);
// The folder of a part with its trailing slash ("xl/workbook.xml" -> "xl/"), "" at the root.
std::string dir_of(const std::string& part);
// libzip's text for an error code zip_open gave.
std::string zip_error_text(int code);

class Package {
public:
    // Throws FileNotFoundError for a missing file and igxl::Error for anything that is not a
    // readable ZIP package.
    // max_unpacked bounds the bytes all parts read from it unpack to.
    Package(const std::string& path, uint64_t max_unpacked);
    // A second handle on the package of other, for reading parts on another thread (one ZIP
    // handle cannot be read from two threads). Its bytes count towards shared, which bounds
    // all handles together; unpacked() still counts this handle's own.
    Package(const Package& other, std::atomic<uint64_t>& shared);
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    const std::string& path() const { return path_; }

    bool find(const std::string& part, zip_uint64_t& idx) const;
    bool has(const std::string& part) const {
        zip_uint64_t idx;
        return find(part, idx);
    }

    // The stored (compressed) size of a part, 0 when it is missing or does not say.
    uint64_t packed_size(const std::string& part) const;

    // The bytes of one part, inflated. Throws igxl::Error when the part is missing.
    std::unique_ptr<ByteSource> open(const std::string& part) const;

    // Feeds one part to an XML handler (see xml_scan.h).
    template <class H>
    void scan(const std::string& part, H& h) const {
        std::unique_ptr<ByteSource> src = open(part);
        ByteSource& s = *src;
        XmlScanner sc(s, "workbook '" + path_ + "', part '" + part + "'");
        try {
            sc.run(h);
        } catch (const Error&) {
            // Garbage in a part is usually damage: reading on to the end lets the checksum
            // test name it (a CRC error) rather than the first odd byte.
            drain(s);
            throw;
        }
    }

    [[noreturn]] void fail(const std::string& part, zip_error_t* ze) const;

    // Counts n more unpacked bytes; throws BadInputError past the limit.
    void count(uint64_t n) const {
        unpacked_ += n;
        if (shared_ ? shared_->fetch_add(n, std::memory_order_relaxed) + n > max_unpacked_ : unpacked_ > max_unpacked_)
            too_large();
    }
    // The bytes this handle has unpacked so far; set_unpacked restarts the count from n.
    uint64_t unpacked() const { return unpacked_; }
    void set_unpacked(uint64_t n) const { unpacked_ = n; }
    uint64_t max_unpacked() const { return max_unpacked_; }

private:
    friend class PartStream;
    friend class PartInflater;
    static void drain(ByteSource& s);
    [[noreturn]] void too_large() const;

    std::string path_;
    zip_t* za_ = nullptr;
    std::unordered_map<std::string, zip_uint64_t> index_;
    uint64_t max_unpacked_;
    mutable uint64_t unpacked_ = 0;
    std::atomic<uint64_t>* shared_ = nullptr;
};

}  // namespace igxl::detail
