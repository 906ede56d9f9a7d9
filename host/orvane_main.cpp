// orvane: the VBT coding-standards check on its own. Parses a directory of modules, then either
// writes the dry-run report for review or applies the renames confirmed in a reviewed report.
#include <iostream>
#include <string>
#include <vector>

#include "util/lines.h"
#include "util/text.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"
#include "vbt/report_loader.h"

using namespace igxl::vbt;

namespace {

const char* const PROGRAM = "orvane";

void print_usage() {
    std::cout << "用法: " << PROGRAM << " <目录路径> [模式] [报告路径]" << std::endl;
    std::cout << "模式:" << std::endl;
    std::cout << "  dry-run  - 仅检查并生成报告 (默认)" << std::endl;
    std::cout << "  refactor - 使用已有报告进行重构，不生成新报告" << std::endl;
    std::cout << "报告路径:" << std::endl;
    std::cout << "  在refactor模式下，指定dry-run模式生成的Excel报告路径" << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    // --exclude GLOB (repeatable) may stand anywhere; the rest are the positional arguments.
    ParseOptions options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--exclude" && i + 1 < argc)
            options.exclude.emplace_back(argv[++i]);
        else if (arg.rfind("--exclude=", 0) == 0)
            options.exclude.push_back(arg.substr(10));
        else
            args.push_back(arg);
    }
    if (args.empty()) {
        print_usage();
        return 1;
    }
    const std::string directory = args[0];
    const std::string mode = args.size() >= 2 ? args[1] : "dry-run";
    const bool have_report = args.size() >= 3;
    std::string report_path = have_report ? args[2] : "";

    if (!igxl::util::path_exists(directory)) {
        std::cout << "错误：目录 '" << directory << "' 不存在" << std::endl;
        return 1;
    }
    std::cout << "开始处理目录: " << directory << std::endl;
    std::cout << "模式: " << mode << std::endl;

    VBAParser parser(options);
    parser.parse_files(directory);
    std::cout << "解析完成！" << std::endl;
    std::cout << "发现 " << parser.global_variables.size() << " 个全局变量" << std::endl;
    std::cout << "发现 " << parser.functions.size() << " 个函数" << std::endl;
    std::cout << "发现 " << parser.types.size() << " 个Type定义" << std::endl;
    std::cout << "发现 " << parser.enums.size() << " 个Enum定义" << std::endl;

    // Usage errors of the later arguments end the program with status 1 and are not caught below.
    if (mode == "refactor") {
        if (!have_report) {
            std::cout << "错误：refactor模式需要指定报告路径" << std::endl;
            std::cout << "用法: " << PROGRAM << " <目录路径> refactor <报告路径>" << std::endl;
            return 1;
        }
        if (!igxl::util::path_exists(report_path)) {
            std::cout << "错误：指定的报告文件 '" << report_path << "' 不存在" << std::endl;
            return 1;
        }
    } else if (mode != "dry-run") {
        std::cout << "错误：无效的模式 '" << mode << "'" << std::endl;
        std::cout << "支持的模式:" << std::endl;
        std::cout << "  dry-run  - 仅检查并生成报告 (默认)" << std::endl;
        std::cout << "  refactor - 使用已有报告进行重构" << std::endl;
        std::cout << "用法: " << PROGRAM << " <目录路径> [模式] [报告路径]" << std::endl;
        return 1;
    }

    try {
        std::unique_ptr<ReportWriter> writer = load_report_writer();
        if (mode == "dry-run") {
            std::string written = writer->generate_dry_run_report([](int) {}, parser, directory);
            if (!have_report) report_path = written;
            std::cout << std::endl << "✓ Dry-run报告已生成: " << report_path << std::endl;
            std::cout << std::endl << "请查看报告并确认修改，然后使用refactor模式应用修改" << std::endl;
        } else {
            std::cout << "使用已有报告: " << report_path << std::endl;
            std::cout << std::endl << "是否继续自动重构？(y/N): " << std::flush;
            std::string answer;
            std::getline(std::cin, answer);
            if (igxl::util::to_lower(igxl::util::strip(answer)) != "y") {
                std::cout << "重构已取消" << std::endl;
                return 0;
            }
            VBTRefactorer refactorer(parser);
            if (refactorer.apply_changes_from_excel(report_path)) {
                std::cout << "重构应用成功！" << std::endl;
                std::string written = writer->generate_refactor_report(refactorer.changes_made, directory);
                std::cout << "✓ 重构报告已生成: " << written << std::endl;
            } else {
                std::cout << "重构应用失败" << std::endl;
            }
        }
    } catch (const ReportWriterLoadError& e) {
        std::cout << "无法导入Excel报告生成器: " << e.what() << std::endl;
        std::cout << "请安装Excel依赖: libxlsxwriter (Debian: apt-get install libxlsxwriter4)，并确认 libTessaly.so "
                     "与 libOrvane.so 在同一目录或在库搜索路径中"
                  << std::endl;
    } catch (const std::exception& e) {
        std::cout << "生成报告时出错: " << e.what() << std::endl;
    }
    return 0;
}
