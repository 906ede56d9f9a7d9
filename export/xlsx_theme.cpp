// Theme part: the Office colours and fonts the styles refer to (font colour theme 1, the minor
// font Calibri), with plain fill, line and effect styles.
#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

std::string theme_xml() {
    std::string s(kXmlDeclaration);
    s += "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" name=\"Office Theme\">"
         "<a:themeElements><a:clrScheme name=\"Office\">"
         "<a:dk1><a:sysClr val=\"windowText\" lastClr=\"000000\"/></a:dk1>"
         "<a:lt1><a:sysClr val=\"window\" lastClr=\"FFFFFF\"/></a:lt1>";
    static const std::pair<const char*, const char*> colours[] = {
        {"dk2", "1F497D"},     {"lt2", "EEECE1"},     {"accent1", "4F81BD"}, {"accent2", "C0504D"},
        {"accent3", "9BBB59"}, {"accent4", "8064A2"}, {"accent5", "4BACC6"}, {"accent6", "F79646"},
        {"hlink", "0000FF"},   {"folHlink", "800080"}};
    for (const auto& [slot, rgb] : colours) {
        s += "<a:";
        s += slot;
        s += "><a:srgbClr val=\"";
        s += rgb;
        s += "\"/></a:";
        s += slot;
        s += '>';
    }
    s += "</a:clrScheme><a:fontScheme name=\"Office\">"
         "<a:majorFont><a:latin typeface=\"Cambria\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:majorFont>"
         "<a:minorFont><a:latin typeface=\"Calibri\"/><a:ea typeface=\"\"/><a:cs typeface=\"\"/></a:minorFont>"
         "</a:fontScheme><a:fmtScheme name=\"Office\">";
    const std::string fill = "<a:solidFill><a:schemeClr val=\"phClr\"/></a:solidFill>";
    s += "<a:fillStyleLst>" + fill + fill + fill + "</a:fillStyleLst><a:lnStyleLst>";
    for (const char* width : {"9525", "25400", "38100"})
        s += std::string("<a:ln w=\"") + width + "\" cap=\"flat\" cmpd=\"sng\" algn=\"ctr\">" + fill +
             "<a:prstDash val=\"solid\"/></a:ln>";
    s += "</a:lnStyleLst><a:effectStyleLst>";
    for (int i = 0; i < 3; ++i) s += "<a:effectStyle><a:effectLst/></a:effectStyle>";
    s += "</a:effectStyleLst><a:bgFillStyleLst>" + fill + fill + fill +
         "</a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/><a:extraClrSchemeLst/></a:theme>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
