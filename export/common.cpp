#include "export/common.h"

#include <zip.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <vector>
#include <utility>

#include "export/xlsx.h"
#include "export/xlsx_package.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace igxl {

namespace {

void make_dirs(const std::string& path) {
    std::error_code ec;
    fs::create_directories(util::path_from_utf8(path), ec);
    if (ec || !fs::is_directory(util::path_from_utf8(path))) throw Error("cannot create folder '" + path + "': " + ec.message());
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

namespace {

bool is_sheet_text(const std::string& base) {
    if (base.size() < 4) return false;
    std::string ext = base.substr(base.size() - 4);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return ext == ".txt";
}

// The files one unpacking wrote so far; unless kept, they are removed again, so a failed
// unpacking leaves no part of the program behind.
class Written {
public:
    ~Written() {
        if (keep_) return;
        for (const auto& f : files_) util::remove_file(f);
    }
    void add(std::string f) { files_.push_back(std::move(f)); }
    void keep() { keep_ = true; }

private:
    std::vector<std::string> files_;
    bool keep_ = false;
};

}  // namespace

bool unzip(const std::string& file_name, const std::string& path, diag::Sink& sink,
           const ExportOptions& options) {
    if (!util::path_exists(file_name)) throw FileNotFoundError(file_name);
    int err = 0;
    zip_t* za = zip_open(file_name.c_str(), ZIP_RDONLY, &err);
    if (!za) {
        if (err == ZIP_ER_NOZIP) {
            diag::Location where;
            where.program = file_name;
            diag::emit(sink, diag::Severity::error, "export.not-a-zip",
                       "Need Zip Format, Please Check!!!", diag::kConsole, std::move(where));
            return false;
        }
        throw BadInputError(file_name, "cannot open archive '" + file_name + "': " + detail::zip_error_text(err));
    }
    ZipCloser closer{za};
    const std::string what = "archive '" + file_name + "'";
    auto refuse = [&](const std::string& why) { throw BadInputError(file_name, what + ": " + why); };
    const std::string raise = " (raise the limit with --max-unpacked if the program really is that large)";

    // Every limit the directory can tell is checked before anything is written.
    struct Member {
        zip_uint64_t index;
        std::string name, base;
    };
    std::vector<Member> members;
    std::unordered_map<std::string, size_t> by_base;
    uint64_t declared = 0;
    zip_int64_t n = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* raw = zip_get_name(za, static_cast<zip_uint64_t>(i), 0);
        if (!raw) continue;
        std::string name = raw;
        size_t cut = name.find_last_of("/\\");
        std::string base = cut == std::string::npos ? name : name.substr(cut + 1);
        // Folder entries and names that mean a folder would write outside the flat target.
        if (base.empty() || base == "." || base == "..") continue;
        if (members.size() >= options.max_members)
            refuse("it holds more than " + std::to_string(options.max_members) +
                   " files, more than a test program has");
        auto [it, fresh] = by_base.emplace(base, members.size());
        if (!fresh)
            refuse("members '" + members[it->second].name + "' and '" + name + "' have the same file name '" +
                   base + "'; unpacked into one folder, one would overwrite the other");
        zip_stat_t st;
        if (zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
            declared += st.size;
            if (declared > options.max_unpacked)
                refuse("it unpacks to more than " + limit_text(options.max_unpacked) + raise);
        }
        members.push_back({static_cast<zip_uint64_t>(i), std::move(name), std::move(base)});
    }

    make_dirs(path);
    Written written;
    std::vector<char> buf(size_t(1) << 20);
    uint64_t total = 0;
    for (const Member& m : members) {
        zip_file_t* zf = zip_fopen_index(za, m.index, 0);
        if (!zf) throw Error("cannot extract '" + m.name + "' from '" + file_name + "': " + zip_strerror(za));
        std::string dest = path + "/" + m.base;
        // Written under a temporary name and renamed when complete: a failure never leaves a
        // truncated file under a sheet's name.
        std::string part = path + "/." + m.base + ".unpacking";
        bool sheet = is_sheet_text(m.base);
        uint64_t line = 0, line_no = 1;
        std::FILE* out = nullptr;
        try {
            // A symlink standing at the name is replaced, never followed, so a hostile archive or
            // folder cannot redirect the write elsewhere.
            out = util::create_file_replacing_links(part);
            written.add(part);
            for (;;) {
                zip_int64_t got = zip_fread(zf, buf.data(), buf.size());
                if (got < 0)
                    throw Error("cannot extract '" + m.name + "' from '" + file_name +
                                "': " + zip_error_strerror(zip_file_get_error(zf)));
                if (got == 0) break;
                total += static_cast<uint64_t>(got);
                if (total > options.max_unpacked) refuse("it unpacks to more than " + limit_text(options.max_unpacked) + raise);
                if (sheet) {
                    const char* p = buf.data();
                    const char* e = p + got;
                    while (p < e) {
                        const char* brk = p;
                        while (brk < e && *brk != '\n' && *brk != '\r') ++brk;
                        line += static_cast<uint64_t>(brk - p);
                        if (line > options.max_line_length)
                            refuse("sheet text file '" + m.name + "': line " + std::to_string(line_no) +
                                   " is longer than " + limit_text(options.max_line_length) +
                                   ", more than a sheet row holds");
                        if (brk < e) {
                            line = 0;
                            if (*brk == '\n') ++line_no;
                            ++brk;
                        }
                        p = brk;
                    }
                }
                write_all(out, buf.data(), static_cast<size_t>(got), dest);
            }
        } catch (...) {
            if (out) std::fclose(out);
            zip_fclose(zf);
            throw;
        }
        zip_fclose(zf);
        if (std::fclose(out) != 0) throw Error("cannot write '" + dest + "': " + std::strerror(errno));
        util::put_in_place(part, dest);
        written.add(dest);
    }
    written.keep();
    return true;
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

void export_sheets_to_txt(const std::string& xlsm_file_path, const std::string& output_dir,
                          const ExportOptions& options) {
    make_dirs(output_dir);
    xlsx::Workbook wb(xlsm_file_path, options);
    std::vector<xlsx::Workbook::SheetFile> jobs;
    for (const std::string& sheet : wb.sheet_names())
        jobs.push_back({sheet, util::join_path(output_dir, sheet_file_name(sheet))});
    Written written;
    wb.write_sheets_text(jobs, options.threads, [&](size_t i) {
        written.add(jobs[i].file);
        written.add(jobs[i].file + ".part");
    });
    written.keep();
}

}  // namespace igxl
