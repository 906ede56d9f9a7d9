// XML in a canonical text form, so two writers' parts compare by meaning: namespace prefixes
// replaced by their URIs, attributes sorted, whitespace between elements dropped, an empty
// element the same as a start and end tag. Returns "<not well-formed: ...>" for broken XML.
#pragma once
#include <expat.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace igxl::testing {

inline std::string canonical_xml(const std::string& xml) {
    struct State {
        std::string out, text;
        void flush_text() {
            bool blank = std::all_of(text.begin(), text.end(),
                                     [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; });
            if (!blank) out += "text{" + text + "}";
            text.clear();
        }
    } st;
    XML_Parser p = XML_ParserCreateNS(nullptr, '|');
    XML_SetUserData(p, &st);
    XML_SetElementHandler(
        p,
        [](void* d, const XML_Char* name, const XML_Char** attrs) {
            auto* s = static_cast<State*>(d);
            s->flush_text();
            std::vector<std::pair<std::string, std::string>> list;
            for (int i = 0; attrs[i]; i += 2) list.emplace_back(attrs[i], attrs[i + 1]);
            std::sort(list.begin(), list.end());
            s->out += "<" + std::string(name);
            for (const auto& [k, v] : list) s->out += " " + k + "=\"" + v + "\"";
            s->out += ">";
        },
        [](void* d, const XML_Char* name) {
            auto* s = static_cast<State*>(d);
            s->flush_text();
            s->out += "</" + std::string(name) + ">\n";
        });
    XML_SetCharacterDataHandler(p, [](void* d, const XML_Char* t, int n) {
        static_cast<State*>(d)->text.append(t, static_cast<size_t>(n));
    });
    std::string result;
    if (XML_Parse(p, xml.data(), static_cast<int>(xml.size()), 1) == XML_STATUS_ERROR)
        result = std::string("<not well-formed: ") + XML_ErrorString(XML_GetErrorCode(p)) + ">";
    else
        result = std::move(st.out);
    XML_ParserFree(p);
    return result;
}

}  // namespace igxl::testing
