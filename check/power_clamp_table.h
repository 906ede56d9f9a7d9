// The power pin clamp values of every test a run walked, held compactly: pins are numbered once
// and each test's values are one run of a flat store of (pin, value) pairs. Tests with the same
// levels and spec context have the same values, so a test's run, once complete, shares an equal
// run already stored and gives back its own: the store holds each distinct run once (held per
// test it took some 14 MB at 100k flow entries). Test names are kept in blocks of text the
// table owns, viewed by its ordered map, rather than as a string each.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

namespace igxl {

class PowerClampTable {
public:
    using Pin = std::uint32_t;
    // A test's values, in the order its pins were first set.
    struct Run {
        std::uint32_t begin = 0, count = 0;
    };

    // Starts (or restarts) the values of a test: the ones it had are dropped, and it keeps the
    // place it had among the tests. Later set() calls fill it; the test started before is
    // complete.
    void start(const std::string& test);
    // A value of the test started last; a pin set again keeps its place and takes the new value.
    void set(std::string_view pin, double value) { set(pin_index(pin), value); }
    void set(Pin pin, double value);
    // The pin's number, given on first sight; it holds until clear().
    Pin pin_index(std::string_view pin);

    bool empty() const { return tests_.empty(); }
    void clear();

    // Tests in the order they were first started; the names hold until clear().
    const tsl::ordered_map<std::string_view, Run>& tests() const { return tests_; }
    // The i-th (pin, value) of a test's run, i < run.count.
    std::pair<Pin, double> value(const Run& run, std::uint32_t i) const {
        return {pins_of_[run.begin + i], values_[run.begin + i]};
    }
    const std::string& pin_name(Pin pin) const { return pin_names_[pin]; }
    size_t pin_count() const { return pin_names_.size(); }

private:
    // The run of the test started last, complete: made the equal run stored before, if any.
    void share_current();
    // A lasting copy of a test name.
    std::string_view keep_name(std::string_view name);
    size_t hash(const Run& run) const;
    bool same(const Run& a, const Run& b) const;

    tsl::ordered_map<std::string_view, Run> tests_;
    std::vector<std::unique_ptr<char[]>> name_blocks_;
    size_t block_size_ = 0, block_left_ = 0;  // the last block's size and room at its end
    Run* current_ = nullptr;
    std::vector<Pin> pins_of_;
    std::vector<double> values_;
    std::unordered_multimap<size_t, Run> shared_;  // complete distinct runs, by hash of content
    std::unordered_map<std::string, Pin> pins_;
    std::vector<std::string> pin_names_;
};

}  // namespace igxl
