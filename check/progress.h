// Where the check's progress bar stands at each stage of one job's walk, in percent. The reading
// stages are short; the three passes over the flow share the rest in proportion to their work.
#pragma once

namespace igxl::progress {

inline constexpr double kStart = 0;
inline constexpr double kJobFound = 1;
inline constexpr double kSheetPathsResolved = 2;
inline constexpr double kPatternSetsRead = 3;
inline constexpr double kInstancesRead = 4;
inline constexpr double kDcSpecsRead = 5;
inline constexpr double kGlobalSpecsRead = 6;
inline constexpr double kAcSpecsRead = 7;

// A pass covers [first, first + span) as its rows are done.
struct Pass {
    double first, span;
    double at(double done, double total) const { return first + span * done / total; }
};
inline constexpr Pass kRowLayoutPass{8, 10};
inline constexpr Pass kPowerPass{19, 10};
inline constexpr Pass kPatternTimingPass{30, 70};
// The pattern / time-set map sheet written after the last job.
inline constexpr Pass kPatternMapSheet{90, 10};

inline constexpr double kDone = 100;

}  // namespace igxl::progress
