// Workbook part: the sheets in order, and the hidden names Excel keeps for autofilter ranges.
#include <algorithm>

#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

namespace {
std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
}  // namespace

std::string workbook_xml(const BookState& book) {
    const bool vba = !book.vba.empty();
    std::string s(kXmlDeclaration);
    s += "<workbook xmlns=\"";
    s += kMainNs;
    s += "\" xmlns:r=\"";
    s += kRelNs;
    s += "\"><fileVersion appName=\"xl\" lastEdited=\"4\" lowestEdited=\"4\" rupBuild=\"4505\"";
    // The macro project's code names tie the workbook and each sheet to their modules.
    if (vba) s += " codeName=\"{37E998C4-C9E5-D4B9-71C8-EB1FF731991C}\"";
    s += "/><workbookPr";
    if (vba) s += " codeName=\"ThisWorkbook\"";
    s += " defaultThemeVersion=\"124226\"/>"
         "<bookViews><workbookView xWindow=\"240\" yWindow=\"15\" windowWidth=\"16095\" windowHeight=\"9660\"/>"
         "</bookViews><sheets>";
    for (const SheetState* sheet : book.sheet_states) {
        s += "<sheet name=\"";
        append_attr(s, sheet->name);
        s += "\" sheetId=\"";
        append_uint(s, sheet->number);
        s += "\" r:id=\"rId";
        append_uint(s, sheet->number);
        s += "\"/>";
    }
    s += "</sheets>";
    std::vector<const SheetState*> filtered;
    for (const SheetState* sheet : book.sheet_states)
        if (sheet->filter) filtered.push_back(sheet);
    if (!filtered.empty()) {
        std::stable_sort(filtered.begin(), filtered.end(), [](const SheetState* a, const SheetState* b) {
            return lower(a->name) < lower(b->name);
        });
        s += "<definedNames>";
        for (const SheetState* sheet : filtered) {
            s += "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"";
            append_uint(s, sheet->number - 1);
            s += "\" hidden=\"1\">";
            append_text(s, absolute_range(sheet->name, *sheet->filter));
            s += "</definedName>";
        }
        s += "</definedNames>";
    }
    s += "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/></workbook>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
