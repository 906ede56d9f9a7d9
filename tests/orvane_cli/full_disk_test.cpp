// orvane's writers with the disk of the modules and reports full: each run fails with a clear
// message and a non-zero status, leaves every module as it was and no file under a final name.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <vector>

#include "tests/support/full_disk.h"
#include "tests/vbt/temp_dir.h"
#include "tests/vbt_report/report_helpers.h"

namespace igxl::vbt {
namespace {

namespace fs = std::filesystem;
using igxl::testing::FullDiskResult;
using igxl::testing::run_with_full_disk;
using testing::quote;
using testing::slurp;

const std::string BIN = IGXL_BINARY_DIR "/bin/";

// Modules larger than the room left, so a backup or a rewritten module cannot fit.
std::string module_text(int i) {
    return "Attribute VB_Name = \"M" + std::to_string(i) + "\"\r\n' " + std::string(9000, '-') +
           "\r\nPrivate count As Long\r\nSub Step" + std::to_string(i) + "()\r\n    count = count + 1\r\nEnd Sub\r\n";
}

std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = slurp(e.path().string());
    return files;
}

class FullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            dir.write("src/M" + std::to_string(i) + ".bas", module_text(i));
            modules["src/M" + std::to_string(i) + ".bas"] = module_text(i);
        }
    }
    // Copies the modules onto the full disk and runs orvane with args (FULL stands for its folder)
    // with free_kib KiB left.
    FullDiskResult orvane(const std::string& args, unsigned free_kib = 4) {
        const std::string f = full.string();
        std::string a = args;
        for (size_t at; (at = a.find("FULL")) != std::string::npos;) a.replace(at, 4, f);
        auto r = run_with_full_disk(full, "mkdir -p " + quote(f + "/out") + " && cp -a " + quote(src) + " " + quote(f),
                                    BIN + "orvane " + a, free_kib, after);
        std::cout << "disk filled by: " << r.disk << "\n";
        return r;
    }
    // A review confirming every rename, made where there is room; returns the reviewed workbook.
    std::string review() {
        fs::create_directories(dir.str() + "/review");
        auto made = testing::run(BIN + "orvane " + quote(src) + " --out " + quote(dir.str() + "/review"));
        EXPECT_EQ(made.status, 0) << made.out;
        auto reports = testing::files_starting(dir.str() + "/review", "Orvane_Report_");
        EXPECT_EQ(reports.size(), 1u);
        if (reports.empty()) return {};
        const std::string reviewed = dir.str() + "/reviewed.xlsx";
        auto edit = testing::mark_applied(reports[0], reviewed, "count", dir.str());
        EXPECT_EQ(edit.status, 0) << edit.out;
        return reviewed;
    }
    TempDir dir;
    const std::string src = dir.str() + "/src";
    const fs::path full = fs::path(dir.str()) / "full", after = fs::path(dir.str()) / "after";
    std::map<std::string, std::string> modules;  // path below full -> bytes
};

TEST_F(FullDisk, DryRunLeavesNoReport) {
    FullDiskResult r = orvane("FULL/src");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("生成报告时出错: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Dry-run报告已生成"), std::string::npos) << r.out;
    EXPECT_EQ(tree(after / "src"), (std::map<std::string, std::string>{{"M0.bas", modules["src/M0.bas"]},
                                                                        {"M1.bas", modules["src/M1.bas"]},
                                                                        {"M2.bas", modules["src/M2.bas"]}}));
}

TEST_F(FullDisk, RefactorLeavesEveryModuleAndNoReport) {
    const std::string reviewed = review();
    ASSERT_FALSE(reviewed.empty());
    FullDiskResult r = orvane("FULL/src refactor " + quote(reviewed) + " --yes --out FULL/out");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("备份文件失败 " + full.string() + "/src/M0.bas: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("结果: 已应用 0，已是新名称 0，已跳过 0，失败 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("生成报告时出错: "), std::string::npos) << r.out;
    std::map<std::string, std::string> left = tree(after);
    // A journal that could be started names no module: none was rewritten.
    auto journal = left.find("out/VBT_Refactor_Journal.log");
    if (journal != left.end()) {
        EXPECT_EQ(journal->second.find(".bas"), std::string::npos) << journal->second;
        left.erase(journal);
    }
    EXPECT_EQ(left, modules);
}

// Room for the first module's backup and the journal, none for its new text: the module keeps its
// bytes (its backup, a whole copy, stays), the later modules are not backed up, and no temporary
// file remains.
TEST_F(FullDisk, RewriteThatDoesNotFitLeavesTheModule) {
    if (igxl::testing::detail::namespace_prefix().empty())
        GTEST_SKIP() << "needs a tmpfs (root, or user namespaces) to leave room for a backup only";
    const std::string reviewed = review();
    ASSERT_FALSE(reviewed.empty());
    // tmpfs counts 4 KiB pages: three for a backup, one for the journal.
    FullDiskResult r = orvane("FULL/src refactor " + quote(reviewed) + " --yes --out FULL/out", 16);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("写入文件失败 " + full.string() + "/src/M0.bas: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("结果: 已应用 0，已是新名称 0，已跳过 0，失败 3"), std::string::npos) << r.out;
    std::map<std::string, std::string> left = tree(after);
    left.erase("out/VBT_Refactor_Journal.log");
    std::vector<std::string> backups;
    for (auto it = left.begin(); it != left.end();) {
        if (it->first.find(".backup_") == std::string::npos) {
            ++it;
            continue;
        }
        backups.push_back(it->first);
        EXPECT_EQ(it->second, modules["src/M0.bas"]) << it->first;
        it = left.erase(it);
    }
    EXPECT_EQ(backups.size(), 1u);
    EXPECT_EQ(left, modules);
}

}  // namespace
}  // namespace igxl::vbt
