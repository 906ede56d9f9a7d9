// The reference scan: variable uses and Type/Enum name counts, one pass over each line. A line is
// split once into its word runs and every run is looked up in a hash map, instead of running one
// regular expression per line and name.
#include <array>

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
    for (char ch : line) {
        auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
        if (c < 0x80) {
            c = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            if (c != 'p' && c != 't' && c != 'e') return false;
        }
        break;
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

// The lines the variable scan reads, with the procedure each stands in: f(line, number, procedure).
// Procedure headers, End Sub/Function/Property lines, declarations (with the lines they continue
// on) and Type/Enum headers are not read.
template <class F>
void for_each_scanned_line(const SourceLines& lines, F&& f) {
    std::optional<std::string_view> current;
    bool continues_declaration = false;
    int line_num = 0;
    for (std::string_view line : lines) {
        ++line_num;
        const std::string_view l = detail::strip(line);
        const bool skipped_continuation = continues_declaration;
        continues_declaration = false;
        if (skipped_continuation) {
            continues_declaration = ends_with_continuation(l);
            continue;
        }
        if (detail::is_function_definition(l)) {
            const std::string_view name = detail::read_procedure_header(l)->name;
            current = name.empty() ? std::string_view("unknown") : name;  // as the parser names it
            continue;
        }
        if (detail::is_procedure_end(l)) {
            current.reset();
            continue;
        }
        if (detail::is_variable_declaration(l)) {
            continues_declaration = ends_with_continuation(l);
            continue;
        }
        if (!l.starts_with("Type ") && !l.starts_with("Enum ")) f(line, line_num, current);
    }
}

}  // namespace

// Word -> what a use of it means to the variable scan.
struct VBAParser::WordLookup {
    struct Entry {
        bool variable = false;  // false: a keyword or procedure name, never a reference
        mutable std::vector<VariableReference>* refs = nullptr;  // filled on first use
        mutable size_t uses = 0;                                   // counted before filling
    };
    detail::WordTable<Entry> words;
};

void VBAParser::collect_variable_references() {
    info("vbt.collecting-references", "正在收集变量引用信息...");
    WordLookup lookup;
    auto add_variable = [&](const VariableInfo& v) {
        lookup.words[v.original_name].variable = true;
        lookup.words[v.name].variable = true;
    };
    for (const auto& v : global_variables) add_variable(v);
    for (const auto& [path, list] : module_variables)
        for (const auto& v : list) add_variable(v);
    for (const auto& [key, list] : local_variables)
        for (const auto& v : list) add_variable(v);
    // Keywords and procedure names are never references, even when a variable bears the name.
    for (std::string_view k : VBA_KEYWORDS) lookup.words[k].variable = false;
    for (const auto& [key, f] : functions) {
        lookup.words[f.name].variable = false;
        lookup.words[f.original_name].variable = false;
    }
    // Count the uses first so that every list is allocated once at its final size: a large
    // program has about one use per line, and growing lists would double their memory at the peak.
    std::vector<std::pair<std::string_view, const WordLookup::Entry*>> first_used;
    for (const auto& [path, lines] : files)
        for_each_scanned_line(lines, [&](std::string_view line, int, std::optional<std::string_view>) {
            detail::for_each_word_run(line, [&](std::string_view word, bool identifier) {
                if (!identifier) return;
                const WordLookup::Entry* entry = lookup.words.find(word);
                if (!entry || !entry->variable) return;
                if (entry->uses++ == 0) first_used.emplace_back(word, entry);
            });
        });
    for (const auto& [word, entry] : first_used) {  // in order of first use, as the map keeps it
        auto found = variable_references.find(word);
        if (found == variable_references.end()) found = variable_references.try_emplace(std::string(word)).first;
        found.value().reserve(found.value().size() + entry->uses);
        entry->refs = &found.value();
    }
    if (!tables_) tables_ = std::make_shared<detail::ReferenceTables>();
    for (const auto& [path, lines] : files) {
        const auto file = static_cast<uint32_t>(tables_->files.size());
        tables_->files.push_back({path, lines.shared_text()});
        collect_references_in_file(file, lines, lookup);
    }
    collect_type_enum_references();
    info("vbt.references-collected", "收集到 " + std::to_string(variable_references.size()) + " 个变量的引用信息");
}

void VBAParser::collect_references_in_file(uint32_t file, const SourceLines& lines, const WordLookup& all_variables) {
    const char* header = nullptr;  // the procedure name last entered in the table, by its place in the text
    uint32_t procedure = VariableReference::NO_PROCEDURE;
    for_each_scanned_line(lines, [&](std::string_view line, int line_num, std::optional<std::string_view> function) {
        if (!function) {
            procedure = VariableReference::NO_PROCEDURE;
            header = nullptr;
        } else if (function->data() != header) {
            header = function->data();
            procedure = static_cast<uint32_t>(tables_->procedures.size());
            tables_->procedures.push_back(*function);
        }
        find_variable_references_in_line(line, line_num, file, procedure, all_variables);
    });
}

void VBAParser::find_variable_references_in_line(std::string_view line, int line_num, uint32_t file,
                                                 uint32_t procedure, const WordLookup& all_variables) {
    const char* text = tables_->files[file].text->data();
    detail::for_each_word_run(line, [&](std::string_view word, bool identifier) {
        if (!identifier) return;
        const WordLookup::Entry* found_entry = all_variables.words.find(word);
        if (!found_entry || !found_entry->variable) return;
        const auto& entry = *found_entry;
        if (!entry.refs) {
            auto found = variable_references.find(word);
            if (found == variable_references.end())
                found = variable_references.try_emplace(std::string(word)).first;
            entry.refs = &found.value();  // values stay in place as the map grows
        }
        entry.refs->emplace_back(tables_.get(), file, static_cast<uint32_t>(line_num),
                                 static_cast<uint32_t>(word.data() - text), procedure);
    });
}

void VBAParser::collect_type_enum_references() {
    struct Entry {
        TypeInfo* record;
        size_t last_line = 0;  // the scan's running line id that counted last
        std::string_view last_path;
    };
    std::vector<Entry> entries;
    detail::WordTable<size_t> by_name;  // name -> 1 + index into entries
    std::vector<std::string_view> names;
    auto add = [&](const std::string& name, TypeInfo& record) {
        size_t& slot = by_name[name];
        if (slot == 0) {
            entries.push_back(Entry{&record, 0, {}});
            names.push_back(name);
            slot = entries.size();
        } else {
            entries[slot - 1].record = &record;  // a later definition of the name takes the counts
        }
    };
    for (auto it = types.begin(); it != types.end(); ++it) {
        add(it.value().name, it.value());
        add(it.value().original_name, it.value());
    }
    for (auto it = enums.begin(); it != enums.end(); ++it) {
        add(it.value().name, it.value());
        add(it.value().original_name, it.value());
    }
    // A name that is not one run of word characters cannot be found by the run lookup; such
    // names (none come from the parser itself) keep the regular-expression search.
    std::vector<std::pair<size_t, Regex>> odd;
    for (size_t i = 0; i < names.size(); ++i)
        if (!all_word_characters(names[i])) odd.emplace_back(i, Regex("\\b" + escape(names[i]) + "\\b"));

    auto count = [](Entry& e, size_t line_id, std::string_view path) {
        if (e.last_line == line_id) return;  // once per line and name
        e.last_line = line_id;
        ++e.record->reference_count;
        if (e.last_path.data() != path.data() || e.last_path.size() != path.size()) {
            e.record->referenced_files.emplace(path);
            e.last_path = path;
        }
    };
    if (entries.empty()) return;
    size_t line_id = 0;
    for (const auto& [path, lines] : files) {
        std::string_view file_path = path;
        for (std::string_view line : lines) {
            ++line_id;
            if (is_definition_header(line)) continue;
            detail::for_each_word_run(line, [&](std::string_view run, bool) {
                if (const size_t* slot = by_name.find(run)) count(entries[*slot - 1], line_id, file_path);
            });
            for (auto& [index, re] : odd)
                if (re.search(line)) count(entries[index], line_id, file_path);
        }
    }
}

const std::vector<VariableReference>& VBAParser::get_variable_references(std::string_view var_name) const {
    static const std::vector<VariableReference> none;
    auto it = variable_references.find(var_name);
    return it == variable_references.end() ? none : it->second;
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
