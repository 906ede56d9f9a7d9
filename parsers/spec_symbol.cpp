#include <stdexcept>

#include "parsers/spec_sheets.h"

namespace igxl {

size_t SpecColumns::add(const std::string& key) {
    auto [it, added] = index_.try_emplace(key, keys_.size());
    if (added) keys_.push_back(key);
    return it->second;
}

size_t SpecColumns::find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? npos : it->second;
}

SpecSymbolMap::const_iterator& SpecSymbolMap::const_iterator::operator++() {
    pos_ = map_->next_value(pos_);
    ++i_;
    return *this;
}

void SpecSymbolMap::append_value(std::string& out, std::string_view value) {
    size_t n = value.size();
    while (n >= 0x80) {
        out.push_back(static_cast<char>(0x80 | (n & 0x7f)));
        n >>= 7;
    }
    out.push_back(static_cast<char>(n));
    out.append(value);
}

SpecSymbolMap::SpecSymbolMap(std::shared_ptr<const SpecColumns> columns,
                             const std::vector<std::string_view>& values)
    : columns_(std::move(columns)) {
    const size_t n = columns_->size();
    // Sized once: most symbols' values are a few dozen characters in all.
    size_t total = n;
    for (size_t i = 0; i < n && i < values.size(); ++i) total += values[i].size() + values[i].size() / 0x80;
    values_.reserve(total);
    for (size_t i = 0; i < n; ++i) append_value(values_, i < values.size() ? values[i] : std::string_view());
}

SpecSymbolMap::SpecSymbolMap(std::initializer_list<std::pair<std::string_view, std::string_view>> columns) {
    for (const auto& [key, value] : columns) set(key, value);
}

size_t SpecSymbolMap::length_at(size_t& pos) const {
    size_t n = 0;
    for (unsigned shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(values_[pos++]);
        n |= static_cast<size_t>(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return n;
    }
}

size_t SpecSymbolMap::next_value(size_t pos) const {
    const size_t n = length_at(pos);
    return pos + n;
}

size_t SpecSymbolMap::value_start(size_t column) const {
    size_t pos = 0;
    for (size_t i = 0; i < column; ++i) pos = next_value(pos);
    return pos;
}

std::string_view SpecSymbolMap::value_at(size_t pos) const {
    const size_t n = length_at(pos);
    return std::string_view(values_).substr(pos, n);
}

std::optional<std::string_view> SpecSymbolMap::find(std::string_view key) const {
    if (!columns_) return std::nullopt;
    const size_t column = columns_->find(key);
    if (column == SpecColumns::npos) return std::nullopt;
    return value_at(value_start(column));
}

std::string_view SpecSymbolMap::at(std::string_view key) const {
    std::optional<std::string_view> v = find(key);
    if (!v) throw std::out_of_range("spec symbol has no column '" + std::string(key) + "'");
    return *v;
}

void SpecSymbolMap::set(std::string_view key, std::string_view value) {
    size_t column = columns_ ? columns_->find(key) : SpecColumns::npos;
    if (column == SpecColumns::npos) {
        // The keys may be a sheet's, shared with its other symbols: this symbol gets its own.
        auto own = columns_ ? std::make_shared<SpecColumns>(*columns_) : std::make_shared<SpecColumns>();
        own->add(std::string(key));
        columns_ = std::move(own);
        append_value(values_, value);
        return;
    }
    const size_t pos = value_start(column);
    std::string rebuilt = values_.substr(0, pos);
    append_value(rebuilt, value);
    rebuilt.append(values_, next_value(pos), std::string::npos);
    values_ = std::move(rebuilt);
}

bool SpecSymbolMap::operator==(const SpecSymbolMap& o) const {
    if (size() != o.size()) return false;
    if (columns_ != o.columns_) {
        for (size_t i = 0; i < size(); ++i)
            if (columns_->key(i) != o.columns_->key(i)) return false;
    }
    // Same columns: the values are equal exactly when their texts are.
    return values_ == o.values_;
}

}  // namespace igxl
