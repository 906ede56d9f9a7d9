// How a reviewer's mark in the "应用" column of a dry-run report reads: Excel writes a logical
// cell, LibreOffice the formula TRUE(), and a hand-typed sheet may hold the text TRUE or 1.
#pragma once
#include "export/xlsx.h"

namespace igxl::vbt {

enum class ApplyFlag { NO, YES, NOT_UNDERSTOOD };

// Empty, FALSE, 0 and 否 read as NO; TRUE, 1 and 是 (logical, number, text or formula) as YES;
// anything else is NOT_UNDERSTOOD, so that a mark that is not acted on is never passed silently.
ApplyFlag read_apply_flag(const xlsx::Cell& cell);

}  // namespace igxl::vbt
