#include "vbt/statements.h"

namespace igxl::vbt::detail {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view lstrip_blanks(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && is_blank(s[i])) ++i;
    return s.substr(i);
}

std::string_view rstrip_blanks(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && is_blank(s[n - 1])) --n;
    return s.substr(0, n);
}

// " _" at the end of a physical line (blanks after it allowed) continues the logical line; so
// does a line holding only "_". An identifier ending in "_" does not.
bool ends_with_continuation(std::string_view raw) {
    std::string_view r = rstrip_blanks(raw);
    if (r.empty() || r.back() != '_') return false;
    return r.size() == 1 || is_blank(r[r.size() - 2]);
}

// Where the comment of a physical line begins ("'" or a Rem statement outside string literals),
// or raw.size(). at_start: only blanks since the start of the current statement; carried over
// continued lines.
size_t comment_start(std::string_view raw, bool& at_start) {
    bool in_string = false;
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (in_string) {
            if (c == '"') in_string = false;  // "" inside a literal toggles twice
            continue;
        }
        if (c == '"') {
            in_string = true;
            at_start = false;
        } else if (c == '\'') {
            return i;
        } else if (c == ':' && (i + 1 >= raw.size() || raw[i + 1] != '=')) {
            at_start = true;
        } else if (is_blank(c)) {
            continue;
        } else {
            if (at_start && (c == 'R' || c == 'r') && word_is(leading_word(raw.substr(i)), "Rem")) return i;
            at_start = false;
        }
    }
    return raw.size();
}

// A date literal such as #12:30:00 AM# holds colons that separate nothing; its end, or npos.
size_t date_literal_end(std::string_view s, size_t hash) {
    if (hash + 1 >= s.size() || !is_digit(s[hash + 1])) return std::string_view::npos;
    for (size_t i = hash + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '#') return i;
        if (!(is_digit(c) || is_letter(c) || c == '/' || c == ':' || c == '.' || c == '-' || c == ',' || is_blank(c)))
            return std::string_view::npos;
    }
    return std::string_view::npos;
}

// The ":" that ends the statement starting at pos (not ":=" of a named argument), or s.size().
size_t statement_end(std::string_view s, size_t pos) {
    for (size_t i = pos; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos) return s.size();
            i = close;  // "" resumes the literal on the next turn
        } else if (c == '#') {
            const size_t end = date_literal_end(s, i);
            if (end != std::string_view::npos) i = end;
        } else if (c == ':' && (i + 1 >= s.size() || s[i + 1] != '=')) {
            return i;
        }
    }
    return s.size();
}

}  // namespace

bool StatementReader::read_logical_line() {
    logical_.clear();
    pos_ = 0;
    if (index_ >= lines_.size()) return false;
    first_ = static_cast<int>(index_) + 1;
    bool at_start = true;
    bool comment = false;  // the rest of the logical line is a comment, continued lines included
    while (index_ < lines_.size()) {
        std::string_view raw = lines_[index_++];
        if (index_ == 1 && raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);  // a byte order mark
        while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
        const bool continued = ends_with_continuation(raw);
        if (!comment) {
            const size_t cut = comment_start(raw, at_start);
            comment = cut < raw.size();
            std::string_view code = raw.substr(0, cut);
            if (continued && !comment) {
                code = rstrip_blanks(code);
                code.remove_suffix(1);  // the "_"
            }
            logical_ += code;
        }
        if (!continued) break;
        if (!comment) logical_ += ' ';
    }
    last_ = static_cast<int>(index_);
    // A line number before the first statement ("10 Dim x As Long") is not part of it.
    size_t i = 0;
    while (i < logical_.size() && is_blank(logical_[i])) ++i;
    const size_t digits = i;
    while (i < logical_.size() && is_digit(logical_[i])) ++i;
    if (i > digits && i < logical_.size() && is_blank(logical_[i])) pos_ = i;
    return true;
}

// Most lines are one statement without comment or continuation: such a line is its own statement,
// read in one pass over it and taken as a view instead of being copied into the logical line.
bool StatementReader::read_whole_line(Statement& out) {
    std::string_view raw = lines_[index_];
    if (index_ == 0 && raw.substr(0, 3) == "\xEF\xBB\xBF") return false;  // a byte order mark
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) raw.remove_suffix(1);
    size_t i = 0;
    while (i < raw.size() && is_blank(raw[i])) ++i;
    if (i < raw.size()) {
        const char c = raw[i];
        if (is_digit(c)) return false;  // perhaps a line number
        if ((c == 'R' || c == 'r') && word_is(leading_word(raw.substr(i)), "Rem")) return false;
    }
    bool in_string = false;
    for (; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            in_string = !in_string;
        } else if (!in_string && (c == '\'' || (c == ':' && (i + 1 >= raw.size() || raw[i + 1] != '=')))) {
            return false;
        }
    }
    if (ends_with_continuation(raw)) return false;
    ++index_;
    out.code = strip(raw);
    out.line = out.last_line = static_cast<int>(index_);
    out.whole_line = true;
    return true;
}

bool StatementReader::next(Statement& out) {
    while (true) {
        if (pos_ >= logical_.size()) {
            if (index_ >= lines_.size()) return false;
            if (read_whole_line(out)) {
                if (out.code.empty()) continue;
                return true;
            }
            read_logical_line();
        }
        const size_t end = statement_end(logical_, pos_);
        const std::string_view code = strip(std::string_view(logical_).substr(pos_, end - pos_));
        pos_ = end + 1;
        if (code.empty()) continue;
        out.code = code;
        out.line = first_;
        out.last_line = last_;
        out.whole_line = false;
        return true;
    }
}

std::string_view leading_word(std::string_view s) {
    if (s.empty() || !(is_letter(s[0]) || s[0] == '_')) return {};
    size_t n = 1;
    while (n < s.size() && is_ascii_word(static_cast<unsigned char>(s[n]))) ++n;
    return s.substr(0, n);
}

bool word_is(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        char a = word[i], b = keyword[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
        if (a != b) return false;
    }
    return true;
}

std::string_view after_word(std::string_view s, std::string_view word) { return lstrip_blanks(s.substr(word.size())); }

size_t closing_bracket(std::string_view s, size_t open) {
    int depth = 0;
    for (size_t i = open; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos) return std::string_view::npos;
            i = close;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && --depth == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

std::vector<std::string_view> split_top_level(std::string_view s) {
    std::vector<std::string_view> out;
    auto keep = [&](std::string_view piece) {
        piece = strip(piece);
        if (!piece.empty()) out.push_back(piece);
    };
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            const size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos) break;
            i = close;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == ',' && depth <= 0) {
            keep(s.substr(start, i - start));
            start = i + 1;
        }
    }
    keep(s.substr(start));
    return out;
}

namespace {
// The keyword must be followed by a blank: "Sub" alone or "Dim=1" introduce nothing.
std::optional<std::string_view> after_keyword(std::string_view s, std::string_view word) {
    if (s.size() <= word.size() || !is_blank(s[word.size()])) return std::nullopt;
    return after_word(s, word);
}
}  // namespace

std::optional<ProcedureHeader> read_procedure_header(std::string_view s) {
    std::string_view w = leading_word(s);
    if (word_is(w, "Public") || word_is(w, "Private") || word_is(w, "Friend")) {
        auto rest = after_keyword(s, w);
        if (!rest) return std::nullopt;
        s = *rest;
        w = leading_word(s);
    }
    if (word_is(w, "Static")) {
        auto rest = after_keyword(s, w);
        if (!rest) return std::nullopt;
        s = *rest;
        w = leading_word(s);
    }
    std::optional<std::string_view> rest;
    if (word_is(w, "Sub") || word_is(w, "Function")) {
        rest = after_keyword(s, w);
    } else if (word_is(w, "Property")) {
        auto accessor = after_keyword(s, w);
        if (!accessor) return std::nullopt;
        std::string_view a = leading_word(*accessor);
        if (!word_is(a, "Get") && !word_is(a, "Let") && !word_is(a, "Set")) return std::nullopt;
        rest = after_keyword(*accessor, a);
    }
    if (!rest) return std::nullopt;
    ProcedureHeader header;
    header.name = leading_word(*rest);
    if (header.name.empty()) return header;
    std::string_view tail = rest->substr(header.name.size());
    if (!tail.empty() && std::string_view("%&!#@$^").find(tail[0]) != std::string_view::npos) tail.remove_prefix(1);
    tail = lstrip_blanks(tail);
    if (!tail.empty() && tail[0] == '(') {
        const size_t close = closing_bracket(tail, 0);
        header.params = close == std::string_view::npos ? tail.substr(1) : tail.substr(1, close - 1);
    }
    return header;
}

bool is_procedure_end(std::string_view s) {
    std::string_view w = leading_word(s);
    if (!word_is(w, "End")) return false;
    auto rest = after_keyword(s, w);
    if (!rest) return false;
    std::string_view what = leading_word(*rest);
    return word_is(what, "Sub") || word_is(what, "Function") || word_is(what, "Property");
}

std::optional<DeclarationStatement> read_declaration(std::string_view s) {
    DeclarationStatement out;
    out.keyword = leading_word(s);
    const std::string_view w = out.keyword;
    auto rest = after_keyword(s, w);
    if (!rest || rest->empty()) return std::nullopt;
    std::string_view list = *rest;
    const std::string_view next = leading_word(list);
    if (word_is(w, "Public") || word_is(w, "Private") || word_is(w, "Global")) {
        if (word_is(next, "Const")) {
            auto items = after_keyword(list, next);
            if (!items) return std::nullopt;
            out.is_const = true;
            list = *items;
        } else {
            for (std::string_view other : {"Sub", "Function", "Property", "Declare", "Type", "Enum", "Event", "Static",
                                           "Friend", "Implements"})
                if (word_is(next, other)) return std::nullopt;
        }
    } else if (word_is(w, "Dim") || word_is(w, "Static")) {
        for (std::string_view other : {"Sub", "Function", "Property"})
            if (word_is(next, other)) return std::nullopt;
    } else if (word_is(w, "Const")) {
        out.is_const = true;
    } else {
        return std::nullopt;
    }
    out.list = list;
    return out;
}

StatementTests test_statement(std::string_view s) {
    StatementTests out;
    if (s.empty()) return out;
    // Every keyword these readers know begins with one of a few letters; most statements begin
    // with another and are passed over without reading their words.
    const char first = static_cast<char>(s[0] >= 'A' && s[0] <= 'Z' ? s[0] + 32 : s[0]);
    if (first == 'p' || first == 'f' || first == 's') out.header = read_procedure_header(s);
    if (out.header) return out;
    if (first == 'e')
        out.procedure_end = is_procedure_end(s);
    else if (first == 'p' || first == 'g' || first == 'd' || first == 'c' || first == 's')
        out.declaration = read_declaration(s);
    return out;
}

std::optional<DeclaredName> read_declared_name(std::string_view item) {
    std::string_view s = strip(item);
    if (word_is(leading_word(s), "WithEvents")) s = after_word(s, leading_word(s));
    DeclaredName out;
    out.name = leading_word(s);
    if (out.name.empty()) return std::nullopt;
    std::string_view rest = s.substr(out.name.size());
    if (!rest.empty()) {
        static constexpr std::pair<char, const char*> type_characters[] = {
            {'%', "Integer"}, {'&', "Long"}, {'!', "Single"}, {'#', "Double"},
            {'$', "String"},  {'@', "Currency"}, {'^', "LongLong"},
        };
        for (const auto& [c, type] : type_characters)
            if (rest[0] == c) {
                out.type = type;
                rest.remove_prefix(1);
                break;
            }
    }
    rest = lstrip_blanks(rest);
    if (!rest.empty() && rest[0] == '(') {
        out.is_array = true;
        const size_t close = closing_bracket(rest, 0);
        rest = close == std::string_view::npos ? std::string_view() : lstrip_blanks(rest.substr(close + 1));
    }
    if (word_is(leading_word(rest), "As")) {
        auto type = after_keyword(rest, leading_word(rest));
        if (type && word_is(leading_word(*type), "New")) type = after_keyword(*type, leading_word(*type));
        if (type) {
            // A qualified type (Excel.Range) is one name; "String * 8" is a String.
            size_t n = leading_word(*type).size();
            while (n > 0 && n + 1 < type->size() && (*type)[n] == '.' && !leading_word(type->substr(n + 1)).empty())
                n += 1 + leading_word(type->substr(n + 1)).size();
            if (n > 0) out.type = std::string(type->substr(0, n));
        }
    }
    return out;
}

}  // namespace igxl::vbt::detail
