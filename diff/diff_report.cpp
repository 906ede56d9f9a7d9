#include "diff/diff_report.h"

#include <memory>

#include "export/xlsx_writer.h"

#include <map>

#include <nlohmann/json.hpp>

#include "util/error.h"
#include "util/platform.h"

namespace igxl::diff {

std::string sheet_name(Kind kind) {
    switch (kind) {
        case Kind::job: return "Jobs";
        case Kind::flow_entry: return "Flow entries";
        case Kind::instance: return "Instances";
        case Kind::level: return "Levels";
        case Kind::time_set: return "Time sets";
        case Kind::spec: return "Specs";
        case Kind::global_spec: return "Global specs";
        case Kind::pattern_set: return "Pattern sets";
    }
    return "Jobs";
}

namespace {

namespace xw = xlsx::writer;

// Counts per change type, plus the total in the last place.
using Counts = std::array<size_t, kChangeTypes.size() + 1>;

class Writer {
public:
    // Written under a temporary name and renamed into place when whole.
    explicit Writer(const std::string& path) : path_(path), file_(path) {
        wb_ = std::make_unique<xw::Workbook>(file_.temp_path());
        bold_ = &wb_->add_format()->set_bold();
        header_ = &wb_->add_format()->set_bold().set_fill(0xD9E1F2);
        changed_ = &wb_->add_format()->set_fill(0xFFEB9C);
        added_ = &wb_->add_format()->set_fill(0xC6EFCE);
        removed_ = &wb_->add_format()->set_fill(0xFFC7CE);
        note_ = &wb_->add_format()->set_fill(0xDDEBF7);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void summary(const DiffResult& r);
    void kind_sheet(const DiffResult& r, Kind kind);
    void close() {
        try {
            wb_->close();
        } catch (const std::exception& e) {
            throw Error("cannot save the diff workbook '" + path_ + "': " + e.what());
        }
        file_.commit();
    }

private:
    xw::Worksheet* sheet(const std::string& name) {
        xw::Worksheet* ws = &wb_->add_worksheet(name);
        return ws;
    }
    void text(xw::Worksheet* ws, std::uint32_t row, std::uint32_t col, const std::string& s,
              const xw::Format* f = nullptr) {
        ws->write_string(row, col, s, f);
    }
    void number(xw::Worksheet* ws, std::uint32_t row, std::uint32_t col, size_t n) {
        ws->write_number(row, col, static_cast<double>(n));
    }
    void count_row(xw::Worksheet* ws, std::uint32_t row, const std::string& label, const Counts& c,
                   const xw::Format* f = nullptr) {
        text(ws, row, 0, label, f);
        for (size_t i = 0; i < c.size(); ++i) number(ws, row, static_cast<std::uint32_t>(i + 1), c[i]);
    }
    void count_header(xw::Worksheet* ws, std::uint32_t row, const std::string& first) {
        text(ws, row, 0, first, header_);
        for (size_t i = 0; i < kChangeTypes.size(); ++i)
            text(ws, row, static_cast<std::uint32_t>(i + 1), std::string(to_text(kChangeTypes[i])),
                 header_);
        text(ws, row, static_cast<std::uint32_t>(kChangeTypes.size() + 1), "total", header_);
    }

    std::string path_;
    util::AtomicFile file_;
    std::unique_ptr<xw::Workbook> wb_;
    const xw::Format* bold_ = nullptr;
    const xw::Format* header_ = nullptr;
    const xw::Format* changed_ = nullptr;
    const xw::Format* added_ = nullptr;
    const xw::Format* removed_ = nullptr;
    const xw::Format* note_ = nullptr;
};

void add_to(Counts& c, ChangeType t) {
    ++c[static_cast<size_t>(t)];
    ++c.back();
}

void Writer::summary(const DiffResult& r) {
    xw::Worksheet* ws = sheet("Summary");
    ws->set_column(0, 0, 28);
    ws->set_column(1, 6, 11);
    text(ws, 0, 0, "Old", bold_);
    text(ws, 0, 1, r.old_program);
    text(ws, 1, 0, "New", bold_);
    text(ws, 1, 1, r.new_program);

    std::map<Kind, Counts> by_kind;
    std::map<std::string, Counts> by_job;
    Counts total{}, shared{};
    for (const Change& c : r.changes) {
        add_to(by_kind[c.kind], c.change);
        add_to(c.job.empty() ? shared : by_job[c.job], c.change);
        add_to(total, c.change);
    }
    std::uint32_t row = 3;
    count_header(ws, row++, "Kind");
    for (Kind k : kKinds) count_row(ws, row++, std::string(to_text(k)), by_kind[k]);
    count_row(ws, row++, "all kinds", total, bold_);
    ++row;
    count_header(ws, row++, "Job");
    for (const auto& job : r.jobs) count_row(ws, row++, job, by_job[job]);
    count_row(ws, row++, "(shared sheets)", shared);
}

void Writer::kind_sheet(const DiffResult& r, Kind kind) {
    xw::Worksheet* ws = sheet(sheet_name(kind));
    static const char* headers[] = {"Change", "Job", "Sheet", "Key", "Field", "Old", "New"};
    for (std::uint32_t c = 0; c < 7; ++c) text(ws, 0, c, headers[c], header_);
    ws->set_column(0, 0, 10);
    ws->set_column(1, 2, 16);
    ws->set_column(3, 4, 28);
    ws->set_column(5, 6, 36);
    std::uint32_t row = 0;
    for (const Change& c : r.changes) {
        if (c.kind != kind) continue;
        ++row;
        const xw::Format* old_fmt = nullptr;
        const xw::Format* new_fmt = nullptr;
        switch (c.change) {
            case ChangeType::added: new_fmt = added_; break;
            case ChangeType::removed: old_fmt = removed_; break;
            case ChangeType::changed:
            case ChangeType::moved: old_fmt = new_fmt = changed_; break;
            case ChangeType::note: old_fmt = new_fmt = note_; break;
        }
        text(ws, row, 0, std::string(to_text(c.change)));
        text(ws, row, 1, c.job);
        text(ws, row, 2, c.sheet);
        text(ws, row, 3, c.key);
        text(ws, row, 4, c.field);
        if (c.old_value) text(ws, row, 5, *c.old_value, old_fmt);
        if (c.new_value) text(ws, row, 6, *c.new_value, new_fmt);
    }
    ws->freeze_panes(1, 0);
    ws->autofilter({0, 0, row, 6});
}

}  // namespace

void write_diff_workbook(const DiffResult& result, const std::string& path) {
    Writer w(path);
    w.summary(result);
    for (Kind k : kKinds) w.kind_sheet(result, k);
    w.close();
}

void write_diff_json(const DiffResult& result, const std::string& path,
                     const std::string& version) {
    using json = nlohmann::ordered_json;
    json doc;
    doc["tool"] = "vantor";
    doc["version"] = version;
    doc["old"] = result.old_program;
    doc["new"] = result.new_program;
    json counts = json::object();
    for (ChangeType t : kChangeTypes) counts[std::string(to_text(t))] = result.count(t);
    counts["total"] = result.changes.size();
    doc["counts"] = counts;
    json changes = json::array();
    for (const Change& c : result.changes) {
        json item;
        item["change"] = to_text(c.change);
        item["kind"] = to_text(c.kind);
        if (!c.job.empty()) item["job"] = c.job;
        if (!c.sheet.empty()) item["sheet"] = c.sheet;
        item["key"] = c.key;
        if (!c.field.empty()) item["field"] = c.field;
        if (c.old_value) item["old"] = *c.old_value;
        if (c.new_value) item["new"] = *c.new_value;
        changes.push_back(std::move(item));
    }
    doc["changes"] = std::move(changes);

    // Texts that are not valid UTF-8 are replaced, never a reason to lose the whole report.
    util::write_file_atomic(path, doc.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
}

}  // namespace igxl::diff
