// Relationship parts: the package's (workbook and document properties) and the workbook's
// (sheets, theme, styles, shared strings, macro project).
#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

namespace {
constexpr std::string_view kDocRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

void relationship(std::string& s, size_t id, std::string_view type_base, std::string_view type,
                  std::string_view target) {
    s += "<Relationship Id=\"rId";
    append_uint(s, id);
    s += "\" Type=\"";
    s += type_base;
    s += type;
    s += "\" Target=\"";
    s += target;
    s += "\"/>";
}

std::string open_relationships() {
    std::string s(kXmlDeclaration);
    s += "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    return s;
}
}  // namespace

std::string root_rels_xml() {
    std::string s = open_relationships();
    relationship(s, 1, kDocRel, "officeDocument", "xl/workbook.xml");
    relationship(s, 2, "http://schemas.openxmlformats.org/package/2006/relationships/metadata/", "core-properties",
                 "docProps/core.xml");
    relationship(s, 3, kDocRel, "extended-properties", "docProps/app.xml");
    s += "</Relationships>";
    return s;
}

std::string workbook_rels_xml(const BookState& book) {
    std::string s = open_relationships();
    size_t id = 0;
    for (const SheetState* sheet : book.sheet_states)
        relationship(s, ++id, kDocRel, "worksheet", "worksheets/sheet" + std::to_string(sheet->number) + ".xml");
    relationship(s, ++id, kDocRel, "theme", "theme/theme1.xml");
    relationship(s, ++id, kDocRel, "styles", "styles.xml");
    if (!book.strings.order.empty()) relationship(s, ++id, kDocRel, "sharedStrings", "sharedStrings.xml");
    if (!book.vba.empty())
        relationship(s, ++id, "http://schemas.microsoft.com/office/2006/relationships/", "vbaProject", "vbaProject.bin");
    s += "</Relationships>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
