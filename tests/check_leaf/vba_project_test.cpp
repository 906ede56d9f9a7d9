// The report's macro project: the compression round trip against a decoder written here from
// the format description, the built file read back by libgsf's VBA reader, and LibreOffice
// importing the modules from workbooks that embed our files. (libgsf's own gsf_vba_inflate is
// not used as a second decoder: it mis-decodes streams of several chunks that LibreOffice and
// the decoder here read alike.)
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile-msvba.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-stdio.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "export/xlsx_writer.h"
#include "tests/support/zip_member.h"
#include "tools/vba_project/ovba.h"

namespace {

namespace fs = std::filesystem;

const std::string kBuiltProject = IGXL_BINARY_DIR "/lib/bin/vbaProject.bin";

uint16_t get16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
}

// Decoder of the compressed container, written from the format description: a 2-byte chunk
// header (size - 3 in 12 bits, signature 0b011, compressed flag), then either 4096 raw bytes or
// flag bytes each announcing 8 tokens (literal byte, or 16-bit copy token whose offset/length
// split depends on how far into the chunk the output is).
std::string decompress(const std::string& c) {
    if (c.empty() || c[0] != '\x01') throw std::runtime_error("bad signature");
    std::string out;
    size_t pos = 1;
    while (pos < c.size()) {
        if (pos + 2 > c.size()) throw std::runtime_error("truncated chunk header");
        const uint16_t header = get16(c, pos);
        if (((header >> 12) & 7) != 3) throw std::runtime_error("bad chunk signature");
        const size_t chunk_end = std::min(c.size(), pos + (header & 0x0FFF) + 3);
        pos += 2;
        const size_t chunk_out = out.size();
        if (!(header & 0x8000)) {
            if (pos + 4096 > c.size()) throw std::runtime_error("short raw chunk");
            out.append(c, pos, 4096);
            pos += 4096;
            continue;
        }
        while (pos < chunk_end) {
            const uint8_t flags = static_cast<uint8_t>(c[pos++]);
            for (int bit = 0; bit < 8 && pos < chunk_end; ++bit) {
                if (!(flags & (1 << bit))) {
                    out.push_back(c[pos++]);
                    continue;
                }
                const uint16_t token = get16(c, pos);
                pos += 2;
                const size_t done = out.size() - chunk_out;
                unsigned bits = 4;
                while ((1u << bits) < done) ++bits;
                const size_t length = (token & (0xFFFFu >> bits)) + 3;
                const size_t offset = (token >> (16 - bits)) + 1;
                if (offset > done) throw std::runtime_error("copy before chunk start");
                for (size_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
            }
        }
        if (out.size() - chunk_out > 4096) throw std::runtime_error("chunk decodes past 4096");
    }
    return out;
}

std::string random_bytes(size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& ch : s) ch = static_cast<char>(gen() & 0xFF);
    return s;
}

TEST(VbaCompression, RoundTripsAcrossChunkBoundaries) {
    std::string text;
    for (int i = 0; text.size() < 13000; ++i)
        text += "    ActiveSheet.Outline.ShowLevels RowLevels:=" + std::to_string(i % 9) + "\r\n";
    std::string pattern37;
    for (int i = 0; i < 37; ++i) pattern37.push_back(static_cast<char>('A' + i % 26));
    std::string periodic;
    while (periodic.size() < 3 * 4096 + 100) periodic += pattern37;  // copies run up to each chunk end
    std::string mixed = random_bytes(4096 - 10, 1) + std::string(5000, 'z') + random_bytes(500, 2);
    const std::string inputs[] = {
        "",
        "a",
        "abcabcabcabc",
        text,
        periodic,
        std::string(4096, '\0'),
        std::string(4097, 'x'),
        std::string(20000, 'q'),                 // maximal copy lengths
        random_bytes(3 * 4096, 3),               // incompressible whole chunks: stored raw
        random_bytes(2 * 4096, 4) + "tail tail tail",
        mixed,
    };
    for (const std::string& in : inputs) {
        const std::string c = igxl::ovba::compress(in);
        // Compared as truth values: a mismatch of binary kilobytes helps nobody.
        const std::string out = decompress(c);
        EXPECT_TRUE(out == in) << "input of " << in.size() << " bytes, got " << out.size();
    }
    // Text really shrinks; incompressible chunks cost only their headers.
    EXPECT_LT(igxl::ovba::compress(text).size(), text.size() / 3);
    const std::string raw = igxl::ovba::compress(random_bytes(3 * 4096, 5));
    EXPECT_EQ(raw.size(), 1 + 3 * (2 + 4096u));
    EXPECT_EQ(get16(raw, 1), 0x3FFF);
}

TEST(VbaCompression, IncompressibleLongTailIsPaddedAsTheFormatRequires) {
    // A final chunk of 4000 random bytes cannot be tokenised within 4096 bytes; the format's
    // only way out is a zero-padded raw chunk.
    const std::string in = random_bytes(4000, 6);
    const std::string out = decompress(igxl::ovba::compress(in));
    ASSERT_EQ(out.size(), 4096u);
    EXPECT_EQ(out.substr(0, 4000), in);
    EXPECT_EQ(out.substr(4000), std::string(96, '\0'));
}

// Inverse of the PROJECT stream obfuscation, from the format description.
std::string decrypt(const std::string& hex) {
    std::string b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    const uint8_t seed = b[0];
    const uint8_t version_enc = b[1], proj_key_enc = b[2];
    EXPECT_EQ(seed ^ version_enc, 2);
    uint8_t proj_key = seed ^ proj_key_enc;
    uint8_t unenc1 = proj_key, enc1 = proj_key_enc, enc2 = version_enc;
    size_t pos = 3 + (seed & 6) / 2;
    auto next = [&](uint8_t e) {
        uint8_t plain = e ^ static_cast<uint8_t>(enc2 + unenc1);
        enc2 = enc1;
        enc1 = e;
        unenc1 = plain;
        return plain;
    };
    // Ignored bytes still advance the state.
    for (size_t i = 3; i < pos; ++i) next(static_cast<uint8_t>(b[i]));
    uint32_t len = 0;
    for (int i = 0; i < 4; ++i) len |= static_cast<uint32_t>(next(static_cast<uint8_t>(b[pos++]))) << (8 * i);
    std::string data;
    for (uint32_t i = 0; i < len && pos < b.size(); ++i) data.push_back(static_cast<char>(next(static_cast<uint8_t>(b[pos++]))));
    EXPECT_EQ(pos, b.size());
    return data;
}

TEST(VbaProject, ProtectionFieldsDecodeToUnprotectedVisible) {
    const std::string clsid = "{5B0E3C71-2A94-4D8F-9E16-73C4A8D2F05B}";
    for (uint8_t seed : {0x00, 0x35, 0x77, 0xB1, 0xFF}) {
        EXPECT_EQ(decrypt(igxl::ovba::encrypt(clsid, std::string(4, '\0'), seed)), std::string(4, '\0'));
        EXPECT_EQ(decrypt(igxl::ovba::encrypt(clsid, "\xFF", seed)), "\xFF");
    }
}

TEST(VbaProject, BuiltFileReadsBackWithLibgsf) {
    ASSERT_TRUE(fs::exists(kBuiltProject)) << kBuiltProject;
    GError* err = nullptr;
    GsfInput* in = gsf_input_stdio_new(kBuiltProject.c_str(), &err);
    ASSERT_TRUE(in);
    GsfInfile* ole = gsf_infile_msole_new(in, &err);
    ASSERT_TRUE(ole) << (err ? err->message : "");
    GsfInput* project = gsf_infile_child_by_name(ole, "PROJECT");
    ASSERT_TRUE(project);
    std::string text(static_cast<size_t>(gsf_input_size(project)), '\0');
    gsf_input_read(project, text.size(), reinterpret_cast<guint8*>(text.data()));
    g_object_unref(project);
    EXPECT_NE(text.find("Module=ReportOutline\r\n"), std::string::npos);
    EXPECT_NE(text.find("Document=ThisWorkbook/&H00000000\r\n"), std::string::npos);

    GsfInput* vba_dir = gsf_infile_child_by_name(ole, "VBA");
    ASSERT_TRUE(vba_dir);
    GsfInfile* vba = gsf_infile_msvba_new(GSF_INFILE(vba_dir), &err);
    ASSERT_TRUE(vba) << (err ? err->message : "");
    GHashTable* modules = gsf_infile_msvba_get_modules(reinterpret_cast<GsfInfileMSVBA*>(vba));
    ASSERT_TRUE(modules);
    // libgsf's reader found both modules through our dir stream; their sources are read from
    // the module streams (the table's values carry no length).
    EXPECT_TRUE(g_hash_table_lookup(modules, "ReportOutline"));
    GsfInput* stream = gsf_infile_child_by_name(GSF_INFILE(vba_dir), "ReportOutline");
    ASSERT_TRUE(stream);
    std::string packed(static_cast<size_t>(gsf_input_size(stream)), '\0');
    gsf_input_read(stream, packed.size(), reinterpret_cast<guint8*>(packed.data()));
    g_object_unref(stream);
    const std::string code = decompress(packed);
    EXPECT_EQ(code.rfind("Attribute VB_Name = \"ReportOutline\"\r\n", 0), 0u);
    EXPECT_NE(code.find("Public Sub ExpandAllGroups()\r\n"), std::string::npos);
    EXPECT_NE(code.find("Public Sub CollapseAllGroups()\r\n"), std::string::npos);
    EXPECT_TRUE(g_hash_table_lookup(modules, "ThisWorkbook"));
    g_object_unref(vba);
    g_object_unref(vba_dir);
    g_object_unref(ole);
    g_object_unref(in);
}

using igxl::testing::zip_member;

// LibreOffice as a real client: it imports the macro modules of a workbook that embeds our
// file into Basic libraries, which a conversion to ODF writes out as plain XML.
TEST(VbaProject, LibreOfficeImportsTheModules) {
    if (std::system("command -v soffice > /dev/null 2>&1") != 0) GTEST_SKIP() << "soffice not installed";
    ASSERT_TRUE(fs::exists(kBuiltProject));
    char tmpl[] = "/tmp/leaf_vba_XXXXXX";
    ASSERT_TRUE(mkdtemp(tmpl));
    const fs::path dir(tmpl);
    const std::string xlsm = (dir / "report.xlsm").string();

    // A second project whose module spans several compression chunks.
    std::string big = "Attribute VB_Name = \"BigModule\"\n";
    for (int i = 0; big.size() < 14000; ++i)
        big += "' line " + std::to_string(i) + ": ShowLevels RowLevels:=" + std::to_string(i % 9) +
               std::string(static_cast<size_t>(i % 37), '.') + "\n";
    big += "Public Sub LastOne()\nEnd Sub\n";
    { std::ofstream((dir / "BigModule.bas").string()) << big; }
    const std::string big_bin = (dir / "big.bin").string();
    const std::string build = "'" IGXL_BINARY_DIR "/bin/vba_project_builder' -o '" + big_bin + "' '" +
                              (dir / "BigModule.bas").string() + "'";
    ASSERT_EQ(std::system(build.c_str()), 0) << build;

    for (const auto& [file, project] : {std::pair{xlsm, kBuiltProject},
                                        std::pair{(dir / "big.xlsm").string(), big_bin}}) {
        igxl::xlsx::writer::Workbook wb(file);
        wb.add_worksheet("JOB_A").write_string(0, 0, "Opcode");
        wb.add_vba_project(project);
        wb.close();
    }

    // A profile of our own so that parallel runs and a user's LibreOffice do not collide.
    const std::string cmd = "cd '" + dir.string() + "' && timeout 120 soffice -env:UserInstallation=file://" +
                            dir.string() + "/profile --headless --convert-to ods --outdir '" + dir.string() +
                            "' report.xlsm big.xlsm > soffice.log 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string ods = (dir / "report.ods").string();
    ASSERT_TRUE(fs::exists(ods));
    const std::string module = zip_member(ods, "Basic/VBAProject/ReportOutline.xml");
    EXPECT_NE(module.find("Public Sub ExpandAllGroups()"), std::string::npos) << module;
    EXPECT_NE(module.find("ActiveSheet.Outline.ShowLevels RowLevels:=1"), std::string::npos) << module;
    EXPECT_NE(module.find("Public Sub CollapseAllGroups()"), std::string::npos) << module;
    const std::string doc = zip_member(ods, "Basic/VBAProject/ThisWorkbook.xml");
    EXPECT_NE(doc.find("script:moduleType=\"document\""), std::string::npos) << doc;
    const std::string big_module = zip_member((dir / "big.ods").string(), "Basic/VBAProject/BigModule.xml");
    EXPECT_NE(big_module.find("&apos; line 200: ShowLevels RowLevels:=2"), std::string::npos);
    EXPECT_NE(big_module.find("Public Sub LastOne()\nEnd Sub"), std::string::npos) << big_module.size();
    fs::remove_all(dir);
}

}  // namespace
