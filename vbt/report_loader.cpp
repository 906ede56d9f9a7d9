#include "vbt/report_loader.h"

#include <filesystem>

#include "util/platform.h"

namespace igxl::vbt {

namespace {
void anchor() {}
}  // namespace

std::string orvane_library_directory() {
    std::string lib = util::module_path_of(reinterpret_cast<const void*>(&anchor));
    return lib.empty() ? lib : std::filesystem::path(lib).parent_path().string();
}

std::unique_ptr<ReportWriter> load_report_writer() {
    static util::LibraryHandle handle;
    if (!handle) {
        std::string reasons;
        std::string dir = orvane_library_directory();
        if (!dir.empty()) {
            std::string beside = (std::filesystem::path(dir) / REPORT_WRITER_LIBRARY).string();
            if (std::filesystem::exists(beside)) {
                try {
                    handle = util::load_library(beside);
                } catch (const Error& e) {
                    reasons = e.what();
                }
            }
        }
        if (!handle) {
            try {
                handle = util::load_library(REPORT_WRITER_LIBRARY);
            } catch (const Error& e) {
                throw ReportWriterLoadError(reasons.empty() ? e.what() : reasons + "; " + e.what());
            }
        }
    }
    void* sym = nullptr;
    try {
        sym = util::library_symbol(handle, REPORT_WRITER_ENTRY);
    } catch (const Error& e) {
        throw ReportWriterLoadError(std::string(REPORT_WRITER_LIBRARY) + ": " + e.what());
    }
    auto create = reinterpret_cast<ReportWriter* (*)()>(sym);
    return std::unique_ptr<ReportWriter>(create());
}

}  // namespace igxl::vbt
