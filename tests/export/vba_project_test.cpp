// The VBA modules of a workbook: the decompression against our own compressor and hostile
// data, projects of our own in two code pages read back byte for byte, damaged compound
// files, and Excel-made workbooks compared with LibreOffice's reading of the same modules.
#include <glib.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "../support/process.h"
#include "../support/zip_member.h"
#include "export/vba_project.h"
#include "util/error.h"
#include "vba_test_support.h"

namespace igxl::testing {
namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t i = 0;
    while (i <= text.size()) {
        size_t e = text.find('\n', i);
        if (e == std::string::npos) e = text.size();
        std::string line = text.substr(i, e - i);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        i = e + 1;
    }
    return lines;
}

std::string from_utf8(const std::string& s, const char* code_page) {
    gsize n = 0;
    gchar* out = g_convert(s.data(), static_cast<gssize>(s.size()), code_page, "UTF-8", nullptr, &n, nullptr);
    EXPECT_TRUE(out) << code_page;
    std::string r(out ? out : "", n);
    g_free(out);
    return r;
}

// Some text of test-program code: repeats compress, numbers and names keep it from being trivial.
std::string vba_text(size_t size) {
    std::string s;
    for (int i = 0; s.size() < size; ++i)
        s += "    TheHdw.DCVI.Pins(\"VDD_" + std::to_string(i % 17) + "\").Voltage = " + std::to_string(i * 0.125) +
             "\r\n";
    s.resize(size);
    return s;
}

TEST(Decompress, UndoesOurCompression) {
    std::mt19937 rng(7);
    std::string noise(8192, '\0');  // incompressible: stored as raw chunks
    for (char& c : noise) c = static_cast<char>(rng());
    for (const std::string& text : {std::string(), std::string("A"), std::string(4096, 'x'), vba_text(4095),
                                    vba_text(4097), vba_text(30000), noise}) {
        EXPECT_EQ(vba::decompress(ovba::compress(text), "t"), text) << text.size();
    }
}

TEST(Decompress, HostileDataIsAClearErrorNeverACrash) {
    auto why = [](const std::string& data, size_t max_out = vba::kMaxStreamBytes) {
        try {
            vba::decompress(data, "stream X", max_out);
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(why("").find("stream X: compressed data broken at byte 0: expected the signature byte 0x01"),
              std::string::npos);
    EXPECT_NE(why("\x02\x00\xB0").find("signature byte"), std::string::npos);
    // A header claiming 0x0FFF + 3 bytes with only a few after it.
    EXPECT_NE(why(std::string("\x01\xFF\xBF" "abc", 6)).find("at byte 1: the chunk claims 4098 bytes, 5 are left"),
              std::string::npos);
    EXPECT_NE(why(std::string("\x01\x00", 2)).find("a chunk header needs 2 bytes"), std::string::npos);
    // A copy token first in its chunk has nothing to refer to.
    EXPECT_NE(why(std::string("\x01\x02\xB0\x01\x00\x00", 6)).find("reaches 1 bytes back, only 0"), std::string::npos);
    // A raw chunk shorter than its 4096 bytes.
    EXPECT_NE(why(std::string("\x01\x10\x30", 3) + std::string(17, 'r')).find("must hold 4096"), std::string::npos);
    EXPECT_NE(why(ovba::compress(vba_text(20000)), 10000).find("would exceed 10000 bytes"), std::string::npos);

    // Every cut and many random changes of a real stream: a result or igxl::Error, nothing else.
    const std::string text = vba_text(12000);
    const std::string packed = ovba::compress(text);
    size_t errors = 0;
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        try {
            std::string got = vba::decompress(packed.substr(0, cut), "t");
            EXPECT_EQ(text.compare(0, got.size(), got), 0) << cut;  // a cut at a chunk boundary
        } catch (const Error&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, packed.size() / 2);
    std::mt19937 rng(11);
    for (int round = 0; round < 3000; ++round) {
        std::string bad = packed;
        for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
        try {
            EXPECT_LE(vba::decompress(bad, "t").size(), vba::kMaxStreamBytes);
        } catch (const Error&) {
        }
    }
}

ovba::Project project_with(uint16_t code_page, const std::string& comment) {
    ovba::Project p;
    p.clsid = "{0D9C5B39-71A2-4C6E-8F1B-2E5A7C3D9F10}";
    p.code_page = code_page;
    p.modules.push_back({"ThisWorkbook", "Attribute VB_Name = \"ThisWorkbook\"\r\nAttribute VB_Base = \"0{00020819-0000-0000-C000-000000000046}\"\r\n" + comment + "\r\n", ovba::ModuleKind::Document});
    p.modules.push_back({"PowerUp",
                         "Attribute VB_Name = \"PowerUp\"\r\nOption Explicit\r\n" + comment +
                             "\r\nPublic Function PowerUp(argc As Long, argv() As String) As Long\r\n" + vba_text(9000) +
                             "End Function\r\n",
                         ovba::ModuleKind::Procedural});
    return p;
}

TEST(VbaProject, OwnWorkbooksInTwoCodePagesComeBackByteForByte) {
    ScratchDir d;
    const std::pair<uint16_t, std::string> cases[] = {
        {936, from_utf8("' 上电顺序：先 VDD 后 VDDIO（单位 V）", "CP936")},
        {1252, from_utf8("' Größe der Spannung: 1,8 V ± 5 % — geprüft", "CP1252")},
    };
    for (const auto& [cp, comment] : cases) {
        SCOPED_TRACE(cp);
        ASSERT_TRUE(std::any_of(comment.begin(), comment.end(), [](char c) { return c & 0x80; }));
        ovba::Project p = project_with(cp, comment);
        const std::string bin = d / ("cp" + std::to_string(cp) + ".bin");
        const std::string xlsm = d / ("cp" + std::to_string(cp) + ".xlsm");
        write_project_bin(p, bin);
        write_xlsm(xlsm, bin);

        vba::Project got = vba::read_workbook_project(xlsm);
        EXPECT_EQ(got.code_page, cp);
        ASSERT_EQ(got.modules.size(), 2u);
        EXPECT_EQ(got.modules[0].name, "ThisWorkbook");
        EXPECT_EQ(got.modules[0].kind, vba::Module::Class);
        EXPECT_EQ(got.modules[1].name, "PowerUp");
        EXPECT_EQ(got.modules[1].kind, vba::Module::Standard);
        EXPECT_EQ(got.modules[0].text, p.modules[0].source);
        EXPECT_EQ(got.modules[1].text, p.modules[1].source);

        const fs::path out = d.path() / ("out" + std::to_string(cp));
        auto files = vba::write_modules(got, out.string());
        EXPECT_EQ(files, (std::vector<std::string>{(out / "ThisWorkbook.cls").string(), (out / "PowerUp.bas").string()}));
        EXPECT_EQ(slurp(out / "PowerUp.bas"), p.modules[1].source);
        EXPECT_EQ(slurp(out / "ThisWorkbook.cls"), p.modules[0].source);
    }
    // A workbook without macros has no modules.
    {
        xlsx::writer::Workbook wb(d / "plain.xlsx");
        wb.add_worksheet("Job List");
        wb.close();
    }
    EXPECT_TRUE(vba::read_workbook_project(d / "plain.xlsx").modules.empty());
}

TEST(VbaProject, TheReportMacroProjectReadsBack) {
    const std::string bin = IGXL_BINARY_DIR "/lib/bin/vbaProject.bin";
    ASSERT_TRUE(fs::exists(bin)) << bin;
    vba::Project p = vba::read_project(slurp(bin), bin);
    ASSERT_EQ(p.modules.size(), 2u);
    EXPECT_EQ(p.modules[0].file_name(), "ThisWorkbook.cls");
    EXPECT_EQ(p.modules[1].file_name(), "ReportOutline.bas");
    // The source kept in the repository, as the editor would export it: CR LF after each line.
    std::string source = ovba::normalise_source(slurp(IGXL_SOURCE_DIR "/tools/vba_project/ReportOutline.bas"));
    if (source.size() < 2 || source.compare(source.size() - 2, 2, "\r\n") != 0) source += "\r\n";
    EXPECT_EQ(p.modules[1].text, source);
}

TEST(VbaProject, DamagedProjectsAreClearErrorsAndOneWarningInTheExport) {
    ScratchDir d;
    // Comments of random digits keep the module stream over 4 KB after compression.
    std::mt19937 rng(3);
    std::string noise;
    for (int i = 0; i < 200; ++i) noise += "' " + std::to_string(rng()) + std::to_string(rng()) + "\r\n";
    ovba::Project p = project_with(1252, noise);
    const std::string good = d / "good.bin";
    write_project_bin(p, good);
    const std::string bytes = slurp(good);
    auto why = [](const std::string& bin) {
        try {
            vba::read_project(bin, "P");
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(why(bytes), "no error");
    EXPECT_NE(why(bytes.substr(0, bytes.size() / 2)), "no error");
    EXPECT_NE(why(std::string(600, '\0')).find("P: not a readable compound file"), std::string::npos);

    // A sector chain that comes back to itself: the module stream (over 4 KB, so in the big
    // sectors) is found by its directory entry, and its first sector made to point at itself.
    {
        std::u16string name16 = u"PowerUp";
        std::string entry_name(reinterpret_cast<const char*>(name16.data()), name16.size() * 2);
        // Directory entries are 128 bytes each, in 512-byte sectors; PROJECTwm holds the name too.
        size_t entry = bytes.find(entry_name);
        while (entry != std::string::npos && entry % 128 != 0) entry = bytes.find(entry_name, entry + 1);
        ASSERT_NE(entry, std::string::npos);
        auto u32 = [&](const std::string& b, size_t at) {
            return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
                   uint32_t(uint8_t(b[at + 3])) << 24;
        };
        uint32_t start = u32(bytes, entry + 0x74);
        ASSERT_GE(u32(bytes, entry + 0x78), 4096u);
        uint32_t fat_sector = u32(bytes, 0x4C);
        size_t fat_entry = 512 * (size_t(fat_sector) + 1) + 4 * size_t(start);
        std::string looped = bytes;
        for (int i = 0; i < 4; ++i) looped[fat_entry + i] = static_cast<char>((start >> (8 * i)) & 0xFF);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_NE(why(looped), "no error");
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    }

    // dir streams that lie: a record longer than the stream, a source offset past the end.
    std::string dir = ovba::dir_stream(p);
    std::string cut = ovba::compress(dir.substr(0, dir.size() - 3));
    write_project_bin(p, d / "cut.bin", &cut);
    EXPECT_NE(why(slurp(d.path() / "cut.bin")).find("P: dir stream broken at byte"), std::string::npos);
    std::string offset_rec("\x31\x00\x04\x00\x00\x00\x00\x00\x00\x00", 10);
    size_t at = dir.find(offset_rec);
    ASSERT_NE(at, std::string::npos);
    dir.replace(at + 6, 4, std::string("\x00\x00\x01\x00", 4));
    std::string far = ovba::compress(dir);
    write_project_bin(p, d / "far.bin", &far);
    EXPECT_NE(why(slurp(d.path() / "far.bin")).find("module 'ThisWorkbook': its source starts at byte 65536, past the end"),
              std::string::npos);

    // In an export the unreadable project is one warning, and no module file appears.
    write_xlsm(d / "far.xlsm", d / "far.bin");
    diag::CollectingSink sink;
    EXPECT_TRUE(vba::export_modules(d / "far.xlsm", d / "out", {}, sink).empty());
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].severity, diag::Severity::warning);
    EXPECT_EQ(sink.events[0].code, "export.vba-unreadable");
    EXPECT_NE(sink.events[0].text.find("past the end"), std::string::npos);
    EXPECT_TRUE(!fs::exists(d.path() / "out") || fs::is_empty(d.path() / "out"));
}

// Text of a module as LibreOffice stores it in an .ods (Basic/<library>/<module>.xml), with the
// lines it adds of its own ("Rem Attribute ...", "Option VBASupport 1") left out.
std::vector<std::string> libreoffice_lines(std::string xml) {
    size_t open = xml.find("<script:module");
    size_t body = xml.find('>', open);
    size_t close = xml.rfind("</script:module>");
    std::string text = xml.substr(body + 1, close - body - 1);
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            plain += text[i];
            continue;
        }
        size_t semi = text.find(';', i);
        std::string ent = text.substr(i + 1, semi - i - 1);
        if (ent == "lt") plain += '<';
        else if (ent == "gt") plain += '>';
        else if (ent == "amp") plain += '&';
        else if (ent == "quot") plain += '"';
        else if (ent == "apos") plain += '\'';
        else if (ent == "#10" || ent == "#xa") plain += '\n';
        else if (ent == "#13" || ent == "#xd") plain += '\r';
        else plain += "&" + ent + ";";
        i = semi;
    }
    std::vector<std::string> lines;
    for (const std::string& line : split_lines(plain))
        if (line.rfind("Rem Attribute", 0) != 0 && line != "Option VBASupport 1") lines.push_back(line);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

// Our module text without its Attribute lines, for the comparison above.
std::vector<std::string> our_lines(const std::string& text) {
    std::vector<std::string> lines;
    for (const std::string& line : split_lines(text))
        if (line.rfind("Attribute ", 0) != 0) lines.push_back(line);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

TEST(VbaCorpus, ExcelMadeWorkbooksMatchLibreOffice) {
    const fs::path corpus = fs::path(IGXL_SHARED_DIR) / "corpus/xlsm-vba";
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no shared corpus at " << corpus << " (read in place, not in a clone)";
    std::vector<fs::path> books;
    for (const auto& e : fs::directory_iterator(corpus))
        if (e.path().extension() == ".xlsm") books.push_back(e.path());
    std::sort(books.begin(), books.end());
    ASSERT_FALSE(books.empty());

    ScratchDir d;
    std::map<std::string, vba::Project> ours;
    for (const fs::path& book : books) {
        SCOPED_TRACE(book.string());
        vba::Project p = vba::read_workbook_project(book.string());
        ASSERT_FALSE(p.modules.empty());
        for (const vba::Module& m : p.modules) {
            EXPECT_EQ(m.text.rfind("Attribute VB_Name = \"" + m.name + "\"\r\n", 0), 0u) << m.name;
            for (size_t i = 0; i < m.text.size(); ++i)
                if (m.text[i] == '\n') {
                    ASSERT_TRUE(i > 0 && m.text[i - 1] == '\r') << m.name << " byte " << i;
                }
        }
        ours[book.stem().string()] = std::move(p);
    }

    if (run_command("command -v soffice").status != 0) GTEST_SKIP() << "soffice not installed: LibreOffice comparison left out";
    std::string cmd = "cd '" + d.path().string() + "' && timeout 300 soffice -env:UserInstallation=file://" +
                      d.path().string() + "/profile --headless --convert-to ods --outdir '" + d.path().string() + "'";
    for (const fs::path& book : books) cmd += " '" + book.string() + "'";
    ASSERT_EQ(run_command(cmd).status, 0) << cmd;
    for (const auto& [stem, p] : ours) {
        const std::string ods = (d.path() / (stem + ".ods")).string();
        for (const vba::Module& m : p.modules) {
            SCOPED_TRACE(stem + " / " + m.name);
            std::string xml = zip_member(ods, "Basic/VBAProject/" + m.name + ".xml");
            ASSERT_EQ(xml.rfind("<no ", 0), std::string::npos) << xml;
            EXPECT_EQ(our_lines(m.text), libreoffice_lines(xml));
        }
    }
}

}  // namespace
}  // namespace igxl::testing
