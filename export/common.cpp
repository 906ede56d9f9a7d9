#include "export/common.h"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "export/xlsx.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace igxl {

namespace {

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path)) throw Error("cannot create folder '" + path + "': " + ec.message());
}

void write_all(std::FILE* f, const char* p, size_t n, const std::string& dest) {
    if (std::fwrite(p, 1, n, f) != n) throw Error("cannot write '" + dest + "': " + std::strerror(errno));
}

struct ZipCloser {
    zip_t* za;
    ~ZipCloser() {
        if (za) zip_discard(za);
    }
};

}  // namespace

void unzip(const std::string& file_name, const std::string& path, diag::Sink& sink) {
    if (!util::path_exists(file_name)) throw FileNotFoundError(file_name);
    int err = 0;
    zip_t* za = zip_open(file_name.c_str(), ZIP_RDONLY, &err);
    if (!za) {
        if (err == ZIP_ER_NOZIP) {
            diag::Location where;
            where.program = file_name;
            diag::emit(sink, diag::Severity::error, "export.not-a-zip",
                       "Need Zip Format, Please Check!!!", diag::kConsole, std::move(where));
            return;
        }
        zip_error_t ze;
        zip_error_init_with_code(&ze, err);
        std::string msg = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        throw Error("cannot open archive '" + file_name + "': " + msg);
    }
    ZipCloser closer{za};
    make_dirs(path);
    std::vector<char> buf(size_t(1) << 20);
    zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* raw = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
        if (!raw) continue;
        std::string name = raw;
        size_t cut = name.find_last_of("/\\");
        std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
        // Folder entries and names that mean a folder would write outside the flat target.
        if (base.empty() || base == "." || base == "..") continue;
        zip_file_t* zf = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
        if (!zf)
            throw Error("cannot extract '" + name + "' from '" + file_name + "': " + zip_strerror(za));
        std::string dest = path + "/" + base;
        std::FILE* out = nullptr;
        try {
            // A symlink standing at dest is replaced, never followed, so a hostile archive or
            // folder cannot redirect the write elsewhere.
            out = util::create_file_replacing_links(dest);
            for (;;) {
                zip_int64_t got = zip_fread(zf, buf.data(), buf.size());
                if (got < 0)
                    throw Error("cannot extract '" + name + "' from '" + file_name +
                                "': " + zip_error_strerror(zip_file_get_error(zf)));
                if (got == 0) break;
                write_all(out, buf.data(), static_cast<size_t>(got), dest);
            }
        } catch (...) {
            if (out) std::fclose(out);
            zip_fclose(zf);
            throw;
        }
        zip_fclose(zf);
        if (std::fclose(out) != 0) throw Error("cannot write '" + dest + "': " + std::strerror(errno));
    }
}

std::string format_str(std::string_view target_str) {
    static const std::pair<std::string_view, std::string_view> kUnits[] = {
        {"=", ""},
        {"*MV", "*0.001"},
        {"*MA", "*0.001"},
        {"*UV", "*0.000001"},
        {"*UA", "*0.000001"},
        {"*V", "*1"},
        {"*A", "*1"},
        {"*PS", "*0.000000000001"},
        {"*NS", "*0.000000001"},
        {"*US", "*0.000001"},
        {"*MS", "*0.001"},
        {"*GHZ", "*1000000000"},
        {"*MHZ", "*1000000"},
        {"*KHZ", "*1000"},
    };
    std::string s(target_str);
    std::string out;
    for (const auto& [from, to] : kUnits) {
        if (s.find(from) == std::string::npos) continue;
        out.clear();
        size_t i = 0;
        for (size_t at; (at = s.find(from, i)) != std::string::npos; i = at + from.size()) {
            out.append(s, i, at - i);
            out.append(to);
        }
        out.append(s, i, std::string::npos);
        s.swap(out);
    }
    return s;
}

// A sheet name becomes a file name in output_dir; '/' (and NUL, which no file name can hold)
// would leave it, so they become '_'. "." and ".." are harmless once ".txt" is added.
static std::string sheet_file_name(const std::string& sheet) {
    std::string name = sheet;
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    return name + ".txt";
}

void export_sheets_to_txt(const std::string& xlsm_file_path, const std::string& output_dir) {
    make_dirs(output_dir);
    xlsx::Workbook wb(xlsm_file_path);
    for (const std::string& sheet : wb.sheet_names())
        wb.write_sheet_text(sheet, (fs::path(output_dir) / sheet_file_name(sheet)).string());
}

}  // namespace igxl
