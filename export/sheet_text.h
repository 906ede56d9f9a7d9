// The two writers of a sheet text file: one streams rows to the file as the cell decoder hands
// them out (the common case), the other gathers a sheet whose rows or cells come out of order.
#pragma once
#include <cstdint>
#include <string>

#include "export/xlsx_impl.h"

namespace igxl::detail {

// A sheet with more fields than this (rows x columns) is not a test-program sheet; writing it
// would take gigabytes of tabs. Formatting-only cells far out are then left out, and real
// values that far out are refused.
constexpr uint64_t kMaxFields = uint64_t(1) << 27;

// A sheet row whose text would pass the line limit of the options.
[[noreturn]] inline void line_too_long(const xlsx::Workbook::Impl& wb, const std::string& what, uint32_t row) {
    throw BadInputError(wb.pkg.path(), what + ": row " + std::to_string(row) + " is longer than " +
                                           limit_text(wb.options.max_line_length) + ", more than a sheet text line may hold");
}

// Writes the sheet as it streams; false when its rows or cells come out of order (the file is
// then left for write_sheet_buffered to overwrite). what names the sheet in messages; the
// sheet's part is read through from.
bool write_sheet_streamed(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                          const std::string& what, const std::string& file);
// Writes one sheet read through from: streamed, or buffered when its rows come out of order.
void write_sheet_text(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                      const std::string& file);
// Reads the whole sheet into memory, orders it, then writes it.
void write_sheet_buffered(const xlsx::Workbook::Impl& wb, const Package& from, const std::string& sheet,
                          const std::string& what, const std::string& file);

}  // namespace igxl::detail
