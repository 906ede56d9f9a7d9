// The modules of a workbook program (.xlsm) for the VBT check: read from its macro project,
// written out as the VBA editor exports them and read back in the project's own code page.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "util/diagnostics.h"

namespace igxl::vba {
struct Project;
}

namespace igxl::vbt {

// Whether the path names a macro-enabled workbook (".xlsm", any letter case).
bool is_macro_workbook(const std::string& path);

// The converter name (see util::code_page_name) for a project's code page. One the converter
// does not know is read as CP1252, with a warning on sink ("vbt.unknown-code-page").
std::string project_code_page(uint16_t code_page, const std::string& workbook, diag::Sink& sink);

// A workbook's macro project, held so its modules can be written more than once.
class WorkbookModules {
public:
    // Reads the project. Throws igxl::Error (with the workbook's name) when the workbook or its
    // project cannot be read; a workbook without macros has no modules.
    explicit WorkbookModules(std::string workbook);
    ~WorkbookModules();
    WorkbookModules(WorkbookModules&&) noexcept;

    const std::string& workbook() const { return workbook_; }
    size_t size() const;
    uint16_t code_page() const;
    // Writes every module into dir (created) as "<name>.bas"/"<name>.cls"; returns the paths.
    std::vector<std::string> write(const std::string& dir) const;

private:
    std::string workbook_;
    std::unique_ptr<vba::Project> project_;
};

}  // namespace igxl::vbt
