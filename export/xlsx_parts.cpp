// The small parts of a workbook: relationships, the workbook part (sheet list, date system),
// styles (which cell formats show dates) and the shared-strings table.
#include <algorithm>
#include <unordered_map>

#include "export/xlsx_impl.h"

namespace igxl::xlsx {

using detail::append_text;
using detail::attr;
using detail::normalize_part;
using detail::dir_of;
using detail::Package;
using detail::to_uint;
using detail::XmlAttrs;

namespace {

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

std::vector<Rel> rels_of(const Package& pkg, const std::string& part) {
    std::string rp = dir_of(part) + "_rels/" + part.substr(dir_of(part).size()) + ".rels";
    zip_uint64_t idx;
    if (!pkg.find(rp, idx)) return {};
    RelsHandler h;
    pkg.scan(rp, h);
    return std::move(h.rels);
}

std::string resolve(const std::string& base_dir, const std::string& target) {
    std::string t = target;
    std::replace(t.begin(), t.end(), '\\', '/');
    if (!t.empty() && t[0] == '/') return normalize_part(t);
    return normalize_part(base_dir + t);
}

}  // namespace

void Workbook::Impl::open() {
    std::string wb_part;
    for (const Rel& r : rels_of(pkg, ""))
        if (r.type.ends_with("/officeDocument") && !r.external) wb_part = resolve("", r.target);
    zip_uint64_t idx;
    if (wb_part.empty() || !pkg.find(wb_part, idx)) {
        if (pkg.find("xl/workbook.xml", idx)) wb_part = "xl/workbook.xml";
        else if (pkg.find("workbook.xml", idx)) wb_part = "workbook.xml";
        else fail("no workbook part (xl/workbook.xml) in the package; is it an .xlsx/.xlsm file?");
    }
    WorkbookHandler wh;
    pkg.scan(wb_part, wh);
    date1904 = wh.date1904;
    std::vector<Rel> rels = rels_of(pkg, wb_part);
    std::string base = dir_of(wb_part);
    std::string sst_part, styles_part;
    for (const Rel& r : rels) {
        if (r.external) continue;
        if (r.type.ends_with("/sharedStrings")) sst_part = resolve(base, r.target);
        else if (r.type.ends_with("/styles")) styles_part = resolve(base, r.target);
        else if (r.type.ends_with("/vbaProject")) vba_part = resolve(base, r.target);
    }
    for (const auto& e : wh.sheets) {
        const Rel* rel = nullptr;
        for (const Rel& r : rels)
            if (r.id == e.rid) rel = &r;
        if (!rel) fail("sheet '" + e.name + "' has no relationship '" + e.rid + "' in the workbook part list");
        // Chart, dialog and macro sheets hold no cells to export.
        if (!rel->type.ends_with("/worksheet")) continue;
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
    // One pass over the pool: each break marks the string it falls in.
    sst_unbroken.assign(sst_off.size() - 1, 1);
    for (size_t i = 0, k = 0; i < sst_pool.size(); ++i) {
        char c = sst_pool[i];
        if (c != '\t' && c != '\n' && c != '\r') continue;
        while (sst_off[k + 1] <= i) ++k;
        sst_unbroken[k] = 0;
    }
    if (vba_part.empty() || !pkg.find(vba_part, idx))
        vba_part = pkg.find(base + "vbaProject.bin", idx) ? base + "vbaProject.bin" : "";
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

}  // namespace igxl::xlsx
