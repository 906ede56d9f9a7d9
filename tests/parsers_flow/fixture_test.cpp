// Every folder under fixtures/<reader>/ is one case: sheet text files, steps.txt (one read per
// line: "<verb> <file> <platform>") and expected.txt (the parse, normalised as below).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "parsers/flow_table.h"
#include "parsers/pattern_sets.h"
#include "parsers/test_instances.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/text.h"
#include "tests/support/platform.h"

namespace fs = std::filesystem;
using namespace igxl;

using igxl::test_support::to_platform;

namespace {

const std::string FIXTURES = IGXL_SOURCE_DIR "/tests/parsers_flow/fixtures/";

struct Step {
    std::string verb, file, platform;
};

std::vector<Step> read_steps(const std::string& dir) {
    std::vector<Step> steps;
    std::ifstream in(dir + "/steps.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        size_t a = line.find(' '), b = line.rfind(' ');
        steps.push_back({line.substr(0, a), line.substr(a + 1, b - a - 1), line.substr(b + 1)});
    }
    return steps;
}

std::string escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out.push_back(c);
    }
    return out;
}

std::string error_line(const std::exception& e, const std::string& dir) {
    return "error: " + util::replace_all(e.what(), dir, "$DIR") + "\n";
}

std::string run_fennick(const std::string& dir) {
    diag::CollectingSink sink;
    Fennick parser(sink);
    std::string out;
    try {
        for (const auto& s : read_steps(dir)) parser.read_flow_table(dir + "/" + s.file, to_platform(s.platform));
    } catch (const Error& e) {
        out = error_line(e, dir);
    }
    // Each warning as the console shows it: its text and a line break.
    std::string printed;
    for (const auto& e : sink.events) {
        EXPECT_EQ(e.code, "flow.sort-bin-not-found");
        EXPECT_EQ(e.severity, diag::Severity::warning);
        EXPECT_GT(e.where.line, 4u) << e.text;  // a data row, never the title or headers
        printed += e.text + "\n";
    }
    std::string result;
    for (auto line : util::split(printed, "\n\n"))
        if (!line.empty()) result += "stdout: " + escape(line) + "\n";
    for (const auto& e : parser.get_test_suite_info()) {
        result += "entry: " + e.Opcode + "|" + e.Parameter + "|" + e.TestNumber + "|" + e.HardBin +
                  "|" + e.SortBin + "|" + e.Result + "\n";
    }
    // The rows kept for the findings: where each stands (its file by name and by index: one
    // index per file, however often it is called) and every field.
    const FlowRowList& rows = parser.get_flow_rows();
    for (const FlowRow& r : rows) {
        EXPECT_EQ(rows.file(r.file_index()), r.file());
        result += "row: " + fs::path(r.file()).filename().string() + ":" + std::to_string(r.line) + " f" +
                  std::to_string(r.file_index());
        for (auto f : {r.Opcode(), r.Parameter(), r.TestName(), r.TestNumber(), r.LoLimit(), r.HiLimit(),
                       r.Units(), r.HardBin(), r.SortBin(), r.Result(), r.Enable(), r.Job(), r.Part()})
            result += "|" + escape(f);
        result += r.conditional ? "|conditional\n" : "|\n";
    }
    return result + out;
}

std::string list_text(const std::vector<std::string>& v) { return util::join(v, ","); }

std::string run_quorvin(const std::string& dir) {
    Quorvin parser;
    std::string result;
    try {
        for (const auto& s : read_steps(dir))
            parser.read_pattern_set(dir + "/" + s.file, dir, to_platform(s.platform));
    } catch (const Error& e) {
        result += error_line(e, dir);
    }
    if (parser.get_pattern_set_version()) result += "version: " + *parser.get_pattern_set_version() + "\n";
    for (const auto& [k, v] : parser.get_pattern_set_dict()) result += "set: " + k + " = " + list_text(v) + "\n";
    if (!parser.get_pattern_cycle_info().empty()) {
        result += "cycles:";
        for (const auto& [k, v] : parser.get_pattern_cycle_info()) result += " " + k + "=" + std::to_string(v);
        result += "\n";
    }
    try {
        for (const auto& [k, v] : parser.get_pattern_set_info())
            result += "resolved: " + k + " = " + list_text(v) + "\n";
    } catch (const Error& e) {
        result += error_line(e, dir);
    }
    return result;
}

std::string run_delmora(const std::string& dir) {
    Quorvin sets;
    Delmora parser;
    PatternSetMap resolved;
    std::string result;
    try {
        for (const auto& s : read_steps(dir)) {
            if (s.verb == "patsets") {
                sets.read_pattern_set(dir + "/" + s.file, dir, to_platform(s.platform));
                resolved = sets.get_pattern_set_info();
            } else {
                parser.read_test_instance(dir + "/" + s.file, resolved, to_platform(s.platform));
            }
        }
    } catch (const Error& e) {
        result += error_line(e, dir);
    }
    for (const auto& [name, records] : parser.get_instance_info()) {
        result += std::string(name) + "\n";
        for (const auto& r : records) {
            std::string line;
            r.visit_fields([&](std::string_view key, const auto& value) {
                if (!line.empty()) line += "|";
                line += std::string(key) + "=";
                if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string_view>)
                    line += value;
                else
                    line += "[" + util::join(value.to_strings(), ";") + "]";
            });
            result += "  " + line + "\n";
        }
    }
    return result;
}

std::vector<std::string> cases(const std::string& reader) {
    std::vector<std::string> names;
    for (const auto& d : fs::directory_iterator(FIXTURES + reader))
        if (d.is_directory()) names.push_back(reader + "/" + d.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ReaderFixture : public testing::TestWithParam<std::string> {};

TEST_P(ReaderFixture, ParsesAsExpected) {
    const std::string dir = FIXTURES + GetParam();
    const std::string reader = GetParam().substr(0, GetParam().find('/'));
    std::string actual = reader == "fennick"   ? run_fennick(dir)
                         : reader == "quorvin" ? run_quorvin(dir)
                                               : run_delmora(dir);
    EXPECT_EQ(actual, util::read_file(dir + "/expected.txt")) << "case " << GetParam();
}

std::string case_name(const testing::TestParamInfo<std::string>& info) {
    std::string n = info.param;
    for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Fennick, ReaderFixture, testing::ValuesIn(cases("fennick")), case_name);
INSTANTIATE_TEST_SUITE_P(Quorvin, ReaderFixture, testing::ValuesIn(cases("quorvin")), case_name);
INSTANTIATE_TEST_SUITE_P(Delmora, ReaderFixture, testing::ValuesIn(cases("delmora")), case_name);

}  // namespace
