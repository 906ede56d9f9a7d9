// Test instance reader: per instance name, what each row defines, with the patterns it runs.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/pattern_sets.h"
#include "parsers/platform.h"

namespace igxl {

class InstanceMap;

// The arguments of one record, from column P on (J750: Arg0 on, from column N): texts by index.
class InstanceArgs {
public:
    class iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;

        iterator() = default;
        std::string_view operator*() const { return args_->at_unchecked(i_); }
        std::string_view operator[](difference_type n) const {
            return args_->at_unchecked(static_cast<std::size_t>(static_cast<difference_type>(i_) + n));
        }
        iterator& operator++() { return ++i_, *this; }
        iterator operator++(int) { iterator t = *this; ++i_; return t; }
        iterator& operator--() { return --i_, *this; }
        iterator operator--(int) { iterator t = *this; --i_; return t; }
        iterator& operator+=(difference_type n) { i_ = static_cast<std::size_t>(static_cast<difference_type>(i_) + n); return *this; }
        iterator& operator-=(difference_type n) { return *this += -n; }
        friend iterator operator+(iterator a, difference_type n) { return a += n; }
        friend iterator operator+(difference_type n, iterator a) { return a += n; }
        friend iterator operator-(iterator a, difference_type n) { return a -= n; }
        friend difference_type operator-(const iterator& a, const iterator& b) {
            return static_cast<difference_type>(a.i_) - static_cast<difference_type>(b.i_);
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.i_ == b.i_; }
        friend auto operator<=>(const iterator& a, const iterator& b) { return a.i_ <=> b.i_; }

    private:
        friend class InstanceArgs;
        iterator(const InstanceArgs* args, std::size_t i) : args_(args), i_(i) {}
        const InstanceArgs* args_ = nullptr;
        std::size_t i_ = 0;
    };

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view operator[](std::size_t i) const { return at_unchecked(i); }
    // Throws std::out_of_range past the last argument.
    std::string_view at(std::size_t i) const;
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size_}; }
    std::vector<std::string> to_strings() const { return {begin(), end()}; }

    friend bool operator==(const InstanceArgs& a, const InstanceArgs& b);

private:
    friend class InstanceRecord;
    InstanceArgs(const std::uint32_t* starts, const char* text, std::size_t size)
        : starts_(starts), text_(text), size_(size) {}
    std::string_view at_unchecked(std::size_t i) const {
        return {text_ + starts_[i], starts_[i + 1] - starts_[i]};
    }
    const std::uint32_t* starts_;  // argument i is text_[starts_[i], starts_[i + 1])
    const char* text_;
    std::size_t size_;
};

// One row of a test instance sheet. A record is a view: its texts are held by the InstanceMap it
// came from and stay valid, unchanged, as long as that map lives (moving the map keeps them).
class InstanceRecord {
public:
    InstanceRecord() = default;

    std::string_view Method() const { return text(0); }      // column D
    std::string_view DCCategory() const { return text(1); }  // column F
    std::string_view DCSelector() const { return text(2); }  // column G
    std::string_view TimeSet() const { return text(3); }     // column J
    std::string_view ACCategory() const { return text(4); }  // column H
    std::string_view ACSelector() const { return text(5); }  // column I
    std::string_view PinLevel() const { return text(6); }    // column L
    std::string_view Pattern() const { return text(7); }     // pattern names joined with ","; may be empty
    std::string_view ArgList() const { return {arg_list_, arg_list_size_}; }  // column O
    // One field per argument name, from column P on (J750: Arg0 on, from column N, no argument
    // list).
    InstanceArgs ArgDetails() const { return {ends_ + kTexts - 1, chars(), args_}; }

    // Where the row stands (not a field of the record: it is not shown and not compared). The
    // file text is one per sheet, shared by its records.
    const std::string& file() const { return *file_; }
    unsigned line() const { return line_; }

    // Key texts in record order; they head the instance parameter report.
    static constexpr std::array<std::string_view, 10> KEYS = {
        "Method",      "DC Category", "DC Selector", "TimeSet", "AC Category",
        "AC Selector", "PinLevel",    "Pattern",     "ArgList", "ArgDetails"};

    // Calls f(key, value) for every field in key order; value is a std::string_view for every
    // key but "ArgDetails", which gives its InstanceArgs.
    template <class F>
    void visit_fields(F&& f) const {
        for (std::size_t i = 0; i < kTexts; ++i) f(KEYS[i], text(i));
        f(KEYS[8], ArgList());
        f(KEYS[9], ArgDetails());
    }

    bool operator==(const InstanceRecord& o) const;

private:
    friend class InstanceMap;
    // Method .. Pattern: the texts before the arguments, in the record's own block.
    static constexpr std::size_t kTexts = 8;
    static const std::uint32_t kNoEnds[kTexts];
    static const std::string kNoFile;

    // The record's block: kTexts + args_ + 1 starts, then the characters they index.
    const char* chars() const { return reinterpret_cast<const char*>(ends_ + kTexts + args_); }
    std::string_view text(std::size_t i) const {
        const std::uint32_t start = i ? ends_[i - 1] : 0;
        return {chars() + start, ends_[i] - start};
    }

    const std::uint32_t* ends_ = kNoEnds;  // ends_[i]: end of text i; the arguments follow
    const char* arg_list_ = nullptr;       // shared by the records with the same list
    const std::string* file_ = &kNoFile;
    std::uint32_t arg_list_size_ = 0;
    std::uint32_t args_ = 0;
    std::uint32_t line_ = 0;
};

// Upper-cased instance name -> the records of the rows carrying it, in file order. The records
// and their texts are held in a few large blocks: a sheet of 100,000 rows makes a few hundred
// allocations, not a million. Moving the map keeps every record and text where it is; it is not
// copied.
class InstanceMap {
public:
    using Records = std::span<const InstanceRecord>;
    struct Entry {
        std::string_view first;  // the name
        Records second;          // its records, never empty
    };

    // What one row defines, to be added; the map keeps copies of the texts.
    struct Row {
        std::string_view Method, DCCategory, DCSelector, TimeSet, ACCategory, ACSelector, PinLevel,
            Pattern, ArgList;
        std::span<const std::string_view> ArgDetails;
        std::string_view file;
        unsigned line = 0;
    };

private:
    struct Range {
        std::uint32_t first = 0, count = 0;
    };
    using Index = tsl::ordered_map<std::string_view, Range>;

public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using reference = Entry;
        using pointer = const Entry*;

        const_iterator() = default;
        Entry operator*() const {
            return {it_->first, Records(records_ + it_->second.first, it_->second.count)};
        }
        // The entry is kept in the iterator: `it->second` lives as long as `it` does.
        const Entry* operator->() const {
            entry_ = **this;
            return &entry_;
        }
        const_iterator& operator++() { return ++it_, *this; }
        const_iterator operator++(int) { const_iterator t = *this; ++it_; return t; }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.it_ == b.it_; }

    private:
        friend class InstanceMap;
        const_iterator(Index::const_iterator it, const InstanceRecord* records) : it_(it), records_(records) {}
        Index::const_iterator it_;
        const InstanceRecord* records_ = nullptr;
        mutable Entry entry_;
    };

    InstanceMap() = default;
    InstanceMap(InstanceMap&&) noexcept = default;
    InstanceMap& operator=(InstanceMap&&) noexcept = default;
    InstanceMap(const InstanceMap&) = delete;
    InstanceMap& operator=(const InstanceMap&) = delete;
    ~InstanceMap();

    const_iterator begin() const { return {index_.begin(), records_.data()}; }
    const_iterator end() const { return {index_.end(), records_.data()}; }
    const_iterator find(std::string_view name) const { return {index_.find(name), records_.data()}; }
    bool contains(std::string_view name) const { return index_.find(name) != index_.end(); }
    // Throws std::out_of_range for a name not in the map.
    Records at(std::string_view name) const;
    std::size_t size() const { return index_.size(); }
    bool empty() const { return index_.empty(); }
    std::size_t record_count() const { return records_.size(); }

    // Adds a record under name (taken as it is: the reader upper-cases it) after its others.
    void add(std::string_view name, const Row& row);

private:
    friend class Delmora;
    // As add, leaving the records in row order: regroup() puts each name's together again.
    void append(std::string_view name, const Row& row);
    void regroup();
    // Room for n bytes aligned for the record starts, in the current block or a new one.
    char* allocate(std::size_t n);
    const char* keep(std::string_view text);
    const std::string* file_of(std::string_view path);

    Index index_;
    std::vector<InstanceRecord> records_;
    std::vector<std::uint32_t> owner_;  // the name's place in index_, per record
    bool grouped_ = true;               // every name's records stand together
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
    std::unordered_set<std::string_view> arg_lists_;  // one text per distinct argument list
    std::vector<std::unique_ptr<const std::string>> files_;
};

class Delmora {
public:
    Delmora() = default;

    // Adds the sheet's rows. pattern_set_dict is the resolved pattern set map (may be empty);
    // without a set named in columns O to T the pattern names are found in the row's fields.
    // Throws FileNotFoundError for a missing file. Fields a short row lacks read as empty.
    void read_test_instance(const std::string& test_instance_path,
                            const PatternSetMap& pattern_set_dict, Platform platform);
    InstanceMap& get_instance_info() { return test_instance_dict; }

private:
    InstanceMap test_instance_dict;
};

namespace detail {
// The pattern file names the instance reader's expression (`\t([\S ]+\.patx)` when patx, else
// `\t([\S ]+\.pat)`, without case) finds in line, a row whose fields are `fields` (views into
// line), searched over its first `width` fields. Same names, in the same order, as running the
// expression over the tab-joined fields, without scanning every field with it.
std::vector<std::string> find_pattern_names(std::string_view line,
                                            const std::vector<std::string_view>& fields,
                                            size_t width, bool patx);
// The same names joined with "," into out (emptied first).
void join_pattern_names(std::string_view line, const std::vector<std::string_view>& fields,
                        size_t width, bool patx, std::string& out);
}  // namespace detail

}  // namespace igxl
