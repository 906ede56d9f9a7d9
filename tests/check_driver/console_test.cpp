#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "host/console.h"

namespace {

using igxl::diag::Event;
using igxl::diag::Severity;
using igxl::host::Console;
using igxl::host::ConsoleOptions;

Event event(Severity s, const std::string& code, const std::string& text, unsigned channels = igxl::diag::kLog) {
    Event e;
    e.severity = s;
    e.code = code;
    e.text = text;
    e.channels = channels;
    return e;
}

Event job_start(const std::string& job) { return event(Severity::info, "check.job-start", "Parse Job: " + job); }

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

struct Screen {
    std::ostringstream out, err;
    Console console;
    explicit Screen(ConsoleOptions o = {}) : console(out, err, o) {}
};

}  // namespace

// A message the driver sends to both the log and the console, and again from a later pass over
// the same test, shows once per job; a new job may show it again.
TEST(Console, EachMessageOnceAJob) {
    Screen s;
    const std::string info = "Info: cannot found TP_X in Test Instance, please check.";
    s.console.emit(job_start("A"));
    for (int pass = 0; pass < 2; ++pass) s.console.emit(event(Severity::info, "check.instance-not-found", info, igxl::diag::kBoth));
    s.console.emit(job_start("B"));
    s.console.emit(event(Severity::info, "check.instance-not-found", info, igxl::diag::kBoth));
    s.console.finish();
    EXPECT_EQ(lines_of(s.out.str()),
              (std::vector<std::string>{"Parse Job: A", info, "Parse Job: B", info}));
    EXPECT_EQ(s.err.str(), "");
}

// Ninety-six tests each missing the same power pin (twice per record) give one line at the end
// of their job, counting tests, not events; another pin keeps a line of its own.
TEST(Console, RepeatedWarningsOfOneCauseFoldWithACount) {
    Screen s;
    s.console.emit(job_start("A"));
    for (int t = 0; t < 96; ++t) {
        for (int record = 0; record < 2; ++record) {
            for (const char* text : {"Cannot find power pin name in pin level file!", "Power pin name is: vref"}) {
                Event e = event(Severity::warning, "check.power-pin-not-in-levels", text);
                e.where.item = "vref";
                e.where.test = "T" + std::to_string(t);
                s.console.emit(e);
            }
        }
    }
    Event other = event(Severity::warning, "check.power-pin-not-in-levels", "Cannot find power pin name in pin level file!");
    other.where.item = "vpp";
    other.where.test = "T1";
    s.console.emit(other);
    s.console.emit(event(Severity::info, "check.flow-table", "Fennick: Flow_A"));
    s.console.emit(job_start("B"));
    s.console.finish();
    EXPECT_EQ(lines_of(s.out.str()), (std::vector<std::string>{"Parse Job: A", "Fennick: Flow_A", "Parse Job: B"}));
    EXPECT_EQ(lines_of(s.err.str()),
              (std::vector<std::string>{"Cannot find power pin name in pin level file! (vref, 96 tests)",
                                        "Cannot find power pin name in pin level file! (vpp, 1 test)"}));
}

// A flow row without bins is named by sheet, line and test, never dumped with its tabs; the
// log-only detail of a failed test (its record as a dictionary) stays out; warnings and errors
// go to the error stream, the rest of the log to the output stream.
TEST(Console, RowsAreNamedAndDetailStaysInTheLog) {
    Screen s;
    Event row = event(Severity::warning, "flow.sort-bin-not-found", "No SortBin test found: \t\t\tTest\tTP_A\t\t\t",
                      igxl::diag::kConsole);
    row.where.file = "/w/prog/Flow%20Main.txt";
    row.where.line = 7;
    row.where.item = "TP_A";
    s.console.emit(row);
    s.console.emit(event(Severity::error, "check.power-process-failed.detail", "Error found in power process:"));
    s.console.emit(event(Severity::error, "check.power-process-failed.detail", "3 - {'Opcode': 'Test'}"));
    s.console.emit(event(Severity::error, "check.power-process-failed", "Error found in power process: Flow, test TP_A: bad",
                         igxl::diag::kConsole | igxl::diag::kErrorStream));
    s.console.emit(event(Severity::info, "check.flow-table", "Fennick: Flow"));
    s.console.finish();
    EXPECT_EQ(s.out.str(), "Fennick: Flow\n");
    EXPECT_EQ(lines_of(s.err.str()), (std::vector<std::string>{"No SortBin test found: Flow Main, line 7, test TP_A",
                                                               "Error found in power process: Flow, test TP_A: bad"}));
}

TEST(Console, QuietShowsErrorsOnly) {
    ConsoleOptions o;
    o.quiet = true;
    Screen s(o);
    s.console.emit(job_start("A"));
    s.console.emit(event(Severity::warning, "check.other-platform", "Warning: sheet", igxl::diag::kBoth));
    s.console.say("Report: x.xlsm");
    s.console.emit(event(Severity::error, "check.run-failed", "An exception occurred!Please check!!!"));
    s.console.finish();
    EXPECT_EQ(s.out.str(), "");
    EXPECT_EQ(s.err.str(), "An exception occurred!Please check!!!\n");
}

// The bar spreads over the jobs, is cleared before a message and drawn again below it, never
// shows less than before (the map sheet's own count restarts at 90 %), and is gone at the end.
TEST(Console, ProgressBarNeverGoesBackAndStaysBelowMessages) {
    ConsoleOptions o;
    o.draw_bar = true;
    o.job_count = 2;
    Screen s(o);
    s.console.emit(job_start("A"));
    for (double v : {1.0, 50.0, 100.0}) s.console.progress(v);
    s.console.emit(job_start("B"));
    for (double v : {1.0, 40.0, 100.0, 90.0, 95.0}) s.console.progress(v);
    s.console.emit(event(Severity::info, "check.done", "Execution successful!!!"));
    s.console.progress(5);  // a later step's own count is not drawn
    s.console.finish();

    std::vector<double> shown;
    const std::string err = s.err.str();
    for (size_t at = err.find("] "); at != std::string::npos; at = err.find("] ", at + 1))
        shown.push_back(std::stod(err.substr(at + 2)));
    ASSERT_FALSE(shown.empty());
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_GE(shown[i], shown[i - 1]) << err;
    EXPECT_DOUBLE_EQ(shown.back(), 100.0);
    EXPECT_DOUBLE_EQ(shown[2], 50.0);  // job A done: half the run
    EXPECT_EQ(err.substr(err.size() - 4), "\r\033[K");
    EXPECT_EQ(lines_of(s.out.str()), (std::vector<std::string>{"Parse Job: A", "Parse Job: B", "Execution successful!!!"}));
}
