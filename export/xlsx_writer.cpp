// The workbook: sheets and formats handed out, the macro project read, and at close the package
// written part by part.
#include <memory>

#include "export/xlsx_writer_detail.h"
#include "export/zip_writer.h"
#include "util/error.h"
#include "util/platform.h"

namespace igxl::xlsx::writer {

using detail::BookState;
using detail::SheetState;

namespace {

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Closes the file on every way out of the save.
struct FileCloser {
    std::FILE* f;
    ~FileCloser() {
        if (f) std::fclose(f);
    }
};

}  // namespace

namespace detail {

Spool::~Spool() {
    if (file_) std::fclose(file_);
}

std::uint64_t Spool::put(std::string_view bytes) {
    if (!file_) {
        name_ = std::make_unique<util::AtomicFile>(beside_);
        file_ = util::open_file(name_->temp_path(), "w+b");
        if (!file_) throw Error("cannot write the scratch file '" + name_->temp_path() + "' of the workbook '" + beside_ + "'");
    }
    const std::uint64_t at = size_;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        throw Error("cannot write the scratch file '" + name_->temp_path() + "' of the workbook '" + beside_ +
                    "': the disk may be full");
    size_ += bytes.size();
    return at;
}

void Spool::flush() {
    if (file_ && std::fflush(file_) != 0)
        throw Error("cannot write the scratch file '" + name_->temp_path() + "' of the workbook '" + beside_ +
                    "': the disk may be full");
}

}  // namespace detail

Workbook::Workbook(std::string path, WorkbookOptions options) : s_(std::make_unique<BookState>()) {
    s_->path = std::move(path);
    s_->options = options;
    s_->created = std::time(nullptr);
}

Workbook::~Workbook() = default;

Format* Workbook::add_format() {
    s_->formats.push_back(std::make_unique<Format>());
    return s_->formats.back().get();
}

std::string Workbook::sheet_name_fault(const std::string& name) const {
    if (name.empty()) return "a sheet name cannot be empty";
    if (detail::utf8_length(name) > 31) return "a sheet name has at most 31 characters";
    if (name.find_first_of("[]:*?/\\") != std::string::npos)
        return "a sheet name cannot hold any of [ ] : * ? / \\";
    if (name.front() == '\'' || name.back() == '\'') return "a sheet name cannot start or end with an apostrophe";
    const std::string lower = ascii_lower(name);
    for (const SheetState* sheet : s_->sheet_states)
        if (ascii_lower(sheet->name) == lower) return "the workbook already has a sheet of that name";
    return {};
}

Worksheet& Workbook::add_worksheet(const std::string& name) {
    if (s_->closed) throw Error("cannot add the sheet '" + name + "': the workbook is saved");
    const std::string fault = sheet_name_fault(name);
    if (!fault.empty()) throw Error("'" + name + "' cannot be a worksheet name: " + fault);
    auto state = std::make_unique<SheetState>();
    state->book = s_.get();
    state->name = name;
    state->number = static_cast<std::uint32_t>(s_->sheet_states.size() + 1);
    state->selected = state->number == 1;
    SheetState* raw = state.get();
    s_->sheets.push_back(std::unique_ptr<Worksheet>(new Worksheet(std::move(state))));
    s_->sheet_states.push_back(raw);
    return *s_->sheets.back();
}

void Workbook::add_vba_project(const std::string& path) {
    std::FILE* f = util::open_file(path, "rb");
    if (!f) throw Error("cannot read the macro project '" + path + "'");
    FileCloser closer{f};
    std::string bytes;
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    if (std::ferror(f) || bytes.empty()) throw Error("cannot read the macro project '" + path + "'");
    s_->vba = std::move(bytes);
}

void Workbook::set_properties(DocumentProperties properties) { s_->properties = std::move(properties); }

void Workbook::close() {
    BookState& b = *s_;
    if (b.closed) return;
    b.closed = true;
    if (b.sheets.empty()) {
        b.closed = false;
        add_worksheet("Sheet1");
        b.closed = true;
    }
    const bool vba = !b.vba.empty();
    for (SheetState* sheet : b.sheet_states) sheet->finish(vba);

    FileCloser file{util::open_file(b.path, "wb")};
    if (!file.f) throw Error("cannot create the workbook '" + b.path + "'");
    detail::ZipWriter zip(file.f, b.path);
    auto add = [&zip](std::string_view name, const std::string& xml) {
        const detail::CompressedPart part = detail::compress_part(xml);
        zip.add(name, part.data, part.crc, part.size);
    };
    // Readers that look at the first entry to tell the file type expect the content types there.
    add("[Content_Types].xml", detail::content_types_xml(b));
    add("_rels/.rels", detail::root_rels_xml());
    add("docProps/app.xml", detail::app_xml(b));
    add("docProps/core.xml", detail::core_xml(b));
    add("xl/workbook.xml", detail::workbook_xml(b));
    add("xl/_rels/workbook.xml.rels", detail::workbook_rels_xml(b));
    add("xl/styles.xml", detail::styles_xml(b.styles));
    add("xl/theme/theme1.xml", detail::theme_xml());
    if (!b.strings.order.empty()) add("xl/sharedStrings.xml", detail::shared_strings_xml(b.strings));
    for (SheetState* sheet : b.sheet_states) {
        std::uint64_t packed = sheet->spooled_size;
        for (const std::string& p : sheet->part.data) packed += p.size();
        for (const std::string& p : sheet->rest) packed += p.size();
        zip.begin("xl/worksheets/sheet" + std::to_string(sheet->number) + ".xml", sheet->part.crc, sheet->part.size,
                  packed);
        for (const std::string& p : sheet->part.data) zip.write(p);
        for (const auto& run : sheet->spooled)
            b.spool->copy(run.first, run.second, [&zip](std::string_view bytes) { zip.write(bytes); });
        for (const std::string& p : sheet->rest) zip.write(p);
        std::vector<std::string>().swap(sheet->part.data);
        std::vector<std::string>().swap(sheet->rest);
    }
    if (vba) {
        const detail::CompressedPart part = detail::compress_part(b.vba);
        zip.add("xl/vbaProject.bin", part.data, part.crc, part.size);
    }
    zip.finish();
    b.spool.reset();  // the scratch file goes before the caller renames the workbook into place
    std::FILE* f = file.f;
    file.f = nullptr;
    if (std::fclose(f) != 0) throw Error("cannot write '" + b.path + "': the disk may be full");
}

}  // namespace igxl::xlsx::writer
