// The vantor console: renders the check's events for a person at a terminal. The full log goes
// elsewhere (--log FILE gets every line as the driver wrote it); here each message is shown once,
// repeated warnings of one cause are folded into one line with a count at the end of the job,
// record rows are named (sheet, line, test) instead of dumped, warnings and errors go to the error
// stream (the output stream keeps the log and the results) and
// the progress bar is redrawn below the messages and never moves backwards.
#pragma once
#include <cstddef>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "util/diagnostics.h"

namespace igxl::host {

struct ConsoleOptions {
    bool quiet = false;        // errors only
    bool draw_bar = false;     // a progress bar on the error stream (a terminal)
    std::size_t job_count = 1; // jobs the run walks, to spread the bar over them
};

class Console : public diag::Sink {
public:
    Console(std::ostream& out, std::ostream& err, ConsoleOptions options);
    void emit(const diag::Event& event) override;
    // A line of the host's own (a result, a report path): standard output, unless quiet.
    void say(const std::string& line);
    // An error of the host's own: the error stream, always.
    void error(const std::string& line);
    // The driver's progress of the job being walked, 0..100.
    void progress(double value);
    void set_job_count(std::size_t n) { options_.job_count = n ? n : 1; }
    // Whether a line shown so far mentions text (a report path the log named already).
    bool mentioned(const std::string& text) const;
    // Shows what is still folded and takes the bar away (the end of a run).
    void finish();

private:
    void show(const std::string& line, bool to_err);
    void flush_folded();
    void clear_bar();
    void draw_bar();

    std::ostream& out_;
    std::ostream& err_;
    ConsoleOptions options_;
    // What was shown in this job, so a message repeated by a later pass is not shown again.
    std::set<std::pair<std::string, std::string>> shown_;
    // Folded warnings of this job: (code, subject) -> first text and the tests it arose in.
    struct Fold {
        std::string text;
        std::set<std::string> tests;
        std::size_t count = 0;
    };
    std::map<std::pair<std::string, std::string>, Fold> folded_;
    std::vector<std::pair<std::string, std::string>> fold_order_;
    std::vector<std::string> lines_;  // every line shown
    long jobs_started_ = 0;
    double bar_ = 0;        // percent of the whole run shown
    bool bar_shown_ = false;
    bool bar_done_ = false;  // the check part ended; later progress (another step) is not drawn
};

}  // namespace igxl::host
