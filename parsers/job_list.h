// Job list reader: one job record per job row of the job list sheet.
#pragma once
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include <tsl/ordered_map.h>

#include "util/diagnostics.h"

namespace igxl {

// The sheets one job is made of. Keys (in this order) are how the record is written out.
struct JobRecord {
    std::vector<std::string> TestInstanceList;  // column D, split at ","
    std::string FlowTable;                      // column E
    std::string DCSpec;                         // column G
    std::string ACSpec;                         // column F
    std::vector<std::string> PatternSet;        // column H, split at ","
    std::string GlobalSpec = "Global Specs";    // always the global spec sheet's name

    static constexpr std::array<std::string_view, 6> KEYS = {
        "TestInstanceList", "Flow Table", "DC Spec", "AC Spec", "PatternSet", "Global Spec"};

    bool operator==(const JobRecord&) const = default;
};

using JobListMap = tsl::ordered_map<std::string, JobRecord>;

// Builds a job record from the fields of one job row (at least eight fields; a shorter row
// throws ShortRowError naming the file and line when they are given).
JobRecord get_job_list_content(const std::vector<std::string_view>& line_list,
                               const std::string& file = {}, size_t line = 0);

class Kestine {
public:
    // Warnings (a row too short to name its flow table) go to sink.
    explicit Kestine(diag::Sink& sink = diag::null_sink()) : sink_(&sink) {}
    // Adds one record per job row. Throws FileNotFoundError for a missing file.
    void read_job_list(const std::string& job_list_path);
    JobListMap& get_test_job_list_info() { return job_list_dict; }

private:
    JobListMap job_list_dict;
    diag::Sink* sink_;
};

}  // namespace igxl
