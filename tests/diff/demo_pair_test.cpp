// The demo program against a copy with planted edits of every kind, checked through the JSON
// output; and the same program in two forms (folder and workbook) gives no change.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include <nlohmann/json.hpp>

#include "diff/diff_report.h"
#include "diff/program_diff.h"
#include "tests/diff/program_copy.h"
#include "tools/demo_gen/demo_program.h"

namespace igxl::diff {
namespace {

using namespace igxl::diff::testing;
using json = nlohmann::json;

void generate(const fs::path& dir, bool workbook) {
    demo::DemoOptions o;
    o.out_dir = dir.string();
    o.write_workbook = workbook;
    demo::generate_demo_program(o);
}

json diff_json(const std::string& old_dir, const std::string& new_dir, const fs::path& out) {
    DiffResult r = diff_programs(old_dir, new_dir, {});
    write_diff_json(r, out.string(), "1.2.3");
    return json::parse(slurp(out));
}

TEST(DemoPair, PlantedEditsAreFoundAndNothingElse) {
    ScratchDir old_dir("demo_old"), new_dir("demo_new");
    generate(old_dir.path(), false);
    copy_program(old_dir.path(), new_dir.path());
    auto sheet = [&](const std::string& name) { return new_dir.path() / (name + ".txt"); };

    set_field(sheet("Levels_Func"), {"vdd_io", "VMain"}, 4, "=_VIO_NOM*0.95");    // level value
    set_field(sheet("Flow_FT_Room"), {"FT_Room_Func_000"}, 9, "1005");           // test number
    set_field(sheet("Flow_FT_Room"), {"FT_Room_Func_001"}, 16, "12");            // bin
    insert_after(sheet("Flow_FT_Hot"), {"FT_Hot_Func_000"},                       // inserted test
                 "\t\t\t\t\t\tTest\tFT_Hot_Extra\tFT_Hot_Extra\t101005\t\t\t\t\t\t\t10\t\t"
                 "150\tFail\t\t\t\t\t\t\t\t\t\t\t\t\t");
    remove_line(sheet("Flow_QA_Low"), {"QA_Low_Func_004"});                      // removed test
    set_field(sheet("Test Instances"), {"FT_Room_Scan_003"}, 9, "TSB_Func");    // instance's time set
    {  // pattern added, after the set's first row
        auto lines = lines_of(sheet("PatSets_Func"));
        auto first = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("\tps_func_000\t") != std::string::npos;
        });
        ASSERT_NE(first, lines.end());
        lines.insert(first + 1, "\tps_func_000\t\t\t.\\patterns\\func_011.PAT\tYes\t\t\t");
        write_lines(sheet("PatSets_Func"), lines);
    }
    set_field(sheet("DC Specs"), {"VDD_CORE_LVL"}, 6, "=900*mV");                // same value
    move_after(sheet("Flow_FT_Hot"), {"FT_Hot_Func_004"}, {"FT_Hot_Func_007"});  // moved row

    const json doc = diff_json(old_dir.str(), new_dir.str(), new_dir.path() / "diff.json");
    EXPECT_EQ(doc["tool"], "vantor");
    EXPECT_EQ(doc["version"], "1.2.3");
    EXPECT_EQ(doc["old"], old_dir.str());

    std::multiset<std::tuple<std::string, std::string, std::string, std::string, std::string>> got;
    for (const auto& c : doc["changes"])
        got.emplace(c["change"], c["kind"], c.value("job", ""), c["key"], c.value("field", ""));
    using T = std::tuple<std::string, std::string, std::string, std::string, std::string>;
    const std::multiset<T> expected = {
        T{"changed", "level", "", "VDD_IO", "VMain/VPS"},
        T{"changed", "level", "", "VDD_IO", "VMain/VPS at Typ_Cond/nom (DC Specs)"},
        T{"changed", "level", "", "VDD_IO", "VMain/VPS at Typ_Cond/nom (DC Specs Lo)"},
        T{"changed", "flow entry", "FT_Room", "FT_ROOM_FUNC_000", "TestNumber"},
        T{"changed", "flow entry", "FT_Room", "FT_ROOM_FUNC_001", "HardBin"},
        T{"added", "flow entry", "FT_Hot", "FT_HOT_EXTRA", ""},
        T{"removed", "flow entry", "QA_Low", "QA_LOW_FUNC_004", ""},
        T{"changed", "instance", "", "FT_ROOM_SCAN_003", "TimeSet"},
        T{"added", "pattern set", "", "PS_FUNC_000", "pattern"},
        T{"note", "spec", "", "VDD_CORE_LVL", "TYP_COND TYP"},
        T{"moved", "flow entry", "FT_Hot", "FT_HOT_FUNC_004", "position"},
    };
    EXPECT_EQ(got, expected) << doc["changes"].dump(1);

    const json& counts = doc["counts"];
    EXPECT_EQ(counts["added"], 2);
    EXPECT_EQ(counts["removed"], 1);
    EXPECT_EQ(counts["changed"], 6);
    EXPECT_EQ(counts["moved"], 1);
    EXPECT_EQ(counts["note"], 1);
    EXPECT_EQ(counts["total"], 11);

    // Fields that do not apply are absent, not empty.
    for (const auto& c : doc["changes"]) {
        if (c["change"] == "added") {
            EXPECT_FALSE(c.contains("old")) << c.dump();
        }
        if (c["change"] == "removed") {
            EXPECT_FALSE(c.contains("new")) << c.dump();
        }
        if (c["kind"] == "spec") {
            EXPECT_FALSE(c.contains("job")) << c.dump();
        }
    }
}

TEST(DemoPair, FolderAndItsWorkbookGiveNoChange) {
    ScratchDir program("demo_forms"), exported("demo_export");
    generate(program.path(), true);
    const std::string from_book =
        prepare_program((program.path() / demo::kWorkbookName).string(), exported.str());
    diag::CollectingSink sink;
    DiffResult r = diff_programs(program.str(), from_book, {}, sink);
    EXPECT_TRUE(r.changes.empty()) << r.changes.size() << " changes, first: "
                                   << (r.changes.empty() ? "" : r.changes[0].key + " " +
                                                                    r.changes[0].field);
    // The readers' own notices (nop banners without bins) are no business of the diff.
    for (const auto& e : sink.events) {
        if (e.code.rfind("diff.", 0) == 0) {
            EXPECT_EQ(e.severity, diag::Severity::progress) << e.text;
        }
    }
    EXPECT_EQ(r.jobs.size(), 3u);
}

}  // namespace
}  // namespace igxl::diff
