#include "check/power_order.h"

#include <freexl.h>

#include <cmath>

#include "util/error.h"
#include "util/lines.h"
#include "util/text.h"

namespace igxl {
namespace {

const char* freexl_reason(int rc) {
    switch (rc) {
        case FREEXL_FILE_NOT_FOUND: return "file not found or not readable";
        case FREEXL_NULL_HANDLE: return "FreeXL does not support this workbook";
        case FREEXL_INSUFFICIENT_MEMORY: return "insufficient memory";
        case FREEXL_INVALID_CFBF_HEADER: return "not a compound document (invalid CFBF header)";
        case FREEXL_CFBF_READ_ERROR: return "read error in the compound document";
        case FREEXL_CFBF_SEEK_ERROR: return "seek error in the compound document";
        case FREEXL_CFBF_INVALID_SIGNATURE: return "invalid compound document signature";
        case FREEXL_CFBF_INVALID_SECTOR_SIZE: return "invalid compound document sector size";
        case FREEXL_CFBF_EMPTY_FAT_CHAIN: return "empty FAT chain";
        case FREEXL_CFBF_ILLEGAL_FAT_ENTRY: return "illegal FAT entry";
        case FREEXL_BIFF_INVALID_BOF: return "invalid BIFF record (BOF)";
        case FREEXL_BIFF_INVALID_SST: return "invalid shared string table";
        case FREEXL_BIFF_ILLEGAL_SST_INDEX: return "illegal shared string index";
        case FREEXL_BIFF_WORKBOOK_NOT_FOUND: return "no workbook stream";
        case FREEXL_BIFF_ILLEGAL_SHEET_INDEX: return "the workbook has no worksheet";
        case FREEXL_BIFF_UNSELECTED_SHEET: return "no worksheet selected";
        case FREEXL_INVALID_CHARACTER: return "illegal character for the declared code page";
        case FREEXL_UNSUPPORTED_CHARSET: return "unsupported code page";
        case FREEXL_ILLEGAL_CELL_ROW_COL: return "cell outside the sheet";
        case FREEXL_ILLEGAL_RK_VALUE: return "illegal RK number";
        case FREEXL_INVALID_MINI_STREAM: return "invalid mini stream";
        case FREEXL_CFBF_ILLEGAL_MINI_FAT_ENTRY: return "illegal mini FAT entry";
        case FREEXL_CRAFTED_FILE: return "severely corrupted file";
        default: return "unknown FreeXL error";
    }
}

[[noreturn]] void fail(const std::string& path, const std::string& what, int rc) {
    throw Error("Cannot read power order file '" + path + "': " + what + " (" +
                freexl_reason(rc) + ", FreeXL code " + std::to_string(rc) + ")");
}

// Integral values without the ".0" a float shows; other values in their shortest form.
std::string number_text(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.0f", v);
        std::string s(buf);
        return s == "-0" ? "0" : s;
    }
    return util::format_double(v);
}

}  // namespace

XlsSheet::XlsSheet(const std::string& path) : path_(path) {
    if (!util::file_exists(path)) throw FileNotFoundError(path);
    const void* h = nullptr;
    int rc = freexl_open(path.c_str(), &h);
    if (rc != FREEXL_OK) {
        // FreeXL wants its handle closed even after a failed open.
        if (h) freexl_close(h);
        fail(path, "cannot open the workbook", rc);
    }
    // FreeXL reports success without a handle when it gives up on a workbook it cannot parse
    // (some BIFF5 files, some shared string tables).
    if (!h) fail(path, "cannot parse the workbook", FREEXL_NULL_HANDLE);
    handle_ = h;
    unsigned int sheets = 0;
    rc = freexl_get_info(h, FREEXL_BIFF_SHEET_COUNT, &sheets);
    if (rc == FREEXL_OK && sheets == 0) rc = FREEXL_BIFF_ILLEGAL_SHEET_INDEX;
    if (rc == FREEXL_OK) rc = freexl_select_active_worksheet(h, 0);
    unsigned int rows = 0;
    unsigned short cols = 0;
    if (rc == FREEXL_OK) rc = freexl_worksheet_dimensions(h, &rows, &cols);
    if (rc != FREEXL_OK) {
        freexl_close(h);
        handle_ = nullptr;
        fail(path, "cannot read the first sheet", rc);
    }
    rows_ = rows;
    cols_ = cols;
}

XlsSheet::~XlsSheet() {
    if (handle_) freexl_close(handle_);
}

std::optional<XlsCell> XlsSheet::cell(uint32_t row, uint16_t col) const {
    if (row >= rows_ || col >= cols_) return std::nullopt;
    FreeXL_CellValue v;
    int rc = freexl_get_cell_value(handle_, row, col, &v);
    if (rc != FREEXL_OK)
        fail(path_, "cannot read cell (" + std::to_string(row) + ", " + std::to_string(col) + ")",
             rc);
    XlsCell c;
    switch (v.type) {
        case FREEXL_CELL_INT:
            c.kind = XlsCell::Kind::Number;
            c.number = v.value.int_value;
            c.text = std::to_string(v.value.int_value);
            break;
        case FREEXL_CELL_DOUBLE:
            c.kind = XlsCell::Kind::Number;
            c.number = v.value.double_value;
            c.text = number_text(v.value.double_value);
            break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            if (v.value.text_value && *v.value.text_value) {
                c.kind = XlsCell::Kind::Text;
                c.text = v.value.text_value;
            }
            break;
        default:
            break;
    }
    return c;
}

std::optional<std::string> XlsSheet::cell_text(uint32_t row, uint16_t col) const {
    auto c = cell(row, col);
    if (!c) return std::nullopt;
    return std::move(c->text);
}

std::vector<std::pair<std::string, std::string>> read_power_order(const std::string& path) {
    XlsSheet sheet(path);
    std::vector<std::pair<std::string, std::string>> rows;
    for (uint32_t r = 1;; ++r) {
        auto pin = sheet.cell_text(r, 0);
        if (!pin) break;
        auto alias = sheet.cell_text(r, 1);
        if (!alias) break;
        rows.emplace_back(std::move(*pin), std::move(*alias));
    }
    return rows;
}

}  // namespace igxl
