// `vantor diff` end to end: exit statuses, the JSON file, the workbook written into --out.
#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "tests/diff/program_copy.h"
#include "tests/support/process.h"

namespace igxl::diff {
namespace {

using namespace igxl::diff::testing;

const std::string kVantor = IGXL_BINARY_DIR "/bin/vantor";
const fs::path kBase = fs::path(IGXL_SOURCE_DIR) / "tests/diff/fixtures/base";

igxl::testing::CommandResult vantor(const std::string& args) {
    return igxl::testing::run_command("'" + kVantor + "' diff " + args);
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

size_t workbooks_in(const fs::path& dir) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".xlsx" && e.path().filename().string().rfind("VantorDiff_", 0) == 0) ++n;
    return n;
}

TEST(DiffCommand, ExitStatusFollowsFailOnChangeAndNotesDoNotCount) {
    ScratchDir dir("cmd");
    const fs::path rev = dir.path() / "rev", out = dir.path() / "out";
    copy_program(kBase, rev);

    auto same = vantor(q(kBase) + " " + q(rev) + " --fail-on-change --out " + q(out));
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_EQ(workbooks_in(out), 1u);

    // A rewrite to the same value is a note: still no failure.
    set_field(rev / "DC Specs.txt", {"VDD_LVL"}, 5, "=900*mV");
    auto note = vantor(q(kBase) + " " + q(rev) + " --fail-on-change --out " + q(out) +
                       " --json " + q(dir.path() / "note.json"));
    EXPECT_EQ(note.status, 0) << note.out;

    set_field(rev / "Flow_Hot.txt", {"T_IDD"}, 16, "7");
    const fs::path json_path = dir.path() / "d.json";
    auto changed = vantor(q(kBase) + " " + q(rev) + " --jobs HOT --fail-on-change --out " +
                          q(out) + " --json " + q(json_path));
    EXPECT_EQ(changed.status, 3) << changed.out;
    const auto doc = nlohmann::json::parse(slurp(json_path));
    EXPECT_EQ(doc["old"], kBase.string());
    EXPECT_EQ(doc["new"], rev.string());
    EXPECT_EQ(doc["counts"]["changed"], 1);
    EXPECT_EQ(doc["counts"]["note"], 1);
    ASSERT_EQ(doc["changes"].size(), 2u);
    EXPECT_EQ(doc["changes"][0]["kind"], "flow entry");
    EXPECT_EQ(doc["changes"][0]["job"], "HOT");
    EXPECT_EQ(doc["changes"][0]["field"], "HardBin");

    // Without --fail-on-change a change is no failure.
    EXPECT_EQ(vantor(q(kBase) + " " + q(rev) + " --out " + q(out)).status, 0);
}

// What a killed diff left under temporary names (its workbook, its JSON file) goes at the next
// diff into those places, each named; other files stay.
TEST(DiffCommand, TheNextDiffRemovesTheTemporaryFilesOfAKilledOne) {
    ScratchDir dir("stale");
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const fs::path book = out / "VantorDiff_2026-01-01__000000.xlsx.tmpAb12Cd";
    const fs::path json = dir.path() / "d.json.tmpXy34Zw";
    for (const fs::path& p : {book, json, out / "notes.xlsx.tmpAb12Cd"}) std::ofstream(p) << "partial";

    auto r = vantor(q(kBase) + " " + q(kBase) + " --out " + q(out) + " --json " + q(dir.path() / "d.json"));
    EXPECT_EQ(r.status, 0) << r.out;
    for (const fs::path& p : {book, json}) {
        EXPECT_NE(r.out.find("warning: removed a temporary file left by an interrupted diff: " + p.string() + "\n"),
                  std::string::npos)
            << r.out;
        EXPECT_FALSE(fs::exists(p)) << p;
    }
    EXPECT_TRUE(fs::exists(out / "notes.xlsx.tmpAb12Cd"));
    EXPECT_EQ(workbooks_in(out), 1u);
}

TEST(DiffCommand, BadInputIsStatusTwoWithTheReason) {
    ScratchDir dir("cmd_bad");
    auto missing = vantor(q(kBase) + " " + q(dir.path() / "nowhere") + " --out " + q(dir.path()));
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("program not found"), std::string::npos) << missing.out;

    auto job = vantor(q(kBase) + " " + q(kBase) + " --jobs WARM --out " + q(dir.path()));
    EXPECT_EQ(job.status, 2);
    EXPECT_NE(job.out.find("unknown job 'WARM'"), std::string::npos) << job.out;

    spill(dir.path() / "notes.txt", "not a program");
    auto form = vantor(q(kBase) + " " + q(dir.path() / "notes.txt") + " --out " + q(dir.path()));
    EXPECT_EQ(form.status, 2) << form.out;
    EXPECT_EQ(workbooks_in(dir.path()), 0u);

    auto both = vantor(q(kBase) + " " + q(kBase) + " --jobs HOT --all");
    EXPECT_EQ(both.status, 2) << both.out;
}

}  // namespace
}  // namespace igxl::diff
