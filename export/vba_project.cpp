// Reading the VBA project of a workbook: the compound file through libgsf, the dir stream's
// records and each module's source from its text offset; writing the modules as files.
#include "export/vba_project.h"

#ifdef IGXL_HAVE_GSF
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input.h>
#endif

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>

#include "export/xlsx.h"
#include "util/error.h"
#include "util/platform.h"

namespace fs = std::filesystem;

namespace igxl::vba {

namespace {

#ifdef IGXL_HAVE_GSF
struct Unref {
    void operator()(gpointer p) const {
        if (p) g_object_unref(p);
    }
};
using InputPtr = std::unique_ptr<GsfInput, Unref>;

// libgsf reports damage it works around through GLib's log, which would reach the console;
// while a project is read its messages are kept and named in our own errors instead.
class GsfLogCapture {
public:
    GsfLogCapture() {
        id_ = g_log_set_handler("libgsf:msole", static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL),
                                &GsfLogCapture::keep, this);
    }
    ~GsfLogCapture() { g_log_remove_handler("libgsf:msole", id_); }
    GsfLogCapture(const GsfLogCapture&) = delete;
    GsfLogCapture& operator=(const GsfLogCapture&) = delete;
    const std::string& text() const { return text_; }

private:
    static void keep(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
        auto* me = static_cast<GsfLogCapture*>(self);
        if (me->text_.size() < 1000) me->text_ += std::string(me->text_.empty() ? "" : "; ") + (message ? message : "");
    }
    guint id_;
    std::string text_;
};

bool same_name(const char* a, std::string_view b) {
    return a && std::string_view(a).size() == b.size() && g_ascii_strncasecmp(a, b.data(), b.size()) == 0;
}

// A child of a storage by name; compound-file names compare without regard to case.
InputPtr child(GsfInfile* dir, std::string_view name) {
    int n = gsf_infile_num_children(dir);
    for (int i = 0; i < n; ++i)
        if (same_name(gsf_infile_name_by_index(dir, i), name)) return InputPtr(gsf_infile_child_by_index(dir, i));
    return nullptr;
}

std::string read_stream(GsfInput* in, const std::string& what, size_t max) {
    gsf_off_t size = gsf_input_size(in);
    if (size < 0 || static_cast<uint64_t>(size) > max)
        throw Error(what + ": the stream claims " + std::to_string(size) + " bytes, more than " + std::to_string(max));
    std::string bytes(static_cast<size_t>(size), '\0');
    if (size > 0 && !gsf_input_read(in, bytes.size(), reinterpret_cast<guint8*>(bytes.data())))
        throw Error(what + ": the stream cannot be read (its sector chain is damaged)");
    return bytes;
}

std::string utf16_to_utf8(std::string_view le) {
    std::vector<gunichar2> units(le.size() / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<gunichar2>(static_cast<unsigned char>(le[2 * i]) |
                                          static_cast<unsigned char>(le[2 * i + 1]) << 8);
    glong written = 0;
    gchar* s = g_utf16_to_utf8(units.data(), static_cast<glong>(units.size()), nullptr, &written, nullptr);
    if (!s) return {};
    std::string out(s, static_cast<size_t>(written));
    g_free(s);
    return out;
}

std::string code_page_to_utf8(std::string_view bytes, uint16_t code_page) {
    std::string cp = "CP" + std::to_string(code_page);
    gsize written = 0;
    gchar* s = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", cp.c_str(), nullptr, &written,
                         nullptr);
    if (!s) return std::string(bytes);
    std::string out(s, written);
    g_free(s);
    return out;
}

// The records of the dir stream: an id, a 32-bit size and that many bytes, with one exception.
class Records {
public:
    Records(std::string_view d, const std::string& what) : d_(d), what_(what) {}
    bool next(uint16_t& id, std::string_view& body) {
        if (pos_ >= d_.size()) return false;
        if (d_.size() - pos_ < 6) fail("a record header needs 6 bytes");
        id = static_cast<uint16_t>(byte(0) | byte(1) << 8);
        uint32_t size = byte(2) | byte(3) << 8 | byte(4) << 16 | static_cast<uint32_t>(byte(5)) << 24;
        at_ = pos_;
        pos_ += 6;
        // PROJECTVERSION says 4 in its size field and is followed by 6 bytes.
        if (id == 0x0009) size = 6;
        if (size > d_.size() - pos_)
            fail("record 0x" + hex(id) + " claims " + std::to_string(size) + " bytes, " +
                 std::to_string(d_.size() - pos_) + " are left");
        body = d_.substr(pos_, size);
        pos_ += size;
        return true;
    }
    [[noreturn]] void fail(const std::string& why) const {
        throw Error(what_ + ": dir stream broken at byte " + std::to_string(at_) + ": " + why);
    }
    static uint32_t number(std::string_view b) {
        uint32_t v = 0;
        for (size_t i = std::min<size_t>(b.size(), 4); i-- > 0;) v = v << 8 | static_cast<unsigned char>(b[i]);
        return v;
    }

private:
    unsigned byte(size_t i) const { return static_cast<unsigned char>(d_[pos_ + i]); }
    static std::string hex(uint16_t id) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04X", id);
        return buf;
    }
    std::string_view d_;
    const std::string& what_;
    size_t pos_ = 0, at_ = 0;
};

struct ModuleRecord {
    std::string name, name_unicode, stream, stream_unicode;
    uint32_t offset = 0;
    Module::Kind kind = Module::Standard;
};

// The source as the editor exports it: CR LF after every line, the VB_Name attribute first.
std::string export_text(std::string_view source, const std::string& name_bytes) {
    std::string out;
    out.reserve(source.size() + 64);
    if (source.substr(0, 17) != "Attribute VB_Name") out += "Attribute VB_Name = \"" + name_bytes + "\"\r\n";
    for (size_t i = 0; i < source.size(); ++i) {
        char c = source[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < source.size() && source[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    if (!out.empty() && out.back() != '\n') out += "\r\n";
    return out;
}
#endif

}  // namespace

std::string Module::file_name() const {
    std::string base = name;
    // A name is an identifier; anything that could leave the folder or break the name goes.
    for (char& c : base)
        if (c == '/' || c == '\\' || c == '\0' || c == ':') c = '_';
    return base + (kind == Standard ? ".bas" : ".cls");
}

#ifndef IGXL_HAVE_GSF
Project read_project(std::string_view, const std::string& what) {
    throw Error(what + ": the Windows build cannot read a workbook's macro project; export the modules "
                       "from the VBA editor (File > Export File) and check their folder with orvane");
}
#else
Project read_project(std::string_view bin, const std::string& what) {
    GsfLogCapture log;
    auto damaged = [&](const std::string& why) {
        throw Error(what + ": " + why + (log.text().empty() ? "" : " (" + log.text() + ")"));
    };
    InputPtr mem(gsf_input_memory_new(reinterpret_cast<const guint8*>(bin.data()), static_cast<gsf_off_t>(bin.size()),
                                      FALSE));
    GError* err = nullptr;
    std::unique_ptr<GsfInfile, Unref> ole(gsf_infile_msole_new(mem.get(), &err));
    if (!ole) {
        std::string why = err ? err->message : "unknown damage";
        if (err) g_error_free(err);
        damaged("not a readable compound file: " + why);
    }
    InputPtr vba_in = child(ole.get(), "VBA");
    if (!vba_in || !GSF_IS_INFILE(vba_in.get())) damaged("no VBA storage");
    auto* vba = GSF_INFILE(vba_in.get());
    InputPtr dir_in = child(vba, "dir");
    if (!dir_in) damaged("no VBA/dir stream");
    const std::string dir_what = what + ", stream VBA/dir";
    std::string dir = decompress(read_stream(dir_in.get(), dir_what, kMaxProjectBytes), dir_what);

    Project p;
    std::vector<ModuleRecord> records;
    ModuleRecord cur;
    bool in_module = false;
    Records rec(dir, what);
    uint16_t id;
    std::string_view body;
    while (rec.next(id, body)) {
        switch (id) {
            case 0x0003:  // PROJECTCODEPAGE
                if (body.size() != 2) rec.fail("the code page record must hold 2 bytes");
                p.code_page = static_cast<uint16_t>(Records::number(body));
                break;
            case 0x0019:  // MODULENAME starts a module
                cur = ModuleRecord{};
                cur.name = body;
                in_module = true;
                break;
            case 0x0047: cur.name_unicode = body; break;
            case 0x001A: cur.stream = body; break;
            case 0x0032: cur.stream_unicode = body; break;
            case 0x0031:  // MODULEOFFSET: where the source starts in the module stream
                if (body.size() != 4) rec.fail("the module offset record must hold 4 bytes");
                cur.offset = Records::number(body);
                break;
            case 0x0021: cur.kind = Module::Standard; break;
            case 0x0022: cur.kind = Module::Class; break;
            case 0x002B:  // module terminator
                if (!in_module) rec.fail("a module ends that never began");
                if (records.size() >= kMaxModules) rec.fail("more than " + std::to_string(kMaxModules) + " modules");
                records.push_back(std::move(cur));
                cur = ModuleRecord{};
                in_module = false;
                break;
            default: break;
        }
        if (id == 0x0010) break;  // dir terminator
    }
    if (in_module) rec.fail("the last module has no terminator");

    std::unordered_set<std::string> files;
    for (const ModuleRecord& r : records) {
        Module m;
        m.kind = r.kind;
        m.name = !r.name_unicode.empty() ? utf16_to_utf8(r.name_unicode) : code_page_to_utf8(r.name, p.code_page);
        if (m.name.empty()) m.name = code_page_to_utf8(r.name, p.code_page);
        if (m.name.empty()) damaged("a module without a name");
        std::string stream = !r.stream_unicode.empty() ? utf16_to_utf8(r.stream_unicode)
                                                        : code_page_to_utf8(r.stream, p.code_page);
        const std::string mod_what = what + ", module '" + m.name + "'";
        InputPtr in = child(vba, stream);
        if (!in) damaged("module '" + m.name + "' has no stream VBA/" + stream);
        std::string bytes = read_stream(in.get(), mod_what, kMaxProjectBytes);
        if (r.offset > bytes.size())
            throw Error(mod_what + ": its source starts at byte " + std::to_string(r.offset) +
                        ", past the end of its stream (" + std::to_string(bytes.size()) + " bytes)");
        std::string source = decompress(std::string_view(bytes).substr(r.offset), mod_what);
        m.text = export_text(source, r.name);
        std::string key = m.file_name();
        for (char& c : key) c = static_cast<char>(g_ascii_tolower(c));
        if (!files.insert(key).second) damaged("two modules would be written as '" + m.file_name() + "'");
        p.modules.push_back(std::move(m));
    }
    return p;
}
#endif

Project read_workbook_project(const std::string& workbook_path, const ExportOptions& options) {
    xlsx::Workbook wb(workbook_path, options);
    std::string bin;
    if (!wb.read_vba_project(bin, kMaxProjectBytes)) return {};
    return read_project(bin, "macro project of workbook '" + workbook_path + "'");
}

std::vector<std::string> write_modules(const Project& project, const std::string& dir) {
    std::error_code ec;
    const fs::path folder = util::path_from_utf8(dir);
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) throw Error("cannot create folder '" + dir + "': " + ec.message());
    std::vector<std::string> written;
    for (const Module& m : project.modules) {
        std::string path = util::path_to_utf8(folder / util::path_from_utf8(m.file_name()));
        util::write_file_atomic(path, m.text);
        written.push_back(path);
    }
    return written;
}

std::vector<std::string> export_modules(const std::string& workbook_path, const std::string& dir,
                                        const ExportOptions& options, diag::Sink& sink, uint16_t* code_page) {
    Project p;
    try {
        p = read_workbook_project(workbook_path, options);
    } catch (const BadInputError&) {
        throw;
    } catch (const FileNotFoundError&) {
        throw;
    } catch (const Error& e) {
        diag::Location where;
        where.program = workbook_path;
        diag::emit(sink, diag::Severity::warning, "export.vba-unreadable",
                   std::string("warning: the VBA modules are left out: ") + e.what(),
                   diag::kConsole | diag::kErrorStream, where);
        return {};
    }
    if (code_page) *code_page = p.code_page;
    return write_modules(p, dir);
}

}  // namespace igxl::vba
