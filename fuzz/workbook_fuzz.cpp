// Any bytes given as a workbook: the export reads it into sheet text files or fails with one
// igxl::Error; anything else (a crash, a sanitizer report, another exception) is a finding.
//
// An input starting with "PK" is taken as the whole package. Any other input is the XML of the
// parts that vary most, separated by a byte 0x01: the worksheet, the shared strings and the
// styles; they are packed into a workbook here, so mutations reach the XML reader instead of
// failing the compressed members' checksums.
#include <zip.h>

#include <string>
#include <string_view>
#include <vector>

#include "export/common.h"
#include "export/xlsx.h"
#include "fuzz/fuzz_support.h"
#include "util/error.h"

using namespace igxl;

namespace {

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const std::string kPkgRel = "http://schemas.openxmlformats.org/package/2006/relationships";

void pack(const fuzz::fs::path& path, std::string_view input) {
    std::vector<std::string> parts(3);
    size_t at = 0;
    for (size_t i = 0; i < parts.size(); ++i) {
        const size_t end = i + 1 < parts.size() ? input.find('\x01', at) : std::string_view::npos;
        parts[i] = std::string(input.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    std::vector<std::pair<std::string, std::string>> members = {
        {"_rels/.rels", "<Relationships xmlns=\"" + kPkgRel + "\"><Relationship Id=\"r1\" Type=\"" +
                            kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                                "\"><sheets><sheet name=\"Flow_Main\" sheetId=\"1\" r:id=\"r1\"/>"
                                "</sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"" + kPkgRel + "\"><Relationship Id=\"r1\" Type=\"" + kRel +
             "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"r2\" Type=\"" +
             kRel + "/sharedStrings\" Target=\"sharedStrings.xml\"/><Relationship Id=\"r3\" Type=\"" +
             kRel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", parts[0]},
        {"xl/sharedStrings.xml", parts[1]},
        {"xl/styles.xml", parts[2]},
    };
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    if (!za) std::abort();
    for (const auto& [name, data] : members) {
        zip_source_t* src = zip_source_buffer(za, data.data(), data.size(), 0);
        if (!src || zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) std::abort();
    }
    if (zip_close(za) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::clear_scratch();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    fuzz::fs::path book;
    if (input.starts_with("PK")) {
        book = fuzz::write_input("book.xlsm", data, size);
    } else {
        book = fuzz::scratch() / "book.xlsm";
        pack(book, input);
    }
    const fuzz::fs::path out = fuzz::scratch() / "sheets";
    fuzz::fs::create_directories(out);
    try {
        export_sheets_to_txt(book.string(), out.string());
    } catch (const Error&) {
    }
    // The reader on its own: every sheet streamed row by row, and read back as a table.
    try {
        xlsx::Workbook wb(book.string());
        for (const auto& sheet : wb.sheet_names()) {
            wb.for_each_row(sheet, [](size_t, const std::vector<xlsx::Cell>&) {});
            (void)xlsx::read_table(book.string(), sheet);
        }
    } catch (const Error&) {
    }
    return 0;
}
