// Shared strings part: each distinct text once, in the order first written.
#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

std::uint32_t SharedStrings::add(std::string_view text) {
    ++uses;
    auto [it, fresh] = index.try_emplace(std::string(text), static_cast<std::uint32_t>(order.size()));
    if (fresh) order.push_back(&it->first);
    return it->second;
}

std::string shared_strings_xml(const SharedStrings& table) {
    std::string s(kXmlDeclaration);
    s += "<sst xmlns=\"";
    s += kMainNs;
    s += "\" count=\"";
    append_uint(s, table.uses);
    s += "\" uniqueCount=\"";
    append_uint(s, table.order.size());
    s += "\">";
    for (const std::string* text : table.order) {
        const char first = text->front(), last = text->back();
        const bool keep_spaces = first == ' ' || first == '\t' || first == '\n' || last == ' ' || last == '\t' ||
                                 last == '\n' || first == '\r' || last == '\r';
        s += keep_spaces ? "<si><t xml:space=\"preserve\">" : "<si><t>";
        append_text(s, *text);
        s += "</t></si>";
    }
    s += "</sst>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
