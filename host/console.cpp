#include "host/console.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace igxl::host {

namespace {

// Warnings raised once per test for one cause (a pin, a sheet): folded into one line per cause.
bool folds(std::string_view code) { return code == "check.power-pin-not-in-levels"; }

// Lines the log keeps for the record (raw rows, dictionaries) that a person need not read.
bool log_only(std::string_view code) { return code.ends_with(".detail"); }

std::string sheet_name_of(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.ends_with(".txt")) name.resize(name.size() - 4);
    std::string plain;  // exported names stand blanks as "%20"
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 3, "%20") == 0) {
            plain += ' ';
            i += 2;
        } else {
            plain += name[i];
        }
    }
    return plain;
}

// The console's wording of an event: a record row is named by sheet, line and test.
std::string console_text(const diag::Event& e) {
    if (e.code == "flow.sort-bin-not-found" && !e.where.file.empty()) {
        std::string text = "No SortBin test found: " + sheet_name_of(e.where.file);
        if (e.where.line) text += ", line " + std::to_string(e.where.line);
        if (!e.where.item.empty()) text += ", test " + e.where.item;
        return text;
    }
    return e.text;
}

}  // namespace

Console::Console(std::ostream& out, std::ostream& err, ConsoleOptions options)
    : out_(out), err_(err), options_(options) {
    if (options_.job_count == 0) options_.job_count = 1;
}

void Console::emit(const diag::Event& e) {
    if (e.severity == diag::Severity::progress) return;
    if (!(e.channels & (diag::kLog | diag::kConsole))) return;
    if (e.code == "check.job-start") {
        flush_folded();
        shown_.clear();
        ++jobs_started_;
    } else if (e.code == "check.report-written" || e.code == "check.run-failed") {
        flush_folded();  // the end of the last job
    }
    if (e.code == "check.done" || e.code == "check.run-failed") {
        bar_done_ = true;
        clear_bar();
        bar_shown_ = false;
    }
    if (log_only(e.code)) return;
    const bool is_error = e.severity == diag::Severity::error;
    if (options_.quiet && !is_error) return;
    const bool to_err = is_error || e.severity == diag::Severity::warning || (e.channels & diag::kErrorStream);
    if (folds(e.code) && !e.where.item.empty()) {
        auto key = std::make_pair(e.code, e.where.item);
        auto [it, fresh] = folded_.try_emplace(key);
        if (fresh) {
            it->second.text = e.text;
            fold_order_.push_back(key);
        }
        if (e.text == it->second.text) {
            ++it->second.count;
            if (!e.where.test.empty()) it->second.tests.insert(e.where.test);
        }
        return;
    }
    std::string text = console_text(e);
    if (!shown_.emplace(e.code, text).second) return;  // shown already in this job
    show(text, to_err);
}

void Console::say(const std::string& line) {
    if (!options_.quiet) show(line, false);
}

void Console::error(const std::string& line) { show(line, true); }

bool Console::mentioned(const std::string& text) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

void Console::show(const std::string& line, bool to_err) {
    lines_.push_back(line);
    clear_bar();
    // The two streams are one screen: what was written to the other shows first.
    if (to_err) {
        out_.flush();
        err_ << line << '\n';
        err_.flush();
    } else {
        out_ << line << '\n';
        out_.flush();
    }
    draw_bar();
}

void Console::flush_folded() {
    for (const auto& key : fold_order_) {
        const Fold& f = folded_.at(key);
        std::string what;
        if (!f.tests.empty())
            what = std::to_string(f.tests.size()) + (f.tests.size() == 1 ? " test" : " tests");
        else
            what = std::to_string(f.count) + (f.count == 1 ? " time" : " times");
        show(f.text + " (" + key.second + ", " + what + ")", true);
    }
    folded_.clear();
    fold_order_.clear();
}

void Console::progress(double value) {
    if (bar_done_ || !options_.draw_bar) return;
    value = std::clamp(value, 0.0, 100.0);
    const double job = static_cast<double>(std::max(jobs_started_ - 1, 0L));
    const double whole = std::min(100.0, (job + value / 100.0) / static_cast<double>(options_.job_count) * 100.0);
    // A later pass starts its own count: the bar keeps what it showed.
    bar_ = std::max(bar_, whole);
    bar_shown_ = true;
    draw_bar();
}

void Console::finish() {
    flush_folded();
    clear_bar();
    bar_shown_ = false;
    bar_done_ = true;
}

void Console::clear_bar() {
    if (options_.draw_bar && bar_shown_) {
        err_ << "\r\033[K";
        err_.flush();
    }
}

void Console::draw_bar() {
    if (!options_.draw_bar || !bar_shown_ || bar_done_) return;
    const int filled = static_cast<int>(bar_ / 100 * 40 + 0.5);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(40, '.');
    char pct[16];
    std::snprintf(pct, sizeof pct, "%5.1f%%", bar_);
    err_ << '\r' << '[' << bar << "] " << pct;
    err_.flush();
}

}  // namespace igxl::host
