// Spec sheet readers: DC and AC spec sheets (symbols valued per category and selector) and the
// global spec sheet (one value per symbol).
#pragma once
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/platform.h"
#include "util/text.h"

namespace igxl {

// The column keys of one spec sheet ("CATEGORY SELECTOR", upper case), each once, in order of
// first appearance. Every symbol of the sheet shares them.
class SpecColumns {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // The key's position: the one it has, or a new last one.
    size_t add(const std::string& key);
    // The key's position, npos when the sheet has no such column.
    size_t find(std::string_view key) const;
    size_t size() const { return keys_.size(); }
    const std::string& key(size_t i) const { return keys_[i]; }

private:
    std::vector<std::string> keys_;
    std::unordered_map<std::string, size_t, util::TextHash, std::equal_to<>> index_;
};

// One symbol's columns: column key -> value (upper case), in column order. The keys are its
// sheet's, shared; the values are the symbol's own, held in one text (a map per symbol cost
// some 600 bytes and a dozen allocations for ten short values).
class SpecSymbolMap {
public:
    // Both views point into the map and hold while it is unchanged.
    using value_type = std::pair<std::string_view, std::string_view>;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = SpecSymbolMap::value_type;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = value_type;

        const_iterator() = default;
        value_type operator*() const { return {map_->columns_->key(i_), map_->value_at(pos_)}; }
        const_iterator& operator++();
        const_iterator operator++(int) {
            const_iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const const_iterator& o) const { return i_ == o.i_; }

    private:
        friend class SpecSymbolMap;
        const_iterator(const SpecSymbolMap* map, size_t i, size_t pos) : map_(map), i_(i), pos_(pos) {}
        const SpecSymbolMap* map_ = nullptr;
        size_t i_ = 0;    // column
        size_t pos_ = 0;  // where its value starts in the map's text
    };

    // No columns.
    SpecSymbolMap() = default;
    // A row of a sheet: values[i] is the value of column i; missing ones are empty.
    SpecSymbolMap(std::shared_ptr<const SpecColumns> columns, const std::vector<std::string_view>& values);
    // A symbol written by hand, with columns of its own; a repeated key keeps the later value.
    SpecSymbolMap(std::initializer_list<std::pair<std::string_view, std::string_view>> columns);

    size_t size() const { return columns_ ? columns_->size() : 0; }
    bool empty() const { return size() == 0; }
    const_iterator begin() const { return {this, 0, 0}; }
    const_iterator end() const { return {this, size(), values_.size()}; }

    // The column's value; nullopt when the symbol has no such column.
    std::optional<std::string_view> find(std::string_view key) const;
    bool contains(std::string_view key) const { return columns_ && columns_->find(key) != SpecColumns::npos; }
    // As find, throwing std::out_of_range for a missing column.
    std::string_view at(std::string_view key) const;
    // Sets a column's value, adding the column after the others when it is new.
    void set(std::string_view key, std::string_view value);

    // Same columns in the same order with the same values.
    bool operator==(const SpecSymbolMap& o) const;

private:
    // The length of the value starting at pos; pos moves past it to the value's text.
    size_t length_at(size_t& pos) const;
    std::string_view value_at(size_t pos) const;
    // Where the value after the one starting at pos starts.
    size_t next_value(size_t pos) const;
    // Where the value of column starts.
    size_t value_start(size_t column) const;
    static void append_value(std::string& out, std::string_view value);

    std::shared_ptr<const SpecColumns> columns_;
    // Every column's value in column order, each after its length (7 bits a byte, the high bit
    // set on all bytes but the last).
    std::string values_;
};

// Symbol (upper case) -> its columns.
using SpecMap = tsl::ordered_map<std::string, SpecSymbolMap>;
// Symbol (upper case) -> value (upper case).
using GlobalSpecMap = tsl::ordered_map<std::string, std::string>;

// One symbol's map from a data row: key_list[i] upper-cased -> line_list[i] upper-cased for
// every i from 3 to the end of key_list. A row shorter than the key list gives empty values.
SpecSymbolMap get_spec_info(const std::vector<std::string_view>& line_list,
                            const std::vector<std::string>& key_list);

// Generic reader of categorised spec sheets.
class Halvard {
public:
    Halvard() = default;

    // Adds the symbols of one sheet text file; the platform picks the version form of the
    // title row ("version=...:" for the UltraFLEX family, "DFF n.n" for J750). Throws
    // FileNotFoundError for a missing file (after the "%20" retry) and Error for a title row
    // without a version.
    void read_spec(const std::string& spec_path, Platform platform);

    SpecMap& get_info() { return spec_dict; }
    // Version of the last sheet read ("" before any).
    const std::string& get_spec_version() const { return spec_version; }

private:
    SpecMap spec_dict;
    std::string spec_version;
};

// DC spec sheets.
class Vexdon : public Halvard {
public:
    void read_dc_spec(const std::string& dc_spec_path, Platform platform);
    SpecMap& get_dc_info();
};

// AC spec sheets.
class Ulmara : public Halvard {
public:
    void read_ac_spec(const std::string& ac_spec_path, Platform platform);
    SpecMap& get_ac_info();
};

// The global spec sheet ("Global Specs").
class ParseGlobalSpec {
public:
    ParseGlobalSpec() = default;

    // Reads symbols (column B) and values (column D) from sheet row 4 on. Throws as
    // Halvard::read_spec, and ShortRowError for a symbol row without column D.
    void read_spec(const std::string& spec_path, Platform platform);

    GlobalSpecMap& get_info() { return spec_dict; }

private:
    GlobalSpecMap spec_dict;
    std::string spec_version;
};

}  // namespace igxl
