// Fixed columns of a job's sheet in the check report (0-based). The power-level and
// pattern/timing columns follow these, as many as the job needs.
#pragma once

namespace igxl::job_sheet {

inline constexpr unsigned kOpcodeColumn = 0;
inline constexpr unsigned kParameterColumn = 1;
inline constexpr unsigned kTestNumberColumn = 2;
inline constexpr unsigned kHardBinColumn = 3;
inline constexpr unsigned kSortBinColumn = 4;
inline constexpr unsigned kResultColumn = 5;
// The first column after the flow's own fields (where the power pins begin).
inline constexpr unsigned kFirstDetailColumn = 6;
// The header row's filter reaches this far: wide enough for every detail column a job has.
inline constexpr unsigned kLastFilterColumn = 100;

}  // namespace igxl::job_sheet
