// The reference scan: variable use counts and Type/Enum name counts in one pass over the lines. Each
// line is classified once (when the parser reads its module) and split once into its word runs,
// and every run is looked up once in a hash table that holds both kinds of names. Only counts are
// kept: a large program has about one use per line, and the report needs no more; the uses of a
// name are found again when asked for.
#include <array>
#include <utility>

#include "util/regex.h"
#include "vbt/keywords.h"
#include "vbt/parser.h"
#include "vbt/statements.h"
#include "vbt/word_table.h"

namespace igxl::vbt {

// A large program has about one reference per line; keep them small.
static_assert(sizeof(VariableReference) <= 24);

using util::Match;
using util::Regex;

namespace {

// A definition header line ("Public Type X", "Enum Y", ...) names a definition without using it.
bool is_definition_header(std::string_view line) {
    // Only a line whose first word begins with one of the keywords can be one; most lines are
    // passed over without the regular expression. A line beginning with a non-ASCII character
    // (a Unicode space, perhaps) is left to it.
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || (line[i] >= '\t' && line[i] <= '\r'))) ++i;
    if (i < line.size() && static_cast<unsigned char>(line[i]) < 0x80) {
        char word[8];
        size_t n = 0;
        for (; n < sizeof word && i + n < line.size(); ++n) {
            const char c = line[i + n];
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) break;
            word[n] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        }
        const std::string_view w(word, n);
        if (!w.starts_with("public") && !w.starts_with("private") && !w.starts_with("type") && !w.starts_with("enum"))
            return false;
    }
    static const Regex header("^\\s*(Public|Private)?\\s*(Type|Enum)\\s+", Regex::ICASE);
    return header.match(line);
}

// A declaration continued with " _" goes on over the next line (a trailing comment after the "_"
// is not possible, so the test looks at the end of the line).
bool ends_with_continuation(std::string_view l) {
    return l.size() >= 2 && l.back() == '_' && (l[l.size() - 2] == ' ' || l[l.size() - 2] == '\t');
}

// Regular-expression text that matches the name literally.
std::string escape(std::string_view name) {
    std::string out;
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !detail::is_ascii_word(u)) out += '\\';
        out += c;
    }
    return out;
}

bool all_word_characters(std::string_view name) {
    if (name.empty()) return false;
    bool whole = true;
    size_t runs = 0;
    detail::for_each_word_run(name, [&](std::string_view run, bool) {
        ++runs;
        if (run.size() != name.size()) whole = false;
    });
    return whole && runs == 1;
}

}  // namespace

// How the reference scan sees a line: the variable scan reads it or not, and the procedure it
// stands in. Procedure headers, End Sub/Function/Property lines, declarations (with the lines they
// continue on) and Type/Enum headers are not read by the variable scan. Each physical line is
// judged on its own, as the scan reads it, whatever statements it holds.
detail::LineClassBuilder::LineClassBuilder(const SourceLines& lines) : lines_(lines) {
    classes_.text = &lines.text();
    classes_.kinds.reserve(lines.size());
}

void detail::LineClassBuilder::next(const StatementTests* tests, std::string_view stripped) {
    const std::string_view line = lines_[classes_.kinds.size()];
    const std::string_view l = tests ? stripped : strip(line);
    uint8_t kind = 0;
    if (continues_declaration_) {
        continues_declaration_ = ends_with_continuation(l);
    } else {
        StatementTests made;
        if (!tests) {
            made = test_statement(l);
            tests = &made;
        }
        if (tests->header) {
            const std::string_view name = tests->header->name;
            current_ = name.empty() ? std::string_view("unknown") : name;  // as the parser names it
            in_procedure_ = true;
            kind |= LineClasses::ENTERS_PROCEDURE;
            classes_.procedures.push_back(current_);
        } else if (tests->procedure_end) {
            in_procedure_ = false;
        } else if (tests->declaration) {
            continues_declaration_ = ends_with_continuation(l);
        } else if (!l.starts_with("Type ") && !l.starts_with("Enum ")) {
            kind |= LineClasses::SCANNED;
        }
    }
    if (in_procedure_) kind |= LineClasses::IN_PROCEDURE;
    if (is_definition_header(line)) kind |= LineClasses::DEFINITION_HEADER;
    classes_.kinds.push_back(kind);
}

detail::LineClasses detail::classify_lines(const SourceLines& lines) {
    LineClassBuilder builder(lines);
    for (size_t i = 0; i < lines.size(); ++i) builder.next();
    return builder.take();
}

void VBAParser::collect_variable_references() {
    info("vbt.collecting-references", "正在收集变量引用信息...");
    // One table for every word the scan looks up: variable names and Type/Enum names.
    struct Entry {
        bool variable = false;  // false: a keyword or procedure name, never a reference
        ReferenceCount* count = nullptr;  // filled on first use
        uint32_t last_procedure = VariableReference::NO_PROCEDURE;  // whose uses by_procedure.back() holds
        uint32_t last_file = UINT32_MAX;
        size_t definition = 0;  // 1 + index into definitions; 0: not a Type/Enum name
    };
    detail::WordTable<Entry> words;
    auto add_variable = [&](const VariableInfo& v) {
        words[v.original_name].variable = true;
        words[v.name].variable = true;
    };
    for (const auto& v : global_variables) add_variable(v);
    for (const auto& [path, list] : module_variables)
        for (const auto& v : list) add_variable(v);
    for (const auto& [key, list] : local_variables)
        for (const auto& v : list) add_variable(v);
    // Keywords and procedure names are never references, even when a variable bears the name.
    for (std::string_view k : VBA_KEYWORDS) {
        if (Entry* e = words.find(k)) e->variable = false;
    }
    for (const auto& [key, f] : functions) {
        if (Entry* e = words.find(f.name)) e->variable = false;
        if (Entry* e = words.find(f.original_name)) e->variable = false;
    }

    struct Definition {
        TypeInfo* record;
        size_t last_line = 0;  // the scan's running line id that counted last
        std::string_view last_path;
    };
    std::vector<Definition> definitions;
    std::vector<std::string_view> definition_names;
    auto add_definition = [&](const std::string& name, TypeInfo& record) {
        size_t& slot = words[name].definition;
        if (slot == 0) {
            definitions.push_back(Definition{&record, 0, {}});
            definition_names.push_back(name);
            slot = definitions.size();
        } else {
            definitions[slot - 1].record = &record;  // a later definition of the name takes the counts
        }
    };
    for (auto it = types.begin(); it != types.end(); ++it) {
        add_definition(it.value().name, it.value());
        add_definition(it.value().original_name, it.value());
    }
    for (auto it = enums.begin(); it != enums.end(); ++it) {
        add_definition(it.value().name, it.value());
        add_definition(it.value().original_name, it.value());
    }
    // A name that is not one run of word characters cannot be found by the run lookup; such
    // names (none come from the parser itself) keep the regular-expression search.
    std::vector<std::pair<size_t, Regex>> odd;
    for (size_t i = 0; i < definition_names.size(); ++i)
        if (!all_word_characters(definition_names[i]))
            odd.emplace_back(i, Regex("\\b" + escape(definition_names[i]) + "\\b"));
    auto count_definition = [](Definition& d, size_t line_id, std::string_view path) {
        if (d.last_line == line_id) return;  // once per line and name
        d.last_line = line_id;
        ++d.record->reference_count;
        if (d.last_path.data() != path.data() || d.last_path.size() != path.size()) {
            d.record->referenced_files.emplace(path);
            d.last_path = path;
        }
    };

    if (!tables_) tables_ = std::make_shared<detail::ReferenceTables>();
    variable_references.clear();  // made again on request from every scan
    size_t line_id = 0;
    for (const auto& [path, lines] : files) {
        const auto file = static_cast<uint32_t>(tables_->files.size());
        tables_->files.push_back({path, lines.shared_text()});
        scanned_.push_back({file, static_cast<uint32_t>(tables_->procedures.size())});
        const std::string_view file_path = path;
        // The parser classified the lines as it read the module; a module put in files another
        // way, or replaced since, is classified here.
        detail::LineClasses made;
        const detail::LineClasses* classes = &made;
        if (auto found = line_classes_.find(path); found != line_classes_.end() && found->second.text == &lines.text())
            classes = &found->second;
        else
            made = detail::classify_lines(lines);
        size_t next_procedure = 0;
        uint32_t procedure = VariableReference::NO_PROCEDURE;
        for (size_t i = 0; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            const uint8_t kind = classes->kinds[i];
            ++line_id;
            const bool scanned = kind & detail::LineClasses::SCANNED;
            if (kind & detail::LineClasses::ENTERS_PROCEDURE) {
                procedure = static_cast<uint32_t>(tables_->procedures.size());
                tables_->procedures.push_back(classes->procedures[next_procedure++]);
            } else if (!(kind & detail::LineClasses::IN_PROCEDURE)) {
                procedure = VariableReference::NO_PROCEDURE;
            }
            const bool counts_definitions = !definitions.empty() && !(kind & detail::LineClasses::DEFINITION_HEADER);
            if (!scanned && !counts_definitions) continue;
            detail::for_each_word_run(line, [&](std::string_view word, bool identifier) {
                Entry* e = words.find(word);
                if (!e) return;
                if (counts_definitions && e->definition) count_definition(definitions[e->definition - 1], line_id, file_path);
                if (!scanned || !identifier || !e->variable) return;
                if (!e->count) {
                    auto found = reference_counts.find(word);
                    if (found == reference_counts.end()) found = reference_counts.try_emplace(std::string(word)).first;
                    e->count = &found.value();  // values stay in place as the map grows
                }
                ReferenceCount& c = *e->count;
                ++c.total;
                if (e->last_file != file) {
                    e->last_file = file;
                    ++c.files;
                }
                if (procedure == VariableReference::NO_PROCEDURE) return;
                if (e->last_procedure != procedure || c.by_procedure.empty()) {
                    e->last_procedure = procedure;
                    c.by_procedure.push_back({procedure, 0});
                }
                ++c.by_procedure.back().uses;
            });
            if (counts_definitions)
                for (auto& [index, re] : odd)
                    if (re.search(line)) count_definition(definitions[index], line_id, file_path);
        }
    }
    line_classes_.clear();  // used up; the uses of a name are found again from the text
    // The per-procedure lists grew one entry at a time; a large program has some half a million
    // of them, and the room left over by their growth would be held to the end of the run.
    for (auto it = reference_counts.begin(); it != reference_counts.end(); ++it) it.value().by_procedure.shrink_to_fit();
    info("vbt.references-collected", "收集到 " + std::to_string(reference_counts.size()) + " 个变量的引用信息");
}

void VBAParser::make_references(std::string_view name, std::vector<VariableReference>& out) const {
    for (const ScannedFile& scanned : scanned_) {
        const SourceLines lines{std::string(*tables_->files[scanned.file].text)};
        const char* text = lines.text().data();
        const detail::LineClasses classes = detail::classify_lines(lines);
        uint32_t procedure = VariableReference::NO_PROCEDURE;
        uint32_t next_procedure = scanned.first_procedure;
        uint32_t line_num = 0;
        for (std::string_view line : lines) {
            const uint8_t kind = classes.kinds[line_num++];
            if (kind & detail::LineClasses::ENTERS_PROCEDURE)
                procedure = next_procedure++;
            else if (!(kind & detail::LineClasses::IN_PROCEDURE))
                procedure = VariableReference::NO_PROCEDURE;
            if (!(kind & detail::LineClasses::SCANNED)) continue;
            detail::for_each_word_run(line, [&](std::string_view word, bool identifier) {
                if (identifier && word == name)
                    out.emplace_back(tables_.get(), scanned.file, line_num, static_cast<uint32_t>(word.data() - text),
                                     procedure);
            });
        }
    }
}

const std::vector<VariableReference>& VBAParser::get_variable_references(std::string_view var_name) const {
    static const std::vector<VariableReference> none;
    if (auto made = variable_references.find(var_name); made != variable_references.end()) return made->second;
    if (reference_counts.find(var_name) == reference_counts.end()) return none;
    std::vector<VariableReference> refs;
    make_references(var_name, refs);
    return variable_references.try_emplace(std::string(var_name), std::move(refs)).first->second;
}

VariableIssues VBAParser::get_all_variable_issues() const {
    VariableIssues out;
    for (const auto& v : global_variables)
        if (v.has_issue()) out.global_variables.push_back(&v);
    for (const auto& [path, list] : module_variables)
        for (const auto& v : list)
            if (v.has_issue()) out.module_variables.push_back(&v);
    for (const auto& [key, list] : local_variables)
        for (const auto& v : list)
            if (v.has_issue()) out.local_variables.push_back(&v);
    for (const auto& [key, t] : types)
        if (t.has_issue()) out.type_definitions.push_back(&t);
    for (const auto& [key, t] : enums)
        if (t.has_issue()) out.enum_definitions.push_back(&t);
    return out;
}

}  // namespace igxl::vbt
