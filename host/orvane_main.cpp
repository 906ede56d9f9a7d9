// orvane: the VBT coding-standards check on its own. Parses a directory of modules, then either
// writes the dry-run report for review or applies the renames confirmed in a reviewed report.
// Exit status: 0 ran and wrote its reports; 1 the run failed or part of the requested work could
// not be done; 2 bad input (arguments, missing folder or report); 130 stopped by SIGINT/SIGTERM.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "util/codepage.h"
#include "util/diagnostics.h"
#include "util/platform.h"
#include "util/lines.h"
#include "util/text.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"
#include "vbt/report_loader.h"

using namespace igxl::vbt;
namespace diag = igxl::diag;
namespace fs = std::filesystem;

namespace {

const char* const PROGRAM = "orvane";
constexpr int kFailed = 1;
constexpr int kBadInput = 2;

const char* const kUsageLines[] = {
    "模式:",
    "  dry-run  - 仅检查并生成报告 (默认)",
    "  refactor - 使用已有报告进行重构，不生成新报告",
    "报告路径:",
    "  在refactor模式下，指定dry-run模式生成的Excel报告路径",
};

void print_usage(std::ostream& out) {
    out << "用法: " << PROGRAM << " <目录路径> [模式] [报告路径]" << std::endl;
    for (const char* line : kUsageLines) out << line << std::endl;
}

// Errors go to standard error, everything else to standard output, each text as it is.
void render(const diag::Event& e) {
    if (!(e.channels & diag::kConsole)) return;
    std::ostream& out = e.severity == diag::Severity::error ? std::cerr : std::cout;
    out << e.text << std::endl;
}

void say(const std::string& text) { std::cout << text << std::endl; }
int error(const std::string& text, int status) {
    std::cout << std::flush;
    std::cerr << text << std::endl;
    return status;
}

std::string sum_line(const VBTRefactorer::Totals& t) {
    return "结果: 已应用 " + std::to_string(t.applied) + "，已是新名称 " + std::to_string(t.already_applied) +
           "，已跳过 " + std::to_string(t.skipped) + "，失败 " + std::to_string(t.failed) + " (共 " +
           std::to_string(t.total()) + " 个确认的修改)";
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"orvane: VBT 命名规范检查与重构"};
    app.set_version_flag("--version", std::string(PROGRAM) + " " + ORVANE_VERSION);
    app.allow_extras();  // arguments after the report path are ignored
    std::vector<std::string> positional;
    std::string out_dir, encoding = "cp1252";
    bool yes = false;
    ParseOptions options;
    app.add_option("ARGS", positional, "<目录路径> [模式] [报告路径]; 模式: dry-run (默认) 或 refactor");
    app.add_flag("-y,--yes", yes, "refactor 模式下不询问，直接应用确认的修改");
    app.add_option("--exclude", options.exclude,
                   "不检查也不重构的模块 (可重复; 通配符 * ? [...]，不分大小写; 含 / 的模式匹配相对路径，否则匹配文件名)");
    app.add_option("--out", out_dir, "报告写入的文件夹 (默认: 所检查的目录)");
    std::string pages;
    for (const std::string& p : igxl::util::accepted_code_pages()) pages += (pages.empty() ? "" : ", ") + p;
    app.add_option("--encoding", encoding,
                   "既非 UTF-8 也无 UTF-16 BOM 的模块所用的代码页 (默认 cp1252; 可选: " + pages + ")")
        ->capture_default_str();
    app.footer("用法: " + std::string(PROGRAM) + " <目录路径> [模式] [报告路径]\n" + [] {
        std::string s;
        for (const char* line : kUsageLines) s += std::string(line) + "\n";
        return s;
    }());
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kBadInput;
    }

    if (positional.empty()) {
        print_usage(std::cerr);
        return kBadInput;
    }
    const std::string directory = positional[0];
    const std::string mode = positional.size() >= 2 ? positional[1] : "dry-run";
    const bool have_report = positional.size() >= 3;
    std::string report_path = have_report ? positional[2] : "";

    const auto code_page = igxl::util::code_page_name(encoding);
    if (!code_page) return error("错误：不支持的代码页 '" + encoding + "' (可选: " + pages + ")", kBadInput);
    if (!igxl::util::path_exists(directory)) return error("错误：目录 '" + directory + "' 不存在", kBadInput);
    if (!out_dir.empty() && !igxl::util::is_directory(out_dir))
        return error("错误：输出目录 '" + out_dir + "' 不存在", kBadInput);
    const std::string report_dir = out_dir.empty() ? directory : out_dir;

    say("开始处理目录: " + directory);
    say("模式: " + mode);

    diag::FunctionSink sink(render);
    options.code_page = *code_page;
    VBAParser parser(options, sink);
    parser.parse_files(directory);
    say("解析完成！");
    say("发现 " + std::to_string(parser.global_variables.size()) + " 个全局变量");
    say("发现 " + std::to_string(parser.functions.size()) + " 个函数");
    say("发现 " + std::to_string(parser.types.size()) + " 个Type定义");
    say("发现 " + std::to_string(parser.enums.size()) + " 个Enum定义");

    // Usage errors of the later arguments are reported after the parse, as the counts show what
    // was found either way.
    if (mode == "refactor") {
        if (!have_report) {
            std::cout << std::flush;
            std::cerr << "错误：refactor模式需要指定报告路径" << std::endl;
            std::cerr << "用法: " << PROGRAM << " <目录路径> refactor <报告路径>" << std::endl;
            return kBadInput;
        }
        if (!igxl::util::file_exists(report_path))
            return error("错误：指定的报告文件 '" + report_path + "' 不存在", kBadInput);
    } else if (mode != "dry-run") {
        std::cout << std::flush;
        std::cerr << "错误：无效的模式 '" << mode << "'" << std::endl;
        std::cerr << "支持的模式:" << std::endl;
        std::cerr << "  dry-run  - 仅检查并生成报告 (默认)" << std::endl;
        std::cerr << "  refactor - 使用已有报告进行重构" << std::endl;
        std::cerr << "用法: " << PROGRAM << " <目录路径> [模式] [报告路径]" << std::endl;
        return kBadInput;
    }

    try {
        std::unique_ptr<ReportWriter> writer = load_report_writer();
        writer->set_sink(sink);
        if (mode == "dry-run") {
            std::string written = writer->generate_dry_run_report([](int) {}, parser, report_dir);
            if (!have_report) report_path = written;
            say("\n✓ Dry-run报告已生成: " + report_path);
            say("\n请查看报告并确认修改，然后使用refactor模式应用修改");
            return 0;
        }
        say("使用已有报告: " + report_path);
        igxl::util::watch_stop_signals();
        if (!yes) {
            std::cout << std::endl << "是否继续自动重构？(y/N): " << std::flush;
            std::string answer;
            std::getline(std::cin, answer);
            if (igxl::util::stop_requested()) return igxl::util::kStoppedStatus;
            if (igxl::util::to_lower(igxl::util::strip(answer)) != "y") {
                say("重构已取消");
                return 0;
            }
        }
        RefactorOptions options;
        options.root = directory;
        options.journal_path = (fs::path(report_dir) / "VBT_Refactor_Journal.log").string();
        options.stop_requested = [] { return igxl::util::stop_requested(); };
        VBTRefactorer refactorer(parser, sink, options);
        if (!refactorer.apply_changes_from_excel(report_path)) return error("重构应用失败", kFailed);
        const VBTRefactorer::Totals totals = refactorer.totals();
        say(sum_line(totals));
        if (totals.complete())
            say("重构应用成功！");
        else
            error("重构未全部应用: " + std::to_string(totals.skipped + totals.failed) + " 个修改未应用，原因见重构报告",
                  kFailed);
        // The report records what was done, also when the run was stopped or partly failed.
        std::string written = writer->generate_refactor_report(refactorer.changes_made, report_dir);
        say("✓ 重构报告已生成: " + written);
        if (refactorer.interrupted() || igxl::util::stop_requested()) return igxl::util::kStoppedStatus;
        return totals.complete() ? 0 : kFailed;
    } catch (const ReportWriterLoadError& e) {
        std::cout << std::flush;
        std::cerr << "无法导入Excel报告生成器: " << e.what() << std::endl;
        std::cerr << "请安装Excel依赖: 确认 libTessaly.so 与 libOrvane.so 在同一目录或在库搜索路径中"
                  << std::endl;
        return kFailed;
    } catch (const std::exception& e) {
        return error(std::string("生成报告时出错: ") + e.what(), kFailed);
    }
}
