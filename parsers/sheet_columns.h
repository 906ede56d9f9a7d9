// Where each sheet kind keeps its fields: 0-based columns of the exported sheet text (column A
// is 0). Columns that differ between platforms are in kPlatformLayouts (parsers/platform.h).
#pragma once
#include <cstddef>

namespace igxl {

// Rows before the first data row of the sheets whose table starts in sheet row 5 (a title row
// and header rows): the job list, flow tables and test instances.
inline constexpr std::size_t kTableHeaderRows = 4;

namespace job_list_columns {
inline constexpr std::size_t kJobName = 1;           // B
inline constexpr std::size_t kTestInstances = 3;     // D, ","-separated sheet names
inline constexpr std::size_t kFlowTable = 4;         // E
inline constexpr std::size_t kACSpecs = 5;           // F
inline constexpr std::size_t kDCSpecs = 6;           // G
inline constexpr std::size_t kPatternSets = 7;       // H, ","-separated sheet names
inline constexpr std::size_t kBinTable = 9;          // J
// A row naming no flow table is skipped with a warning.
inline constexpr std::size_t kFieldsWithFlowTable = kFlowTable + 1;
inline constexpr std::size_t kFieldsOfAJob = kPatternSets + 1;
}  // namespace job_list_columns

// Flow table columns before the bins (the bins, the result and what follows them are per
// platform: PlatformLayout::flow_hard_bin, flow_sort_bin, flow_result).
namespace flow_columns {
inline constexpr std::size_t kEnable = 2;      // C
inline constexpr std::size_t kJob = 3;         // D
inline constexpr std::size_t kPart = 4;        // E
inline constexpr std::size_t kEnv = 5;         // F
inline constexpr std::size_t kOpcode = 6;      // G
inline constexpr std::size_t kParameter = 7;   // H
inline constexpr std::size_t kTestName = 8;    // I
inline constexpr std::size_t kTestNumber = 9;  // J
// Limits: the UltraFLEX family's flow sheets only.
inline constexpr std::size_t kLoLimit = 10;  // K
inline constexpr std::size_t kHiLimit = 11;  // L
inline constexpr std::size_t kUnits = 13;    // N
// After the result: its Pass, Fail, State and Specifier columns, then Sense, Condition and Name
// (offsets from the result column, both ends included), which make a row conditional.
inline constexpr std::size_t kConditionFirstAfterResult = 5;
inline constexpr std::size_t kConditionLastAfterResult = 10;
}  // namespace flow_columns

// Test instance columns (the arguments are per platform: PlatformLayout::instance_arg_list and
// instance_first_arg).
namespace instance_columns {
inline constexpr std::size_t kName = 1;         // B
inline constexpr std::size_t kMethod = 3;       // D
inline constexpr std::size_t kDCCategory = 5;   // F
inline constexpr std::size_t kDCSelector = 6;   // G
inline constexpr std::size_t kACCategory = 7;   // H
inline constexpr std::size_t kACSelector = 8;   // I
inline constexpr std::size_t kTimeSet = 9;      // J
inline constexpr std::size_t kPinLevel = 11;    // L
// How many columns from the first argument column on may name a pattern set.
inline constexpr std::size_t kPatternSetArgColumns = 6;
}  // namespace instance_columns

namespace pattern_set_columns {
inline constexpr std::size_t kTitleRow = 0;
inline constexpr std::size_t kFirstDataRow = 3;
inline constexpr std::size_t kSetName = 1;  // B
// The pattern file's column by sheet version: 2.3 and 2.1 in E, 1.1 in C, others in F.
inline constexpr std::size_t kPatternV23 = 4;
inline constexpr std::size_t kPatternV11 = 2;
inline constexpr std::size_t kPatternOther = 5;
}  // namespace pattern_set_columns

namespace pin_level_columns {
inline constexpr std::size_t kPin = 1;        // B
inline constexpr std::size_t kParameter = 3;  // D
inline constexpr std::size_t kValue = 4;      // E
}  // namespace pin_level_columns

namespace time_set_columns {
inline constexpr std::size_t kName = 1;    // B
inline constexpr std::size_t kPeriod = 2;  // C
// UltraFLEX: a "clock" row names its pin in D and its clock in E. J750: an "mcg" row gives a
// divide ratio in E.
inline constexpr std::size_t kClockPin = 3;    // D
inline constexpr std::size_t kClockValue = 4;  // E
inline constexpr std::size_t kMarker = 5;      // F
}  // namespace time_set_columns

// Global, AC and DC spec sheets: the symbol in B; a global spec's value in D, the categorised
// sheets' value columns from D on.
namespace spec_columns {
inline constexpr std::size_t kSymbol = 1;       // B
inline constexpr std::size_t kFirstValue = 3;   // D
}  // namespace spec_columns

}  // namespace igxl
