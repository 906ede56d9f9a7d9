#include "parsers/test_instances.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "parsers/sheet_columns.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl {

namespace {

std::string_view field(const std::vector<std::string_view>& f, size_t i) {
    return i < f.size() ? f[i] : std::string_view{};
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool printable_ascii(std::string_view s) {
    for (char c : s) {
        if (c < 0x20 || c > 0x7e) return false;
    }
    return true;
}

const util::Regex& pattern_regex(bool patx) {
    static const util::Regex patx_file(R"(\t([\S ]+\.patx))", util::Regex::ICASE);
    static const util::Regex pat_file(R"(\t([\S ]+\.pat))", util::Regex::ICASE);
    return patx ? patx_file : pat_file;
}

// The expression matches from a field's first character to the last ".pat" of the field that
// no blank other than a space precedes, so a field of printable ASCII yields exactly the text
// up to its last ".pat" (when something comes before it). Gives each such name to take and
// returns false when a name holds other characters (Unicode blanks, control characters, invalid
// UTF-8): those rows are left to the expression itself.
template <class Take>
bool scan_pattern_names(std::string_view line, const std::vector<std::string_view>& fields, size_t count,
                        bool patx, Take&& give) {
    const char* base = line.data();
    const size_t end = static_cast<size_t>(fields[count - 1].data() - base) + fields[count - 1].size();
    const size_t ext = patx ? 5 : 4;

    size_t k = 1;            // field holding the last ".pat" found
    size_t name_end = 0;     // end of that ".pat" (0: none yet in field k)
    bool exact = true;       // every name so far is plain ASCII
    auto take = [&] {
        if (!name_end) return;
        const size_t start = static_cast<size_t>(fields[k].data() - base);
        std::string_view name = line.substr(start, name_end - start);
        exact = exact && printable_ascii(name);
        give(name);
        name_end = 0;
    };
    size_t pos = static_cast<size_t>(fields[1].data() - base);
    while (pos < end) {
        const void* hit = std::memchr(base + pos, '.', end - pos);
        if (!hit) break;
        const size_t dot = static_cast<size_t>(static_cast<const char*>(hit) - base);
        pos = dot + 1;
        if (dot + ext > end || lower(base[dot + 1]) != 'p' || lower(base[dot + 2]) != 'a' ||
            lower(base[dot + 3]) != 't' || (patx && lower(base[dot + 4]) != 'x')) {
            continue;
        }
        // The letters after the dot are no tabs, so the whole ".pat" lies in the dot's field.
        while (static_cast<size_t>(fields[k].data() - base) + fields[k].size() <= dot) {
            take();
            ++k;
        }
        if (fields[k].data() - base < static_cast<std::ptrdiff_t>(dot)) name_end = dot + ext;
    }
    take();
    return exact;
}

}  // namespace

namespace detail {

std::vector<std::string> find_pattern_names(std::string_view line,
                                            const std::vector<std::string_view>& fields,
                                            size_t width, bool patx) {
    std::vector<std::string> names;
    const size_t count = std::min(width, fields.size());
    if (count < 2) return names;
    if (!scan_pattern_names(line, fields, count, patx, [&](std::string_view name) { names.emplace_back(name); })) {
        const size_t end = static_cast<size_t>(fields[count - 1].data() - line.data()) + fields[count - 1].size();
        return pattern_regex(patx).find_all(line.substr(0, end));
    }
    return names;
}

void join_pattern_names(std::string_view line, const std::vector<std::string_view>& fields, size_t width,
                        bool patx, std::string& out) {
    out.clear();
    const size_t count = std::min(width, fields.size());
    if (count < 2) return;
    const bool exact = scan_pattern_names(line, fields, count, patx, [&](std::string_view name) {
        if (!out.empty()) out += ',';
        out += name;
    });
    if (!exact) out = util::join(find_pattern_names(line, fields, width, patx), ",");
}

}  // namespace detail

// ---- records and the map that holds them -------------------------------------------------

const std::uint32_t InstanceRecord::kNoEnds[InstanceRecord::kTexts] = {};
const std::string InstanceRecord::kNoFile;

std::string_view InstanceArgs::at(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("argument " + std::to_string(i) + " of " + std::to_string(size_));
    return at_unchecked(i);
}

bool operator==(const InstanceArgs& a, const InstanceArgs& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return false;
    return true;
}

bool InstanceRecord::operator==(const InstanceRecord& o) const {
    for (std::size_t i = 0; i < kTexts; ++i)
        if (text(i) != o.text(i)) return false;
    return ArgList() == o.ArgList() && ArgDetails() == o.ArgDetails();
}

InstanceMap::~InstanceMap() = default;

InstanceMap::Records InstanceMap::at(std::string_view name) const {
    auto it = index_.find(name);
    if (it == index_.end()) throw std::out_of_range("no test instance '" + std::string(name) + "'");
    return {records_.data() + it->second.first, it->second.count};
}

namespace {
// Blocks grow from small (a map of a few rows stays small) to this size; a text larger than a
// quarter of it gets a block of its own.
constexpr std::size_t kFirstBlock = 4096;
constexpr std::size_t kLargestBlock = 256 * 1024;
}  // namespace

char* InstanceMap::allocate(std::size_t n) {
    n = (n + alignof(std::uint32_t) - 1) & ~(alignof(std::uint32_t) - 1);
    if (n > left_) {
        if (n > kLargestBlock / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
            return blocks_.back().get();
        }
        const std::size_t size = blocks_.empty() ? kFirstBlock : std::min(kLargestBlock, 2 * (free_ - blocks_.back().get() + left_));
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        left_ = size;
    }
    char* p = free_;
    free_ += n;
    left_ -= n;
    return p;
}

const char* InstanceMap::keep(std::string_view text) {
    char* p = allocate(text.size());
    if (!text.empty()) std::memcpy(p, text.data(), text.size());
    return p;
}

const std::string* InstanceMap::file_of(std::string_view path) {
    // A sheet's rows come together: the file of the last row is nearly always the one.
    for (auto it = files_.rbegin(); it != files_.rend(); ++it)
        if (**it == path) return it->get();
    files_.push_back(std::make_unique<const std::string>(path));
    return files_.back().get();
}

void InstanceMap::append(std::string_view name, const Row& row) {
    const std::string_view texts[InstanceRecord::kTexts] = {row.Method,     row.DCCategory, row.DCSelector,
                                                            row.TimeSet,    row.ACCategory, row.ACSelector,
                                                            row.PinLevel,   row.Pattern};
    const std::size_t slots = InstanceRecord::kTexts + row.ArgDetails.size();
    std::size_t chars = 0;
    for (std::string_view t : texts) chars += t.size();
    for (std::string_view t : row.ArgDetails) chars += t.size();
    if (chars > UINT32_MAX) throw Error("test instance '" + std::string(name) + "' has a row too long to keep");

    // The record's block: where each text ends, then the texts one after the other.
    char* block = allocate(slots * sizeof(std::uint32_t) + chars);
    auto* ends = reinterpret_cast<std::uint32_t*>(block);
    char* out = block + slots * sizeof(std::uint32_t);
    std::uint32_t at = 0;
    std::size_t slot = 0;
    auto put = [&](std::string_view t) {
        if (!t.empty()) std::memcpy(out + at, t.data(), t.size());
        at += static_cast<std::uint32_t>(t.size());
        ends[slot++] = at;
    };
    for (std::string_view t : texts) put(t);
    for (std::string_view t : row.ArgDetails) put(t);

    InstanceRecord rec;
    rec.ends_ = ends;
    rec.args_ = static_cast<std::uint32_t>(row.ArgDetails.size());
    rec.file_ = file_of(row.file);
    rec.line_ = row.line;
    if (!row.ArgList.empty()) {
        // Most rows of a sheet share a handful of argument lists: each is kept once.
        auto known = arg_lists_.find(row.ArgList);
        if (known == arg_lists_.end())
            known = arg_lists_.insert(std::string_view(keep(row.ArgList), row.ArgList.size())).first;
        rec.arg_list_ = known->data();
        rec.arg_list_size_ = static_cast<std::uint32_t>(known->size());
    }

    auto it = index_.find(name);
    if (it == index_.end()) it = index_.emplace(std::string_view(keep(name), name.size()), Range{}).first;
    records_.push_back(rec);
    owner_.push_back(static_cast<std::uint32_t>(it - index_.begin()));
    Range& range = it.value();
    const auto place = static_cast<std::uint32_t>(records_.size() - 1);
    if (range.count == 0) range.first = place;
    else if (range.first + range.count != place) grouped_ = false;
    ++range.count;
}

void InstanceMap::regroup() {
    if (grouped_) return;
    // Each name's records in row order, names in map order: a stable counting sort.
    std::vector<std::uint32_t> next(index_.size());
    std::uint32_t at = 0;
    std::size_t k = 0;
    for (auto it = index_.begin(); it != index_.end(); ++it, ++k) {
        it.value().first = at;
        next[k] = at;
        at += it->second.count;
    }
    std::vector<InstanceRecord> records(records_.size());
    std::vector<std::uint32_t> owners(owner_.size());
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const std::uint32_t slot = next[owner_[i]]++;
        records[slot] = records_[i];
        owners[slot] = owner_[i];
    }
    records_ = std::move(records);
    owner_ = std::move(owners);
    grouped_ = true;
}

void InstanceMap::add(std::string_view name, const Row& row) {
    append(name, row);
    regroup();
}

// ---- the reader ---------------------------------------------------------------------------

namespace {

// The fields of a row the record keeps; pattern is the row's pattern text.
InstanceMap::Row row_of(const std::vector<std::string_view>& f, std::string_view pattern, Platform platform) {
    using namespace instance_columns;
    const PlatformLayout& layout = layout_of(platform);
    InstanceMap::Row r;
    r.Method = field(f, kMethod);
    r.DCCategory = field(f, kDCCategory);
    r.DCSelector = field(f, kDCSelector);
    r.TimeSet = field(f, kTimeSet);
    r.ACCategory = field(f, kACCategory);
    r.ACSelector = field(f, kACSelector);
    r.PinLevel = field(f, kPinLevel);
    r.Pattern = pattern;
    const size_t first = layout.instance_first_arg;
    size_t last = first;
    if (layout.instance_arg_list == kNoColumn) {
        // No argument-list column (J750): the arguments run up to the last one filled in.
        last = std::min(f.size(), layout.instance_width);
        while (last > first && util::strip(f[last - 1]).empty()) --last;
    } else {
        r.ArgList = field(f, layout.instance_arg_list);
        // One detail per argument name; an empty list still names one.
        size_t args = 1 + static_cast<size_t>(std::count(r.ArgList.begin(), r.ArgList.end(), ','));
        last = std::min(first + args, f.size());
    }
    if (last > first) r.ArgDetails = std::span<const std::string_view>(f.data() + first, last - first);
    return r;
}

}  // namespace

void Delmora::read_test_instance(const std::string& test_instance_path,
                                 const PatternSetMap& pattern_set_dict,
                                 Platform platform) {
    const PlatformLayout& layout = layout_of(platform);
    const bool patx = layout.pattern_set_patx;
    // UltraFLEX sheets carry more argument columns than J750 sheets.
    const size_t width = layout.instance_width;
    const size_t first_set_arg =
        layout.instance_arg_list == kNoColumn ? layout.instance_first_arg : layout.instance_arg_list;

    // A field of another length than every set name cannot name a set: no need to look it up.
    size_t shortest_set = std::string::npos, longest_set = 0;
    for (const auto& [set, patterns] : pattern_set_dict) {
        shortest_set = std::min(shortest_set, set.size());
        longest_set = std::max(longest_set, set.size());
    }

    const std::string path = util::resolve_sheet_path(test_instance_path);
    util::LineReader reader(path);
    InstanceMap& map = test_instance_dict;
    std::vector<std::string_view> fields;
    std::string key, pattern;
    std::string_view line;
    size_t index = 0;
    auto read_rows = [&] {
        while (reader.next(line)) {
            if (index++ < kTableHeaderRows) continue;  // title and header rows
            util::split_into(line, '\t', fields);
            const std::string_view name = field(fields, instance_columns::kName);
            if (name.empty()) break;  // the list ends at its first row without a name

            pattern.clear();
            if (!pattern_set_dict.empty()) {
                // Every argument in columns O to T (J750: N to S) that names a set adds the set's
                // patterns, once per column that names it.
                bool named = false;
                for (size_t i = first_set_arg; i < first_set_arg + instance_columns::kPatternSetArgColumns; ++i) {
                    const std::string_view arg = field(fields, i);
                    if (arg.size() < shortest_set || arg.size() > longest_set) continue;
                    util::to_upper_into(arg, key);
                    auto it = pattern_set_dict.find(key);
                    if (it == pattern_set_dict.end()) continue;
                    if (named) pattern.push_back(',');
                    named = true;
                    for (size_t j = 0; j < it->second.size(); ++j) {
                        if (j) pattern.push_back(',');
                        pattern += it->second[j];
                    }
                }
            }
            // Without a set's patterns the search runs over the row itself: its first `width`
            // fields are the line's start.
            if (pattern.empty()) detail::join_pattern_names(line, fields, width, patx, pattern);

            InstanceMap::Row row = row_of(fields, pattern, platform);
            row.file = path;
            row.line = static_cast<unsigned>(reader.line_number());
            util::to_upper_into(name, key);
            map.append(key, row);
        }
    };
    // Rows of one name standing apart are brought together once the sheet is read (also when
    // it fails part-way: the rows read so far stay).
    try {
        read_rows();
    } catch (...) {
        map.regroup();
        throw;
    }
    map.regroup();
    // Held for the whole run: the room the lists doubled into is given back.
    map.records_.shrink_to_fit();
    map.owner_.shrink_to_fit();
}

}  // namespace igxl
