#include "check/progress.h"
#include "check/vantor.h"
#include "export/vba_project.h"
#include "util/platform.h"
#include "vbt/parser.h"
#include "vbt/report_loader.h"
#include "vbt/workbook_modules.h"

namespace igxl {

// The VBT coding-standards check of the program's own modules. The report writer is loaded here,
// only when the step runs, so a check without it never needs the library.
void Vantor::run_vbt_step(const std::string& work_dir, std::vector<std::string>& result) {
    update_progressbar(progress::kStart);
    // A workbook program keeps its modules inside; they are written out beside its sheets. (Not
    // at export time: a module's file name must not be taken for the job list.)
    vbt::ParseOptions parse_options;
    const std::string program = util::path_to_utf8(options_.program);
    if (vbt::is_macro_workbook(program)) {
        uint16_t code_page = 0;
        vba::export_modules(program, device_directory, options_.export_options, *sink_, &code_page);
        // The modules are read in the project's own code page and named after the workbook.
        if (code_page) parse_options.code_page = vbt::project_code_page(code_page, program, *sink_);
        parse_options.shown_root = program;
    }
    report(diag::Severity::info, "vbt.modules-folder",
           "开始处理目录中的BAS文件: " + device_directory);
    vbt::VBAParser parser(parse_options, *sink_);
    parser.parse_files(device_directory);
    report(diag::Severity::info, "vbt.parsed",
           "解析完成！");
    report(diag::Severity::info, "vbt.global-count",
           "发现 " + std::to_string(parser.global_variables.size()) + " 个全局变量");
    report(diag::Severity::info, "vbt.function-count",
           "发现 " + std::to_string(parser.functions.size()) + " 个函数");
    report(diag::Severity::info, "vbt.type-count",
           "发现 " + std::to_string(parser.types.size()) + " 个Type定义");
    report(diag::Severity::info, "vbt.enum-count",
           "发现 " + std::to_string(parser.enums.size()) + " 个Enum定义");
    std::unique_ptr<vbt::ReportWriter> writer = vbt::load_report_writer();
    writer->set_sink(*sink_);
    std::string path = writer->generate_dry_run_report([this](int value) { update_progressbar(value); }, parser,
                                                       work_dir);
    result.push_back(path);
    update_progressbar(progress::kDone);
    report(diag::Severity::info, "vbt.report-written",
           "\n✓ 检查报告已生成: " + path);
    report(diag::Severity::info, "vbt.end",
           "===============================END===============================");
}

}  // namespace igxl
