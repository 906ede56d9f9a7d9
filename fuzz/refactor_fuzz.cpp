// The refactor as a round trip: in any module, renaming one declared name to a fresh one and
// then back gives the original bytes (line ends, comments, strings and every other name kept).
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "util/regex.h"
#include "util/text.h"
#include "vbt/parser.h"
#include "vbt/refactorer.h"

namespace igxl::vbt {

// Applies one chosen rename as the tests do, without a reviewed report workbook; true when the
// refactor applied it (it refuses renames onto a name a scope that sees the old one declares).
struct RefactorerTestAccess {
    static bool rename(const VBAParser& parser, const std::string& type, const std::string& file,
                       int line, const std::string& from, const std::string& to) {
        ChangeRecord record;
        record.file_path = file;
        record.line_number = line;
        record.original_name = from;
        record.new_name = to;
        VBTRefactorer r(parser);
        r.add_change(type, std::move(record));
        r.apply_all_changes();
        return r.totals().applied > 0;
    }
};

}  // namespace igxl::vbt

using namespace igxl;
using namespace igxl::vbt;

namespace {

const std::string kFresh = "ZqRoundTrip";

struct Candidate {
    std::string type, file, name;
    int line = 0;
};

std::vector<Candidate> candidates(const VBAParser& p) {
    static const util::Regex plain("[A-Za-z][A-Za-z0-9_]*");
    std::vector<Candidate> out;
    auto add = [&](const std::string& type, const std::string& file, const std::string& name,
                   int line) {
        if (plain.full_match(name)) out.push_back({type, file, name, line});
    };
    for (const auto& v : p.global_variables)
        add("global_variable", v.file_path.str(), v.name, v.line_number);
    for (const auto& [_, vars] : p.module_variables)
        for (const auto& v : vars) add("module_variable", v.file_path.str(), v.name, v.line_number);
    for (const auto& [_, vars] : p.local_variables)
        for (const auto& v : vars) add("local_variable", v.file_path.str(), v.name, v.line_number);
    for (const auto& [_, t] : p.types) add("type_definition", t.file_path.str(), t.name, t.line_number);
    for (const auto& [_, t] : p.enums) add("enum_definition", t.file_path.str(), t.name, t.line_number);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string original(reinterpret_cast<const char*>(data), size);
    // The fresh name must be new to the module, or renaming back would take its uses too.
    if (util::to_upper(original).find(util::to_upper(kFresh)) != std::string::npos) return 0;
    fuzz::clear_scratch();
    const fuzz::fs::path module = fuzz::write_input("Module1.bas", data, size);

    VBAParser before;
    before.parse_files(fuzz::scratch().string());
    const std::vector<Candidate> names = candidates(before);
    if (names.empty()) return 0;
    const Candidate c = names[data[size - 1] % names.size()];
    // A name declared twice (not valid VBA, but a module may hold it) cannot come back: the
    // refactor rightly refuses to rename onto a name its scope already declares.
    size_t declared = 0;
    for (const auto& other : names)
        if (util::to_upper(other.name) == util::to_upper(c.name)) ++declared;
    if (declared > 1) return 0;
    if (!RefactorerTestAccess::rename(before, c.type, c.file, c.line, c.name, kFresh)) return 0;

    VBAParser after;
    after.parse_files(fuzz::scratch().string());
    if (!RefactorerTestAccess::rename(after, c.type, c.file, c.line, kFresh, c.name)) return 0;
    if (fuzz::read_bytes(module) != original) {
        std::cerr << "renaming " << c.type << " '" << c.name << "' (line " << c.line
                  << ") to '" << kFresh << "' and back changed the module\n";
        std::abort();
    }
    return 0;
}
