// A refactor stopped by a signal part-way through a tree of modules, run as a user would run it.
// The signal is raised inside orvane at a chosen file operation (a preloaded shim), so the run is
// stopped at the same point every time, without timing.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <set>

#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"

namespace igxl::vbt {
namespace {

namespace fs = std::filesystem;
using testing::quote;
using testing::run;
using testing::RunResult;
using testing::slurp;

const std::string BIN = IGXL_BINARY_DIR "/bin/";
constexpr int kModules = 10;

std::string module_text(int i) {
    std::string text = "Attribute VB_Name = \"M" + std::to_string(i) + "\"\r\nPrivate count As Long\r\n";
    text += "Sub Step" + std::to_string(i) + "()\r\n    count = count + " + std::to_string(i) + "\r\nEnd Sub\r\n";
    return text;
}

// Every file below root, by path relative to it, with its bytes.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = slurp(e.path().string());
    return files;
}

std::set<std::string> temp_files(const fs::path& root) {
    std::set<std::string> names;
    for (const auto& [name, bytes] : tree(root))
        if (name.find(".tmp") != std::string::npos) names.insert(name);
    return names;
}

// Module paths the journal records as rewritten (lines "time<TAB>module<TAB>backup").
std::set<std::string> journal_modules(const std::string& journal) {
    std::set<std::string> modules;
    for (std::string_view line : util::split(journal, '\n')) {
        if (line.empty() || line[0] == '#') continue;
        auto fields = util::split(line, '\t');
        if (fields.size() == 3) modules.insert(std::string(fields[1]));
    }
    return modules;
}

class InterruptedRefactor : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < kModules; ++i) {
            dir.write("src/M" + std::to_string(i) + ".bas", module_text(i));
            old_bytes[src + "/M" + std::to_string(i) + ".bas"] = module_text(i);
        }
        fs::create_directories(out);
        // The dry run writes into a folder of its own, so the module folder holds modules only.
        fs::create_directories(dir.str() + "/review");
        RunResult r = run(BIN + "orvane " + quote(src) + " --out " + quote(dir.str() + "/review"));
        ASSERT_EQ(r.status, 0) << r.out;
        auto reports = testing::files_starting(dir.str() + "/review", "Orvane_Report_");
        ASSERT_EQ(reports.size(), 1u);
        reviewed = dir.str() + "/reviewed.xlsx";
        auto edit = testing::mark_applied(reports[0], reviewed, "count", dir.str());
        ASSERT_EQ(edit.status, 0) << edit.out;
    }

    // The refactor, with the shim raising signal at the nth call named (before it when before).
    RunResult refactor(const std::string& call = {}, const std::string& match = {}, int nth = 0, int signal = 0,
                       bool before = false) {
        std::string env;
        if (!call.empty())
            env = "LD_PRELOAD=" + quote(IGXL_SIGNAL_SHIM) + " IGXL_SHIM_CALL=" + call + " IGXL_SHIM_MATCH=" +
                  quote(match) + " IGXL_SHIM_NTH=" + std::to_string(nth) + " IGXL_SHIM_SIGNAL=" +
                  std::to_string(signal) + " IGXL_SHIM_BEFORE=" + (before ? "1 " : "0 ");
        return run(env + BIN + "orvane " + quote(src) + " refactor " + quote(reviewed) + " --yes --out " + quote(out));
    }

    // Modules whose bytes differ from what they were before the first run.
    std::set<std::string> changed_modules() const {
        std::set<std::string> changed;
        for (const auto& [path, bytes] : old_bytes)
            if (slurp(path) != bytes) changed.insert(path);
        return changed;
    }

    TempDir dir;
    const std::string src = dir.str() + "/src", out = dir.str() + "/out";
    std::string reviewed;
    std::map<std::string, std::string> old_bytes;  // module path -> bytes before any run
};

// SIGINT arrives while the third module is being rewritten (its backup just made): that module
// is finished, no later one is touched, the report says what was done and the status is 130.
TEST_F(InterruptedRefactor, SigintFinishesTheModuleInHandAndReportsWhatWasDone) {
    RunResult r = refactor("link", ".bas.backup_", 3, SIGINT);
    EXPECT_EQ(r.status, 130) << r.out;
    EXPECT_NE(r.out.find("重构被中断: 已改写 3 个文件，另有 7 个文件未改动"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("✓ 重构报告已生成: "), std::string::npos) << r.out;

    const std::set<std::string> changed = changed_modules();
    EXPECT_EQ(changed.size(), 3u);
    EXPECT_EQ(journal_modules(slurp(out + "/VBT_Refactor_Journal.log")), changed);
    EXPECT_TRUE(temp_files(dir.str()).empty()) << *temp_files(dir.str()).begin();
    // Each module rewritten has one backup holding its old bytes; the others have none.
    for (const auto& [path, bytes] : old_bytes) {
        const fs::path p(path);
        auto backups = testing::files_starting(p.parent_path().string(), p.filename().string() + ".backup_");
        ASSERT_EQ(backups.size(), changed.count(path)) << path;
        if (!backups.empty()) {
            EXPECT_EQ(slurp(backups[0]), bytes);
        }
    }

    auto reports = testing::files_starting(out, "VBT_Refactor_Report_");
    ASSERT_EQ(reports.size(), 1u);
    std::multiset<std::string> outcomes;
    for (auto row : testing::sheet_rows(reports[0], "Refactor Changes")) {
        row.resize(9);  // an empty reason is no cell
        if (row[7] == "结果") continue;
        outcomes.insert(row[7] + "|" + row[8]);
        EXPECT_EQ(row[7] == "已应用", changed.count(row[1]) == 1) << row[1];
    }
    EXPECT_EQ(outcomes.count("已应用|"), 3u);
    EXPECT_EQ(outcomes.count("已跳过|运行被中断"), 7u);

    // Each module is whole: its old bytes or the bytes a run to the end gives it.
    std::map<std::string, std::string> stopped;
    for (const auto& [path, bytes] : old_bytes) stopped[path] = slurp(path);
    r = refactor();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("结果: 已应用 7，已是新名称 3"), std::string::npos) << r.out;
    EXPECT_EQ(changed_modules().size(), size_t{kModules});
    for (const auto& [path, bytes] : old_bytes) {
        const std::string done = slurp(path);
        EXPECT_TRUE(stopped[path] == bytes || stopped[path] == done) << path;
        EXPECT_EQ(changed.count(path) == 1, stopped[path] == done) << path;
    }
}

// A run killed outright just before its third module took its new bytes leaves that module's
// temporary file behind; the next run removes it, names it, and completes the work.
TEST_F(InterruptedRefactor, TheNextRunRemovesWhatAKilledRunLeft) {
    RunResult r = refactor("rename", ".bas", 3, SIGKILL, true);
    EXPECT_TRUE(r.status == -1 || r.status == 128 + SIGKILL) << r.status << r.out;
    const std::set<std::string> changed = changed_modules();
    EXPECT_EQ(changed.size(), 2u);
    const std::set<std::string> left = temp_files(src);
    ASSERT_EQ(left.size(), 1u);
    const std::string left_path = src + "/" + *left.begin();
    const std::string in_hand = left_path.substr(0, left_path.size() - 10);  // less ".tmpXXXXXX"
    ASSERT_TRUE(old_bytes.count(in_hand)) << left_path;
    EXPECT_EQ(slurp(in_hand), old_bytes[in_hand]);
    // The journal is written before each module is replaced: it names the one in hand too.
    std::set<std::string> journal = journal_modules(slurp(out + "/VBT_Refactor_Journal.log"));
    EXPECT_EQ(journal.size(), 3u);
    EXPECT_TRUE(journal.count(in_hand));
    for (const auto& path : changed) EXPECT_TRUE(journal.count(path)) << path;

    r = refactor();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("已删除上次中断的重构留下的临时文件: " + left_path), std::string::npos) << r.out;
    // The killed run wrote no report: the journal is named, with the modules it holds.
    EXPECT_NE(r.out.find("未正常结束，没有生成重构报告；重构日志 " + out + "/VBT_Refactor_Journal.log 记录了它已改写或正在改写的 3 个模块:"),
              std::string::npos)
        << r.out;
    for (const auto& path : journal) EXPECT_NE(r.out.find("  " + path + " (备份: "), std::string::npos) << path;
    EXPECT_NE(r.out.find("结果: 已应用 8，已是新名称 2"), std::string::npos) << r.out;
    EXPECT_TRUE(temp_files(dir.str()).empty());
    EXPECT_EQ(changed_modules().size(), size_t{kModules});
}

// Killed while its report was about to take its name (every module already rewritten): the
// report's temporary file is left, and the journal's last run has no report. The next run
// removes the file and names the journal; a run after that, whose predecessor ended in order,
// says neither.
TEST_F(InterruptedRefactor, TheNextRunNamesTheJournalAndRemovesTheReportOfAKilledRun) {
    RunResult r = refactor("rename", "VBT_Refactor_Report_", 1, SIGKILL, true);
    EXPECT_TRUE(r.status == -1 || r.status == 128 + SIGKILL) << r.status << r.out;
    EXPECT_EQ(changed_modules().size(), size_t{kModules});
    const std::set<std::string> left = temp_files(out);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(left.begin()->starts_with("VBT_Refactor_Report_")) << *left.begin();
    EXPECT_TRUE(testing::files_starting(out, "VBT_Refactor_Report_").size() == 1u);  // the temporary one only

    r = refactor();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("已删除上次中断的运行留下的临时文件: " + out + "/" + *left.begin()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("记录了它已改写或正在改写的 10 个模块:"), std::string::npos) << r.out;
    EXPECT_TRUE(temp_files(dir.str()).empty());
    EXPECT_EQ(testing::files_starting(out, "VBT_Refactor_Report_").size(), 1u);

    r = refactor();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("已删除上次中断"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("未正常结束"), std::string::npos) << r.out;
}

// A dry run killed just before its review workbook took its name: the next dry run into that
// folder removes the temporary file and names it.
TEST_F(InterruptedRefactor, TheNextDryRunRemovesTheReviewWorkbookOfAKilledOne) {
    const std::string review = dir.str() + "/review";
    auto dry_run = [&](const std::string& env) {
        return run(env + BIN + "orvane " + quote(src) + " --out " + quote(review));
    };
    RunResult r = dry_run("LD_PRELOAD=" + quote(IGXL_SIGNAL_SHIM) +
                          " IGXL_SHIM_CALL=rename IGXL_SHIM_MATCH=Orvane_Report_ IGXL_SHIM_NTH=1 IGXL_SHIM_SIGNAL=" +
                          std::to_string(SIGKILL) + " IGXL_SHIM_BEFORE=1 ");
    EXPECT_TRUE(r.status == -1 || r.status == 128 + SIGKILL) << r.status << r.out;
    const std::set<std::string> left = temp_files(review);
    ASSERT_EQ(left.size(), 1u);

    r = dry_run("");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("已删除上次中断的运行留下的临时文件: " + review + "/" + *left.begin()), std::string::npos)
        << r.out;
    EXPECT_TRUE(temp_files(review).empty());
    EXPECT_EQ(testing::files_starting(review, "Orvane_Report_").size(), 2u);  // the first run's and this one's
}

}  // namespace
}  // namespace igxl::vbt
