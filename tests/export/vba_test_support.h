// Macro projects made for the tests: the streams from our own format library, the compound
// file from libgsf's writer, and a workbook around it from our workbook writer.
#pragma once
#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-stdio.h>
#include "export/xlsx_writer.h"

#include <string>

#include "helpers.h"
#include "tools/vba_project/ovba.h"

namespace igxl::testing {

inline void put_stream(GsfOutfile* parent, const std::string& name, const std::string& data) {
    GsfOutput* s = gsf_outfile_new_child(parent, name.c_str(), FALSE);
    ASSERT_TRUE(s);
    EXPECT_TRUE(gsf_output_write(s, data.size(), reinterpret_cast<const guint8*>(data.data())));
    EXPECT_TRUE(gsf_output_close(s));
    g_object_unref(s);
}

// Writes the project as a vbaProject.bin; dir, when given, replaces the compressed dir stream.
inline void write_project_bin(const ovba::Project& p, const std::string& path, const std::string* dir = nullptr) {
    GError* err = nullptr;
    GsfOutput* sink = gsf_output_stdio_new(path.c_str(), &err);
    ASSERT_TRUE(sink) << (err ? err->message : "");
    GsfOutfile* root = gsf_outfile_msole_new(sink);
    g_object_unref(sink);
    put_stream(root, "PROJECT", ovba::project_stream(p));
    put_stream(root, "PROJECTwm", ovba::project_wm_stream(p));
    GsfOutfile* vba = GSF_OUTFILE(gsf_outfile_new_child(root, "VBA", TRUE));
    put_stream(vba, "_VBA_PROJECT", ovba::vba_project_stream());
    put_stream(vba, "dir", dir ? *dir : ovba::compress(ovba::dir_stream(p)));
    for (const ovba::Module& m : p.modules) put_stream(vba, m.name, ovba::compress(m.source));
    EXPECT_TRUE(gsf_output_close(GSF_OUTPUT(vba)));
    g_object_unref(vba);
    EXPECT_TRUE(gsf_output_close(GSF_OUTPUT(root)));
    g_object_unref(root);
}

// A workbook with one sheet and the given macro project.
inline void write_xlsm(const std::string& path, const std::string& project_bin) {
    xlsx::writer::Workbook wb(path);
    wb.add_worksheet("Job List").write_string(0, 0, "Job");
    wb.add_vba_project(project_bin);
    wb.close();
}

}  // namespace igxl::testing
