#define PCRE2_CODE_UNIT_WIDTH 8
#include "util/regex.h"

#include <pcre2.h>

#include "util/error.h"

namespace igxl::util {

namespace {
pcre2_code* compile(const std::string& pattern, uint32_t flags, uint32_t extra) {
    uint32_t opts = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | extra;
    if (!(flags & Regex::ASCII)) opts |= PCRE2_UCP;
    if (flags & Regex::ICASE) opts |= PCRE2_CASELESS;
    if (flags & Regex::MULTILINE) opts |= PCRE2_MULTILINE;
    if (flags & Regex::DOTALL) opts |= PCRE2_DOTALL;
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     opts, &err, &off, nullptr);
    if (!code) {
        PCRE2_UCHAR msg[256];
        pcre2_get_error_message(err, msg, sizeof msg);
        throw Error("bad regular expression '" + pattern + "' at offset " + std::to_string(off) +
                    ": " + reinterpret_cast<char*>(msg));
    }
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);  // falls back to the interpreter if JIT is absent
    return code;
}
}  // namespace

Match::Match() = default;
Match::~Match() {
    if (md_) pcre2_match_data_free(static_cast<pcre2_match_data*>(md_));
}
Match::Match(Match&& o) noexcept
    : ok_(o.ok_), subject_(o.subject_), ranges_(std::move(o.ranges_)), re_(o.re_), md_(o.md_),
      md_pairs_(o.md_pairs_) {
    o.md_ = nullptr;
    o.md_pairs_ = 0;
}
Match& Match::operator=(Match&& o) noexcept {
    if (this != &o) {
        if (md_) pcre2_match_data_free(static_cast<pcre2_match_data*>(md_));
        ok_ = o.ok_;
        subject_ = o.subject_;
        ranges_ = std::move(o.ranges_);
        re_ = o.re_;
        md_ = o.md_;
        md_pairs_ = o.md_pairs_;
        o.md_ = nullptr;
        o.md_pairs_ = 0;
    }
    return *this;
}

std::string_view Match::group(size_t i) const {
    if (!matched(i)) return {};
    return subject_.substr(ranges_[i].first, ranges_[i].second - ranges_[i].first);
}
std::string_view Match::group(std::string_view name) const {
    int i = re_ ? re_->group_index(name) : -1;
    if (i < 0) throw Error("no group named '" + std::string(name) + "'");
    return group(static_cast<size_t>(i));
}
bool Match::matched(std::string_view name) const {
    int i = re_ ? re_->group_index(name) : -1;
    return i >= 0 && matched(static_cast<size_t>(i));
}

Regex::Regex(std::string_view pattern, uint32_t flags) : pattern_(pattern) {
    code_ = compile(pattern_, flags, 0);
    code_anchored_ = compile(pattern_, flags, PCRE2_ANCHORED);
    code_full_ = compile("(?:" + pattern_ + ")\\z", flags, PCRE2_ANCHORED);
    pcre2_pattern_info(static_cast<pcre2_code*>(code_), PCRE2_INFO_CAPTURECOUNT, &groups_);
}
Regex::~Regex() {
    pcre2_code_free(static_cast<pcre2_code*>(code_));
    pcre2_code_free(static_cast<pcre2_code*>(code_anchored_));
    pcre2_code_free(static_cast<pcre2_code*>(code_full_));
}
Regex::Regex(Regex&& o) noexcept
    : pattern_(std::move(o.pattern_)), code_(o.code_), code_anchored_(o.code_anchored_),
      code_full_(o.code_full_), groups_(o.groups_) {
    o.code_ = o.code_anchored_ = o.code_full_ = nullptr;
}
Regex& Regex::operator=(Regex&& o) noexcept {
    if (this != &o) {
        this->~Regex();
        new (this) Regex(std::move(o));
    }
    return *this;
}

int Regex::group_index(std::string_view name) const {
    int n = pcre2_substring_number_from_name(static_cast<pcre2_code*>(code_),
                                             reinterpret_cast<PCRE2_SPTR>(std::string(name).c_str()));
    return n < 0 ? -1 : n;
}

bool Regex::run(std::string_view s, size_t pos, Match& m, int mode) const {
    auto* code = static_cast<pcre2_code*>(mode == 0 ? code_ : mode == 1 ? code_anchored_ : code_full_);
    uint32_t pairs = groups_ + 1;
    if (!m.md_ || m.md_pairs_ < pairs) {
        if (m.md_) pcre2_match_data_free(static_cast<pcre2_match_data*>(m.md_));
        m.md_ = pcre2_match_data_create(pairs, nullptr);
        m.md_pairs_ = pairs;
    }
    auto* md = static_cast<pcre2_match_data*>(m.md_);
    m.re_ = this;
    m.subject_ = s;
    m.ranges_.clear();
    int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), pos, 0, md, nullptr);
    if (rc < 0) {
        m.ok_ = false;
        if (rc != PCRE2_ERROR_NOMATCH && rc != PCRE2_ERROR_PARTIAL) {
            PCRE2_UCHAR msg[256];
            pcre2_get_error_message(rc, msg, sizeof msg);
            throw Error("regular expression '" + pattern_ + "' failed: " + reinterpret_cast<char*>(msg));
        }
        return false;
    }
    PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
    m.ranges_.resize(pairs);
    for (uint32_t i = 0; i < pairs; ++i) {
        if (static_cast<int>(i) < rc && ov[2 * i] != PCRE2_UNSET)
            m.ranges_[i] = {ov[2 * i], ov[2 * i + 1]};
        else
            m.ranges_[i] = {Match::npos, Match::npos};
    }
    m.ok_ = true;
    return true;
}

bool Regex::search(std::string_view s, Match& m, size_t pos) const { return run(s, pos, m, 0); }
bool Regex::search(std::string_view s, size_t pos) const {
    thread_local Match m;
    return run(s, pos, m, 0);
}
bool Regex::match(std::string_view s, Match& m, size_t pos) const { return run(s, pos, m, 1); }
bool Regex::match(std::string_view s, size_t pos) const {
    thread_local Match m;
    return run(s, pos, m, 1);
}
bool Regex::full_match(std::string_view s, Match& m) const { return run(s, 0, m, 2); }
bool Regex::full_match(std::string_view s) const {
    thread_local Match m;
    return run(s, 0, m, 2);
}

namespace {
// Next search position after a match, stepping over an empty match by one character.
size_t advance(std::string_view s, size_t start, size_t end) {
    if (end > start) return end;
    size_t p = end + 1;
    while (p < s.size() && (static_cast<unsigned char>(s[p]) & 0xC0) == 0x80) ++p;
    return p;
}
}  // namespace

std::vector<std::string> Regex::find_all(std::string_view s) const {
    std::vector<std::string> out;
    Match m;
    size_t pos = 0;
    size_t want = groups_ >= 1 ? 1 : 0;
    while (pos <= s.size() && run(s, pos, m, 0)) {
        out.emplace_back(m.group(want));
        pos = advance(s, m.start(), m.end());
    }
    return out;
}

std::vector<std::string> Regex::split(std::string_view s) const {
    std::vector<std::string> out;
    Match m;
    size_t pos = 0, last = 0;
    while (pos <= s.size() && run(s, pos, m, 0)) {
        if (m.end() == m.start() && m.start() == last && last != 0) {
            pos = advance(s, m.start(), m.end());
            continue;
        }
        out.emplace_back(s.substr(last, m.start() - last));
        last = m.end();
        pos = advance(s, m.start(), m.end());
    }
    out.emplace_back(s.substr(last));
    return out;
}

std::string Regex::replace_all(std::string_view s, std::string_view replacement) const {
    auto* code = static_cast<pcre2_code*>(code_);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    PCRE2_SIZE cap = s.size() + replacement.size() * 4 + 64;
    std::string out;
    for (int tries = 0; tries < 8; ++tries) {
        out.resize(cap);
        PCRE2_SIZE len = cap;
        int rc = pcre2_substitute(code, reinterpret_cast<PCRE2_SPTR>(s.data()), s.size(), 0,
                                  PCRE2_SUBSTITUTE_GLOBAL | PCRE2_SUBSTITUTE_OVERFLOW_LENGTH, md,
                                  nullptr, reinterpret_cast<PCRE2_SPTR>(replacement.data()),
                                  replacement.size(), reinterpret_cast<PCRE2_UCHAR*>(out.data()), &len);
        if (rc >= 0) {
            out.resize(len);
            pcre2_match_data_free(md);
            return out;
        }
        if (rc == PCRE2_ERROR_NOMEMORY) {
            cap = len + 1;
            continue;
        }
        pcre2_match_data_free(md);
        PCRE2_UCHAR msg[256];
        pcre2_get_error_message(rc, msg, sizeof msg);
        throw Error("regular expression replace '" + pattern_ + "' failed: " + reinterpret_cast<char*>(msg));
    }
    pcre2_match_data_free(md);
    throw Error("regular expression replace '" + pattern_ + "' failed");
}

}  // namespace igxl::util
