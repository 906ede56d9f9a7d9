// Flow table reader: the test steps of a flow in execution order, sub-flows expanded in place,
// bins and test numbers completed from a following Use-Limit row.
#pragma once
#include <array>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parsers/platform.h"
#include "util/diagnostics.h"

namespace igxl {

struct FlowEntry {
    std::string Opcode;
    std::string Parameter;  // upper-cased instance name
    std::string TestNumber;
    std::string HardBin;
    std::string SortBin;
    std::string Result;
    // Job sheet row where the entry's rows begin; set by the flow walk, -1 until then.
    int write_row_start = -1;

    static constexpr std::array<std::string_view, 6> KEYS = {
        "Opcode", "Parameter", "TestNumber", "HardBin", "SortBin", "Result"};

    // (key, value) pairs in key order.
    std::array<std::pair<std::string_view, std::string_view>, 6> fields() const {
        return {{{KEYS[0], Opcode},
                 {KEYS[1], Parameter},
                 {KEYS[2], TestNumber},
                 {KEYS[3], HardBin},
                 {KEYS[4], SortBin},
                 {KEYS[5], Result}}};
    }
    // One-line text for logs: {'Opcode': 'Test', ..., 'write_row_start': 3} (the row only once
    // it is set).
    std::string to_text() const;

    bool operator==(const FlowEntry&) const = default;
};

using FlowEntryList = std::vector<FlowEntry>;

// One row of a flow sheet as written, with where it stands: the test rows the entries come from,
// their Use-Limit rows and the set-device / set-error-bin rows that bin a device outside a test.
struct FlowRow {
    std::string file;   // the flow or sub-flow sheet text file
    unsigned line = 0;  // 1-based line in that file
    std::string Opcode, Parameter, TestName, TestNumber, LoLimit, HiLimit, Units;
    std::string HardBin, SortBin, Result;
    std::string Enable, Job, Part;  // the row's run conditions
    bool conditional = false;       // a Sense/Condition/Name decides whether it runs
};
// A deque: a job's rows (a hundred thousand in a large program) grow in blocks, never copied
// to a list twice their size.
using FlowRowList = std::deque<FlowRow>;

// Builds a flow entry from a row's fields by the platform's layout (UltraFLEX family: bins in
// columns Q and S, result in T; J750: L, N and O). A row of 8 fields or fewer gives only Opcode
// and Parameter; fields a row lacks read as empty.
FlowEntry get_flow_content(const std::vector<std::string_view>& line_list, Platform platform);

class Fennick {
public:
    // Warnings (a test row without its bins) go to sink.
    explicit Fennick(diag::Sink& sink = diag::null_sink()) : sink_(&sink) {}
    // Appends the flow's entries. Throws FileNotFoundError for a missing flow or sub-flow file
    // and Error for a flow that calls itself (directly or through other flows).
    void read_flow_table(const std::string& flow_path, Platform platform);
    FlowEntryList& get_test_suite_info() { return test_suite_list; }
    // The test, Use-Limit and device-binning rows read, in flow order (sub-flows in place).
    const FlowRowList& get_flow_rows() const { return flow_rows; }

private:
    void read_flow(const std::string& flow_path, Platform platform,
                   std::vector<std::pair<std::string, std::string>>& chain);

    FlowEntryList test_suite_list;
    FlowRowList flow_rows;
    diag::Sink* sink_;
};

}  // namespace igxl
