// One sink for every message the libraries produce. Library code never writes to the console:
// it emits events, and the host decides how each is shown (console, log file, findings).
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace igxl::diag {

enum class Severity : std::uint8_t { error, warning, info, progress };

// Where the host shows a message. The check's log (the lines handed to the host's log callback)
// and the console (lines the tools have always printed on their own) are kept apart, so each
// renderer reproduces exactly the lines it always showed. kErrorStream marks console lines
// that belong on the error stream rather than the output stream.
enum Channel : unsigned { kLog = 1u, kConsole = 2u, kBoth = 3u, kErrorStream = 4u };

// What a message points at; fields left empty (line 0) where unknown.
struct Location {
    std::string program;     // the program (workbook, archive or folder) being checked
    std::string file;        // sheet text file or module file
    unsigned line = 0;       // 1-based line in that file
    std::string job;
    std::string flow_sheet;
    std::string item;        // test, instance, pattern set, variable... the thing named
    std::string test;        // the test being walked, when the thing named is another (a pin)
    std::string module;      // VBA module
};

struct Event {
    Severity severity = Severity::info;
    std::string code;   // stable identifier, e.g. "check.instance-not-found"
    std::string text;   // the message, worded exactly as the tools show it
    Location where;
    unsigned channels = kLog;
    double progress = 0;  // percent, for Severity::progress
};

class Sink {
public:
    virtual ~Sink() = default;
    virtual void emit(const Event& event) = 0;
};

// Drops everything (a library used without a host).
class NullSink final : public Sink {
public:
    void emit(const Event&) override {}
};

// Keeps every event (tests, and hosts that render after the run).
class CollectingSink final : public Sink {
public:
    void emit(const Event& event) override { events.push_back(event); }
    // Texts of the events that reach a channel, in order.
    std::vector<std::string> texts(unsigned channel = kBoth) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.channels & channel) out.push_back(e.text);
        return out;
    }
    // Codes of all events, in order.
    std::vector<std::string> codes() const {
        std::vector<std::string> out;
        for (const auto& e : events) out.push_back(e.code);
        return out;
    }
    std::vector<Event> events;
};

// Forwards to a function (hosts that render as events arrive).
class FunctionSink final : public Sink {
public:
    explicit FunctionSink(std::function<void(const Event&)> fn) : fn_(std::move(fn)) {}
    void emit(const Event& event) override {
        if (fn_) fn_(event);
    }

private:
    std::function<void(const Event&)> fn_;
};

// The sink used when a caller gave none.
inline Sink& null_sink() {
    static NullSink sink;
    return sink;
}

inline Event make_event(Severity severity, std::string code, std::string text,
                        unsigned channels = kLog, Location where = {}) {
    Event e;
    e.severity = severity;
    e.code = std::move(code);
    e.text = std::move(text);
    e.where = std::move(where);
    e.channels = channels;
    return e;
}

inline void emit(Sink& sink, Severity severity, std::string code, std::string text,
                 unsigned channels = kLog, Location where = {}) {
    sink.emit(make_event(severity, std::move(code), std::move(text), channels, std::move(where)));
}

}  // namespace igxl::diag
