// The floor a report writer is measured against, in the same run: the report's sheet XML made
// (copied into place piece by piece, the least any writer does to produce those bytes) and
// compressed with the deflate the writer uses. Reads the sheets back from the written report,
// untimed, then times both steps over the same bytes in processor time (the machine is shared, and
// wall time counts the waits for a core), as the benchmarks time what they set beside it.
#pragma once
#include <time.h>
#include <zip.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export/deflate.h"

namespace bench {

// Processor time of the calling thread, in seconds.
inline double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

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
    for (const std::string& xml : sheets) {
        floor.xml_bytes += xml.size();
        std::string made;
        const double t0 = thread_cpu_seconds();
        for (size_t at = 0; at < xml.size(); at += kPiece) {
            const size_t n = std::min(kPiece, xml.size() - at);
            const size_t old = made.size();
            made.resize(old + n);
            std::memcpy(made.data() + old, xml.data() + at, n);
        }
        const double t1 = thread_cpu_seconds();
        igxl::xlsx::writer::detail::Deflater d;
        for (size_t at = 0; at < made.size(); at += kPiece)
            d.write(std::string_view(made).substr(at, kPiece));
        d.finish();
        const double t2 = thread_cpu_seconds();
        floor.packed_bytes += d.out_size();
        floor.xml_s += t1 - t0;
        floor.deflate_s += t2 - t1;
    }
    return floor;
}

// measured_s: the writer's own processor time to set beside the floor; negative where it cannot
// be told apart from other work.
inline void print_report_floor(const ReportFloor& f, double measured_s) {
    std::printf("  floor: sheet XML %.1f MB made %.3f s + deflate to %.1f MB %.3f s = %.3f s CPU",
                static_cast<double>(f.xml_bytes) / 1e6, f.xml_s, static_cast<double>(f.packed_bytes) / 1e6,
                f.deflate_s, f.total());
    if (measured_s >= 0 && f.total() > 0) std::printf("; measured %.2fx the floor", measured_s / f.total());
    std::printf("\n");
}

}  // namespace bench
