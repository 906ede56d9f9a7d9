// Scratch folders, small hand-made zip packages and file reading for the export tests.
#pragma once
#include <unistd.h>
#include <zip.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace igxl::testing {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        static int serial = 0;
        path_ = fs::temp_directory_path() /
                ("igxl_export_" + std::to_string(::getpid()) + "_" + name + "_" + std::to_string(++serial));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return (path_ / rel).string(); }

private:
    fs::path path_;
};

// Numbers for tests over many values: a fixed generator, so a failure repeats.
struct RandomNumbers {
    uint64_t seed;
    // Moves on and returns the new state.
    uint64_t next() { return seed = seed * 6364136223846793005ULL + 1442695040888963407ULL; }
    // The state as a number in [0, 1) scaled by 10^exp, written with digits significant ones
    // in exponent form ('e' or 'E').
    std::string exponent_text(int digits, int exp, char e) const {
        char t[64];
        const char* form = e == 'E' ? "%.*E" : "%.*e";
        std::snprintf(t, sizeof t, form, digits - 1, double(seed >> 11) * 0x1p-53 * std::pow(10.0, exp));
        return t;
    }
};

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void spit(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
}

using Members = std::vector<std::pair<std::string, std::string>>;

// Writes a zip holding the members in the given order (names as given, no checks).
inline void make_zip(const std::string& path, const Members& members) {
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, data] : members) {
        zip_source_t* src = zip_source_buffer(za, data.data(), data.size(), 0);
        ASSERT_NE(src, nullptr);
        if (!name.empty() && name.back() == '/' && data.empty()) {
            zip_source_free(src);
            ASSERT_GE(zip_dir_add(za, name.c_str(), ZIP_FL_ENC_UTF_8), 0) << name;
        } else {
            ASSERT_GE(zip_file_add(za, name.c_str(), src, ZIP_FL_ENC_UTF_8), 0) << name;
        }
    }
    ASSERT_EQ(zip_close(za), 0);
}

inline const char* kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline const char* kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A minimal workbook package: sheets given as (name, sheetData and following XML).
struct HandBook {
    std::vector<std::pair<std::string, std::string>> sheets;
    std::string shared_strings;  // <si> elements; empty: no sharedStrings part
    std::string styles;          // <numFmts>..</numFmts><cellXfs>..</cellXfs>; empty: no part
    bool date1904 = false;

    Members members() const {
        std::string wb = std::string("<?xml version=\"1.0\"?><workbook xmlns=\"") + kMainNs + "\" xmlns:r=\"" +
                         kRelNs + "\">" + (date1904 ? "<workbookPr date1904=\"1\"/>" : "") + "<sheets>";
        std::string rels =
            "<?xml version=\"1.0\"?><Relationships "
            "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
        Members m;
        m.push_back({"_rels/.rels",
                     "<?xml version=\"1.0\"?><Relationships "
                     "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                     "Id=\"rId1\" Type=\"" +
                         std::string(kRelNs) + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"});
        for (size_t i = 0; i < sheets.size(); ++i) {
            std::string n = std::to_string(i + 1);
            wb += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
            rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + kRelNs + "/worksheet\" Target=\"worksheets/sheet" +
                    n + ".xml\"/>";
            m.push_back({"xl/worksheets/sheet" + n + ".xml", std::string("<?xml version=\"1.0\"?><worksheet xmlns=\"") +
                                                                 kMainNs + "\">" + sheets[i].second + "</worksheet>"});
        }
        if (!shared_strings.empty()) {
            rels += std::string("<Relationship Id=\"rSst\" Type=\"") + kRelNs +
                    "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
            m.push_back({"xl/sharedStrings.xml",
                         std::string("<?xml version=\"1.0\"?><sst xmlns=\"") + kMainNs + "\">" + shared_strings + "</sst>"});
        }
        if (!styles.empty()) {
            rels += std::string("<Relationship Id=\"rSty\" Type=\"") + kRelNs + "/styles\" Target=\"styles.xml\"/>";
            m.push_back({"xl/styles.xml", std::string("<?xml version=\"1.0\"?><styleSheet xmlns=\"") + kMainNs + "\">" +
                                              styles + "</styleSheet>"});
        }
        m.push_back({"xl/workbook.xml", wb + "</sheets></workbook>"});
        m.push_back({"xl/_rels/workbook.xml.rels", rels + "</Relationships>"});
        return m;
    }
};

}  // namespace igxl::testing
