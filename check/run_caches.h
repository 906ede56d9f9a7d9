// What the check driver keeps across the jobs it walks (and across runs over one program, until
// the next read_device): parsed sheets the jobs share, and the tables the report's closing
// sheets are written from. Everything else of a job lives in its JobWalk and goes with it.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "check/power_clamp_table.h"
#include "parsers/pattern_sets.h"
#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"

namespace igxl {

// Which spec and pattern-set files were read last, so the walk never reads one twice in a row.
struct LastFlowInfo {
    std::optional<std::string> dc_spec_name;
    std::optional<std::string> glob_spec_name;
    std::optional<std::string> ac_spec_name;
    std::optional<std::string> pattern_set_name;
};

// Pattern -> names of the tests that use it, ","-joined (duplicates kept, in order of use).
using PatternInstanceMap = tsl::ordered_map<std::string, std::string>;
// Pattern -> time-set name -> ","-joined period (or frequency) texts.
using PatternTsetMap = tsl::ordered_map<std::string, tsl::ordered_map<std::string, std::string>>;

// The spec sheets as the last job left them: a job naming the same sheet as the job before it
// works on the maps already read (a sheet that could not be read leaves the last one's maps).
struct SpecSheets {
    GlobalSpecMap glob_spec_dict;
    SpecMap dc_spec_dict;
    SpecMap ac_spec_dict;
    std::string spec_version;
};

struct RunCaches {
    // Parsed files kept for the run: the walk re-reads the same sheets for every instance
    // record, and a pattern-set file skipped as "read last" must keep its sets.
    struct PatternSetFile {
        PatternSetMap sets;
    };
    struct TimingFile {
        TimingPeriodMap periods;
        TimingClockMap clocks;
    };
    struct PinLevelFile {
        PinValueMap levels;
        PinValueMap clamps;
    };
    tsl::ordered_map<std::string, PatternSetFile> pattern_set_files;
    tsl::ordered_map<std::string, TimingFile> timing_files;
    tsl::ordered_map<std::string, PinLevelFile> pin_level_files;

    LastFlowInfo last_flow_info;
    SpecSheets specs;

    // Jobs mostly share their instance sheets: the instances read for the last job serve the
    // next one naming the same instance and pattern-set sheets. The last job's instances also
    // fill the instance parameter sheet.
    InstanceMap test_instance_dict;
    // The instance and pattern-set sheets test_instance_dict was read from, and whether every
    // one of them was read.
    std::pair<std::vector<std::string>, std::vector<std::string>> instances_read;
    bool instances_read_whole = false;

    // Power order rows (pin, alias) of the power order file, read once per run.
    std::optional<std::vector<std::pair<std::string, std::string>>> power_order_rows;

    // The widest power block of the jobs walked so far: the pattern block of a job starts after
    // it, so every job sheet of a run has its pattern columns where the widest job put them.
    int MAX_DSP_CNT = 0;

    // Filled job by job for the closing sheets.
    PatternTsetMap tset_dict;
    PatternInstanceMap pat2inst_dict;
    PowerClampTable power_pin_clamp_dict;
    // (sort bin, test) of the entries of the job walked last.
    std::vector<std::array<std::string, 2>> sort_bin_dscrp;

    // What only the walks read, given back once the last job is walked: the level and timing
    // sheets are read again by path when a later run needs them.
    void release_walk_files() {
        timing_files = {};
        pin_level_files = {};
    }
    // The instances, given back once the instance parameter sheet is written (the largest part
    // of a run's memory); a later run reads them again.
    void release_instances() {
        test_instance_dict = InstanceMap();
        instances_read = {};
        instances_read_whole = false;
    }
};

}  // namespace igxl
