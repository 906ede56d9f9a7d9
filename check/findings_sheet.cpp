// The "Findings" sheet: first in the check report, what was checked and what is wrong, ranked.
#include <ctime>

#include "check/findings.h"
#include "check/vantor.h"
#include "check/xlsx_out.h"
#include "export/xlsx_writer.h"
#include "util/error.h"
#include "util/platform.h"

namespace igxl {

namespace {

constexpr std::uint32_t kLastColumn = 6;  // Severity, Rule, Job, Sheet, Line, Test, Message

std::string joined(const std::vector<std::string>& parts, const char* sep) {
    std::string out;
    for (const auto& p : parts) out += (out.empty() ? "" : sep) + p;
    return out;
}

}  // namespace

void Vantor::write_findings(bool run_failed) {
    const Baseline baseline = options_.baseline.empty() ? Baseline{} : Baseline::load(util::path_to_utf8(options_.baseline));
    findings_ = findings_collector_.finish(device_directory, baseline);
    if (!findings_sheet_) return;
    xw::Worksheet& ws = *findings_sheet_;
    findings_sheet_ = nullptr;  // filled once, even when writing it fails
    write_findings_sheet(ws, run_failed);
    ws.finish();
}

// Written in row order straight into the sheet: nothing of a large program's findings is held
// again on the way.
void Vantor::write_findings_sheet(xw::Worksheet& ws, bool run_failed) {
    const xw::Format* error_fill = &workbook_->add_format()->set_fill(0xFFC7CE);
    const xw::Format* warning_fill = &workbook_->add_format()->set_fill(0xFFEB9C);
    const xw::Format* info_fill = &workbook_->add_format()->set_fill(0xDDEBF7);
    auto fill_of = [&](diag::Severity s) {
        return s == diag::Severity::error ? error_fill : s == diag::Severity::warning ? warning_fill : info_fill;
    };

    std::uint32_t r = 0;
    auto pair = [&](const std::string& label, const std::string& value, const xw::Format* f = nullptr) {
        ws.write_string(r, 0, label, f);
        ws.write_string(r, 1, value);
        ++r;
    };
    auto count = [&](const std::string& label, std::size_t n, const xw::Format* f = nullptr) {
        ws.write_string(r, 0, label, f);
        ws.write_number(r, 1, static_cast<double>(n));
        ++r;
    };

    ws.write_string(r++, 0, "Run settings", format_bold);
    pair("Program", util::path_to_utf8(options_.program));
    pair("Platform", std::string(platform_name(options_.platform)));
    pair("Jobs", joined(run_jobs_, ", "));
    std::vector<std::string> opts;
    for (const auto& [k, v] : option_settings(options_)) opts.push_back(k + ": " + v);
    pair("Options", joined(opts, "; "));
    pair("Tool version", "vantor " + version());
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &report_time_);
    pair("Date", date);
    pair("Status", run_failed ? "ended early by a failure (see the log); findings up to there"
                              : "complete");
    ++r;

    ws.write_string(r++, 0, "Counts", format_bold);
    const FindingCounts c = findings_.counts();
    count("error", c.error, error_fill);
    count("warning", c.warning, warning_fill);
    count("info", c.info, info_fill);
    count("suppressed by baseline", findings_.suppressed);
    for (const auto& [rule, n] : findings_.rule_counts()) count(rule, n);
    ++r;

    // The fills the other sheets use, so a reader need not guess them.
    ws.write_string(r++, 0, "Fills on the other sheets", format_bold);
    pair("", "job sheet row: a nop entry (the test does not run)", format_red);
    pair("", "job sheet Result cell: blank or None (the flow sets no result)", format_yellow);
    pair("", "job sheet power level: 0 (a supply left at zero)", format_orange);
    pair("", "SortBinDescrp: a sort bin given to more than one entry", format_red);
    pair("", "InstParametersCheck: a blank argument", format_red);
    ++r;

    const std::uint32_t header = r;
    static const char* heads[] = {"Severity", "Rule", "Job", "Sheet", "Line", "Test", "Message"};
    for (std::uint32_t col = 0; col <= kLastColumn; ++col) ws.write_string(header, col, heads[col], format_bold);
    ++r;
    // Findings come in runs of the same sheet file: its name is worked out once per run.
    const std::string* sheet_file = nullptr;
    std::string sheet_name;
    for (const auto& f : findings_.findings) {
        if (!sheet_file || *sheet_file != f.file) {
            sheet_name = f.sheet();
            sheet_file = &f.file;
        }
        ws.write_string(r, 0, severity_name(f.severity), fill_of(f.severity));
        ws.write_string(r, 1, f.rule);
        ws.write_string(r, 2, f.job);
        ws.write_string(r, 3, sheet_name);
        if (f.line) ws.write_number(r, 4, f.line);
        ws.write_string(r, 5, f.test);
        ws.write_string(r, 6, f.message);
        ++r;
    }

    static const double widths[] = {22, 30, 14, 24, 8, 30, 100};
    for (std::uint32_t col = 0; col <= kLastColumn; ++col) ws.set_column(col, col, widths[col]);
    ws.autofilter({header, 0, r > header + 1 ? r - 1 : header, kLastColumn});
    ws.freeze_panes(header + 1, 0);
}

}  // namespace igxl
