#include "vbt/report_loader.h"

#include <filesystem>

#include "util/platform.h"

namespace igxl::vbt {

namespace {
void anchor() {}
}  // namespace

std::string orvane_library_directory() {
    std::string lib = util::module_path_of(reinterpret_cast<const void*>(&anchor));
    return lib.empty() ? lib : util::path_to_utf8(util::path_from_utf8(lib).parent_path());
}

std::unique_ptr<ReportWriter> load_report_writer() {
    static util::LibraryHandle handle;
    const std::string file_name = util::shared_library_file_name(REPORT_WRITER_LIBRARY);
    if (!handle) {
        std::string reasons;
        std::string dir = orvane_library_directory();
        if (!dir.empty()) {
            std::string beside = util::join_path(dir, file_name);
            if (std::filesystem::exists(util::path_from_utf8(beside))) {
                try {
                    handle = util::load_library(beside);
                } catch (const Error& e) {
                    reasons = e.what();
                }
            }
        }
        if (!handle) {
            try {
                handle = util::load_library(file_name);
            } catch (const Error& e) {
                throw ReportWriterLoadError(reasons.empty() ? e.what() : reasons + "; " + e.what());
            }
        }
    }
    void* sym = nullptr;
    try {
        sym = util::library_symbol(handle, REPORT_WRITER_ENTRY);
    } catch (const Error& e) {
        throw ReportWriterLoadError(file_name + ": " + e.what());
    }
    auto create = reinterpret_cast<ReportWriter* (*)()>(sym);
    return std::unique_ptr<ReportWriter>(create());
}

}  // namespace igxl::vbt
