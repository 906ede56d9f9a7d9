// [Content_Types].xml: the type of every part in the package.
#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

namespace {
constexpr std::string_view kOfficeDocument = "application/vnd.openxmlformats-officedocument.";

void override_type(std::string& s, std::string_view part, std::string_view type, bool office = true) {
    s += "<Override PartName=\"";
    s += part;
    s += "\" ContentType=\"";
    if (office) s += kOfficeDocument;
    s += type;
    s += "\"/>";
}
}  // namespace

std::string content_types_xml(const BookState& book) {
    const bool vba = !book.vba.empty();
    std::string s(kXmlDeclaration);
    s += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>";
    if (vba) s += "<Default Extension=\"bin\" ContentType=\"application/vnd.ms-office.vbaProject\"/>";
    override_type(s, "/docProps/app.xml", "extended-properties+xml");
    override_type(s, "/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml", false);
    override_type(s, "/xl/styles.xml", "spreadsheetml.styles+xml");
    override_type(s, "/xl/theme/theme1.xml", "theme+xml");
    if (vba)
        override_type(s, "/xl/workbook.xml", "application/vnd.ms-excel.sheet.macroEnabled.main+xml", false);
    else
        override_type(s, "/xl/workbook.xml", "spreadsheetml.sheet.main+xml");
    for (const SheetState* sheet : book.sheet_states)
        override_type(s, "/xl/worksheets/sheet" + std::to_string(sheet->number) + ".xml",
                      "spreadsheetml.worksheet+xml");
    if (!book.strings.order.empty()) override_type(s, "/xl/sharedStrings.xml", "spreadsheetml.sharedStrings+xml");
    s += "</Types>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
