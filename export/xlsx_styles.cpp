// Styles part: the cell formats the sheets used, in the order first used, each font, fill and
// number format once; and the formats of conditional rules.
#include <algorithm>
#include <cstdio>

#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

namespace {

// Number formats every spreadsheet program knows by number.
int builtin_number_format(const std::string& code) {
    static const std::pair<const char*, int> known[] = {
        {"General", 0}, {"0", 1},          {"0.00", 2},  {"#,##0", 3},     {"#,##0.00", 4},
        {"0%", 9},      {"0.00%", 10},     {"0.00E+00", 11}, {"mm-dd-yy", 14}, {"h:mm", 20},
        {"h:mm:ss", 21}, {"@", 49}};
    if (code.empty()) return 0;
    for (const auto& [text, id] : known)
        if (code == text) return id;
    return -1;
}

std::string rgb_text(std::uint32_t rgb) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "FF%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return buf;
}

template <class T>
std::uint32_t index_of(std::vector<T>& list, const T& value) {
    auto it = std::find(list.begin(), list.end(), value);
    if (it != list.end()) return static_cast<std::uint32_t>(it - list.begin());
    list.push_back(value);
    return static_cast<std::uint32_t>(list.size() - 1);
}

}  // namespace

StyleKey style_key(const Format& f) { return {f.bold(), f.fill(), f.number_format()}; }

std::uint32_t Styles::add_xf(const Format* f) {
    const std::uint32_t index = index_of(xfs, style_key(*f));
    known.emplace_back(f, index);
    return index;
}

std::uint32_t Styles::dxf_index(const Format* f) {
    return index_of(dxfs, f ? style_key(*f) : StyleKey{});
}

std::string styles_xml(const Styles& styles) {
    // Number formats, fonts and fills each once, numbered in the order the cell formats use them.
    std::vector<std::string> custom_formats;
    std::vector<bool> fonts{false};
    std::vector<std::uint32_t> fills;
    auto number_format_id = [&](const std::string& code) {
        const int id = builtin_number_format(code);
        if (id >= 0) return static_cast<std::uint32_t>(id);
        return 164 + index_of(custom_formats, code);
    };
    struct Xf {
        std::uint32_t num, font, fill;
    };
    std::vector<Xf> xfs;
    for (const StyleKey& k : styles.xfs) {
        Xf x{number_format_id(k.number_format), index_of(fonts, k.bold), 0};
        if (k.fill) x.fill = 2 + index_of(fills, *k.fill);
        xfs.push_back(x);
    }
    for (const StyleKey& k : styles.dxfs) number_format_id(k.number_format);

    std::string s(kXmlDeclaration);
    s += "<styleSheet xmlns=\"";
    s += kMainNs;
    s += "\">";
    if (!custom_formats.empty()) {
        s += "<numFmts count=\"";
        append_uint(s, custom_formats.size());
        s += "\">";
        for (size_t i = 0; i < custom_formats.size(); ++i) {
            s += "<numFmt numFmtId=\"";
            append_uint(s, 164 + i);
            s += "\" formatCode=\"";
            append_attr(s, custom_formats[i]);
            s += "\"/>";
        }
        s += "</numFmts>";
    }
    s += "<fonts count=\"";
    append_uint(s, fonts.size());
    s += "\">";
    for (bool bold : fonts) {
        s += "<font>";
        if (bold) s += "<b/>";
        s += "<sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/><scheme val=\"minor\"/></font>";
    }
    s += "</fonts><fills count=\"";
    append_uint(s, fills.size() + 2);
    s += "\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>";
    for (std::uint32_t rgb : fills)
        s += "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"" + rgb_text(rgb) +
             "\"/><bgColor indexed=\"64\"/></patternFill></fill>";
    s += "</fills><borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
         "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
         "<cellXfs count=\"";
    append_uint(s, xfs.size());
    s += "\">";
    for (const Xf& x : xfs) {
        s += "<xf numFmtId=\"";
        append_uint(s, x.num);
        s += "\" fontId=\"";
        append_uint(s, x.font);
        s += "\" fillId=\"";
        append_uint(s, x.fill);
        s += "\" borderId=\"0\" xfId=\"0\"";
        if (x.num) s += " applyNumberFormat=\"1\"";
        if (x.font) s += " applyFont=\"1\"";
        if (x.fill) s += " applyFill=\"1\"";
        s += "/>";
    }
    s += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>";
    if (styles.dxfs.empty()) {
        s += "<dxfs count=\"0\"/>";
    } else {
        s += "<dxfs count=\"";
        append_uint(s, styles.dxfs.size());
        s += "\">";
        for (const StyleKey& k : styles.dxfs) {
            s += "<dxf>";
            if (k.bold) s += "<font><b/></font>";
            if (!k.number_format.empty()) {
                s += "<numFmt numFmtId=\"";
                append_uint(s, number_format_id(k.number_format));
                s += "\" formatCode=\"";
                append_attr(s, k.number_format);
                s += "\"/>";
            }
            if (k.fill) s += "<fill><patternFill><bgColor rgb=\"" + rgb_text(*k.fill) + "\"/></patternFill></fill>";
            s += "</dxf>";
        }
        s += "</dxfs>";
    }
    s += "<tableStyles count=\"0\" defaultTableStyle=\"TableStyleMedium9\" defaultPivotStyle=\"PivotStyleLight16\"/>"
         "</styleSheet>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
