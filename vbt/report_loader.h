// The report writer is a separate library (it brings the spreadsheet writer with it), loaded only
// when a report is written. Callers see it through this interface; the library exports one C
// entry point that creates it.
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "util/diagnostics.h"
#include "util/error.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"

namespace igxl::vbt {

using ProgressFn = std::function<void(int)>;

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    // Writes Orvane_Report_<time>.xlsx into output_dir; returns its path.
    virtual std::string generate_dry_run_report(const ProgressFn& update_progressbar, const VBAParser& parser,
                                                const std::string& output_dir = ".") = 0;
    // Writes VBT_Refactor_Report_<time>.xlsx into output_dir; returns its path.
    virtual std::string generate_refactor_report(const ChangeLog& changes_made,
                                                 const std::string& output_dir = ".") = 0;

    // Where the writer's messages go (none by default).
    void set_sink(diag::Sink& sink) { sink_ = &sink; }

protected:
    void say(const char* code, std::string text) const {
        diag::emit(*sink_, diag::Severity::info, code, std::move(text), diag::kConsole);
    }
    diag::Sink* sink_ = &diag::null_sink();
};

// The library or its entry point could not be loaded; the text says why.
class ReportWriterLoadError : public Error {
public:
    using Error::Error;
};

// Name of the entry point: ReportWriter* (*)() returning a new writer owned by the caller.
inline constexpr const char* REPORT_WRITER_ENTRY = "igxl_vbt_create_report_writer";
// The library by its base name; the OS spells the file ("libTessaly.so", "Tessaly.dll").
inline constexpr const char* REPORT_WRITER_LIBRARY = "Tessaly";

// Loads the report writer library (beside libOrvane.so first, then the normal library search
// path) and creates a writer. The library stays loaded for the life of the process, because
// objects and exceptions it creates may outlive any one call. Throws ReportWriterLoadError.
std::unique_ptr<ReportWriter> load_report_writer();

// Directory of the loaded libOrvane.so (empty when it cannot be told).
std::string orvane_library_directory();

}  // namespace igxl::vbt
