// Module lines as VBA reads them: comments (' and Rem) removed outside string literals, lines
// continued with " _" joined, and a line of several statements split at its ":" separators.
// Every reader of declarations and procedure headers works on these statements, so a trailing
// comment or a continued line never hides a declaration.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vbt/source.h"

namespace igxl::vbt::detail {

struct Statement {
    std::string_view code;  // white space around it removed; valid until the next call of next()
    int line = 0;           // 1-based physical line the statement starts on
    int last_line = 0;      // physical line its logical line ends on (after continuations)
    // The statement is the whole of its physical line (no comment, continuation, separator or
    // line number): code is then that line stripped, a view into the module text.
    bool whole_line = false;
};

class StatementReader {
public:
    explicit StatementReader(const SourceLines& lines) : lines_(lines) {}
    // The next non-empty statement; false at the end of the module.
    bool next(Statement& out);

private:
    bool read_logical_line();
    bool read_whole_line(Statement& out);

    const SourceLines& lines_;
    size_t index_ = 0;     // next physical line
    std::string logical_;  // code of the current logical line
    size_t pos_ = 0;       // where its next statement starts
    int first_ = 0, last_ = 0;
};

// Words of a statement: ASCII identifiers compared without regard to case, as VBA does.
std::string_view leading_word(std::string_view s);  // [A-Za-z_][A-Za-z0-9_]*, or empty
bool word_is(std::string_view word, std::string_view keyword);
// s after its leading word and the blanks that follow it.
std::string_view after_word(std::string_view s, std::string_view word);

// Splits at commas outside brackets and string literals; pieces trimmed, empty ones dropped.
std::vector<std::string_view> split_top_level(std::string_view s);
// Index of the ")" closing the "(" at s[open], string literals skipped; npos when unclosed.
size_t closing_bracket(std::string_view s, size_t open);

// A procedure header: [Public|Private|Friend] [Static] Sub|Function|Property Get/Let/Set name(...).
struct ProcedureHeader {
    std::string_view name;    // empty when the name is not an identifier
    std::string_view params;  // the text between the brackets, empty without them
};
std::optional<ProcedureHeader> read_procedure_header(std::string_view statement);
// End Sub, End Function, End Property (any letter case).
bool is_procedure_end(std::string_view statement);

// A variable or constant declaration statement, split into its parts.
struct DeclarationStatement {
    std::string_view keyword;  // Public, Private, Global, Dim, Static or Const, as written
    bool is_const = false;
    std::string_view list;  // the declared items, comma separated
};
// Not a declaration: ReDim, Declare, Event, procedure headers, Type and Enum headers, statements.
std::optional<DeclarationStatement> read_declaration(std::string_view statement);

// What the header, End and declaration readers say of one statement, worked out once for every
// reader that asks (the parser and the reference scan's line classes read most lines alike).
struct StatementTests {
    std::optional<ProcedureHeader> header;
    bool procedure_end = false;
    std::optional<DeclarationStatement> declaration;  // never set for a procedure header
};
StatementTests test_statement(std::string_view statement);

// One item of a declaration list or parameter list.
struct DeclaredName {
    std::string_view name;
    std::string type;  // as written ("Long", "Excel.Range"), from a type character, or empty
    bool is_array = false;
};
// name[type character][(bounds)] [As [New] type [* length]] [= value]; nullopt without a name.
std::optional<DeclaredName> read_declared_name(std::string_view item);

}  // namespace igxl::vbt::detail
