// The VBA modules of a workbook program: xl/vbaProject.bin read (a compound file, through
// libgsf), the project's dir stream and each module's source decompressed, and every module
// written as the VBA editor exports it.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "export/options.h"
#include "util/diagnostics.h"

namespace igxl::vba {

// Bounds for one project: real test programs carry well under a megabyte of source.
inline constexpr size_t kMaxProjectBytes = size_t(64) << 20;  // vbaProject.bin itself
inline constexpr size_t kMaxStreamBytes = size_t(32) << 20;   // one decompressed stream
inline constexpr size_t kMaxModules = 10000;

struct Module {
    enum Kind : uint8_t { Standard, Class };  // Class: class, document and form modules
    std::string name;    // as UTF-8
    Kind kind = Standard;
    // The source as the editor exports it: bytes in the project's code page, CR LF line
    // ends, "Attribute VB_Name" first.
    std::string text;
    // "<name>.bas" or "<name>.cls".
    std::string file_name() const;
};

struct Project {
    uint16_t code_page = 1252;  // PROJECTCODEPAGE: how the module bytes are to be read
    std::vector<Module> modules;
};

// The MS-OVBA decompression of a compressed container. Throws igxl::Error naming what and the
// byte where the data breaks the format (bad signature or chunk header, a chunk or copy token
// reaching past the data, output past max_out).
std::string decompress(std::string_view data, const std::string& what, size_t max_out = kMaxStreamBytes);

// Reads a vbaProject.bin held in memory; what names it in messages. Throws igxl::Error for a
// damaged or hostile file.
Project read_project(std::string_view bin, const std::string& what);

// The project of a workbook; an empty project when the workbook has none. Throws as above.
Project read_workbook_project(const std::string& workbook_path, const ExportOptions& options = {});

// Writes every module into dir (created) as "<name>.bas"/"<name>.cls"; returns the paths
// written. Each file appears complete or not at all.
std::vector<std::string> write_modules(const Project& project, const std::string& dir);

// The step of an export: the modules of the workbook written into dir. A project that cannot be
// read is one warning on sink ("export.vba-unreadable", shown on the error stream) and no files;
// limits still throw. code_page, when given, receives the project's code page (left alone when
// there is no readable project).
std::vector<std::string> export_modules(const std::string& workbook_path, const std::string& dir,
                                        const ExportOptions& options, diag::Sink& sink,
                                        uint16_t* code_page = nullptr);

}  // namespace igxl::vba
