// The Windows platform layer, run under Windows (or Wine): command-line quoting as the started
// program's C runtime reads it back, non-ASCII names reaching Windows as the right UTF-16 names,
// replacing a file another program holds open, names never taken twice, durable appends,
// temporary folders under %TEMP%.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "util/platform.h"
#include "util/platform_win_detail.h"

namespace fs = std::filesystem;
using namespace igxl::util;

namespace {

// Splits a command line as Windows' own parser does.
std::vector<std::wstring> split_as_windows(const std::wstring& line) {
    int n = 0;
    LPWSTR* parts = ::CommandLineToArgvW(line.c_str(), &n);
    std::vector<std::wstring> out(parts, parts + n);
    ::LocalFree(parts);
    return out;
}

std::string read_all(const std::string& utf8_path) {
    std::ifstream in(path_from_utf8(utf8_path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

const std::string kChineseFolder = "\xe6\xb5\x8b\xe8\xaf\x95\xe7\xa8\x8b\xe5\xba\x8f";  // 测试程序
const std::wstring kChineseFolderW = L"\u6d4b\u8bd5\u7a0b\u5e8f";

class WinPlatform : public ::testing::Test {
protected:
    TempDir dir{"vantor-win-test-"};
    std::string in_dir(const std::string& name) const { return dir.path() + "\\" + name; }
};

}  // namespace

TEST(WinQuoting, ArgumentsComeBackUnchangedThroughWindowsParser) {
    const std::vector<std::string> args = {
        "C:\\Program Files\\patinfo.exe", "plain", "two words", "", "say \"hi\"", "ends\\",
        "C:\\dir with blank\\", "a\\\\b", "back\\\"quote", "\\\\server\\share\\x y", "tab\there",
        "\xe6\xb5\x8b\xe8\xaf\x95 A"};
    std::vector<std::wstring> back = split_as_windows(detail::command_line(args));
    ASSERT_EQ(back.size(), args.size());
    // CommandLineToArgvW reads the program name by simpler rules (no escapes): it has none here.
    for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(detail::narrow(back[i]), args[i]) << i;
}

TEST(WinQuoting, SimpleArgumentsStayBare) {
    EXPECT_EQ(detail::quote_argument(L"pattern.PAT"), L"pattern.PAT");
    EXPECT_EQ(detail::quote_argument(L""), L"\"\"");
    EXPECT_EQ(detail::quote_argument(L"a b\\"), L"\"a b\\\\\"");
    EXPECT_EQ(detail::quote_argument(L"x\"y"), L"\"x\\\"y\"");
}

TEST_F(WinPlatform, StartedProgramGetsEveryArgumentAndWritesToTheFile) {
    const std::string helper = path_to_utf8(path_from_utf8(executable_path()).parent_path() / "echo_args.exe");
    ASSERT_TRUE(fs::exists(path_from_utf8(helper))) << helper;
    const std::vector<std::string> args = {"two words", "say \"hi\"", "C:\\dir with blank\\", "",
                                           "\xe6\xb5\x8b\xe8\xaf\x95 A"};
    std::vector<std::string> argv = {helper};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = in_dir(kChineseFolder + " out.txt");
    EXPECT_EQ(run_program(argv, out), 0);
    std::string expected;
    for (const auto& a : args) expected += a + "\n";
    std::string got = read_all(out);
    std::erase(got, '\r');
    EXPECT_EQ(got, expected);
    // Its exit status comes back as it is.
    EXPECT_EQ(run_program({helper}, out), 3);
}

TEST_F(WinPlatform, ProgramThatCannotStartSaysWhy) {
    try {
        run_program({in_dir("no such program.exe"), "x"}, in_dir("out.txt"));
        FAIL() << "started a program that does not exist";
    } catch (const ProgramStartError& e) {
        EXPECT_FALSE(e.reason().empty());
        EXPECT_NE(std::string(e.what()).find("no such program.exe"), std::string::npos) << e.what();
    }
}

TEST_F(WinPlatform, NonAsciiNamesReachWindowsAsTheirUtf16Names) {
    const std::string folder = in_dir(kChineseFolder + "\\Device A");
    fs::create_directories(path_from_utf8(folder));
    write_file_atomic(folder + "\\job list.txt", "jobs\n");
    // Windows itself sees the Chinese name, not its UTF-8 bytes as Latin letters.
    std::wstring wide = detail::widen(dir.path()) + L"\\" + kChineseFolderW + L"\\Device A\\job list.txt";
    EXPECT_NE(::GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
    // And a listing gives the name back in UTF-8.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_from_utf8(dir.path()))) names.push_back(path_to_utf8(e.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{kChineseFolder});
    // The C runtime's open takes the same UTF-8 name.
    std::FILE* f = open_file(folder + "\\job list.txt", "rb");
    ASSERT_NE(f, nullptr);
    char buf[5] = {};
    read_at(f, 1, buf, 3, "job list.txt");
    EXPECT_EQ(std::string(buf), "obs");
    // Reading at an offset leaves the stream where it was.
    EXPECT_EQ(std::fgetc(f), 'j');
    EXPECT_THROW(read_at(f, 3, buf, 4, "job list.txt"), igxl::Error);
    std::fclose(f);
    EXPECT_EQ(detail::narrow(detail::widen("\xe6\xb5\x8b A")), "\xe6\xb5\x8b A");
    // Joined as Windows joins paths, still UTF-8.
    EXPECT_EQ(join_path(kChineseFolder, "Device A"), kChineseFolder + "\\Device A");
}

TEST_F(WinPlatform, ReplacingAFileAnotherProgramHoldsOpenKeepsTheOriginal) {
    const std::string report = in_dir(kChineseFolder + " report.xlsx");
    write_file_atomic(report, "old");
    // Excel holds an open workbook without sharing deletion; a replace must fail, not half-happen.
    HANDLE held = ::CreateFileW(detail::widen(report).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(write_file_atomic(report, "new"), igxl::Error);
    {
        AtomicFile out(report);
        write_file_atomic(out.temp_path(), "newer");
        EXPECT_THROW(out.commit(), igxl::Error);
    }
    ::CloseHandle(held);
    EXPECT_EQ(read_all(report), "old");
    // Nothing left behind under a temporary name.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path_from_utf8(dir.path())))
        names.push_back(path_to_utf8(e.path().filename()));
    EXPECT_EQ(names, std::vector<std::string>{kChineseFolder + " report.xlsx"});
    // Once it is closed the replace goes through.
    write_file_atomic(report, "new");
    EXPECT_EQ(read_all(report), "new");
    AtomicFile out(report);
    write_file_atomic(out.temp_path(), "newest");
    out.commit();
    EXPECT_EQ(read_all(report), "newest");
}

TEST_F(WinPlatform, NewFileNeverOverwrites) {
    const std::string backup = in_dir("Module1.bas.bak");
    write_new_file(backup, "first\r\n");
    EXPECT_THROW(write_new_file(backup, "second\r\n"), igxl::Error);
    // Line ends are written as given.
    EXPECT_EQ(read_all(backup), "first\r\n");
    rename_over(backup, in_dir("Module1.bas"));
    EXPECT_EQ(read_all(in_dir("Module1.bas")), "first\r\n");
    write_new_file(backup, "second\r\n");
    put_in_place(backup, in_dir("Module1.bas"));
    EXPECT_EQ(read_all(in_dir("Module1.bas")), "second\r\n");
    EXPECT_FALSE(remove_file(backup));
    EXPECT_TRUE(remove_file(in_dir("Module1.bas")));
    EXPECT_FALSE(remove_file(in_dir("Module1.bas")));
}

TEST_F(WinPlatform, CommitAsNewTakesOnlyAFreeName) {
    const std::string taken = in_dir(kChineseFolder + ".xlsx");
    const std::string free_name = in_dir(kChineseFolder + "_1.xlsx");
    write_file_atomic(taken, "earlier report");
    AtomicFile out(taken);
    write_file_atomic(out.temp_path(), "this run");
    // A name taken stays as it was and the written file waits for another name.
    EXPECT_FALSE(out.commit_as_new(taken));
    EXPECT_EQ(read_all(taken), "earlier report");
    EXPECT_TRUE(fs::exists(path_from_utf8(out.temp_path())));
    EXPECT_TRUE(out.commit_as_new(free_name));
    EXPECT_EQ(out.final_path(), free_name);
    EXPECT_EQ(read_all(free_name), "this run");
    EXPECT_FALSE(fs::exists(path_from_utf8(out.temp_path())));
    EXPECT_THROW(out.commit_as_new(in_dir("again.xlsx")), igxl::Error);
    // A folder that does not exist is an error, not a taken name; the temporary file goes.
    AtomicFile lost(in_dir("x.xlsx"));
    const std::string temp = lost.temp_path();
    EXPECT_THROW(lost.commit_as_new(in_dir("no such folder\\x.xlsx")), igxl::Error);
    EXPECT_FALSE(fs::exists(path_from_utf8(temp)));
}

TEST_F(WinPlatform, DurableAppendsKeepEarlierLines) {
    const std::string journal = in_dir(kChineseFolder + " journal.log");
    append_durably(journal, "first\r\n");
    append_durably(journal, "second\r\n");
    EXPECT_EQ(read_all(journal), "first\r\nsecond\r\n");
    EXPECT_THROW(append_durably(in_dir("no such folder\\journal.log"), "x"), igxl::Error);
}

TEST(WinTempDir, LivesUnderTemp) {
    wchar_t old[MAX_PATH + 1] = {};
    DWORD had = ::GetEnvironmentVariableW(L"TMP", old, MAX_PATH + 1);
    TempDir base("vantor-tmp-base-");
    const std::string temp_root = base.path() + "\\" + kChineseFolder;
    fs::create_directories(path_from_utf8(temp_root));
    ::SetEnvironmentVariableW(L"TMP", detail::widen(temp_root).c_str());
    std::string made = make_temp_dir("vantor-");
    ::SetEnvironmentVariableW(L"TMP", had ? old : nullptr);
    EXPECT_EQ(made.rfind(temp_root + "\\vantor-", 0), 0u) << made;
    EXPECT_TRUE(fs::is_directory(path_from_utf8(made)));
    EXPECT_TRUE(remove_tree(made));
    EXPECT_FALSE(fs::exists(path_from_utf8(made)));
}

TEST(WinLibraries, ReportWriterLoadsFromBesideTheProgram) {
    const fs::path exe = path_from_utf8(executable_path());
    EXPECT_EQ(exe.extension(), ".exe");
    EXPECT_EQ(shared_library_file_name("Tessaly"), "Tessaly.dll");
    const std::string lib = path_to_utf8(exe.parent_path() / shared_library_file_name("Tessaly"));
    LibraryHandle h = load_library(lib);
    ASSERT_TRUE(h);
    EXPECT_THROW(library_symbol(h, "no_such_symbol"), igxl::Error);
    EXPECT_THROW(load_library(path_to_utf8(exe.parent_path() / "NoSuchLibrary.dll")), igxl::Error);
    // The module holding this test's own code is the test program.
    EXPECT_EQ(module_path_of(reinterpret_cast<const void*>(&split_as_windows)), executable_path());
}
