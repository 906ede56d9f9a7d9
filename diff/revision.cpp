#include "diff/revision.h"

#include "diff/program_diff.h"

#include "parsers/pattern_sets.h"
#include "util/error.h"
#include "util/lines.h"
#include "util/regex.h"
#include "util/text.h"

namespace igxl::diff::detail {

namespace {

std::string sheet_file(const std::string& dir, const std::string& sheet) {
    return dir + "/" + util::replace_all(sheet, " ", "%20") + ".txt";
}

// Spec sheets: the plain file name when it exists, else the "%20" form of the export.
std::string spec_file(const std::string& dir, const std::string& sheet) {
    const std::string plain = dir + "/" + sheet + ".txt";
    return util::file_exists(plain) ? plain : sheet_file(dir, sheet);
}

class SheetLoader {
public:
    SheetLoader(Revision& r, diag::Sink& sink) : r_(r), sink_(sink) {}

    // Runs read for a sheet not read before. A missing sheet is absent from this revision; one
    // that cannot be read is left out of the comparison. Both are told as warnings.
    template <class Read>
    void load(const std::string& sheet, const std::string& job, Read&& read) {
        if (!tried_.insert(sheet).second) return;
        diag::Location where;
        where.program = r_.dir;
        where.job = job;
        where.item = sheet;
        try {
            read();
        } catch (const FileNotFoundError& e) {
            diag::emit(sink_, diag::Severity::warning, "diff.sheet-missing",
                       r_.label + " revision: sheet '" + sheet + "' is missing (" + e.what() + ")",
                       diag::kBoth, where);
        } catch (const std::exception& e) {
            r_.unreadable.insert(sheet);
            diag::emit(sink_, diag::Severity::warning, "diff.sheet-unreadable",
                       r_.label + " revision: sheet '" + sheet +
                           "' cannot be read and is left out of the comparison: " + e.what(),
                       diag::kBoth, where);
        }
    }
private:
    Revision& r_;
    diag::Sink& sink_;
    std::set<std::string> tried_;
};

}  // namespace

void read_job_list(Revision& r, diag::Sink& sink) {
    static const util::Regex job_list_re("job.*list", util::Regex::ICASE);
    for (const auto& name : util::list_directory(r.dir)) {
        if (!job_list_re.search(name)) continue;
        Kestine reader(sink);
        reader.read_job_list(r.dir + "/" + name);
        r.jobs = std::move(reader.get_test_job_list_info());
        r.job_list_sheet = name.size() > 4 && name.ends_with(".txt")
                               ? name.substr(0, name.size() - 4)
                               : name;
        r.job_list_sheet = util::replace_all(r.job_list_sheet, "%20", " ");
        return;
    }
    throw InputError(r.label + " revision: no job list sheet (a file named like 'Job List.txt') in " + r.dir);
}

void read_sheets(Revision& r, const std::vector<std::string>& jobs, Platform platform,
                 diag::Sink& sink) {
    SheetLoader loader(r, sink);
    const std::string& dir = r.dir;
    for (const auto& job : jobs) {
        auto found = r.jobs.find(job);
        if (found == r.jobs.end()) continue;
        const JobRecord& record = found->second;

        // Flows are per job: two jobs naming one flow sheet both get its entries.
        try {
            Fennick flow(sink);
            flow.read_flow_table(sheet_file(dir, record.FlowTable), platform);
            r.flows[job] = std::move(flow.get_test_suite_info());
        } catch (const FileNotFoundError& e) {
            r.flows[job];  // the job has no entries here
            diag::emit(sink, diag::Severity::warning, "diff.sheet-missing",
                       r.label + " revision: flow sheet '" + record.FlowTable + "' of job '" +
                           job + "' is missing (" + e.what() + ")",
                       diag::kBoth, {r.dir, "", 0, job, record.FlowTable, "", "", ""});
        } catch (const std::exception& e) {
            r.unreadable.insert(record.FlowTable);
            diag::emit(sink, diag::Severity::warning, "diff.sheet-unreadable",
                       r.label + " revision: flow sheet '" + record.FlowTable + "' of job '" +
                           job + "' cannot be read and is left out of the comparison: " +
                           e.what(),
                       diag::kBoth, {r.dir, "", 0, job, record.FlowTable, "", "", ""});
        }

        for (const auto& sheet : record.TestInstanceList) {
            loader.load(sheet, job, [&] {
                // No pattern sets given: instances keep the set names they use, so a change of
                // a set shows once, at the set.
                Delmora reader;
                reader.read_test_instance(sheet_file(dir, sheet), PatternSetMap{}, platform);
                // Kept before its records are taken: they view its texts.
                const InstanceMap& read = r.instance_sheets.emplace_back(std::move(reader.get_instance_info()));
                for (const auto& [name, records] : read) {
                    auto it = r.instances.try_emplace(std::string(name), InstanceItem{sheet, {}}).first;
                    auto& into = it.value().records;
                    into.insert(into.end(), records.begin(), records.end());
                }
            });
        }
        for (const auto& sheet : record.PatternSet) {
            loader.load(sheet, job, [&] {
                Quorvin reader;
                reader.read_pattern_set(sheet_file(dir, sheet), {}, platform);
                for (auto& [set, entries] : reader.get_pattern_set_dict())
                    r.pattern_sets[set] = PatternSetItem{sheet, std::move(entries)};
            });
        }
        loader.load(record.DCSpec, job, [&] {
            Vexdon reader;
            reader.read_dc_spec(spec_file(dir, record.DCSpec), platform);
            r.specs[record.DCSpec] = SpecSheet{std::move(reader.get_dc_info()),
                                               reader.get_spec_version()};
        });
        loader.load(record.ACSpec, job, [&] {
            Ulmara reader;
            reader.read_ac_spec(spec_file(dir, record.ACSpec), platform);
            r.specs[record.ACSpec] = SpecSheet{std::move(reader.get_ac_info()),
                                               reader.get_spec_version()};
        });
        loader.load(record.GlobalSpec, job, [&] {
            ParseGlobalSpec reader;
            reader.read_spec(spec_file(dir, record.GlobalSpec), platform);
            r.globals = std::move(reader.get_info());
            r.global_sheet = record.GlobalSpec;
        });
        if (r.global_sheet.empty()) r.global_sheet = record.GlobalSpec;
    }

    // Level and time-set sheets are named by the instances the flows run, each in the spec
    // context of the running job.
    for (const auto& job : jobs) {
        auto flow = r.flows.find(job);
        if (flow == r.flows.end()) continue;
        const JobRecord& record = r.jobs.at(job);
        for (const FlowEntry& entry : flow->second) {
            auto inst = r.instances.find(entry.Parameter);
            if (inst == r.instances.end()) continue;
            for (const InstanceRecord& rec : inst->second.records) {
                if (!rec.PinLevel().empty()) {
                    auto& contexts = r.level_contexts[std::string(rec.PinLevel())];
                    if (!rec.DCCategory().empty())
                        contexts.insert({record.DCSpec, std::string(rec.DCCategory()), std::string(rec.DCSelector())});
                }
                if (!rec.TimeSet().empty()) {
                    auto& contexts = r.time_set_contexts[std::string(rec.TimeSet())];
                    if (!rec.ACCategory().empty())
                        contexts.insert({record.ACSpec, std::string(rec.ACCategory()), std::string(rec.ACSelector())});
                }
            }
        }
    }
    // The key named, not bound: clang 14 cannot capture a structured binding in a lambda.
    for (const auto& entry : r.level_contexts) {
        const std::string& sheet = entry.first;
        loader.load(sheet, {}, [&] {
            ParsePinLevel reader;
            reader.read_pin_level(sheet_file(dir, sheet));
            r.levels[sheet] = LevelSheet{std::move(reader.get_pin_level_info()),
                                         std::move(reader.get_pin_clamp_info())};
        });
    }
    for (const auto& entry : r.time_set_contexts) {
        const std::string& sheet = entry.first;
        loader.load(sheet, {}, [&] {
            ParseTIM reader;
            reader.read_timing(sheet_file(dir, sheet), platform);
            r.time_sets[sheet] = TimeSetSheet{std::move(reader.get_timing_info()),
                                              std::move(reader.get_clk_info())};
        });
    }
}

}  // namespace igxl::diff::detail
