#include "diff/program_diff.h"

#include <algorithm>

#include "diff/compare.h"
#include "diff/revision.h"
#include "export/common.h"
#include "util/error.h"
#include "util/lines.h"

namespace igxl::diff {

std::string_view to_text(ChangeType change) {
    switch (change) {
        case ChangeType::added: return "added";
        case ChangeType::removed: return "removed";
        case ChangeType::changed: return "changed";
        case ChangeType::moved: return "moved";
        case ChangeType::note: return "note";
    }
    return "changed";
}

std::string_view to_text(Kind kind) {
    switch (kind) {
        case Kind::job: return "job";
        case Kind::flow_entry: return "flow entry";
        case Kind::instance: return "instance";
        case Kind::level: return "level";
        case Kind::time_set: return "time set";
        case Kind::spec: return "spec";
        case Kind::global_spec: return "global spec";
        case Kind::pattern_set: return "pattern set";
    }
    return "job";
}

size_t DiffResult::count(ChangeType change) const {
    return static_cast<size_t>(std::count_if(changes.begin(), changes.end(),
                                             [&](const Change& c) { return c.change == change; }));
}

bool DiffResult::has_change() const {
    return std::any_of(changes.begin(), changes.end(),
                       [](const Change& c) { return c.change != ChangeType::note; });
}

namespace {

bool ends_with_nocase(const std::string& s, std::string_view suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = s[s.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

void progress(diag::Sink& sink, double percent, const std::string& what) {
    diag::Event e;
    e.severity = diag::Severity::progress;
    e.code = "diff.progress";
    e.text = what;
    e.channels = diag::kConsole;
    e.progress = percent;
    sink.emit(e);
}

}  // namespace

std::string prepare_program(const std::string& program, const std::string& work_dir) {
    if (util::is_directory(program)) return program;
    if (!util::file_exists(program)) throw InputError("program not found: " + program);
    // A file that is no workbook or archive at all is bad input, as a missing one is.
    try {
        if (ends_with_nocase(program, ".igxl") || ends_with_nocase(program, ".zip")) {
            unzip(program, work_dir);
        } else if (ends_with_nocase(program, ".xlsm")) {
            export_sheets_to_txt(program, work_dir);
        } else {
            throw InputError(program + ": not a program form this tool reads (expected an .xlsm workbook, "
                                       "an .igxl/.zip packed program or a folder of sheet text files)");
        }
    } catch (const BadInputError& e) {
        throw InputError(e.what());
    }
    // A packed program may hold its sheets in a folder named after it.
    std::string base = program.substr(program.find_last_of('/') + 1);
    const size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    const std::string own = work_dir + "/" + base;
    return util::is_directory(own) ? own : work_dir;
}

DiffResult diff_programs(const std::string& old_dir, const std::string& new_dir,
                         const DiffOptions& options, diag::Sink& sink) {
    DiffResult result;
    result.old_program = old_dir;
    result.new_program = new_dir;

    detail::Revision a, b;
    a.label = "old";
    a.dir = old_dir;
    b.label = "new";
    b.dir = new_dir;
    progress(sink, 0, "reading the job lists");
    detail::read_job_list(a, sink);
    detail::read_job_list(b, sink);

    if (options.jobs.empty()) {
        for (const auto& [name, _] : a.jobs) result.jobs.push_back(name);
        for (const auto& [name, _] : b.jobs)
            if (!a.jobs.contains(name)) result.jobs.push_back(name);
    } else {
        for (const auto& job : options.jobs) {
            if (!a.jobs.contains(job) && !b.jobs.contains(job))
                throw InputError("unknown job '" + job + "': it is in neither revision's job list");
            if (std::find(result.jobs.begin(), result.jobs.end(), job) == result.jobs.end())
                result.jobs.push_back(job);
        }
    }

    progress(sink, 5, "reading the old revision");
    detail::read_sheets(a, result.jobs, options.platform, sink);
    progress(sink, 45, "reading the new revision");
    detail::read_sheets(b, result.jobs, options.platform, sink);
    progress(sink, 85, "comparing");
    result.changes = detail::compare_revisions(a, b, result.jobs);
    progress(sink, 100, "done");
    return result;
}

}  // namespace igxl::diff
