// Any bytes given as a VBT module: the parser builds its model and reference scan and the
// naming rules judge every name, without a crash, a sanitizer report or an escaping exception.
#include "fuzz/fuzz_support.h"
#include "vbt/parser.h"

using namespace igxl;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::clear_scratch();
    fuzz::write_input("Module1.bas", data, size);
    vbt::VBAParser parser;
    parser.parse_files(fuzz::scratch().string());
    const vbt::VariableIssues issues = parser.get_all_variable_issues();
    for (const auto* v : issues.global_variables) (void)parser.get_variable_references(v->name);
    return 0;
}
