// Workbook export: unpacking packed test programs, writing every worksheet of a workbook as a
// tab-separated sheet text file, and rewriting IG-XL unit suffixes into plain factors.
#pragma once
#include <string>
#include <string_view>

#include "export/options.h"
#include "util/diagnostics.h"

namespace igxl {

// Unpacks the ZIP container file_name into the folder path (created with its parents), dropping
// every folder level of the members. A file that is not a ZIP archive only reports
// "Need Zip Format, Please Check!!!" (code "export.not-a-zip") to sink. Members whose base name is
// empty, "." or ".." are skipped; nothing is ever written outside path. An archive past a limit
// of options, or with two members of the same base name, is refused (BadInputError) before
// anything is written; a failure while unpacking removes what this call wrote. Returns false
// for a file that is not a ZIP archive (nothing written), true once the archive is unpacked.
bool unzip(const std::string& file_name, const std::string& path, diag::Sink& sink = diag::null_sink(),
           const ExportOptions& options = {});

// Rewrites the unit suffixes "*MV", "*NS", "*MHZ", ... into factors and drops every "=".
std::string format_str(std::string_view target_str);

// Writes every worksheet of the workbook as '<sheet name>.txt' into output_dir (created with its
// parents): one line per row, one tab-separated field per column, equal field counts per file.
// A failure removes the files this call wrote.
void export_sheets_to_txt(const std::string& xlsm_file_path, const std::string& output_dir,
                          const ExportOptions& options = {});

}  // namespace igxl
