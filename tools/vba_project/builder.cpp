// Builds the report's macro project (vbaProject.bin) from .bas module sources.
//   vba_project_builder --output vbaProject.bin ReportOutline.bas [more.bas ...]
// The project holds the workbook's document module "ThisWorkbook" and one standard module per
// source; each is stored as compressed source only, so Office compiles it on first load.
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include <gsf/gsf-output.h>
#include <gsf/gsf-utils.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/vba_project/ovba.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/platform.h"
#include "util/regex.h"

namespace {

using igxl::ovba::Module;
using igxl::ovba::ModuleKind;

// A fixed project id of our own: builds are byte-identical and the protection fields,
// which are keyed by it, stay valid.
constexpr const char* kProjectClsid = "{5B0E3C71-2A94-4D8F-9E16-73C4A8D2F05B}";

constexpr const char* kThisWorkbook =
    "Attribute VB_Name = \"ThisWorkbook\"\r\n"
    "Attribute VB_Base = \"0{00020819-0000-0000-C000-000000000046}\"\r\n"
    "Attribute VB_GlobalNameSpace = False\r\n"
    "Attribute VB_Creatable = False\r\n"
    "Attribute VB_PredeclaredId = True\r\n"
    "Attribute VB_Exposed = True\r\n"
    "Attribute VB_TemplateDerived = False\r\n"
    "Attribute VB_Customizable = True\r\n";

Module read_module(const std::string& path) {
    std::string text = igxl::ovba::normalise_source(igxl::util::read_file(path));
    for (unsigned char c : text)
        if (c >= 0x80)
            throw igxl::Error(path + ": module sources must be ASCII (the project code page is "
                                     "1252 and we store no other text)");
    static const igxl::util::Regex name_re(R"re(^Attribute VB_Name = "([A-Za-z][A-Za-z0-9_]*)")re",
                                           igxl::util::Regex::MULTILINE);
    igxl::util::Match m;
    if (!name_re.search(text, m)) throw igxl::Error(path + ": line 1 must be 'Attribute VB_Name = \"<module name>\"'");
    return Module{std::string(m.group(1)), text, ModuleKind::Procedural};
}

void write_stream(GsfOutfile* parent, const char* name, const std::string& data) {
    GsfOutput* s = gsf_outfile_new_child(parent, name, FALSE);
    if (!s) throw igxl::Error(std::string("cannot create stream ") + name);
    bool ok = gsf_output_write(s, data.size(), reinterpret_cast<const guint8*>(data.data()));
    ok = gsf_output_close(s) && ok;
    g_object_unref(s);
    if (!ok) throw igxl::Error(std::string("cannot write stream ") + name);
}

void write_project(const igxl::ovba::Project& p, const std::string& path) {
    GError* err = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &err);
    if (!sink) {
        std::string why = err ? err->message : "unknown reason";
        if (err) g_error_free(err);
        throw igxl::Error("cannot create " + path + ": " + why);
    }
    GsfOutfile* root = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    try {
        write_stream(root, "PROJECT", igxl::ovba::project_stream(p));
        write_stream(root, "PROJECTwm", igxl::ovba::project_wm_stream(p));
        GsfOutfile* vba = GSF_OUTFILE(gsf_outfile_new_child(root, "VBA", TRUE));
        write_stream(vba, "_VBA_PROJECT", igxl::ovba::vba_project_stream());
        write_stream(vba, "dir", igxl::ovba::compress(igxl::ovba::dir_stream(p)));
        for (const Module& m : p.modules)
            write_stream(vba, m.name.c_str(), igxl::ovba::compress(m.source));
        bool ok = gsf_output_close(GSF_OUTPUT(vba));
        g_object_unref(vba);
        ok = gsf_output_close(GSF_OUTPUT(root)) && ok;
        g_object_unref(root);
        if (!ok) throw igxl::Error("cannot finish " + path);
    } catch (...) {
        std::remove(path.c_str());
        throw;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Builds vbaProject.bin for the check report from VBA module sources."};
    std::string output;
    std::vector<std::string> sources;
    app.add_option("-o,--output", output, "file to write")->required();
    std::string streams;
    app.add_option("sources", sources, ".bas module sources")->required()->check(CLI::ExistingFile);
    app.add_option("--streams", streams,
                   "also write the compressed streams (dir, and each module's source) into this folder, one file "
                   "each (seed inputs of the decompression fuzz target)");
    CLI11_PARSE(app, argc, argv);
    try {
        igxl::ovba::Project p;
        p.clsid = kProjectClsid;
        p.modules.push_back(Module{"ThisWorkbook", kThisWorkbook, ModuleKind::Document});
        for (const std::string& s : sources) p.modules.push_back(read_module(s));
        std::filesystem::path out(output);
        if (out.has_parent_path()) std::filesystem::create_directories(out.parent_path());
        // Write beside the target and rename, so an interrupted build leaves no torn file.
        const std::string tmp = output + ".tmp";
        write_project(p, tmp);
        std::filesystem::rename(tmp, out);
        if (!streams.empty()) {
            std::filesystem::create_directories(streams);
            auto put = [&](const std::string& name, const std::string& data) {
                igxl::util::write_file_atomic((std::filesystem::path(streams) / name).string(), data);
            };
            put("dir.stream", igxl::ovba::compress(igxl::ovba::dir_stream(p)));
            for (const Module& m : p.modules) put(m.name + ".stream", igxl::ovba::compress(m.source));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vba_project_builder: %s\n", e.what());
        return 1;
    }
    return 0;
}
