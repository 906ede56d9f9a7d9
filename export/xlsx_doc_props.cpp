// Document properties: docProps/app.xml (the application and the sheet titles) and
// docProps/core.xml (author, title, times).
#include "export/xlsx_writer_detail.h"

namespace igxl::xlsx::writer::detail {

namespace {
void element(std::string& s, std::string_view tag, std::string_view text, bool always = false) {
    if (text.empty() && !always) return;
    s += '<';
    s += tag;
    s += '>';
    append_text(s, text);
    s += "</";
    s += tag.substr(0, tag.find(' '));
    s += '>';
}

std::string utc_time(std::time_t t) {
    // UTC from the epoch count, without the C library's non-thread-safe gmtime.
    std::int64_t days = t / 86400, secs = t % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(y), static_cast<int>(m),
                  static_cast<int>(d), static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    return buf;
}
}  // namespace

std::string app_xml(const BookState& book) {
    const DocumentProperties& p = book.properties;
    std::string s(kXmlDeclaration);
    s += "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
         "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\">"
         "<Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop>"
         "<HeadingPairs><vt:vector size=\"2\" baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr>"
         "</vt:variant><vt:variant><vt:i4>";
    append_uint(s, book.sheet_states.size());
    s += "</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"";
    append_uint(s, book.sheet_states.size());
    s += "\" baseType=\"lpstr\">";
    for (const SheetState* sheet : book.sheet_states) element(s, "vt:lpstr", sheet->name, true);
    s += "</vt:vector></TitlesOfParts>";
    element(s, "Manager", p.manager);
    element(s, "Company", p.company, true);
    s += "<LinksUpToDate>false</LinksUpToDate><SharedDoc>false</SharedDoc>"
         "<HyperlinksChanged>false</HyperlinksChanged><AppVersion>12.0000</AppVersion></Properties>";
    return s;
}

std::string core_xml(const BookState& book) {
    const DocumentProperties& p = book.properties;
    const std::string when = utc_time(book.created);
    std::string s(kXmlDeclaration);
    s += "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
         "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">";
    element(s, "dc:title", p.title);
    element(s, "dc:subject", p.subject);
    element(s, "dc:creator", p.author, true);
    element(s, "cp:keywords", p.keywords);
    element(s, "dc:description", p.comments);
    element(s, "cp:lastModifiedBy", p.author, true);
    s += "<dcterms:created xsi:type=\"dcterms:W3CDTF\">" + when + "</dcterms:created>";
    s += "<dcterms:modified xsi:type=\"dcterms:W3CDTF\">" + when + "</dcterms:modified>";
    element(s, "cp:category", p.category);
    s += "</cp:coreProperties>";
    return s;
}

}  // namespace igxl::xlsx::writer::detail
