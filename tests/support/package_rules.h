// Checks a workbook package against the rules Excel and LibreOffice are strict about: the
// content types come first and name a type for every part, every relationship points at a part
// that is there, part names are unique, and every XML part is well-formed. Returns the faults
// found, one line each; empty when the package keeps every rule.
#pragma once
#include <expat.h>
#include <zip.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "util/regex.h"

namespace igxl::testing {

inline std::vector<std::string> package_faults(const std::string& path) {
    std::vector<std::string> faults;
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
    if (!z) return {"not a ZIP container: " + path};
    std::vector<std::string> names;
    std::map<std::string, std::string> body;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
        const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
        names.push_back(name);
        std::string text;
        if (zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0)) {
            char buf[1 << 15];
            zip_int64_t n;
            while ((n = zip_fread(f, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
            if (n < 0) faults.push_back("cannot inflate " + name);
            zip_fclose(f);
        }
        body[name] = std::move(text);
    }
    zip_close(z);

    if (names.empty() || names.front() != "[Content_Types].xml")
        faults.push_back("[Content_Types].xml is not the first part");
    std::set<std::string> seen;
    for (const std::string& n : names) {
        if (!seen.insert(n).second) faults.push_back("part named twice: " + n);
        std::string lower = n;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower != n && seen.count(lower)) faults.push_back("part names differ only in case: " + n);
    }

    std::map<std::string, std::string> defaults, overrides;
    const std::string& types = body["[Content_Types].xml"];
    static const util::Regex default_re("<Default Extension=\"([^\"]+)\" ContentType=\"([^\"]+)\"");
    static const util::Regex override_re("<Override PartName=\"/([^\"]+)\" ContentType=\"([^\"]+)\"");
    util::Match m;
    for (size_t at = 0; default_re.search(types, m, at); at = m.end(0)) defaults[std::string(m.group(1))] = m.group(2);
    for (size_t at = 0; override_re.search(types, m, at); at = m.end(0))
        overrides[std::string(m.group(1))] = m.group(2);
    for (const auto& [part, type] : overrides)
        if (!body.count(part)) faults.push_back("content type for a missing part: " + part);
    for (const std::string& n : names) {
        if (n == "[Content_Types].xml" || overrides.count(n)) continue;
        const std::string ext = n.substr(n.rfind('.') + 1);
        if (!defaults.count(ext)) faults.push_back("no content type for " + n);
    }
    const bool macros = body.count("xl/vbaProject.bin") > 0;
    const std::string book_type = overrides["xl/workbook.xml"];
    if (macros != (book_type.find("macroEnabled") != std::string::npos))
        faults.push_back("workbook content type '" + book_type + "' does not match the macro project");

    static const util::Regex rel_re("<Relationship ([^>]*)/>");
    static const util::Regex target_re("Target=\"([^\"]+)\"");
    static const util::Regex id_re("Id=\"([^\"]+)\"");
    for (const std::string& n : names) {
        if (n.size() < 5 || n.substr(n.size() - 5) != ".rels") continue;
        // "xl/_rels/workbook.xml.rels" speaks for parts under "xl/".
        const size_t cut = n.find("_rels/");
        const std::string base = n.substr(0, cut);
        std::set<std::string> ids;
        for (size_t at = 0; rel_re.search(body[n], m, at); at = m.end(0)) {
            const std::string attrs(m.group(1));
            util::Match t;
            if (attrs.find("TargetMode=\"External\"") != std::string::npos) continue;
            if (id_re.search(attrs, t) && !ids.insert(std::string(t.group(1))).second)
                faults.push_back(n + ": relationship id used twice: " + std::string(t.group(1)));
            if (!target_re.search(attrs, t)) {
                faults.push_back(n + ": relationship without a target");
                continue;
            }
            std::string target(t.group(1));
            target = target.front() == '/' ? target.substr(1) : base + target;
            if (!body.count(target)) faults.push_back(n + ": relationship to a missing part " + target);
        }
    }

    for (const std::string& n : names) {
        if (n.size() < 4 || (n.substr(n.size() - 4) != ".xml" && n.substr(n.size() - 5) != ".rels")) continue;
        XML_Parser p = XML_ParserCreate(nullptr);
        const std::string& text = body[n];
        if (XML_Parse(p, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_ERROR)
            faults.push_back(n + " is not well-formed: " + XML_ErrorString(XML_GetErrorCode(p)) + " at line " +
                             std::to_string(XML_GetCurrentLineNumber(p)));
        XML_ParserFree(p);
    }
    return faults;
}

}  // namespace igxl::testing
