#include "diff/diff_report.h"

#include <xlsxwriter.h>

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

void check(lxw_error err, const std::string& what) {
    if (err != LXW_NO_ERROR) throw Error("cannot " + what + ": " + lxw_strerror(err));
}

// Counts per change type, plus the total in the last place.
using Counts = std::array<size_t, kChangeTypes.size() + 1>;

class Writer {
public:
    // Written under a temporary name and renamed into place when whole.
    explicit Writer(const std::string& path) : path_(path), file_(path) {
        wb_ = workbook_new(file_.temp_path().c_str());
        if (!wb_) throw Error("cannot create the diff workbook '" + path + "'");
        bold_ = workbook_add_format(wb_);
        format_set_bold(bold_);
        header_ = workbook_add_format(wb_);
        format_set_bold(header_);
        format_set_bg_color(header_, 0xD9E1F2);
        changed_ = workbook_add_format(wb_);
        format_set_bg_color(changed_, 0xFFEB9C);
        added_ = workbook_add_format(wb_);
        format_set_bg_color(added_, 0xC6EFCE);
        removed_ = workbook_add_format(wb_);
        format_set_bg_color(removed_, 0xFFC7CE);
        note_ = workbook_add_format(wb_);
        format_set_bg_color(note_, 0xDDEBF7);
    }
    ~Writer() {
        if (wb_) workbook_close(wb_);
    }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    void summary(const DiffResult& r);
    void kind_sheet(const DiffResult& r, Kind kind);
    void close() {
        lxw_workbook* wb = wb_;
        wb_ = nullptr;
        check(workbook_close(wb), "save the diff workbook '" + path_ + "'");
        file_.commit();
    }

private:
    lxw_worksheet* sheet(const std::string& name) {
        lxw_worksheet* ws = workbook_add_worksheet(wb_, name.c_str());
        if (!ws) throw Error("cannot add the sheet '" + name + "' to '" + path_ + "'");
        return ws;
    }
    void text(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, const std::string& s,
              lxw_format* f = nullptr) {
        check(worksheet_write_string(ws, row, col, s.c_str(), f), "write a cell");
    }
    void number(lxw_worksheet* ws, lxw_row_t row, lxw_col_t col, size_t n) {
        check(worksheet_write_number(ws, row, col, static_cast<double>(n), nullptr),
              "write a cell");
    }
    void count_row(lxw_worksheet* ws, lxw_row_t row, const std::string& label, const Counts& c,
                   lxw_format* f = nullptr) {
        text(ws, row, 0, label, f);
        for (size_t i = 0; i < c.size(); ++i) number(ws, row, static_cast<lxw_col_t>(i + 1), c[i]);
    }
    void count_header(lxw_worksheet* ws, lxw_row_t row, const std::string& first) {
        text(ws, row, 0, first, header_);
        for (size_t i = 0; i < kChangeTypes.size(); ++i)
            text(ws, row, static_cast<lxw_col_t>(i + 1), std::string(to_text(kChangeTypes[i])),
                 header_);
        text(ws, row, static_cast<lxw_col_t>(kChangeTypes.size() + 1), "total", header_);
    }

    std::string path_;
    util::AtomicFile file_;
    lxw_workbook* wb_ = nullptr;
    lxw_format* bold_ = nullptr;
    lxw_format* header_ = nullptr;
    lxw_format* changed_ = nullptr;
    lxw_format* added_ = nullptr;
    lxw_format* removed_ = nullptr;
    lxw_format* note_ = nullptr;
};

void add_to(Counts& c, ChangeType t) {
    ++c[static_cast<size_t>(t)];
    ++c.back();
}

void Writer::summary(const DiffResult& r) {
    lxw_worksheet* ws = sheet("Summary");
    worksheet_set_column(ws, 0, 0, 28, nullptr);
    worksheet_set_column(ws, 1, 6, 11, nullptr);
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
    lxw_row_t row = 3;
    count_header(ws, row++, "Kind");
    for (Kind k : kKinds) count_row(ws, row++, std::string(to_text(k)), by_kind[k]);
    count_row(ws, row++, "all kinds", total, bold_);
    ++row;
    count_header(ws, row++, "Job");
    for (const auto& job : r.jobs) count_row(ws, row++, job, by_job[job]);
    count_row(ws, row++, "(shared sheets)", shared);
}

void Writer::kind_sheet(const DiffResult& r, Kind kind) {
    lxw_worksheet* ws = sheet(sheet_name(kind));
    static const char* headers[] = {"Change", "Job", "Sheet", "Key", "Field", "Old", "New"};
    for (lxw_col_t c = 0; c < 7; ++c) text(ws, 0, c, headers[c], header_);
    worksheet_set_column(ws, 0, 0, 10, nullptr);
    worksheet_set_column(ws, 1, 2, 16, nullptr);
    worksheet_set_column(ws, 3, 4, 28, nullptr);
    worksheet_set_column(ws, 5, 6, 36, nullptr);
    lxw_row_t row = 0;
    for (const Change& c : r.changes) {
        if (c.kind != kind) continue;
        ++row;
        lxw_format* old_fmt = nullptr;
        lxw_format* new_fmt = nullptr;
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
    worksheet_freeze_panes(ws, 1, 0);
    check(worksheet_autofilter(ws, 0, 0, row, 6), "set the autofilter");
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
