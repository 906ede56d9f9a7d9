// Flow table reader: the test steps of a flow in execution order, sub-flows expanded in place,
// bins and test numbers completed from a following Use-Limit row.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parsers/platform.h"
#include "util/diagnostics.h"

namespace igxl {

struct FlowEntry {
    std::string Opcode;
    std::string Parameter;  // upper-cased instance name
    std::string TestNumber;
    std::string HardBin;
    std::string SortBin;
    std::string Result;
    // Job sheet row where the entry's rows begin; set by the flow walk, -1 until then.
    int write_row_start = -1;

    static constexpr std::array<std::string_view, 6> KEYS = {
        "Opcode", "Parameter", "TestNumber", "HardBin", "SortBin", "Result"};

    // (key, value) pairs in key order.
    std::array<std::pair<std::string_view, std::string_view>, 6> fields() const {
        return {{{KEYS[0], Opcode},
                 {KEYS[1], Parameter},
                 {KEYS[2], TestNumber},
                 {KEYS[3], HardBin},
                 {KEYS[4], SortBin},
                 {KEYS[5], Result}}};
    }
    // One-line text for logs: {'Opcode': 'Test', ..., 'write_row_start': 3} (the row only once
    // it is set).
    std::string to_text() const;

    bool operator==(const FlowEntry&) const = default;
};

using FlowEntryList = std::vector<FlowEntry>;

// One row of a flow sheet as written, with where it stands: the test rows the entries come from,
// their Use-Limit rows and the set-device / set-error-bin rows that bin a device outside a test.
// A row is a view: its texts are packed in the FlowRowList that holds it, and live as long as
// that list.
class FlowRow {
public:
    unsigned line = 0;          // 1-based line in its file
    bool conditional = false;   // a Sense/Condition/Name decides whether it runs

    // The flow or sub-flow sheet text file.
    const std::string& file() const { return *file_; }
    // The file's place in its list's file table: rows of one list share an index exactly when
    // they come from the same file.
    std::uint32_t file_index() const { return file_index_; }

    std::string_view Opcode() const { return text(kOpcode); }
    std::string_view Parameter() const { return text(kParameter); }  // upper-cased
    std::string_view TestName() const { return text(kTestName); }
    std::string_view TestNumber() const { return text(kTestNumber); }
    std::string_view LoLimit() const { return text(kLoLimit); }
    std::string_view HiLimit() const { return text(kHiLimit); }
    std::string_view Units() const { return text(kUnits); }
    std::string_view HardBin() const { return text(kHardBin); }
    std::string_view SortBin() const { return text(kSortBin); }
    std::string_view Result() const { return text(kResult); }
    // The row's run conditions.
    std::string_view Enable() const { return text(kEnable); }
    std::string_view Job() const { return text(kJob); }
    std::string_view Part() const { return text(kPart); }

private:
    friend class FlowRowList;
    enum Field : unsigned {
        kOpcode, kParameter, kTestName, kTestNumber, kLoLimit, kHiLimit, kUnits,
        kHardBin, kSortBin, kResult, kEnable, kJob, kPart, kFieldCount
    };
    std::string_view text(Field f) const {
        const std::uint32_t begin = f == 0 ? 0 : ends_[f - 1];
        return {text_ + begin, ends_[f] - begin};
    }

    const char* text_ = nullptr;             // the row's texts one after another
    const std::string* file_ = nullptr;
    std::uint32_t file_index_ = 0;
    std::array<std::uint32_t, kFieldCount> ends_{};  // where each text ends in text_
};

// The texts of a flow row to add to a list (views: copied by push_back).
struct FlowRowFields {
    std::string_view file;
    unsigned line = 0;
    std::string_view Opcode, Parameter, TestName, TestNumber, LoLimit, HiLimit, Units;
    std::string_view HardBin, SortBin, Result;
    std::string_view Enable, Job, Part;
    bool conditional = false;
};

// A job's flow rows (a hundred thousand in a large program): rows of fixed size in blocks, their
// texts packed in large blocks, each file named once. Rows never move once added, and freeing
// the list frees a few hundred blocks, not a string per field. Not copyable: rows point into it.
class FlowRowList {
public:
    FlowRowList() = default;
    FlowRowList(std::initializer_list<FlowRowFields> rows);
    FlowRowList(FlowRowList&&) noexcept = default;
    FlowRowList& operator=(FlowRowList&&) noexcept = default;
    FlowRowList(const FlowRowList&) = delete;
    FlowRowList& operator=(const FlowRowList&) = delete;

    // The index of a file in the table, added when new.
    std::uint32_t file_index(std::string_view file);
    // Adds a row, its texts copied; the file given by name or by its index.
    void push_back(const FlowRowFields& row);
    void push_back(const FlowRowFields& row, std::uint32_t file_index);

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const FlowRow& operator[](std::size_t i) const { return blocks_[i / kBlockRows][i % kBlockRows]; }
    const FlowRow& front() const { return (*this)[0]; }
    const FlowRow& back() const { return (*this)[size_ - 1]; }
    // The files rows come from, by file index.
    std::size_t file_count() const { return files_.size(); }
    const std::string& file(std::uint32_t index) const { return files_[index]; }

    class const_iterator {
    public:
        using value_type = FlowRow;
        using difference_type = std::ptrdiff_t;
        using reference = const FlowRow&;
        using pointer = const FlowRow*;
        using iterator_category = std::forward_iterator_tag;
        const_iterator() = default;
        const_iterator(const FlowRowList* list, std::size_t i) : list_(list), i_(i) {}
        reference operator*() const { return (*list_)[i_]; }
        pointer operator->() const { return &(*list_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            auto old = *this;
            ++i_;
            return old;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }

    private:
        const FlowRowList* list_ = nullptr;
        std::size_t i_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }

private:
    static constexpr std::size_t kBlockRows = 256;
    char* reserve_text(std::size_t bytes);

    std::vector<std::unique_ptr<FlowRow[]>> blocks_;
    std::size_t size_ = 0;
    std::vector<std::unique_ptr<char[]>> text_blocks_;
    std::size_t text_used_ = 0, text_size_ = 0;
    std::deque<std::string> files_;  // a deque: rows point at its strings
};

// Builds a flow entry from a row's fields by the platform's layout (UltraFLEX family: bins in
// columns Q and S, result in T; J750: L, N and O). A row of 8 fields or fewer gives only Opcode
// and Parameter; fields a row lacks read as empty.
FlowEntry get_flow_content(const std::vector<std::string_view>& line_list, Platform platform);

class Fennick {
public:
    // Warnings (a test row without its bins) go to sink.
    explicit Fennick(diag::Sink& sink = diag::null_sink()) : sink_(&sink) {}
    // Appends the flow's entries. Throws FileNotFoundError for a missing flow or sub-flow file
    // and Error for a flow that calls itself (directly or through other flows).
    void read_flow_table(const std::string& flow_path, Platform platform);
    FlowEntryList& get_test_suite_info() { return test_suite_list; }
    // The test, Use-Limit and device-binning rows read, in flow order (sub-flows in place).
    const FlowRowList& get_flow_rows() const { return flow_rows; }

private:
    void read_flow(const std::string& flow_path, Platform platform,
                   std::vector<std::pair<std::string, std::string>>& chain);

    // The entries of a read: each the index of its test row and, when a Use-Limit row completed
    // it, where its bins and number from there are kept.
    static constexpr std::uint32_t kNoLimit = UINT32_MAX;
    struct EntryRead {
        std::uint32_t row, limit;
    };
    // The entries read, made into flow entries when the read ends.
    void take_entries();

    FlowEntryList test_suite_list;
    FlowRowList flow_rows;
    std::vector<EntryRead> entries_read;
    std::vector<std::array<std::string, 3>> limits_read;  // hard bin, sort bin, test number
    diag::Sink* sink_;
};

}  // namespace igxl
