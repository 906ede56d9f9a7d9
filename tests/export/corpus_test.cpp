// Real workbooks from other spreadsheet projects, exported and compared with the sheet text
// files of an independent reader (see README.md for the known differences we normalise).
#include <algorithm>
#include <set>

#include "export/common.h"
#include "helpers.h"
#include "tests/support/shared_data.h"
#include "util/error.h"
#include "util/regex.h"

namespace igxl::testing {
namespace {

const fs::path kCorpus = fs::path(IGXL_SHARED_DIR) / "corpus";

std::vector<std::string> workbooks(const fs::path& root) {
    std::vector<std::string> out;
    if (!fs::is_directory(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".xlsx" || ext == ".xlsm"))
            out.push_back(fs::relative(e.path(), root).generic_string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string param_name(const ::testing::TestParamInfo<std::string>& info) {
    std::string n = info.param;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

// The reference leaves _xHHHH_ undecoded.
std::string decode_escapes(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "_x") == 0 && i + 6 < s.size() && s[i + 6] == '_' &&
            std::all_of(s.begin() + i + 2, s.begin() + i + 6, [](char c) { return std::isxdigit((unsigned char)c); })) {
            unsigned cp = std::stoul(s.substr(i + 2, 4), nullptr, 16);
            if (cp < 0x80) {
                out += static_cast<char>(cp);
                i += 6;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// The reference prints a duration of a day or more as Python does ('10 days, 15:10:10'); we
// print total hours ('255:10:10').
std::string hours_form(const std::string& s) {
    static const util::Regex days(R"((\d+) days?, (\d+):(\d\d):(\d\d))");
    std::string out;
    size_t pos = 0;
    util::Match m;
    while (days.search(s, m, pos)) {
        out.append(s, pos, m.start() - pos);
        long h = std::stol(std::string(m.group(1))) * 24 + std::stol(std::string(m.group(2)));
        out += std::to_string(h) + ":" + std::string(m.group(3)) + ":" + std::string(m.group(4));
        pos = m.end();
    }
    out.append(s, pos, std::string::npos);
    return out;
}

std::string blanks_for_breaks(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return s;
}

// Workbooks with a tab, CR or LF inside a cell: the reference splits fields or lines there,
// we write a blank, so only the text apart from separators can be compared.
const std::set<std::string> kBreaksInCells = {
    "xlsx2csv/test/escape.xlsx",           "calamine/tests/whitespace_trim.xlsx",
    "calamine/tests/richtext-namespaced.xlsx", "calamine/tests/has_x000D_.xlsx",
    "calamine/tests/has_x000D_inline.xlsx", "calamine/tests/encoded_entities.xlsx",
};

class CorpusExport : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusExport, MatchesIndependentReader) {
    IGXL_REQUIRE_SHARED(kCorpus / "xlsx");
    const std::string rel = GetParam();
    ScratchDir out;
    ASSERT_NO_THROW(export_sheets_to_txt((kCorpus / "xlsx" / rel).string(), out.path().string()));
    fs::path expected_dir = kCorpus / "xlsx-expected" / rel;
    std::set<std::string> expected_files, our_files;
    for (const auto& e : fs::directory_iterator(expected_dir)) expected_files.insert(e.path().filename().string());
    for (const auto& e : fs::directory_iterator(out.path())) our_files.insert(e.path().filename().string());
    EXPECT_EQ(our_files, expected_files);
    for (const std::string& name : expected_files) {
        SCOPED_TRACE(name);
        std::string want = hours_form(decode_escapes(slurp(expected_dir / name)));
        std::string got = slurp(out.path() / name);
        // Every line of ours has the same number of fields.
        size_t tabs = std::string::npos, line_start = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            if (got[i] != '\n') continue;
            size_t n = std::count(got.begin() + line_start, got.begin() + i, '\t');
            if (tabs == std::string::npos) tabs = n;
            EXPECT_EQ(n, tabs) << "line starting at byte " << line_start;
            line_start = i + 1;
        }
        EXPECT_EQ(got.find('\r'), std::string::npos);
        // A sheet without cell records: the reference writes one empty line, we an empty file.
        if (want == "\n" && got.empty()) continue;
        if (kBreaksInCells.count(rel)) {
            want = blanks_for_breaks(want);
            got = blanks_for_breaks(got);
        }
        EXPECT_EQ(got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Xlsx, CorpusExport, ::testing::ValuesIn(or_missing_marker(workbooks(kCorpus / "xlsx"))),
                         param_name);

// Files the reference reader fails on: each gives a sound export or one clear igxl::Error.
class HardWorkbook : public ::testing::TestWithParam<std::string> {};

TEST_P(HardWorkbook, ExportsOrFailsCleanly) {
    IGXL_REQUIRE_SHARED(kCorpus / "xlsx-unreadable-by-reference");
    const std::string rel = GetParam();
    const std::string path = (kCorpus / "xlsx-unreadable-by-reference" / rel).string();
    ScratchDir out;
    try {
        export_sheets_to_txt(path, out.path().string());
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        return;
    }
    size_t files = 0;
    for (const auto& e : fs::directory_iterator(out.path())) {
        ++files;
        EXPECT_LT(fs::file_size(e.path()), 16u << 20) << e.path();
    }
    EXPECT_GT(files, 0u);
}

INSTANTIATE_TEST_SUITE_P(Unreadable, HardWorkbook,
                         ::testing::ValuesIn(or_missing_marker(
                             workbooks(kCorpus / "xlsx-unreadable-by-reference"))),
                         param_name);

std::string export_one(const std::string& rel, const std::string& sheet, const ScratchDir& out) {
    export_sheets_to_txt((kCorpus / "xlsx-unreadable-by-reference" / rel).string(), out.path().string());
    return slurp(out.path() / (sheet + ".txt"));
}

TEST(HardWorkbook, WhatEachOneGives) {
    IGXL_REQUIRE_SHARED(kCorpus / "xlsx-unreadable-by-reference");
    {
        ScratchDir out;  // formatting on every cell of the last rows out to XFD1048576
        std::string text = export_one("calamine/tests/issue_174.xlsx", "Sheet1", out);
        EXPECT_EQ(text.substr(0, 24), "Your Ref #\tContact Name\t");
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    }
    {
        ScratchDir out;  // lower-cased SharedStrings part name
        EXPECT_EQ(export_one("calamine/tests/issue_419.xlsx", "Sheet1", out), "Hello\n");
    }
    {
        ScratchDir out;  // s="" on cells
        EXPECT_NE(export_one("calamine/tests/empty_s_attribute.xlsx", "Sheet1", out).find("John\t1\n"), std::string::npos);
    }
    {
        ScratchDir out;  // rich-text inline string
        EXPECT_EQ(export_one("xlsx2csv/test/formatted_inline_string.xlsx", "Sheet1", out), "Regular Bold\n");
    }
    {
        ScratchDir out;  // Strict OOXML namespaces
        EXPECT_EQ(export_one("calamine/tests/strict_iso_paths.xlsx", "ml_out", out).substr(0, 15), "Item\tThickness\t");
    }
    auto error_of = [](const std::string& rel) {
        ScratchDir out;
        try {
            export_sheets_to_txt((kCorpus / "xlsx-unreadable-by-reference" / rel).string(), out.path().string());
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(error_of("calamine/tests/pass_protected.xlsx").find("encrypted"), std::string::npos);
    EXPECT_NE(error_of("calamine/tests/issue252.xlsx").find("CRC"), std::string::npos);
}

}  // namespace
}  // namespace igxl::testing
