#include "vbt/report_loader.h"

#include <dlfcn.h>

#include <filesystem>

namespace igxl::vbt {

namespace {
void anchor() {}
}  // namespace

std::string orvane_library_directory() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&anchor), &info) || !info.dli_fname) return {};
    std::error_code ec;
    auto lib = std::filesystem::weakly_canonical(std::filesystem::path(info.dli_fname), ec);
    if (ec) return {};
    return lib.parent_path().string();
}

std::unique_ptr<ReportWriter> load_report_writer() {
    static void* handle = nullptr;
    if (!handle) {
        std::string reasons;
        std::string dir = orvane_library_directory();
        if (!dir.empty()) {
            std::string beside = (std::filesystem::path(dir) / REPORT_WRITER_LIBRARY).string();
            if (std::filesystem::exists(beside)) {
                handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
                if (!handle) reasons = dlerror();
            }
        }
        if (!handle) {
            handle = dlopen(REPORT_WRITER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                std::string why = dlerror();
                throw ReportWriterLoadError(reasons.empty() ? why : reasons + "; " + why);
            }
        }
    }
    dlerror();
    void* sym = dlsym(handle, REPORT_WRITER_ENTRY);
    if (!sym) {
        const char* why = dlerror();
        throw ReportWriterLoadError(std::string(REPORT_WRITER_LIBRARY) + ": " +
                                    (why ? why : "entry point missing"));
    }
    auto create = reinterpret_cast<ReportWriter* (*)()>(sym);
    return std::unique_ptr<ReportWriter>(create());
}

}  // namespace igxl::vbt
