// orvane: the VBT coding-standards check on its own. Parses a directory of modules (or the
// modules inside an .xlsm workbook), then either writes the dry-run report for review or applies
// the renames confirmed in a reviewed report (a workbook's renamed modules go to a new folder
// beside it, for re-import; the workbook is never written).
// Exit status: 0 ran and wrote its reports; 1 the run failed or part of the requested work could
// not be done; 2 bad input (arguments, missing folder or report); 130 stopped by SIGINT/SIGTERM.
#include <CLI/CLI.hpp>

#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
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
#include "vbt/workbook_modules.h"

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

// A new folder beside the workbook for its renamed modules: "<stem>_refactored_<time>", never
// one that exists (a reviewer may be working on the modules of an earlier run).
std::string new_modules_folder(const std::string& workbook, const std::string& out_dir) {
    const fs::path wb = igxl::util::path_from_utf8(workbook);
    const fs::path parent = out_dir.empty() ? (wb.has_parent_path() ? wb.parent_path() : fs::path(".")) : igxl::util::path_from_utf8(out_dir);
    char stamp[32];
    const std::tm t = igxl::util::local_time(std::time(nullptr));
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H%M%S", &t);
    const std::string base = igxl::util::path_to_utf8(parent / wb.stem()) + "_refactored_" + stamp;
    std::string path = base;
    for (int n = 2; igxl::util::path_exists(path); ++n) path = base + "_" + std::to_string(n);
    return path;
}

// The refactor journal: a section "# <time> 重构开始" per run that rewrites modules, a line
// "time<TAB>module<TAB>backup" before each module takes its new bytes, and "# <time> 重构报告:
// <report>" once the run's report is written. A last section without its report line is a run
// that was killed: the modules it names were rewritten, or about to be.
constexpr std::string_view kJournalStart = " 重构开始";
constexpr std::string_view kJournalReport = " 重构报告: ";

struct UnfinishedRefactor {
    bool found = false;
    std::string started;
    std::vector<std::pair<std::string, std::string>> modules;  // module, its backup
};

UnfinishedRefactor unfinished_refactor(const std::string& journal) {
    UnfinishedRefactor run;
    std::string text;
    try {
        if (!igxl::util::file_exists(journal)) return run;
        text = igxl::util::read_file(journal);
    } catch (const std::exception&) {
        return run;  // a journal that cannot be read tells nothing; the run writes its own lines
    }
    for (std::string_view line : igxl::util::split(text, '\n')) {
        if (line.starts_with("# ")) {
            if (line.ends_with(kJournalStart)) {
                run = UnfinishedRefactor{true, std::string(line.substr(2, line.size() - 2 - kJournalStart.size())), {}};
            } else if (line.find(kJournalReport) != std::string_view::npos) {
                run = UnfinishedRefactor{};
            }
            continue;
        }
        const auto fields = igxl::util::split(line, '\t');
        if (run.found && fields.size() == 3) run.modules.emplace_back(fields[1], fields[2]);
    }
    return run;
}

std::string journal_time() {
    char stamp[32];
    const std::tm t = igxl::util::local_time(std::time(nullptr));
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &t);
    return stamp;
}

std::string sum_line(const VBTRefactorer::Totals& t) {
    return "结果: 已应用 " + std::to_string(t.applied) + "，已是新名称 " + std::to_string(t.already_applied) +
           "，已跳过 " + std::to_string(t.skipped) + "，失败 " + std::to_string(t.failed) + " (共 " +
           std::to_string(t.total()) + " 个确认的修改)";
}

}  // namespace

int main(int argc, char** argv) {
    igxl::util::prepare_console();
    CLI::App app{"orvane: VBT 命名规范检查与重构 (目录中的 .bas/.cls 模块，或 .xlsm 工作簿中的模块)"};
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
    CLI::Option* encoding_option =
        app.add_option("--encoding", encoding,
                       "既非 UTF-8 也无 UTF-16 BOM 的模块所用的代码页 (默认 cp1252; .xlsm 工作簿默认用其VBA工程的代码页; 可选: " +
                           pages + ")")
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
    // A workbook program: its modules are extracted into a temporary folder and read from there,
    // named after the workbook; the workbook itself is only read.
    const bool workbook = igxl::util::file_exists(directory) && is_macro_workbook(directory);
    std::string report_dir = out_dir.empty() ? directory : out_dir;
    if (workbook && out_dir.empty()) {
        const fs::path parent = igxl::util::path_from_utf8(directory).parent_path();
        report_dir = parent.empty() ? "." : igxl::util::path_to_utf8(parent);
    }

    say("开始处理目录: " + directory);
    say("模式: " + mode);

    diag::FunctionSink sink(render);
    options.code_page = *code_page;
    std::optional<WorkbookModules> modules;
    std::optional<igxl::util::TempDir> extracted;
    // A refactor writes the workbook's renamed modules into a new folder; the parse already names
    // them there, so that the refactor finds them where it will write them.
    const std::string modules_folder = workbook && mode == "refactor" ? new_modules_folder(directory, out_dir) : "";
    if (workbook) {
        try {
            modules.emplace(directory);
            // The project says how its text is encoded; --encoding given by the user overrides it.
            if (encoding_option->count() == 0) options.code_page = project_code_page(modules->code_page(), directory, sink);
            extracted.emplace("orvane_modules_");
            modules->write(extracted->path());
        } catch (const std::exception& e) {
            return error("错误：无法读取工作簿 '" + directory + "' 的VBA模块: " + e.what(), kBadInput);
        }
        if (modules->size() == 0)
            error("警告：工作簿 '" + directory + "' 中没有VBA模块", 0);
        else
            say("已从工作簿提取 " + std::to_string(modules->size()) + " 个模块 (代码页 " + options.code_page + ")");
        options.shown_root = modules_folder.empty() ? directory : modules_folder;
    }
    VBAParser parser(options, sink);
    parser.parse_files(workbook ? extracted->path() : directory);
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
        const std::string journal = igxl::util::join_path(report_dir, "VBT_Refactor_Journal.log");
        if (const UnfinishedRefactor last = unfinished_refactor(journal); last.found) {
            say("警告：上次重构 (开始于 " + last.started + ") 未正常结束，没有生成重构报告；重构日志 " + journal +
                " 记录了它已改写或正在改写的 " + std::to_string(last.modules.size()) + " 个模块:");
            for (const auto& [module, backup] : last.modules) say("  " + module + " (备份: " + backup + ")");
        }
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
        // The folder of a workbook's modules goes again unless a module in it was renamed.
        struct FolderGuard {
            std::string path;
            bool keep = false;
            ~FolderGuard() {
                if (!path.empty() && !keep) igxl::util::remove_tree(path);
            }
        } folder;
        if (workbook) {
            folder.path = modules_folder;
            modules->write(modules_folder);
        }
        RefactorOptions options;
        options.root = workbook ? modules_folder : directory;
        options.journal_path = journal;
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
        // The journal's last run is complete: the next run need not point at it.
        if (igxl::util::file_exists(journal)) {
            try {
                igxl::util::append_durably(journal, "# " + journal_time() + std::string(kJournalReport) + written + "\n");
            } catch (const std::exception& e) {
                error(std::string("警告：无法写入重构日志: ") + e.what(), 0);
            }
        }
        if (workbook) {
            folder.keep = totals.applied > 0;
            if (folder.keep)
                say("✓ 重构后的模块已写入: " + modules_folder + " (工作簿本身未修改；请在VBA编辑器中导入这些 .bas/.cls 文件)");
            else
                say("没有模块被改名，未写出模块文件夹");
        }
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
