#include "vbt/workbook_modules.h"

#include "export/vba_project.h"
#include "util/codepage.h"
#include "util/text.h"

namespace igxl::vbt {

bool is_macro_workbook(const std::string& path) {
    return path.size() >= 5 && util::to_lower(path.substr(path.size() - 5)) == ".xlsm";
}

std::string project_code_page(uint16_t code_page, const std::string& workbook, diag::Sink& sink) {
    if (auto name = util::windows_code_page(code_page)) return *name;
    diag::Location where;
    where.program = workbook;
    diag::emit(sink, diag::Severity::warning, "vbt.unknown-code-page",
               "警告: 工作簿 " + workbook + " 的VBA工程使用代码页 " + std::to_string(code_page) +
                   "，无法转换；模块按 CP1252 读取 (可用 --encoding 指定)",
               diag::kConsole | diag::kErrorStream, where);
    return "CP1252";
}

WorkbookModules::WorkbookModules(std::string workbook)
    : workbook_(std::move(workbook)),
      project_(std::make_unique<vba::Project>(vba::read_workbook_project(workbook_))) {}
WorkbookModules::~WorkbookModules() = default;
WorkbookModules::WorkbookModules(WorkbookModules&&) noexcept = default;

size_t WorkbookModules::size() const { return project_->modules.size(); }
uint16_t WorkbookModules::code_page() const { return project_->code_page; }

std::vector<std::string> WorkbookModules::write(const std::string& dir) const {
    return vba::write_modules(*project_, dir);
}

}  // namespace igxl::vbt
