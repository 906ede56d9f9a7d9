// One revision of a program as the diff compares it: every sheet the chosen jobs name, read by
// the check's own sheet readers, and the spec contexts its level and time-set rows are used in.
#pragma once
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/flow_table.h"
#include "parsers/job_list.h"
#include "parsers/pin_levels.h"
#include "parsers/platform.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"
#include "util/diagnostics.h"

namespace igxl::diff::detail {

// Where an expression is resolved: a job's DC or AC spec sheet at an instance's category and
// selector.
struct Context {
    std::string spec_sheet;
    std::string category;
    std::string selector;
    auto operator<=>(const Context&) const = default;
};

struct InstanceItem {
    std::string sheet;
    std::vector<InstanceRecord> records;  // views of texts held by the revision's instance_sheets
};

struct LevelSheet {
    PinValueMap levels;  // VMain / VPS rows
    PinValueMap clamps;  // IFoldLevel rows
    bool operator==(const LevelSheet&) const = default;
};

struct TimeSetSheet {
    TimingPeriodMap periods;
    TimingClockMap clocks;
};

struct SpecSheet {
    SpecMap symbols;
    std::string version;
    bool operator==(const SpecSheet&) const = default;
};

struct PatternSetItem {
    std::string sheet;
    std::vector<std::string> entries;  // as listed: pattern files or other sets
};

struct Revision {
    std::string label;  // "old" or "new", for messages
    std::string dir;
    std::string job_list_sheet;
    JobListMap jobs;                                      // every job of the job list
    tsl::ordered_map<std::string, FlowEntryList> flows;  // chosen jobs found here
    tsl::ordered_map<std::string, InstanceItem> instances;
    // The instance sheets as read: they hold the texts the records of `instances` view, and move
    // with the revision (never copied: a copied record would outlive its texts).
    std::vector<InstanceMap> instance_sheets;
    tsl::ordered_map<std::string, LevelSheet> levels;  // by sheet name
    tsl::ordered_map<std::string, TimeSetSheet> time_sets;
    tsl::ordered_map<std::string, SpecSheet> specs;
    GlobalSpecMap globals;
    std::string global_sheet;  // empty when no chosen job names one
    tsl::ordered_map<std::string, PatternSetItem> pattern_sets;
    std::set<std::string> unreadable;  // sheets whose reading failed
    // Sheet -> contexts its rows are used in (levels: DC specs, time sets: AC specs).
    tsl::ordered_map<std::string, std::set<Context>> level_contexts;
    tsl::ordered_map<std::string, std::set<Context>> time_set_contexts;
};

// The job list of a folder of sheets (the first file whose name holds "job" then "list",
// without case, in name order). Throws InputError when there is none. The reader's own
// warnings go to sink.
void read_job_list(Revision& revision, diag::Sink& sink);

// Reads every sheet the chosen jobs (those of them this revision has) name.
void read_sheets(Revision& revision, const std::vector<std::string>& jobs,
                 Platform platform, diag::Sink& sink);

}  // namespace igxl::diff::detail
