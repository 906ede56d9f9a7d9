#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "test_access.h"
#include "util/regex.h"
#include "vbt/parser.h"
#include "vbt/statements.h"

namespace igxl::vbt {
namespace {

// Lines where a word scanner and the regular expressions could disagree: names next to digits,
// underscores, punctuation, non-ASCII letters and digits, combining marks, inside longer words.
const std::vector<std::string> TRICKY = {
    "x = x + 1",
    "x1=x_1+_x+__+1x+x1x",
    "type_Pins(1).Name = type_PinsX & Xtype_Pins & type_Pins_ & type_Pins",
    "café = cafe + caféx ' résumé of type_Pins",
    "a\xC3\xA9" "b = \xC3\xA9" "a + a\xCC\x81 + a\xE2\x80\x8B" "b",  // é inside, leading é, combining acute, zero-width space
    "n\xD9\xA3 = n + \xD9\xA3n",                                  // Arabic-indic digit three
    "\xE4\xB8\xAD\xE6\x96\x87Name = Name\xE4\xB8\xAD",               // CJK letters glued to a name
    "s = \"Count\" & Count&Count$ & Count# & [Count] & Count!x & Me.Count",
    "  \t   ",
    "",
    "_ = __init__ + 9_9 + _9",
    "If i>j Then i=j Else j=i: Next i",
    "v = a\xC2\xA0" "b + a\xE3\x80\x80" "b",  // non-breaking and ideographic spaces
};

TEST(WordScan, IdentifiersMatchTheRegularExpression) {
    const util::Regex identifier("\\b([a-zA-Z_][a-zA-Z0-9_]*)\\b");
    for (const auto& line : TRICKY) {
        std::vector<std::string> scanned;
        detail::for_each_word_run(line, [&](std::string_view run, bool ident) {
            if (ident) scanned.emplace_back(run);
        });
        EXPECT_EQ(scanned, identifier.find_all(line)) << line;
    }
}

TEST(WordScan, RunLookupMatchesWordBoundarySearch) {
    std::set<std::string> candidates = {"type_Pins", "Pins", "caf", "café", "a", "b", "n", "x1", "1", "_", "Name",
                                        "Count", "e", "\xE4\xB8\xAD\xE6\x96\x87Name", "\xD9\xA3n", "ab", "9_9"};
    for (const auto& line : TRICKY)
        detail::for_each_word_run(line, [&](std::string_view run, bool) { candidates.emplace(run); });
    for (const auto& line : TRICKY) {
        std::set<std::string> runs;
        detail::for_each_word_run(line, [&](std::string_view run, bool) { runs.emplace(run); });
        for (const auto& name : candidates) {
            std::string escaped;
            for (char c : name) {
                if (static_cast<unsigned char>(c) < 0x80 && !detail::is_ascii_word(static_cast<unsigned char>(c)))
                    escaped += '\\';
                escaped += c;
            }
            bool by_regex = util::Regex("\\b" + escaped + "\\b").search(line);
            EXPECT_EQ(runs.count(name) == 1, by_regex) << "name '" << name << "' in line '" << line << "'";
        }
    }
}

VBAParser parse(const std::vector<std::pair<std::string, std::string>>& modules) {
    VBAParser p;
    for (const auto& [path, text] : modules) TestAccess::parse_text(p, path, text);
    testing::internal::CaptureStdout();
    TestAccess::collect_references(p);
    testing::internal::GetCapturedStdout();
    return p;
}

struct Ref {
    std::string file;
    int line;
    std::string function;
    bool operator==(const Ref&) const = default;
};
std::vector<Ref> refs(const VBAParser& p, std::string_view name) {
    std::vector<Ref> out;
    for (const auto& r : p.get_variable_references(name))
        out.push_back({std::string(r.file_path()), r.line_number(), std::string(r.function_name().value_or("-"))});
    return out;
}

TEST(References, VariableUsesAreWholeCaseSensitiveWords) {
    VBAParser p = parse({
        {"M1.bas",
         "Dim count As Long\n"             // 1: declaration, never a use
         "Sub Work_VBT()\n"                // 2: header
         "    Dim i As Long\n"             // 3
         "    i = i + 1 ' i again\n"       // 4: three uses
         "    Count = counter + count\n"   // 5: one use (case differs, longer word)
         "    s = \"count\"\n"             // 6: inside a string literal still counts
         "End Sub\n"                       // 7
         "' i outside\n"},                 // 8
        {"M2.bas",
         "Function Helper(ByVal i As Long) As Long\n"  // header: the parameter is not scanned
         "    Helper = i\n"
         "end function\n"
         "Sub Work_VBT()\n"
         "    Work_VBT = 1\n"  // a procedure name is never a reference
         "End Sub\n"},
    });
    EXPECT_EQ(refs(p, "i"), (std::vector<Ref>{{"M1.bas", 4, "Work_VBT"},
                                              {"M1.bas", 4, "Work_VBT"},
                                              {"M1.bas", 4, "Work_VBT"},
                                              {"M1.bas", 8, "-"},
                                              {"M2.bas", 2, "Helper"}}));
    EXPECT_EQ(refs(p, "count"), (std::vector<Ref>{{"M1.bas", 5, "Work_VBT"}, {"M1.bas", 6, "Work_VBT"}}));
    EXPECT_TRUE(refs(p, "Count").empty());
    EXPECT_TRUE(refs(p, "Work_VBT").empty());
    const auto& first = p.get_variable_references("i").front();
    EXPECT_EQ(first.context(), "i = i + 1 ' i again");
    EXPECT_EQ(first.var_name(), "i");
    // Asking for an unknown name creates nothing.
    size_t before = p.variable_references.size();
    EXPECT_TRUE(p.get_variable_references("nothing_here").empty());
    EXPECT_EQ(p.variable_references.size(), before);
}

// A reference keeps only positions; its texts are read back from the module text. The first and
// last lines (no line break before or after), CR LF ends, Unicode spaces and non-ASCII text next
// to the name all have to give the same texts the line itself holds.
TEST(References, DeclarationsAreSkippedWithTheLinesTheyContinueOn) {
    VBAParser p = parse({
        {"P.bas",
         "Dim a As Long, _\n"                          // 1: declaration
         "    b As Long\n"                             // 2: its continuation, not a use
         "Public Property Let Level(ByVal v As Long)\n"  // 3: header
         "    Static calls As Long\n"                  // 4: a declaration too
         "    calls = calls + b\n"                     // 5
         "End Property\n"                              // 6
         "x = a: b = _\n"                              // 7
         "    a\n"},                                   // 8: a continued statement is read
    });
    EXPECT_EQ(refs(p, "b"), (std::vector<Ref>{{"P.bas", 5, "Level"}, {"P.bas", 7, "-"}}));
    EXPECT_EQ(refs(p, "calls"), (std::vector<Ref>{{"P.bas", 5, "Level"}, {"P.bas", 5, "Level"}}));
    EXPECT_EQ(refs(p, "a"), (std::vector<Ref>{{"P.bas", 7, "-"}, {"P.bas", 8, "-"}}));
}

TEST(References, TextsReadBackFromPositions) {
    std::optional<VBAParser> original = parse({
        {"A.bas", "x = 1\r\nDim x As Long\r\nSub Run_VBT()\r\n\t\xE3\x80\x80x = x\xC2\xB7 + 2\xE3\x80\x80\r\nEnd Sub\r\nx"},
    });
    // A copy outlives the parser that made the references, and a later scan adds to the tables.
    VBAParser copy = *original;
    original.reset();
    const auto before = copy.get_variable_references("x");
    TestAccess::parse_text(copy, "B.bas", "Sub Other_VBT()\n  x\nEnd Sub\n");
    testing::internal::CaptureStdout();
    TestAccess::collect_references(copy);
    testing::internal::GetCapturedStdout();

    ASSERT_EQ(before.size(), 4u);
    std::vector<std::string> seen;
    for (const auto& r : before)
        seen.push_back(std::string(r.var_name()) + "|" + std::string(r.file_path()) + "|" +
                       std::to_string(r.line_number()) + "|" + std::string(r.function_name().value_or("-")) + "|" +
                       std::string(r.context()));
    EXPECT_EQ(seen, (std::vector<std::string>{"x|A.bas|1|-|x = 1",
                                              "x|A.bas|4|Run_VBT|x = x\xC2\xB7 + 2",
                                              "x|A.bas|4|Run_VBT|x = x\xC2\xB7 + 2",
                                              "x|A.bas|6|-|x"}));
    const auto& after = copy.get_variable_references("x");
    ASSERT_GE(after.size(), 5u);
    EXPECT_EQ(after.back().file_path(), "B.bas");
    EXPECT_EQ(after.back().function_name(), "Other_VBT");
    EXPECT_EQ(after.back().context(), "x");
}

// The scan keeps counts only; they must agree with the uses found again on request, per procedure
// (two modules may each have a procedure of one name), per file, and on lines that also name a Type.
TEST(References, CountsAgreeWithTheUsesMadeOnRequest) {
    VBAParser p = parse({
        {"A.bas",
         "Public Type type_Pin\n  n As Long\nEnd Type\n"
         "Dim k As Long\n"
         "Sub Run_VBT()\n    Dim i As Long\n    i = k: k = i + i\nEnd Sub\n"
         "Sub Other_VBT()\n    Dim p As type_Pin\n    i = 1\nEnd Sub\n"
         "k = 2\n"},
        {"B.bas",
         "Sub Run_VBT()\n    Dim i As Long\n    ReDim q(i) As type_Pin\n    i = 3\nEnd Sub\n"},
    });
    for (std::string_view name : {"i", "k"}) {
        const auto found = p.reference_counts.find(name);
        ASSERT_NE(found, p.reference_counts.end()) << name;
        const ReferenceCount& counted = found->second;
        const auto& uses = p.get_variable_references(name);
        std::map<std::string, size_t> by_procedure, expected;
        std::set<std::string> files;
        for (const auto& [procedure, n] : counted.by_procedure) by_procedure[std::string(p.procedure_name(procedure))] += n;
        for (const auto& r : uses) {
            if (r.function_name()) ++expected[std::string(*r.function_name())];
            files.emplace(r.file_path());
            EXPECT_EQ(r.var_name(), name);
        }
        EXPECT_EQ(counted.total, uses.size()) << name;
        EXPECT_EQ(by_procedure, expected) << name;
        EXPECT_EQ(counted.files, files.size()) << name;
    }
    EXPECT_EQ(p.reference_counts.at("i").total, 6u);
    EXPECT_EQ(p.reference_counts.at("i").by_procedure.size(), 3u);  // Run_VBT twice, Other_VBT once
    EXPECT_EQ(p.reference_counts.at("k").files, 1u);
    // "Dim p As type_Pin" is a declaration the variable scan skips, yet it names the Type.
    EXPECT_EQ(p.types.begin()->second.reference_count, 2);
    EXPECT_EQ(p.types.begin()->second.referenced_files, (std::set<std::string>{"A.bas", "B.bas"}));
    // Names without uses have no counts and make no records.
    EXPECT_EQ(p.reference_counts.find("p"), p.reference_counts.end());
    EXPECT_TRUE(p.get_variable_references("p").empty());
}

// The parser classifies a module's lines for the scan as it reads them; the scan trusts those
// classes only for the text they were made from. A text put in the module's place since is
// classified again: stale classes would read past its lines or credit uses to the wrong procedure.
TEST(References, ModuleTextReplacedAfterParsingIsClassifiedAgain) {
    VBAParser p;
    TestAccess::parse_text(p, "A.bas", "Dim k As Long\nSub Run_VBT()\n    k = 1\nEnd Sub\n");
    p.files.insert_or_assign(
        "A.bas", SourceLines(decode_source("Sub Other_VBT()\n    Dim j As Long\n    k = k + j\nEnd Sub\nk = 2\n")));
    testing::internal::CaptureStdout();
    TestAccess::collect_references(p);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(refs(p, "k"), (std::vector<Ref>{{"A.bas", 3, "Other_VBT"}, {"A.bas", 3, "Other_VBT"}, {"A.bas", 5, "-"}}));
    const ReferenceCount& counted = p.reference_counts.at("k");
    EXPECT_EQ(counted.total, 3u);
    ASSERT_EQ(counted.by_procedure.size(), 1u);
    EXPECT_EQ(p.procedure_name(counted.by_procedure[0].procedure), "Other_VBT");
    EXPECT_EQ(counted.by_procedure[0].uses, 2u);
}

// A line is read by the scan or not as a whole, as the physical line it is, whatever statements
// it holds: a line that begins with a declaration or an End line is passed over, one that only goes
// on to a declaration is read (its declared name counts as a use there).
TEST(References, LinesOfSeveralStatementsAreReadWhole) {
    VBAParser p = parse({
        {"S.bas",
         "Dim k As Long\n"                     // 1: declaration
         "Sub Run_VBT()\n"                     // 2: header
         "    Dim i As Long: i = k\n"          // 3: begins with a declaration: not read
         "    i = 1: Dim j As Long\n"          // 4: read: i, j
         "    j = i ' i: j\n"                  // 5: read, comment included: j, i, i, j
         "    s = \"i: j\": k = i\n"           // 6: read, string included: i, j, k, i
         "    k = _\n"                         // 7: read: k
         "        i: Dim m As Long\n"          // 8: a continued line, read on its own: i, m
         "End Sub: k = 2\n"                    // 9: an End line: not read
         "k = 3 ' outside\n"},                 // 10: read, outside any procedure
    });
    const std::string in = "Run_VBT";
    EXPECT_EQ(refs(p, "i"), (std::vector<Ref>{{"S.bas", 4, in}, {"S.bas", 5, in}, {"S.bas", 5, in},
                                              {"S.bas", 6, in}, {"S.bas", 6, in}, {"S.bas", 8, in}}));
    EXPECT_EQ(refs(p, "j"), (std::vector<Ref>{{"S.bas", 4, in}, {"S.bas", 5, in}, {"S.bas", 5, in}, {"S.bas", 6, in}}));
    EXPECT_EQ(refs(p, "k"), (std::vector<Ref>{{"S.bas", 6, in}, {"S.bas", 7, in}, {"S.bas", 10, "-"}}));
    EXPECT_EQ(refs(p, "m"), (std::vector<Ref>{{"S.bas", 8, in}}));
    EXPECT_EQ(p.reference_counts.at("i").total, 6u);
    EXPECT_EQ(p.reference_counts.at("k").by_procedure.size(), 1u);
}

// The parser makes the scan's line classes as it reads the statements, sharing its tests where a
// line is one statement of its own; they must be the classes the lines have when classified
// alone. Modules are put together at random from lines where the two readings could part.
TEST(References, LineClassesMadeWhileParsingEqualThoseMadeAlone) {
    const std::vector<std::string> pieces = {
        "Sub A_VBT()", "  Public Function F(ByVal x As Long) As Long", "Private Static Sub S", "End Sub",
        "end function", "End Property", "Property Get P()", "Dim a As Long", "Dim b As Long, _", "  c As Long",
        "Public Const K = 1", "Static n", "Global g", "x = 1: Dim y", "Dim y: x = 1", "End Sub: x = 2",
        "Sub B(): x = 1", "x = \"a: b\" ' c: Dim z", "x = \"it's\"", "Rem Dim r", "' Sub C()", "10 Dim d",
        "s = f(a:=1)", "t = #12:30:00 AM#", "Type T", "Public Type type_X", "Enum E", "PrivateType Q",
        "\xC2\xA0" "Dim u", "\xC2\xA0Sub U()", "Dim v \xE3\x80\x80_", "x = _", "_", "Label1: Dim w", "",
        "   ", "Dim e As String = \"x\" _", "Function G", "Sub", "Dimension = 3", "Const", "Debug.Print x: _",
        "Friend Property Let L(v)", "#If A Then", "#End If", "If x Then y = 1 Else Dim q",
    };
    uint32_t state = 12345;
    auto random = [&](size_t n) {
        state = state * 1103515245u + 12345u;
        return static_cast<size_t>((state >> 8) % n);
    };
    for (int round = 0; round < 300; ++round) {
        std::string module = random(4) == 0 ? "\xEF\xBB\xBF" : "";
        const size_t lines = 1 + random(12);
        for (size_t i = 0; i < lines; ++i) module += pieces[random(pieces.size())] + (random(3) ? "\n" : "\r\n");
        if (random(2)) module.pop_back();
        VBAParser p;
        TestAccess::parse_text(p, "R.bas", module);
        const detail::LineClasses& made = TestAccess::line_classes(p, "R.bas");
        const detail::LineClasses alone = detail::classify_lines(p.files.at("R.bas"));
        EXPECT_EQ(made.kinds, alone.kinds) << module;
        EXPECT_EQ(made.procedures, alone.procedures) << module;
        EXPECT_EQ(made.text, alone.text);
    }
}

TEST(References, KeywordNamedVariableIsNeverReferenced) {
    VBAParser p = parse({{"M.bas", "Dim Next As Long\nDim Value As Long\nNext = Value: Value = Next\n"}});
    EXPECT_TRUE(refs(p, "Next").empty());
    EXPECT_EQ(refs(p, "Value").size(), 2u);
}

TEST(References, TypeAndEnumNamesCountOncePerLine) {
    VBAParser p = parse({
        {"Mod1.bas",
         "Public Type type_Pins\n"      // header: not counted
         "    Name As String\n"
         "End Type\n"
         "' a type_Pins in a comment, type_Pins twice\n"
         "Enum Colors\n"
         "End Enum\n"},
        {"Mod2.bas",
         "Sub Use_VBT(ByVal c As Colors)\n"       // header lines count for Types and Enums
         "    Dim p As type_Pins\n"
         "    Dim q As type_PinsX\n"               // a longer word is not the name
         "End Sub\n"},
    });
    const TypeInfo& pins = p.types.at("Mod1.bas:type_Pins");
    EXPECT_EQ(pins.reference_count, 2);
    EXPECT_EQ(pins.referenced_files, (std::set<std::string>{"Mod1.bas", "Mod2.bas"}));
    const TypeInfo& colors = p.enums.at("Mod1.bas:Colors");
    EXPECT_EQ(colors.reference_count, 1);
    EXPECT_EQ(colors.referenced_files, (std::set<std::string>{"Mod2.bas"}));
}

TEST(References, SameNamedDefinitionsLeaveCountsToTheLastEntered) {
    VBAParser p = parse({
        {"A.bas", "Type Shared\nEnd Type\nx = Shared\n"},
        {"B.bas", "Enum Shared\nEnd Enum\ny = Shared\n"},
    });
    EXPECT_EQ(p.types.at("A.bas:Shared").reference_count, 0);
    EXPECT_EQ(p.enums.at("B.bas:Shared").reference_count, 2);
}

// The straightforward count: one regular-expression search per line and definition.
std::map<std::string, int> counts_by_regex(const VBAParser& p) {
    const util::Regex header("^\\s*(Public|Private)?\\s*(Type|Enum)\\s+", util::Regex::ICASE);
    std::vector<std::pair<std::string, std::string>> names;  // name -> key of the record
    for (const auto* map : {&p.types, &p.enums})
        for (const auto& [key, t] : *map) names.emplace_back(t.name, key);
    std::map<std::string, std::string> last;  // later definitions of a name take its counts
    for (const auto& [name, key] : names) last[name] = key;
    std::map<std::string, int> out;
    for (const auto& [path, lines] : p.files)
        for (std::string_view line : lines) {
            if (header.match(line)) continue;
            for (const auto& [name, key] : last)
                if (util::Regex("\\b" + name + "\\b").search(line)) ++out[key];
        }
    return out;
}

TEST(References, TypeCountsEqualThePerNameSearch) {
    std::string module = "Private Type type_A\nEnd Type\nPublic Enum enum_B\nEnd Enum\nType C1\nEnd Type\n";
    for (const auto& line : TRICKY) module += line + "\n";
    module += "x = type_A + enum_B*C1 + type_A_ + C1C1 + (C1) + enum_B.Value ' type_A\n";
    module += "   Public   Type   D\nEnd Type\n Public Typed = type_A\n";
    // Lines whose first word only begins like a header keyword, or begins after a Unicode space.
    module += "PrivateType type_A = 1\nTypeface = type_A\nenumerate type_A\n\xC2\xA0Public Type type_Q\nEnd Type\n";
    VBAParser p = parse({{"T1.bas", module}, {"T2.bas", "Type type_Pins\nEnd Type\nName = Pins + type_Pins\n"}});
    std::map<std::string, int> fast;
    for (const auto* map : {&p.types, &p.enums})
        for (const auto& [key, t] : *map)
            if (t.reference_count) fast[key] = t.reference_count;
    EXPECT_EQ(fast, counts_by_regex(p));
    // The use line and "Typeface = ...", "enumerate ..."; not the headers, nor "PrivateType ...".
    EXPECT_EQ(p.types.at("T1.bas:type_A").reference_count, 4);
}

TEST(References, IssueCollectionKeepsKindsAndOrder) {
    VBAParser p = parse({{"M.bas",
                          "Global g_Good_lng As Long\nGlobal bad As Long\nDim m_Ok_lng As Long\nDim worse As Long\n"
                          "Type type_Fine\nEnd Type\nEnum Plain\nEnd Enum\n"
                          "Sub Run_VBT()\n  Dim i As Long\n  Dim tmp As Double\nEnd Sub\n"}});
    VariableIssues issues = p.get_all_variable_issues();
    ASSERT_EQ(issues.global_variables.size(), 1u);
    EXPECT_EQ(issues.global_variables[0], &p.global_variables[1]);  // the parser's own record
    ASSERT_EQ(issues.module_variables.size(), 1u);
    EXPECT_EQ(issues.module_variables[0]->name, "worse");
    ASSERT_EQ(issues.local_variables.size(), 1u);
    EXPECT_EQ(issues.local_variables[0]->name, "tmp");
    EXPECT_TRUE(issues.type_definitions.empty());
    ASSERT_EQ(issues.enum_definitions.size(), 1u);
    EXPECT_EQ(issues.total(), 4u);

    VBAParser clean = parse({{"C.bas", "Global g_Good_lng As Long\n"}});
    EXPECT_EQ(clean.get_all_variable_issues().total(), 0u);
}

}  // namespace
}  // namespace igxl::vbt
