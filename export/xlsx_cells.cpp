// The cell decoder for any row sink; see xlsx_cells.h.
#include "export/xlsx_cells.h"

namespace igxl::xlsx {

void Workbook::Impl::read_sheet(const std::string& name, detail::RowSink& sink, const detail::Package* from) const {
    read_sheet_cells(*this, name, sink, from);
}

}  // namespace igxl::xlsx
