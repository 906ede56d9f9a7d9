// The streaming XLSX reader: package parts through libzip, XML through our chunked tokenizer.
#include "export/xlsx.h"

#include <zip.h>
#ifdef IGXL_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "export/xlsx_detail.h"
#include "export/xml_scan.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/text.h"

namespace igxl::xlsx {

using detail::ByteSource;
using detail::DateKind;
using detail::XmlAttr;
using detail::XmlAttrs;
using detail::XmlScanner;

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool ends_with(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::string_view attr(XmlAttrs attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name) return a.value;
    return {};
}

bool has_attr(XmlAttrs attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name) return true;
    return false;
}

void append_text(std::string& out, std::string_view s, detail::XmlText kind) {
    if (kind == detail::XmlText::Plain) out.append(s);
    else if (kind == detail::XmlText::Escaped) detail::append_xml_text(out, s);
    else detail::append_xml_cdata(out, s);
}

template <class T>
bool to_uint(std::string_view s, T& v) {
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// A part path inside the package: forward slashes, no leading slash, '.' and '..' resolved.
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

// ---- the package ---------------------------------------------------------------------------

class Package {
public:
    explicit Package(const std::string& path) : path_(path) {
        if (!util::path_exists(path)) throw FileNotFoundError(path);
        if (util::is_directory(path)) throw Error("'" + path + "' is a folder, not a workbook");
        int err = 0;
        za_ = zip_open(path.c_str(), ZIP_RDONLY, &err);
        if (!za_) {
            if (err == ZIP_ER_NOZIP) {
                std::string head = util::read_file(path).substr(0, 8);
                if (head == std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))
                    throw Error("cannot read workbook '" + path +
                                "': it is encrypted (password-protected) or a legacy .xls file; "
                                "save it as an unprotected .xlsx or .xlsm");
                throw Error("cannot read workbook '" + path + "': not a ZIP package (not an .xlsx/.xlsm file)");
            }
            zip_error_t ze;
            zip_error_init_with_code(&ze, err);
            std::string msg = zip_error_strerror(&ze);
            zip_error_fini(&ze);
            throw Error("cannot read workbook '" + path + "': " + msg);
        }
        zip_int64_t n = zip_get_num_entries(za_, 0);
        for (zip_int64_t i = 0; i < n; ++i) {
            const char* name = zip_get_name(za_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
            if (!name) continue;
            // Part names are case-insensitive; some writers use backslashes.
            index_.emplace(lower(normalize_part(name)), static_cast<zip_uint64_t>(i));
        }
    }
    ~Package() {
        if (za_) zip_discard(za_);
    }
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    const std::string& path() const { return path_; }

    bool find(const std::string& part, zip_uint64_t& idx) const {
        auto it = index_.find(lower(normalize_part(part)));
        if (it == index_.end()) return false;
        idx = it->second;
        return true;
    }

    class Stream : public ByteSource {
    public:
        Stream(const Package& pkg, zip_uint64_t idx, std::string part) : pkg_(pkg), part_(std::move(part)) {
            f_ = zip_fopen_index(pkg.za_, idx, 0);
            if (!f_) pkg.fail(part_, zip_get_error(pkg.za_));
        }
        ~Stream() override {
            if (f_) zip_fclose(f_);
        }
        size_t read(char* buf, size_t n) override {
            zip_int64_t got = zip_fread(f_, buf, n);
            if (got < 0) pkg_.fail(part_, zip_file_get_error(f_));
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
    class Inflater : public ByteSource {
    public:
        Inflater(const Package& pkg, zip_uint64_t idx, const zip_stat_t& st, std::string part)
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
        ~Inflater() override {
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
                if (got > 0) return got;
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

    [[noreturn]] void fail(const std::string& part, zip_error_t* ze) const {
        std::string why = ze ? zip_error_strerror(ze) : "read error";
        if (ze && zip_error_code_zip(ze) == ZIP_ER_NOPASSWD)
            why = "the part is encrypted (password-protected workbook)";
        throw Error("cannot read workbook '" + path_ + "': part '" + part + "': " + why);
    }

    template <class H>
    void scan(const std::string& part, H& h) const {
        zip_uint64_t idx;
        if (!find(part, idx)) throw Error("cannot read workbook '" + path_ + "': part '" + part + "' is missing");
        zip_stat_t st;
        std::unique_ptr<ByteSource> src;
        if (zip_stat_index(za_, idx, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_METHOD) &&
            (st.valid & ZIP_STAT_CRC) && (st.valid & ZIP_STAT_SIZE) && st.comp_method == ZIP_CM_DEFLATE &&
            (!(st.valid & ZIP_STAT_ENCRYPTION_METHOD) || st.encryption_method == ZIP_EM_NONE))
            src = std::make_unique<Inflater>(*this, idx, st, part);
        else
            src = std::make_unique<Stream>(*this, idx, part);
        ByteSource& s = *src;
        XmlScanner sc(s, "workbook '" + path_ + "', part '" + part + "'");
        try {
            sc.run(h);
        } catch (const Error&) {
            // Garbage in a part is usually damage: reading on to the end lets the checksum
            // test name it (a CRC error) rather than the first odd byte.
            std::vector<char> rest(size_t(1) << 16);
            while (s.read(rest.data(), rest.size()) > 0) {
            }
            throw;
        }
    }

private:
    std::string path_;
    zip_t* za_ = nullptr;
    std::unordered_map<std::string, zip_uint64_t> index_;
};

// ---- small parts ---------------------------------------------------------------------------

struct Rel {
    std::string id, type, target;
    bool external = false;
};

struct RelsHandler {
    std::vector<Rel> rels;
    bool capturing() const { return false; }
    void on_text(std::string_view, detail::XmlText) {}
    void on_end(std::string_view) {}
    void on_start(std::string_view name, XmlAttrs a) {
        if (name != "Relationship") return;
        Rel r;
        r.id = detail::decode_xml_text(attr(a, "Id"));
        r.type = detail::decode_xml_text(attr(a, "Type"));
        r.target = detail::decode_xml_text(attr(a, "Target"));
        r.external = attr(a, "TargetMode") == "External";
        rels.push_back(std::move(r));
    }
};

struct WorkbookHandler {
    struct Entry {
        std::string name, rid;
    };
    std::vector<Entry> sheets;
    bool date1904 = false;
    bool capturing() const { return false; }
    void on_text(std::string_view, detail::XmlText) {}
    void on_end(std::string_view) {}
    void on_start(std::string_view name, XmlAttrs a) {
        if (name == "sheet") {
            sheets.push_back({detail::decode_xml_text(attr(a, "name")), detail::decode_xml_text(attr(a, "id"))});
        } else if (name == "workbookPr") {
            std::string_view v = attr(a, "date1904");
            date1904 = v == "1" || v == "true";
        }
    }
};

struct StylesHandler {
    std::unordered_map<unsigned, std::string> custom;
    std::vector<unsigned> xf_fmt;
    bool in_cell_xfs = false;
    bool capturing() const { return false; }
    void on_text(std::string_view, detail::XmlText) {}
    void on_end(std::string_view name) {
        if (name == "cellXfs") in_cell_xfs = false;
    }
    void on_start(std::string_view name, XmlAttrs a) {
        if (name == "numFmt") {
            unsigned id;
            if (to_uint(attr(a, "numFmtId"), id)) custom[id] = detail::decode_xml_text(attr(a, "formatCode"));
        } else if (name == "cellXfs") {
            in_cell_xfs = true;
        } else if (name == "xf" && in_cell_xfs) {
            unsigned id = 0;
            to_uint(attr(a, "numFmtId"), id);
            xf_fmt.push_back(id);
        }
    }
};

// Shared strings live in one pool; string i is pool[off[i], off[i+1]).
struct SharedStringsHandler {
    std::string pool;
    std::vector<uint64_t> off{0};
    std::string cur;
    bool in_si = false, in_t = false;
    int rph = 0;
    bool capturing() const { return in_t; }
    void on_text(std::string_view s, detail::XmlText kind) { append_text(cur, s, kind); }
    void on_start(std::string_view name, XmlAttrs) {
        if (name == "si") {
            in_si = true;
            cur.clear();
        } else if (name == "rPh") {
            ++rph;  // phonetic guides are reading aids, not part of the text
        } else if (name == "t" && in_si && rph == 0) {
            in_t = true;
        }
    }
    void on_end(std::string_view name) {
        if (name == "t") {
            in_t = false;
        } else if (name == "rPh") {
            --rph;
        } else if (name == "si" && in_si) {
            in_si = false;
            detail::decode_ooxml_escapes(cur);
            pool += cur;
            off.push_back(pool.size());
        }
    }
};

// ---- one sheet -----------------------------------------------------------------------------

struct CellValue {
    Cell::Kind kind = Cell::Empty;
    std::string_view text;
    double number = 0;
    bool boolean = false;
};

class RowSink {
public:
    virtual ~RowSink() = default;
    virtual void begin_row(uint32_t row) = 0;  // 1-based
    virtual void cell(uint32_t col, const CellValue& v) = 0;  // 1-based
    virtual void end_row() = 0;
    virtual void merge(const Range& r) = 0;
    // The last column the sheet declares: a hint only, never trusted for the result.
    virtual void dimension(uint32_t /*last_col*/) {}
    // Whether CellValue::number of plain numbers is used (the text export needs only the text).
    virtual bool wants_numbers() const { return false; }
};

}  // namespace

struct Workbook::Impl {
    struct Sheet {
        std::string name, part;
    };
    Package pkg;
    std::vector<Sheet> sheets;
    std::vector<std::string> names;
    std::string sst_pool;
    std::vector<uint64_t> sst_off{0};
    std::vector<DateKind> xf_kind;
    bool date1904 = false;

    explicit Impl(const std::string& path) : pkg(path) { open(); }

    [[noreturn]] void fail(const std::string& why) const {
        throw Error("cannot read workbook '" + pkg.path() + "': " + why);
    }

    std::vector<Rel> rels_of(const std::string& part) const {
        std::string rp = dir_of(part) + "_rels/" + part.substr(dir_of(part).size()) + ".rels";
        zip_uint64_t idx;
        if (!pkg.find(rp, idx)) return {};
        RelsHandler h;
        pkg.scan(rp, h);
        return std::move(h.rels);
    }

    static std::string resolve(const std::string& base_dir, const std::string& target) {
        std::string t = target;
        std::replace(t.begin(), t.end(), '\\', '/');
        if (!t.empty() && t[0] == '/') return normalize_part(t);
        return normalize_part(base_dir + t);
    }

    void open() {
        std::string wb_part;
        for (const Rel& r : rels_of(""))
            if (ends_with(r.type, "/officeDocument") && !r.external) wb_part = resolve("", r.target);
        zip_uint64_t idx;
        if (wb_part.empty() || !pkg.find(wb_part, idx)) {
            if (pkg.find("xl/workbook.xml", idx)) wb_part = "xl/workbook.xml";
            else if (pkg.find("workbook.xml", idx)) wb_part = "workbook.xml";
            else fail("no workbook part (xl/workbook.xml) in the package; is it an .xlsx/.xlsm file?");
        }
        WorkbookHandler wh;
        pkg.scan(wb_part, wh);
        date1904 = wh.date1904;
        std::vector<Rel> rels = rels_of(wb_part);
        std::string base = dir_of(wb_part);
        std::string sst_part, styles_part;
        for (const Rel& r : rels) {
            if (r.external) continue;
            if (ends_with(r.type, "/sharedStrings")) sst_part = resolve(base, r.target);
            else if (ends_with(r.type, "/styles")) styles_part = resolve(base, r.target);
        }
        for (const auto& e : wh.sheets) {
            const Rel* rel = nullptr;
            for (const Rel& r : rels)
                if (r.id == e.rid) rel = &r;
            if (!rel) fail("sheet '" + e.name + "' has no relationship '" + e.rid + "' in the workbook part list");
            // Chart, dialog and macro sheets hold no cells to export.
            if (!ends_with(rel->type, "/worksheet")) continue;
            std::string part = resolve(base, rel->target);
            if (!pkg.find(part, idx)) fail("part '" + part + "' of sheet '" + e.name + "' is missing");
            sheets.push_back({e.name, part});
            names.push_back(e.name);
        }
        if (sst_part.empty() && pkg.find(base + "sharedStrings.xml", idx)) sst_part = base + "sharedStrings.xml";
        if (!sst_part.empty() && pkg.find(sst_part, idx)) {
            SharedStringsHandler sh;
            pkg.scan(sst_part, sh);
            sst_pool = std::move(sh.pool);
            sst_off = std::move(sh.off);
        }
        if (styles_part.empty() && pkg.find(base + "styles.xml", idx)) styles_part = base + "styles.xml";
        if (!styles_part.empty() && pkg.find(styles_part, idx)) {
            StylesHandler st;
            pkg.scan(styles_part, st);
            for (unsigned id : st.xf_fmt) {
                auto it = st.custom.find(id);
                xf_kind.push_back(it != st.custom.end() ? detail::date_kind_of_format(it->second)
                                                        : detail::date_kind_of_builtin(id));
            }
        }
    }

    const Sheet& sheet(const std::string& name) const {
        for (const auto& s : sheets)
            if (s.name == name) return s;
        fail("no worksheet named '" + name + "'");
    }

    void read_sheet(const std::string& name, RowSink& sink) const;
};

namespace {

// Walks the cells of one sheet part and hands finished field values to a sink.
class SheetHandler {
public:
    SheetHandler(const Workbook::Impl& wb, const std::string& sheet, RowSink& sink)
        : wb_(wb), sheet_(sheet), sink_(sink), numbers_(sink.wants_numbers()) {}

    bool capturing() const { return cap_ != nullptr; }
    bool unfinished() const { return in_data_; }
    void on_text(std::string_view s, detail::XmlText kind) { append_text(*cap_, s, kind); }

    void on_start(std::string_view name, XmlAttrs a) {
        switch (name.size()) {
            case 1:
                if (name[0] == 'c') {
                    if (in_data_) start_cell(a);
                    return;
                }
                if (!in_cell_) return;
                if (name[0] == 'v') {
                    v_.clear();
                    has_v_ = true;
                    cap_ = &v_;
                } else if (name[0] == 'f') {
                    f_.clear();
                    has_f_ = true;
                    std::string_view t = attr(a, "t");
                    f_shared_ = t == "shared";
                    f_si_ = -1;
                    f_master_ = false;
                    if (f_shared_) {
                        to_uint(attr(a, "si"), f_si_);
                        f_master_ = has_attr(a, "ref");
                    }
                    cap_ = &f_;
                } else if (name[0] == 't' && in_is_ && rph_ == 0) {
                    cap_ = &is_;
                }
                return;
            case 2:
                if (name == "is" && in_cell_) {
                    in_is_ = true;
                    has_is_ = true;
                    is_.clear();
                }
                return;
            case 3:
                if (name == "row") {
                    if (!in_data_) return;
                    uint32_t r;
                    begin_row(to_uint(attr(a, "r"), r) && r >= 1 ? r : row_ + 1);
                } else if (name == "rPh") {
                    ++rph_;
                }
                return;
            case 9:
                if (name == "sheetData") in_data_ = true;
                else if (name == "mergeCell") merge(attr(a, "ref"));
                else if (name == "dimension") dimension(attr(a, "ref"));
                return;
            default:
                return;
        }
    }

    void on_end(std::string_view name) {
        switch (name.size()) {
            case 1:
                if (name[0] == 'c') {
                    if (in_cell_) finish_cell();
                } else {
                    cap_ = nullptr;
                    if (name[0] == 'f' && in_cell_ && f_shared_ && f_master_ && f_si_ >= 0 && !f_.empty())
                        masters_[f_si_] = {f_, row_, col_};
                }
                return;
            case 2:
                if (name == "is") in_is_ = false;
                return;
            case 3:
                if (name == "row" && in_row_) {
                    in_row_ = false;
                    sink_.end_row();
                } else if (name == "rPh") {
                    --rph_;
                }
                return;
            case 9:
                if (name == "sheetData") in_data_ = false;
                return;
            default:
                return;
        }
    }

private:
    void start_cell(XmlAttrs a) {
        if (!in_row_) {
            // A cell outside any row element: its own reference names the row.
            uint32_t c, r;
            begin_row(detail::parse_cell_ref(attr(a, "r"), c, r) ? r : row_ + 1);
        }
        in_cell_ = true;
        has_v_ = has_f_ = has_is_ = in_is_ = false;
        // One pass over the attributes: this runs for every cell of the sheet.
        std::string_view ref, s, t;
        for (const XmlAttr& at : a) {
            if (at.name.size() != 1) continue;
            if (at.name[0] == 'r') ref = at.value;
            else if (at.name[0] == 's') s = at.value;
            else if (at.name[0] == 't') t = at.value;
        }
        uint32_t c;
        col_ = !ref.empty() && cell_column(ref, c) ? c : next_col_;
        next_col_ = col_ + 1;
        style_ = 0;
        if (!s.empty()) to_uint(s, style_);  // an empty s="" means the default style
        type_ = 'n';
        if (t.size() == 1) {
            if (t[0] == 's' || t[0] == 'b' || t[0] == 'e' || t[0] == 'd') type_ = t[0];
        } else if (t == "inlineStr") {
            type_ = 'i';
        } else if (t == "str") {
            type_ = 'S';
        }
    }

    void begin_row(uint32_t row) {
        row_ = row;
        next_col_ = 1;
        in_row_ = true;
        auto r = std::to_chars(row_digits_, row_digits_ + sizeof row_digits_, row);
        row_len_ = static_cast<uint8_t>(r.ptr - row_digits_);
        sink_.begin_row(row);
    }

    // The column of a cell reference, with the checks of parse_cell_ref. Cells name their own
    // row, so the row digits are usually those of the row element: compared, not parsed.
    bool cell_column(std::string_view ref, uint32_t& col) const {
        const char* p = ref.data();
        const char* e = p + ref.size();
        uint32_t c = 0;
        for (int n = 0; p < e && n < 3; ++p, ++n) {
            unsigned l = static_cast<unsigned>(static_cast<unsigned char>(*p) | 0x20) - 'a';
            if (l >= 26) break;
            c = c * 26 + l + 1;
        }
        if (p > ref.data() && c <= 16384 && row_ <= 1048576 && static_cast<size_t>(e - p) == row_len_) {
            size_t i = 0;
            while (i < row_len_ && p[i] == row_digits_[i]) ++i;
            if (i == row_len_) {
                col = c;
                return true;
            }
        }
        uint32_t r;
        return detail::parse_cell_ref(ref, col, r);
    }

    void dimension(std::string_view ref) {
        size_t colon = ref.find(':');
        uint32_t c, r;
        if (detail::parse_cell_ref(colon == std::string_view::npos ? ref : ref.substr(colon + 1), c, r))
            sink_.dimension(c);
    }

    void merge(std::string_view ref) {
        size_t colon = ref.find(':');
        uint32_t c1, r1, c2, r2;
        if (colon == std::string_view::npos) return;
        if (!detail::parse_cell_ref(ref.substr(0, colon), c1, r1) ||
            !detail::parse_cell_ref(ref.substr(colon + 1), c2, r2))
            return;
        Range rg{std::min(r1, r2) - 1, std::min(c1, c2) - 1, std::max(r1, r2) - 1, std::max(c1, c2) - 1};
        sink_.merge(rg);
    }

    std::string cell_name() const {
        std::string n;
        detail::append_column_letters(n, col_);
        return n + std::to_string(row_);
    }

    // Up to 15 digits without a sign or a leading zero (a lone "0" included).
    static bool canonical_digits(std::string_view v) {
        if (v.empty() || v.size() > 15 || (v[0] == '0' && v.size() > 1)) return false;
        for (char c : v)
            if (static_cast<unsigned>(c - '0') > 9) return false;
        return true;
    }

    // A decimal that repr_decimal_text would give back unchanged: [-]I.F with I "0" or without
    // leading zeros, F ending in a non-zero digit, at most 15 significant digits, and for
    // I "0" at most three zeros after the point (smaller numbers take an exponent).
    static bool canonical_decimal(std::string_view v) {
        const char* p = v.data();
        const char* e = p + v.size();
        if (p < e && *p == '-') ++p;
        const char* i0 = p;
        while (p < e && static_cast<unsigned>(*p - '0') <= 9) ++p;
        size_t ni = static_cast<size_t>(p - i0);
        if (ni == 0 || p == e || *p != '.' || (ni > 1 && *i0 == '0')) return false;
        const char* f0 = ++p;
        while (p < e && static_cast<unsigned>(*p - '0') <= 9) ++p;
        if (p != e || p == f0 || e[-1] == '0') return false;
        size_t nf = static_cast<size_t>(e - f0);
        if (ni == 1 && *i0 == '0') {
            size_t z = 0;
            while (f0[z] == '0') ++z;
            return z <= 3 && nf - z <= 15;
        }
        return ni + nf <= 15;
    }

    static bool point_or_exponent(std::string_view v) {
        for (char c : v)
            if (c == '.' || c == 'e' || c == 'E') return true;
        return false;
    }

    void set_number(CellValue& cv) {
        std::string_view v = v_;
        DateKind dk0 = style_ < wb_.xf_kind.size() ? wb_.xf_kind[style_] : DateKind::None;
        if (dk0 == DateKind::None) {
            if (canonical_digits(v)) {
                // The most common number: already written as its field text.
                cv.kind = Cell::Number;
                cv.text = v;
                if (numbers_) {
                    double n = 0;
                    for (char c : v) n = n * 10 + (c - '0');
                    cv.number = n;
                }
                return;
            }
            if (v.size() <= 15 && !point_or_exponent(v) &&
                detail::canonical_integer(v, out_)) {
                // Integers are the common case: their digits are the field, no float parse needed.
                cv.kind = Cell::Number;
                cv.text = out_;
                if (numbers_) {
                    double n = 0;
                    for (char c : out_)
                        if (c != '-') n = n * 10 + (c - '0');
                    cv.number = out_[0] == '-' ? -n : n;
                }
                return;
            }
            if (canonical_decimal(v)) {
                // Written as the field text already (what most writers store).
                cv.kind = Cell::Number;
                cv.text = v;
                if (numbers_) std::from_chars(v.data(), v.data() + v.size(), cv.number);
                return;
            }
            // Most stored decimals are short enough to give their field text without a
            // binary round trip; the value itself is parsed only for readers that use it.
            if (size_t n = detail::repr_decimal_text(v, num_)) {
                cv.kind = Cell::Number;
                cv.text = {num_, n};
                if (numbers_) std::from_chars(v.data(), v.data() + v.size(), cv.number);
                return;
            }
        }
        double d = 0;
        const char* b = v.data();
        const char* e = b + v.size();
        auto r = std::from_chars(b, e, d);
        if (r.ec != std::errc() || r.ptr != e) {
            // Not a number after all: keep what the file says.
            cv.kind = Cell::Text;
            cv.text = v_;
            return;
        }
        cv.kind = Cell::Number;
        cv.number = d;
        DateKind dk = style_ < wb_.xf_kind.size() ? wb_.xf_kind[style_] : DateKind::None;
        if (dk != DateKind::None) {
            cv.kind = Cell::Date;
            if (!detail::format_serial_date(d, wb_.date1904, dk, out_)) {
                cv.kind = Cell::Error;
                out_ = "#VALUE!";
            }
            cv.text = out_;
            return;
        }
        if (!point_or_exponent(v) && detail::canonical_integer(v, out_)) {
            cv.text = out_;
            return;
        }
        size_t n = util::format_double_to(d, num_);
        cv.text = {num_, n};
    }

    void finish_cell() {
        in_cell_ = false;
        cap_ = nullptr;
        CellValue cv;
        if (has_f_) {
            if (f_.empty() && f_shared_ && f_si_ >= 0) {
                auto it = masters_.find(f_si_);
                if (it != masters_.end())
                    detail::shift_formula(it->second.text, int64_t(row_) - it->second.row,
                                          int64_t(col_) - it->second.col, f_);
            }
            if (!f_.empty()) {
                f_.insert(f_.begin(), '=');
                cv.kind = Cell::Formula;
                cv.text = f_;
                sink_.cell(col_, cv);
                return;
            }
        }
        switch (type_) {
            case 's': {
                if (!has_v_ || v_.empty()) break;
                size_t i;
                if (!to_uint(detail::decode_xml_text(v_), i) || i + 1 >= wb_.sst_off.size())
                    throw Error("cannot read workbook '" + wb_.pkg.path() + "': sheet '" + sheet_ + "', cell " +
                                cell_name() + " refers to shared string '" + v_ + "' but the table has " +
                                std::to_string(wb_.sst_off.size() - 1) + " strings");
                cv.kind = Cell::Text;
                cv.text = std::string_view(wb_.sst_pool).substr(wb_.sst_off[i], wb_.sst_off[i + 1] - wb_.sst_off[i]);
                break;
            }
            case 'i':
            case 'S': {
                std::string* text = type_ == 'i' && has_is_ ? &is_ : has_v_ ? &v_ : nullptr;
                if (!text) break;
                detail::decode_ooxml_escapes(*text);
                cv.kind = Cell::Text;
                cv.text = *text;
                break;
            }
            case 'b':
                if (!has_v_ || v_.empty()) break;
                cv.kind = Cell::Bool;
                cv.boolean = v_ == "1" || v_ == "true" || v_ == "TRUE";
                cv.text = cv.boolean ? "True" : "False";
                break;
            case 'e':
                if (!has_v_) break;
                cv.kind = Cell::Error;
                cv.text = v_;
                break;
            case 'd':
                if (!has_v_ || v_.empty()) break;
                if (detail::format_iso_date(v_, out_)) {
                    cv.kind = Cell::Date;
                    cv.text = out_;
                } else {
                    cv.kind = Cell::Text;
                    cv.text = v_;
                }
                break;
            default:
                if (has_v_ && !v_.empty()) set_number(cv);
                break;
        }
        sink_.cell(col_, cv);
    }

    struct Master {
        std::string text;
        uint32_t row, col;
    };

    const Workbook::Impl& wb_;
    const std::string& sheet_;
    RowSink& sink_;
    bool numbers_;
    std::string* cap_ = nullptr;
    bool in_data_ = false, in_row_ = false, in_cell_ = false, in_is_ = false;
    bool has_v_ = false, has_f_ = false, has_is_ = false;
    bool f_shared_ = false, f_master_ = false;
    int64_t f_si_ = -1;
    int rph_ = 0;
    uint32_t row_ = 0, col_ = 0, next_col_ = 1, style_ = 0;
    char row_digits_[12];  // row_ in decimal, for cell_column
    uint8_t row_len_ = 0;
    char type_ = 'n';
    std::string v_, f_, is_, out_;
    char num_[40];
    std::unordered_map<int64_t, Master> masters_;
};

}  // namespace

void Workbook::Impl::read_sheet(const std::string& name, RowSink& sink) const {
    const Sheet& s = sheet(name);
    SheetHandler h(*this, name, sink);
    pkg.scan(s.part, h);
    if (h.unfinished())
        fail("sheet '" + name + "': part '" + s.part + "' ends before its cell data does (truncated file?)");
}

}  // namespace igxl::xlsx

namespace igxl::xlsx {

namespace {

// The merged ranges that cover sheet row r (1-based) while rows are visited in order; the merges
// are sorted by their first row once, on construction.
class MergeWindow {
public:
    explicit MergeWindow(std::vector<Range>& merges) : merges_(merges) {
        std::sort(merges.begin(), merges.end(),
                  [](const Range& a, const Range& b) { return a.first_row < b.first_row; });
    }
    const std::vector<Range>& covering(uint64_t r) {
        while (next_ < merges_.size() && merges_[next_].first_row + 1 <= r) active_.push_back(merges_[next_++]);
        if (!active_.empty())
            active_.erase(std::remove_if(active_.begin(), active_.end(),
                                         [&](const Range& m) { return m.last_row + 1 < r; }),
                          active_.end());
        return active_;
    }

private:
    const std::vector<Range>& merges_;
    size_t next_ = 0;
    std::vector<Range> active_;
};

// A sheet with more fields than this (rows x columns) is not a test-program sheet; writing it
// would take gigabytes of tabs. Formatting-only cells far out are then left out, and real
// values that far out are refused.
constexpr uint64_t kMaxFields = uint64_t(1) << 27;

// Collects one sheet as text rows. A row's text holds its fields up to its last non-empty one;
// trailing fields, rows without values and the column count are settled when the whole sheet is
// known, because the last column comes from the last cell record, wherever it stands.
class TextSheet : public RowSink {
public:
    explicit TextSheet(std::string what) : what_(std::move(what)) {}

    void begin_row(uint32_t row) override {
        row_ = row;
        filled_ = 0;
        start_ = body_.size();
    }

    void cell(uint32_t col, const CellValue& v) override {
        if (col > rec_cols_) rec_cols_ = col;
        if (row_ > rec_rows_) rec_rows_ = row_;
        if (v.text.empty()) return;
        if (col <= filled_) {
            set_field_slow(col, v.text);
            return;
        }
        body_.append(filled_ == 0 ? col - 1 : col - filled_, '\t');
        size_t at = body_.size();
        body_.append(v.text);
        // A tab or line break inside a cell would split the field or the row.
        for (size_t i = at; i < body_.size(); ++i) {
            char c = body_[i];
            if (c == '\t' || c == '\n' || c == '\r') body_[i] = ' ';
        }
        filled_ = col;
        if (body_.size() > kMaxFields * 2)
            throw Error(what_ + ": the sheet text would exceed " + std::to_string(kMaxFields * 2 >> 20) + " MB");
    }

    void end_row() override {
        if (filled_ == 0) {
            body_.resize(start_);
            return;
        }
        if (!rows_.empty() && rows_.back().row >= row_) sorted_ = false;
        rows_.push_back({row_, filled_, start_, body_.size() - start_});
        if (row_ > val_rows_) val_rows_ = row_;
        if (filled_ > val_cols_) val_cols_ = filled_;
    }

    void merge(const Range& r) override {
        merges_.push_back(r);
        rec_rows_ = std::max(rec_rows_, r.last_row + 1);
        rec_cols_ = std::max(rec_cols_, r.last_col + 1);
    }

    void write(const std::string& file) {
        uint64_t nrows = rec_rows_, ncols = rec_cols_;
        if (nrows * ncols > kMaxFields) {
            nrows = val_rows_;
            ncols = val_cols_;
            if (nrows * ncols > kMaxFields)
                throw Error(what_ + ": values span " + std::to_string(nrows) + " rows x " + std::to_string(ncols) +
                            " columns, too large for a sheet text file");
        }
        if (!sorted_) sort_rows();
        std::FILE* f = util::open_file(file, "wb");
        if (!f) throw Error("cannot write sheet text file '" + file + "': " + std::strerror(errno));
        std::vector<char> fbuf(size_t(1) << 20);
        std::setvbuf(f, fbuf.data(), _IOFBF, fbuf.size());
        std::string tabs(ncols ? ncols - 1 : 0, '\t');
        MergeWindow window(merges_);
        size_t next_row = 0;
        std::string scratch;
        for (uint64_t r = 1; r <= nrows && ncols > 0; ++r) {
            const std::vector<Range>& active = window.covering(r);
            uint64_t fields = 1;
            if (next_row < rows_.size() && rows_[next_row].row == r) {
                const RowRec& rr = rows_[next_row++];
                std::string_view text(body_.data() + rr.off, rr.len);
                fields = rr.filled;
                if (!active.empty()) {
                    blank_merged(text, r, active, scratch);
                    text = scratch;
                }
                std::fwrite(text.data(), 1, text.size(), f);
            }
            std::fwrite(tabs.data(), 1, ncols - fields, f);
            std::fputc('\n', f);
        }
        bool bad = std::ferror(f) != 0;
        if (std::fclose(f) != 0 || bad) throw Error("cannot write sheet text file '" + file + "'");
    }

private:
    struct RowRec {
        uint32_t row, filled;
        size_t off, len;
    };

    static void split(std::string_view text, std::vector<std::string>& out) {
        out.clear();
        size_t i = 0;
        for (;;) {
            size_t t = text.find('\t', i);
            out.emplace_back(text.substr(i, t == std::string_view::npos ? t : t - i));
            if (t == std::string_view::npos) return;
            i = t + 1;
        }
    }
    static void join(const std::vector<std::string>& fields, std::string& out) {
        size_t n = fields.size();
        while (n > 0 && fields[n - 1].empty()) --n;
        out.clear();
        for (size_t i = 0; i < n; ++i) {
            if (i) out += '\t';
            out += fields[i];
        }
    }

    // Cells come in column order; a file that breaks the order is mended field by field.
    void set_field_slow(uint32_t col, std::string_view text) {
        std::vector<std::string> fields;
        split(std::string_view(body_).substr(start_), fields);
        if (fields.size() < col) fields.resize(col);
        fields[col - 1] = text;
        for (char& c : fields[col - 1])
            if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        std::string joined;
        join(fields, joined);
        body_.resize(start_);
        body_ += joined;
        filled_ = std::max<uint32_t>(filled_, col);
    }

    void blank_merged(std::string_view text, uint64_t r, const std::vector<Range>& active, std::string& out) {
        split(text, fields_);
        for (const Range& m : active)
            for (uint64_t c = m.first_col; c <= m.last_col && c < fields_.size(); ++c)
                if (!(r == m.first_row + 1 && c == m.first_col)) fields_[c].clear();
        out.clear();
        for (size_t i = 0; i < fields_.size(); ++i) {
            if (i) out += '\t';
            out += fields_[i];
        }
    }

    // Rows out of order (or repeated) in the file: order them, later cells winning.
    void sort_rows() {
        std::stable_sort(rows_.begin(), rows_.end(), [](const RowRec& a, const RowRec& b) { return a.row < b.row; });
        std::vector<RowRec> merged;
        std::vector<std::string> a, b;
        for (const RowRec& rr : rows_) {
            if (!merged.empty() && merged.back().row == rr.row) {
                RowRec& m = merged.back();
                split(std::string_view(body_).substr(m.off, m.len), a);
                split(std::string_view(body_).substr(rr.off, rr.len), b);
                if (a.size() < b.size()) a.resize(b.size());
                for (size_t i = 0; i < b.size(); ++i)
                    if (!b[i].empty()) a[i] = b[i];
                std::string joined;
                join(a, joined);
                m.off = body_.size();
                m.len = joined.size();
                m.filled = static_cast<uint32_t>(a.size());
                body_ += joined;
            } else {
                merged.push_back(rr);
            }
        }
        rows_.swap(merged);
    }

    std::string what_;
    std::string body_;
    std::vector<RowRec> rows_;
    std::vector<Range> merges_;
    std::vector<std::string> fields_;
    uint32_t row_ = 0, filled_ = 0;
    size_t start_ = 0;
    uint32_t rec_rows_ = 0, rec_cols_ = 0, val_rows_ = 0, val_cols_ = 0;
    bool sorted_ = true;
};

// Thrown by StreamSheet when rows come out of order; the sheet is then read again buffered.
struct RowsOutOfOrder {};

// The output of one sheet text file, flushed to the file in large blocks: appending costs one
// compare, no per-call growth logic.
class OutBuf {
public:
    // kPad bytes after the end stay readable, for 16-byte loads at any position.
    static constexpr size_t kPad = 16;
    explicit OutBuf(size_t cap) : buf_(new char[cap + kPad]()), cap_(cap) {}
    size_t size() const { return len_; }
    bool empty() const { return len_ == 0; }
    const char* data() const { return buf_.get(); }
    void clear() { len_ = 0; }
    // n more bytes at the end, to be filled by the caller.
    char* grow(size_t n) {
        if (n > cap_ - len_) reserve(len_ + n);
        char* p = buf_.get() + len_;
        len_ += n;
        return p;
    }
    void append(std::string_view s) {
        if (!s.empty()) std::memcpy(grow(s.size()), s.data(), s.size());
    }
    void append(size_t n, char c) {
        if (n) std::memset(grow(n), c, n);
    }
    OutBuf& operator+=(char c) {
        *grow(1) = c;
        return *this;
    }

private:
    void reserve(size_t n) {
        size_t cap = std::max(n, cap_ * 2);
        std::unique_ptr<char[]> b(new char[cap + kPad]());
        std::memcpy(b.get(), buf_.get(), len_);
        buf_.swap(b);
        cap_ = cap;
    }
    std::unique_ptr<char[]> buf_;
    size_t cap_, len_ = 0;
};

// Whether the n bytes at p (in an OutBuf: 16 bytes readable from any of them) hold a tab,
// LF or CR.
inline bool has_break(const char* p, size_t n) {
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t'), lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    for (size_t i = 0; i < n; i += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        unsigned m = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, tab), _mm_cmpeq_epi8(x, lf)), _mm_cmpeq_epi8(x, cr))));
        if (n - i < 16) m &= (1u << (n - i)) - 1;
        if (m) return true;
    }
    return false;
#else
    for (size_t i = 0; i < n; ++i)
        if (p[i] == '\t' || p[i] == '\n' || p[i] == '\r') return true;
    return false;
#endif
}

// Writes rows to the file as they come, padded to the width the sheet declares. When the real
// width (from the cell records) differs, or merged ranges hide values, one pass over the written
// file settles it. Memory stays at one row plus one file offset per row with values.
class StreamSheet : public RowSink {
public:
    StreamSheet(std::string what, const std::string& file)
        : what_(std::move(what)), file_(file), out_(kChunk + 65536) {
        // Read access too: lines under merged ranges are read back to see whether they hold values.
        f_ = util::open_file(file, "w+b");
        if (!f_) throw Error("cannot write sheet text file '" + file + "': " + std::strerror(errno));
    }
    ~StreamSheet() override {
        if (f_) std::fclose(f_);
    }

    void dimension(uint32_t last_col) override {
        if (last_col <= 1024) guess_ = last_col;
    }

    void begin_row(uint32_t row) override {
        if (row <= written_) throw RowsOutOfOrder{};
        row_ = row;
        filled_ = 0;
    }

    void cell(uint32_t col, const CellValue& v) override {
        if (col > rec_cols_) rec_cols_ = col;
        rec_rows_ = row_;
        if (v.text.empty()) return;
        if (col <= filled_) throw RowsOutOfOrder{};
        size_t tabs = col - 1;
        if (filled_ == 0) start_line();
        else tabs = col - filled_;
        char* d = out_.grow(tabs + v.text.size());
        if (tabs == 1) *d++ = '\t';
        else if (tabs > 0) d = static_cast<char*>(std::memset(d, '\t', tabs)) + tabs;
        std::memcpy(d, v.text.data(), v.text.size());
        // A tab or line break inside a cell would split the field or the row.
        if (has_break(d, v.text.size()))
            for (size_t i = 0; i < v.text.size(); ++i)
                if (d[i] == '\t' || d[i] == '\n' || d[i] == '\r') d[i] = ' ';
        filled_ = col;
    }

    void end_row() override {
        if (filled_ == 0) return;
        if (filled_ > val_cols_) val_cols_ = filled_;
        if (uint64_t(row_) * val_cols_ > kMaxFields) too_large(row_, val_cols_);
        if (filled_ > guess_) guess_ok_ = false;
        pad(guess_ > filled_ ? guess_ - filled_ : 0);
        out_ += '\n';
        if (out_.size() >= kChunk) flush();
        written_ = row_;
    }

    void merge(const Range& r) override {
        merges_.push_back(r);
        rec_rows_ = std::max(rec_rows_, r.last_row + 1);
        rec_cols_ = std::max(rec_cols_, r.last_col + 1);
    }

    void finish() {
        uint64_t nrows = rec_rows_, ncols = rec_cols_;
        if (nrows * ncols > kMaxFields) {
            nrows = written_;
            ncols = val_cols_;
        }
        if (written_ > 0 && (ncols != guess_ || !guess_ok_ || (!merges_.empty() && merges_hide_values()))) {
            flush();
            rewrite(nrows, ncols);
            return;
        }
        for (uint64_t r = written_ + 1; r <= nrows; ++r) blank_line(ncols);
        flush();
        close();
    }

private:
    static constexpr size_t kChunk = size_t(1) << 20;

    struct Line {
        uint32_t row;
        uint64_t off;
    };

    // The first value of a row: the rows without values before it become lines of tabs.
    void start_line() {
        // Padding to a guessed width must stay cheap; past the budget it is left to the last pass.
        if (guess_ && uint64_t(row_) * guess_ > kMaxFields) guess_ = 0;
        for (uint64_t r = written_ + 1; r < row_; ++r) blank_line(guess_);
        lines_.push_back({row_, written_bytes_ + out_.size()});
    }

    [[noreturn]] void too_large(uint64_t rows, uint64_t cols) const {
        throw Error(what_ + ": values span " + std::to_string(rows) + " rows x " + std::to_string(cols) +
                    " columns, too large for a sheet text file");
    }
    void put(std::string_view s) {
        out_.append(s);
        if (out_.size() >= kChunk) flush();
    }
    void pad(uint64_t tabs) {
        while (tabs > 0) {
            size_t n = std::min<uint64_t>(tabs, 4096);
            out_.append(n, '\t');
            tabs -= n;
            if (out_.size() >= kChunk) flush();
        }
    }
    void blank_line(uint64_t cols) {
        pad(cols ? cols - 1 : 0);
        put("\n");
    }

    // Excel clears the cells a merge covers, so the lines already written are usually right as
    // they stand. Reads back only the lines under merged ranges; true when one of them holds a
    // value in a covered field (then the file is rewritten). Many or tall ranges go straight
    // to the rewrite, which reads every line once anyway.
    bool merges_hide_values() {
        flush();
        if (std::fflush(f_) != 0)
            throw Error("cannot write sheet text file '" + file_ + "': " + std::strerror(errno));
        size_t budget = lines_.size();
        std::string line;
        for (const Range& m : merges_) {
            auto it = std::lower_bound(lines_.begin(), lines_.end(), m.first_row + 1,
                                       [](const Line& l, uint64_t r) { return l.row < r; });
            for (; it != lines_.end() && it->row <= uint64_t(m.last_row) + 1; ++it) {
                if (budget-- == 0) return true;
                uint64_t end = it + 1 != lines_.end() ? (it + 1)->off : written_bytes_;
                line.resize(end - it->off);
                util::read_at(f_, it->off, line.data(), line.size(), file_);
                std::string_view text(line);
                text = text.substr(0, text.find('\n'));
                uint64_t c = 0;
                for (size_t i = 0; c <= m.last_col; ++c) {
                    size_t t = text.find('\t', i);
                    size_t n = (t == std::string_view::npos ? text.size() : t) - i;
                    if (c >= m.first_col && n > 0 && !(it->row == m.first_row + 1 && c == m.first_col)) return true;
                    if (t == std::string_view::npos) break;
                    i = t + 1;
                }
            }
        }
        return false;
    }

    void flush() {
        if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), f_) != out_.size())
            throw Error("cannot write sheet text file '" + file_ + "': " + std::strerror(errno));
        written_bytes_ += out_.size();
        out_.clear();
    }
    void close() {
        std::FILE* f = f_;
        f_ = nullptr;
        if (std::fclose(f) != 0) throw Error("cannot write sheet text file '" + file_ + "'");
    }

    // The width or the merged ranges differ from what was written: pad, cut and blank each line.
    void rewrite(uint64_t nrows, uint64_t ncols) {
        close();
        std::string tmp = file_ + ".part";
        {
            util::LineReader in(file_);
            f_ = util::open_file(tmp, "wb");
            if (!f_) throw Error("cannot write sheet text file '" + tmp + "': " + std::strerror(errno));
            MergeWindow window(merges_);
            std::string_view line;
            for (uint64_t r = 1; r <= nrows; ++r) {
                if (!in.next(line)) line = {};
                const std::vector<Range>& active = window.covering(r);
                // Fields 1..ncols of the written line, merged non-top-left fields emptied.
                uint64_t c = 0;
                size_t i = 0;
                while (c < ncols) {
                    size_t t = line.find('\t', i);
                    std::string_view field = i <= line.size() ? line.substr(i, t == std::string_view::npos ? t : t - i)
                                                              : std::string_view();
                    bool blank = false;
                    for (const Range& m : active)
                        if (c >= m.first_col && c <= m.last_col && !(r == m.first_row + 1 && c == m.first_col))
                            blank = true;
                    if (c) out_ += '\t';
                    if (!blank) out_.append(field);
                    ++c;
                    i = t == std::string_view::npos ? line.size() + 1 : t + 1;
                    if (i > line.size() && c < ncols) {
                        pad(ncols - c);
                        break;
                    }
                }
                put("\n");
            }
            flush();
            close();
        }
        util::rename_over(tmp, file_);
    }

    std::string what_, file_;
    std::FILE* f_ = nullptr;
    OutBuf out_;
    std::vector<Range> merges_;
    std::vector<Line> lines_;
    uint32_t row_ = 0, filled_ = 0, guess_ = 0;
    bool guess_ok_ = true;
    uint64_t written_ = 0, written_bytes_ = 0;
    uint32_t rec_rows_ = 0, rec_cols_ = 0, val_cols_ = 0;
};

class CellRows : public RowSink {
public:
    CellRows(const Workbook::RowCallback& cb, const std::function<void(const Range&)>& on_merge)
        : cb_(cb), on_merge_(on_merge) {}
    void begin_row(uint32_t row) override {
        row_ = row;
        cells_.clear();
    }
    void cell(uint32_t col, const CellValue& v) override {
        if (cells_.size() < col) cells_.resize(col);
        Cell& c = cells_[col - 1];
        c.kind = v.kind;
        c.text.assign(v.text);
        c.number = v.number;
        c.boolean = v.boolean;
    }
    void end_row() override {
        if (!cells_.empty()) cb_(row_ - 1, cells_);
    }
    void merge(const Range& r) override {
        if (on_merge_) on_merge_(r);
    }
    bool wants_numbers() const override { return true; }

private:
    const Workbook::RowCallback& cb_;
    const std::function<void(const Range&)>& on_merge_;
    std::vector<Cell> cells_;
    uint32_t row_ = 0;
};

}  // namespace

Workbook::Workbook(const std::string& path) : impl_(std::make_unique<Impl>(path)) {}
Workbook::~Workbook() = default;
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;

const std::string& Workbook::path() const { return impl_->pkg.path(); }
const std::vector<std::string>& Workbook::sheet_names() const { return impl_->names; }

void Workbook::for_each_row(const std::string& sheet, const RowCallback& cb,
                            const std::function<void(const Range&)>& on_merge) const {
    CellRows sink(cb, on_merge);
    impl_->read_sheet(sheet, sink);
}

void Workbook::write_sheet_text(const std::string& sheet, const std::string& file_path) const {
    std::string what = "workbook '" + path() + "', sheet '" + sheet + "'";
    try {
        StreamSheet sink(what, file_path);
        impl_->read_sheet(sheet, sink);
        sink.finish();
        return;
    } catch (const RowsOutOfOrder&) {
        // Rows or cells out of order are rare; such a sheet is gathered whole, then written.
    }
    TextSheet sink(what);
    impl_->read_sheet(sheet, sink);
    sink.write(file_path);
}

Table read_table(const std::string& path, const std::string& sheet) {
    Workbook wb(path);
    std::vector<std::vector<Cell>> all;
    std::vector<Range> merges;
    wb.for_each_row(
        sheet,
        [&](size_t r, const std::vector<Cell>& cells) {
            if (all.size() <= r) all.resize(r + 1);
            all[r] = cells;
        },
        [&](const Range& m) { merges.push_back(m); });
    for (const Range& m : merges)
        for (size_t r = m.first_row; r <= m.last_row && r < all.size(); ++r)
            for (size_t c = m.first_col; c <= m.last_col && c < all[r].size(); ++c)
                if (r != m.first_row || c != m.first_col) all[r][c] = Cell{};
    Table t;
    if (all.empty()) return t;
    t.header = std::move(all[0]);
    t.rows.assign(std::make_move_iterator(all.begin() + 1), std::make_move_iterator(all.end()));
        return t;
}

}  // namespace igxl::xlsx
