// Any bytes given as a sheet text file to each of the nine sheet readers, for every platform:
// each reads the sheet or fails with one igxl::Error.
#include "fuzz/fuzz_support.h"
#include "parsers/flow_table.h"
#include "parsers/job_list.h"
#include "parsers/pattern_sets.h"
#include "parsers/pin_levels.h"
#include "parsers/spec_sheets.h"
#include "parsers/test_instances.h"
#include "parsers/time_sets.h"
#include "util/error.h"

using namespace igxl;

namespace {

template <class F>
void guarded(F&& read) {
    try {
        read();
    } catch (const Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::clear_scratch();
    // A flow may call sub-flows by sheet name; naming the input "Flow.txt" lets one call itself.
    const std::string path = fuzz::write_input("Flow.txt", data, size).string();
    guarded([&] { Kestine().read_job_list(path); });
    for (Platform platform : {Platform::UltraFLEX, Platform::UltraFLEXplus, Platform::J750}) {
        guarded([&] { Fennick().read_flow_table(path, platform); });
        PatternSetMap sets;
        guarded([&] {
            Quorvin q;
            q.read_pattern_set(path, "", platform);
            sets = q.get_pattern_set_info();
        });
        guarded([&] { Delmora().read_test_instance(path, sets, platform); });
        guarded([&] { ParseTIM().read_timing(path, platform); });
        guarded([&] { Vexdon().read_dc_spec(path, platform); });
        guarded([&] { Ulmara().read_ac_spec(path, platform); });
        guarded([&] { ParseGlobalSpec().read_spec(path, platform); });
    }
    guarded([&] { ParsePinLevel().read_pin_level(path); });
    return 0;
}
