// The VBT report writer: the dry-run report a reviewer reads and marks, and the refactor report of
// what the refactorer changed. Stateless; each call writes one workbook and returns its path.
#pragma once
#include <string>
#include <vector>

#include "vbt/model.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"
#include "vbt/report_loader.h"

namespace igxl::xlsx::writer {
class Workbook;
}  // namespace igxl::xlsx::writer

namespace igxl::vbt {

class Tessaly : public ReportWriter {
public:
    Tessaly() = default;

    std::string generate_dry_run_report(const ProgressFn& update_progressbar, const VBAParser& parser,
                                        const std::string& output_dir = ".") override;
    std::string generate_refactor_report(const ChangeLog& changes_made, const std::string& output_dir = ".") override;

    // Columns the reviewer fills in on the variable, Type, Enum and parameter sheets, read back by
    // the refactorer.
    static constexpr const char* CORRECT_NAME_HEADER = "正确命名";
    static constexpr const char* APPLY_HEADER = "应用";
    static constexpr const char* FUNCTION_HEADER = "函数名";
    // Summary row counting the modules left out of the check.
    static constexpr const char* EXCLUDED_MODULES_ITEM = "已排除模块";

private:
    friend struct TessalyTestAccess;
    // Removes the temporary report files killed runs left in output_dir, saying so.
    void remove_abandoned_reports(const std::string& output_dir) const;
    void write_variable_issues_sheet(xlsx::writer::Workbook& writer, const std::vector<const VariableInfo*>& variables,
                                     const std::string& sheet_name, const VBAParser& parser);
    void write_type_issues_sheet(xlsx::writer::Workbook& writer, const std::vector<const TypeInfo*>& types,
                                 const std::string& sheet_name);
    void write_function_issues_sheet(xlsx::writer::Workbook& writer, const OrderedMap<FunctionInfo>& functions,
                                     const std::string& sheet_name);
    void write_summary_sheet(xlsx::writer::Workbook& writer, const VariableIssues& all_issues, const VBAParser& parser);
    void write_manual_check_sheet(xlsx::writer::Workbook& writer, const VBAParser& parser, const std::string& sheet_name);
    void write_refactor_changes_sheet(xlsx::writer::Workbook& writer, const ChangeLog& changes_made,
                                      const std::string& sheet_name);
    void write_refactor_summary_sheet(xlsx::writer::Workbook& writer, const ChangeLog& changes_made,
                                      const std::string& sheet_name);
};

}  // namespace igxl::vbt

// Entry point for run-time loading: a new writer, owned by the caller.
extern "C" igxl::vbt::ReportWriter* igxl_vbt_create_report_writer();
