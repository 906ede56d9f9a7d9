// The floor a report writer is measured against, in the same run: the report's sheet XML made
// (copied into place piece by piece, the least any writer does to produce those bytes) and
// compressed with the deflate the writer uses. Reads the sheets back from the written report,
// untimed, then times both steps over the same bytes.
#pragma once
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export/deflate.h"

namespace bench {

struct ReportFloor {
    double xml_s = 0, deflate_s = 0;
    size_t xml_bytes = 0, packed_bytes = 0;
    double total() const { return xml_s + deflate_s; }
};

inline ReportFloor measure_report_floor(const std::string& report) {
    ReportFloor floor;
    int err = 0;
    zip_t* z = zip_open(report.c_str(), ZIP_RDONLY, &err);
    if (!z) return floor;
    std::vector<std::string> sheets;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
        if (name.rfind("xl/worksheets/", 0) != 0) continue;
        std::string body;
        if (zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0)) {
            char buf[1 << 16];
            zip_int64_t n;
            while ((n = zip_fread(f, buf, sizeof buf)) > 0) body.append(buf, static_cast<size_t>(n));
            zip_fclose(f);
        }
        sheets.push_back(std::move(body));
    }
    zip_close(z);
    constexpr size_t kPiece = size_t(1) << 18;
    using clock = std::chrono::steady_clock;
    for (const std::string& xml : sheets) {
        floor.xml_bytes += xml.size();
        std::string made;
        auto t0 = clock::now();
        for (size_t at = 0; at < xml.size(); at += kPiece) {
            const size_t n = std::min(kPiece, xml.size() - at);
            const size_t old = made.size();
            made.resize(old + n);
            std::memcpy(made.data() + old, xml.data() + at, n);
        }
        auto t1 = clock::now();
        igxl::xlsx::writer::detail::Deflater d;
        for (size_t at = 0; at < made.size(); at += kPiece)
            d.write(std::string_view(made).substr(at, kPiece));
        d.finish();
        auto t2 = clock::now();
        floor.packed_bytes += d.out_size();
        floor.xml_s += std::chrono::duration<double>(t1 - t0).count();
        floor.deflate_s += std::chrono::duration<double>(t2 - t1).count();
    }
    return floor;
}

// measured_s: the writer's own time to set beside the floor; negative where it cannot be told
// apart from other work.
inline void print_report_floor(const ReportFloor& f, double measured_s) {
    std::printf("  floor: sheet XML %.1f MB made %.3f s + deflate to %.1f MB %.3f s = %.3f s",
                static_cast<double>(f.xml_bytes) / 1e6, f.xml_s, static_cast<double>(f.packed_bytes) / 1e6,
                f.deflate_s, f.total());
    if (measured_s >= 0 && f.total() > 0) std::printf("; measured %.2fx the floor", measured_s / f.total());
    std::printf("\n");
}

}  // namespace bench
