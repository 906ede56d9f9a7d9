// One member of a ZIP container (a workbook, an ODF document) as text, for assertions.
#pragma once
#include <zip.h>

#include <string>

namespace igxl::testing {

inline std::string zip_member(const std::string& archive, const std::string& name) {
    int err = 0;
    zip_t* z = zip_open(archive.c_str(), ZIP_RDONLY, &err);
    if (!z) return "<no archive " + archive + ">";
    std::string out = "<no member " + name + ">";
    if (zip_file_t* f = zip_fopen(z, name.c_str(), 0)) {
        out.clear();
        char buf[4096];
        zip_int64_t n;
        while ((n = zip_fread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
        zip_fclose(f);
    }
    zip_close(z);
    return out;
}

}  // namespace igxl::testing
