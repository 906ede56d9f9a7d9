// Any bytes given as a macro project: read as a compound file (vbaProject.bin: sector chains,
// directory, the dir stream's records, each module's source) and, on their own, as one
// compressed stream. Each either gives a result within the size bounds or fails with one
// igxl::Error; a crash, a hang, a sanitizer report or another exception is a finding.
#include <cstdlib>
#include <string_view>

#include "export/vba_project.h"
#include "fuzz/fuzz_support.h"
#include "util/error.h"

using namespace igxl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        const std::string text = vba::decompress(bytes, "stream");
        if (text.size() > vba::kMaxStreamBytes) std::abort();
    } catch (const Error&) {
    }
    try {
        const vba::Project p = vba::read_project(bytes, "project");
        if (p.modules.size() > vba::kMaxModules) std::abort();
        for (const vba::Module& m : p.modules) {
            // What the export writes: a file name that stays in its folder, text with CR LF ends.
            const std::string name = m.file_name();
            if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) std::abort();
            if (m.text.size() < 2 || m.text.compare(m.text.size() - 2, 2, "\r\n") != 0) std::abort();
        }
    } catch (const Error&) {
    }
    return 0;
}
