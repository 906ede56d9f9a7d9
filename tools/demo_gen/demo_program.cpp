#include "tools/demo_gen/demo_program.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "tools/demo_gen/program_writer.h"
#include "util/error.h"
#include "util/text.h"

namespace fs = std::filesystem;

namespace igxl::demo {

namespace {

// splitmix64: the same sequence for a seed on every platform and library (the standard
// distributions are not portable).
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return n ? static_cast<size_t>(next() % n) : 0; }
    bool chance(unsigned percent) { return below(100) < percent; }

private:
    uint64_t s_;
};

std::string num3(size_t i) {
    std::string s = std::to_string(i);
    return s.size() < 3 ? std::string(3 - s.size(), '0') + s : s;
}

Cell N(double v) { return Cell::num(v); }

// What one test of a flow runs.
enum class Kind { Func, Scan, Jtag, Leakage, Idd };

struct Test {
    std::string name;
    Kind kind;
    std::string pattern_set;     // Func/Scan/Jtag
    std::string direct_pattern;  // Leakage: a pattern file named in the instance row
    bool second_record = false;  // a second instance row of the same name
    bool no_dc_category = false;
};

struct PatternFile {
    std::string file;  // base name with its extension(s)
    std::vector<std::string> tsets;
};

struct Job {
    std::string name, flow, ac, dc;
    std::vector<Test> tests;
};

class Generator {
public:
    explicit Generator(const DemoOptions& o)
        : o_(o), rng_(o.seed), uf_(util::contains(o.platform, "UltraFLEX")),
          plus_(o.platform == "UltraFLEXplus") {}

    DemoStats run();

private:
    // Title row: the sheet tag with its version on UltraFLEX, "DFF n.n" on J750.
    Cell title(const char* tag, const char* version, const char* dff = "DFF 1.1") const {
        if (!uf_) return Cell(dff);
        return Cell(std::string(tag) + ",version=" + version +
                    ":platform=Jaguar:toprow=-1:leftcol=-1:rightcol=-1");
    }
    std::string pat_ref(const std::string& file) const { return ".\\patterns\\" + file; }

    void plan();
    void write_patterns();
    void write_job_list(ProgramWriter& w);
    void write_flow(ProgramWriter& w, const std::string& sheet, const std::vector<Test>& tests,
                    size_t tnum_base, bool call_sub);
    void write_instances(ProgramWriter& w, const std::string& sheet, const std::vector<Test>& tests);
    void write_pattern_sets(ProgramWriter& w, const std::string& sheet, bool scan);
    void write_time_sets(ProgramWriter& w, const std::string& sheet, bool scan);
    void write_levels(ProgramWriter& w, const std::string& sheet, bool low);
    void write_spec(ProgramWriter& w, const std::string& sheet, bool ac, bool v30);
    void write_global(ProgramWriter& w);

    const DemoOptions& o_;
    Rng rng_;
    bool uf_, plus_;
    unsigned n_ = 1;

    std::vector<Job> jobs_;
    std::vector<Test> sub_tests_;
    std::vector<PatternFile> func_pats_, scan_pats_, jtag_pats_, dc_pats_;
    // Pattern set name -> entries (pattern references or set names), in sheet order.
    std::vector<std::pair<std::string, std::vector<std::string>>> func_sets_, scan_sets_;
    std::vector<std::string> power_pins_, signal_groups_, timesets_func_, timesets_scan_;
    size_t patterns_written_ = 0;
};

void Generator::plan() {
    n_ = std::max(1u, o_.size);
    const size_t func_pool = 12 + std::min<size_t>(n_, 100) * 2;
    const std::string direct_ext = plus_ ? ".PATX" : ".PAT";

    // Pattern files: every fourth functional pattern and every scan pattern compressed.
    for (size_t i = 0; i < func_pool; ++i) {
        PatternFile p;
        p.file = "func_" + num3(i) + (i % 4 == 3 ? ".PAT.GZ" : ".PAT");
        p.tsets = {"ts_func"};
        if (i % 3 == 1) p.tsets.push_back("ts_fast");
        func_pats_.push_back(p);
    }
    // A pattern that uses a time set the time-set sheet lacks: the check reports it.
    func_pats_.push_back({"func_legacy.PAT", {"ts_func", "ts_legacy"}});
    for (size_t i = 0; i < 4 + std::min<size_t>(n_, 100) / 2; ++i) {
        scan_pats_.push_back({"scan_" + num3(i) + ".PAT.GZ", {"ts_scan_shift", "ts_scan_cap"}});
    }
    jtag_pats_ = {{"jtag_idcode.PAT", {"ts_jtag"}},
                  {"jtag_bypass.PATX.GZ", {"ts_jtag", "ts_func"}},
                  {"jtag_boundary.PATX", {"ts_jtag"}}};
    for (size_t i = 0; i < 3; ++i) dc_pats_.push_back({"dc_init_" + num3(i) + direct_ext, {"ts_dc"}});

    // Pattern sets: one to three patterns each; the JTAG sets nest.
    const size_t n_func_sets = 6 + 4 * static_cast<size_t>(n_);
    for (size_t i = 0; i < n_func_sets; ++i) {
        std::vector<std::string> entries;
        size_t count = 1 + rng_.below(3);
        for (size_t k = 0; k < count; ++k) {
            entries.push_back(pat_ref(func_pats_[rng_.below(func_pats_.size() - 1)].file));
        }
        if (i == 2) entries.push_back(pat_ref(func_pats_.back().file));
        func_sets_.push_back({"ps_func_" + num3(i), entries});
    }
    func_sets_.push_back({"ps_jtag_id", {pat_ref(jtag_pats_[0].file)}});
    func_sets_.push_back({"ps_jtag_chain", {pat_ref(jtag_pats_[1].file), pat_ref(jtag_pats_[2].file)}});
    func_sets_.push_back({"ps_jtag_all", {"ps_jtag_id", "ps_jtag_chain"}});
    const size_t n_scan_sets = 2 + 2 * static_cast<size_t>(n_);
    for (size_t i = 0; i < n_scan_sets; ++i) {
        std::vector<std::string> entries = {pat_ref(scan_pats_[rng_.below(scan_pats_.size())].file)};
        if (rng_.chance(40)) entries.push_back(pat_ref(scan_pats_[rng_.below(scan_pats_.size())].file));
        scan_sets_.push_back({"ps_scan_" + num3(i), entries});
    }

    power_pins_ = {"vdd_core", "vdd_io", "vdda", "vpp"};
    for (size_t k = 0; k + 1 < std::min<unsigned>(n_, 9); ++k) power_pins_.push_back("vdd_aux" + std::to_string(k));
    signal_groups_ = {"all_inputs", "all_outputs", "clk_pins", "jtag_pins"};
    for (size_t k = 0; k + 1 < n_ * 2; ++k) signal_groups_.push_back("io_grp_" + num3(k));
    timesets_func_ = {"ts_func", "ts_fast", "ts_jtag", "ts_dc"};
    for (size_t k = 0; k + 1 < n_ * 3; ++k) timesets_func_.push_back("ts_gen_" + num3(k));
    timesets_scan_ = {"ts_scan_shift", "ts_scan_cap"};

    // Tests: each job a flow of its own; a common sub-flow called from every job.
    auto make_tests = [&](const std::string& prefix, size_t count) {
        std::vector<Test> tests;
        for (size_t i = 0; i < count; ++i) {
            Test t;
            static const Kind cycle[] = {Kind::Func, Kind::Func, Kind::Leakage, Kind::Scan,
                                         Kind::Func, Kind::Idd,  Kind::Jtag,    Kind::Func};
            t.kind = cycle[i % 8];
            static const char* kind_name[] = {"Func", "Scan", "Jtag", "Leak", "Idd"};
            t.name = prefix + "_" + kind_name[static_cast<int>(t.kind)] + "_" + num3(i);
            switch (t.kind) {
                case Kind::Func: t.pattern_set = func_sets_[rng_.below(n_func_sets)].first; break;
                case Kind::Scan: t.pattern_set = scan_sets_[rng_.below(n_scan_sets)].first; break;
                case Kind::Jtag: t.pattern_set = i % 16 == 6 ? "ps_jtag_all" : "ps_jtag_id"; break;
                case Kind::Leakage: t.direct_pattern = pat_ref(dc_pats_[i % dc_pats_.size()].file); break;
                case Kind::Idd: t.no_dc_category = i % 16 == 13; break;
            }
            t.second_record = t.kind == Kind::Func && i % 10 == 4;
            tests.push_back(std::move(t));
        }
        return tests;
    };
    const size_t per_flow = 12 * static_cast<size_t>(n_);
    jobs_ = {{"FT_Room", "Flow_FT_Room", "AC Specs", "DC Specs", {}},
             {"FT_Hot", "Flow_FT_Hot", "AC Specs", "DC Specs", {}},
             {"QA_Low", "Flow_QA_Low", "AC Specs Lo", "DC Specs Lo", {}}};
    for (auto& j : jobs_) j.tests = make_tests(j.name, per_flow);
    sub_tests_ = make_tests("Common", 4 * static_cast<size_t>(n_));
}

void write_text_or_gzip(const std::string& path, const std::string& text, bool gz) {
    if (!gz) {
        std::ofstream out(path, std::ios::binary);
        out << text;
        if (!out.flush()) throw Error("cannot write '" + path + "'");
        return;
    }
    // A fixed header time and level keep compressed output the same run after run.
    gzFile f = gzopen(path.c_str(), "wb9");
    if (!f) throw Error("cannot write '" + path + "'");
    bool ok = gzwrite(f, text.data(), static_cast<unsigned>(text.size())) ==
              static_cast<int>(text.size());
    if (gzclose(f) != Z_OK || !ok) throw Error("cannot write '" + path + "'");
}

void Generator::write_patterns() {
    const std::string dir = o_.out_dir + "/patterns";
    fs::create_directories(dir);
    auto write_one = [&](const PatternFile& p) {
        std::string name = p.file.substr(0, p.file.find('.'));
        std::string text = "// demo pattern " + name + "\npattern " + name + ";\nimport tset ";
        for (size_t i = 0; i < p.tsets.size(); ++i) text += (i ? ", " : "") + p.tsets[i];
        text += ";\nvector ($tset, clk_main, jtag_tdi, jtag_tdo, data_bus)\n{\nstart_" + name + ":\n";
        const size_t vectors = 6 + rng_.below(6);
        for (size_t v = 0; v < vectors; ++v) {
            const std::string& ts = p.tsets[v % p.tsets.size()];
            if (v % 3 == 2) text += "repeat " + std::to_string(2 + rng_.below(30)) + " ";
            text += "> " + ts + " 1 " + (v % 2 ? "0" : "1") + " " + (v % 2 ? "H" : "L") + " X ;\n";
        }
        text += "}\n";
        std::string upper = util::to_upper(p.file);
        bool gz = upper.size() > 3 && upper.compare(upper.size() - 3, 3, ".GZ") == 0;
        write_text_or_gzip(dir + "/" + p.file, text, gz);
        ++patterns_written_;
    };
    for (const auto* pool : {&func_pats_, &scan_pats_, &jtag_pats_, &dc_pats_}) {
        for (const auto& p : *pool) write_one(p);
    }
}

void Generator::write_job_list(ProgramWriter& w) {
    w.begin_sheet("Job List", 20);
    w.row({title("DTJobListSheet", "2.5"), "Job List"});
    w.blank_row();
    w.row({"", "", "Sheet Parameters"});
    w.row({"", "Job Name", "Pin Map", "Test Instances", "Flow Table", "AC Specs", "DC Specs",
           "Pattern Sets", "Pattern Groups", "Bin Table", "Characterization", "Test Procedures",
           "Mixed Signal Timing", "Wave Definitions", "Psets", "Signals", "Port Map",
           "Fractional Bus", "Concurrent Sequence", "Comment"});
    for (const auto& j : jobs_) {
        w.row({"", j.name, "PinMap", "Test Instances,Test Instances Sub", j.flow, j.ac, j.dc,
               "PatSets_Func,PatSets_Scan", "", "", "", "", "", "", "", "", "", "", "",
               "demo job " + j.name});
    }
    w.end_sheet();
}

void Generator::write_flow(ProgramWriter& w, const std::string& sheet, const std::vector<Test>& tests,
                           size_t tnum_base, bool call_sub) {
    // Column positions of the two layouts (UltraFLEX has limit and datalog columns).
    const size_t width = uf_ ? 33 : 28;
    const size_t c_hard = uf_ ? 16 : 11, c_sort = uf_ ? 18 : 13, c_result = uf_ ? 19 : 14;
    w.begin_sheet(sheet, width);
    w.row({title("DTFlowtableSheet", "2.2"), "Flow Table"});
    w.row({"", "", "", "", "", "", "Flow Domain:"});
    if (uf_) {
        w.row({"", "", "", "Gate", "", "", "Command", "", "", "", "Limits", "", "Datalog Display Results",
               "", "", "Bin Number", "", "Sort Number", "", "", "Flag", "", "", "Group", "", "", "",
               "Device", "", "", "Debug", "", ""});
        w.row({"", "Label", "Enable", "Job", "Part", "Env", "Opcode", "Parameter", "TName", "TNum",
               "LoLim", "HiLim", "Scale", "Units", "Format", "Pass", "Fail", "Pass", "Fail", "Result",
               "Pass", "Fail", "State", "Specifier", "Sense", "Condition", "Name", "Sense",
               "Condition", "Name", "Assume", "Sites", "Comment"});
    } else {
        w.row({"", "", "", "Gate", "", "", "Command", "", "", "", "Bin Number", "", "Sort Number", "",
               "", "Flag", "", "", "Group", "", "", "", "Device", "", "", "", "", "Debug"});
        w.row({"", "Label", "Enable", "Job", "Part", "Env", "Opcode", "Parameter", "TName", "TNum",
               "Pass", "Fail", "Pass", "Fail", "Result", "Pass", "Fail", "State", "Specifier", "Sense",
               "Condition", "Name", "Sense", "Condition", "Name", "Assume", "Sites", "Comment"});
    }
    auto flow_row = [&](const std::string& opcode, const std::string& param) {
        Row r(width);
        r[6] = opcode;
        r[7] = param;
        return r;
    };
    w.row(flow_row("logprint", sheet + " start"));
    // A section banner: IG-XL programs use nop rows as headings.
    w.row(flow_row("nop", "======= " + sheet + " ======="));
    const size_t call_at = tests.size() / 2;
    for (size_t i = 0; i < tests.size(); ++i) {
        if (call_sub && i == call_at) w.row(flow_row("call", "Flow_Sub_Common"));
        const Test& t = tests[i];
        Row r = flow_row(i % 9 == 5 ? "Test-defer-limits" : "Test", t.name);
        r[8] = t.name;
        const double tnum = static_cast<double>(tnum_base + i * 10);
        r[9] = N(tnum);
        r[c_result] = "Fail";
        // A test run only in characterisation (Env set) is not part of the production flow.
        if (i % 23 == 11) r[5] = "Char";
        const bool bins_on_limit_row = i % 3 == 2;
        const double bin = static_cast<double>(10 + static_cast<int>(t.kind));
        const double sort = static_cast<double>(100 + i % 50);
        if (!bins_on_limit_row) {
            r[c_hard] = N(bin);
            r[c_sort] = N(sort);
        }
        w.row(r);
        if (bins_on_limit_row || t.kind == Kind::Leakage) {
            Row u = flow_row("Use-Limit", "");
            u[9] = N(tnum + 1);
            if (uf_) {
                u[10] = t.kind == Kind::Leakage ? "=-1*uA" : "=0";
                u[11] = t.kind == Kind::Leakage ? "=1*uA" : "=1";
                u[13] = t.kind == Kind::Leakage ? "A" : "";
            }
            u[c_hard] = N(bin);
            u[c_sort] = N(sort + 1);
            u[c_result] = "Fail";
            w.row(u);
        }
    }
    Row pass = flow_row("set-device", "");
    pass[c_hard - 1] = N(1);
    pass[c_sort - 1] = N(1);
    pass[c_result] = "Pass";
    w.row(pass);
    w.end_sheet();
}

void Generator::write_instances(ProgramWriter& w, const std::string& sheet,
                                const std::vector<Test>& tests) {
    const size_t n_args = 25, width = 14 + n_args + 1;
    w.begin_sheet(sheet, width);
    w.row({title("DTTestInstancesSheet", "2.4", "DFF 1.3"), "Test Instances"});
    w.blank_row();
    w.row({"", "", "Test Procedure", "", "", "DC Specs", "", "AC Specs", "", "Sheet Parameters", "",
           "", "", "", "Other Parameters"});
    Row head = {"", "Test Name", "Type", "Name", "Called As", "Category", "Selector", "Category",
                "Selector", "Time Sets", "Edge Sets", "Pin Levels", "Mixed Signal Timing", "Overlay"};
    for (size_t a = 0; a < n_args; ++a) head.push_back("Arg" + std::to_string(a));
    head.push_back("Comment");
    w.row(head);

    static const char* kFunctionalArgs =
        "Patterns,StartOfBodyF,PrePatF,PreTestF,PostTestF,PostPatF,EndOfBodyF,ReportResult,"
        "ResultMode,DriveLoPins,DriveHiPins,DriveZPins,DisablePins,FloatPins";
    for (const auto& t : tests) {
        for (int record = 0; record < (t.second_record ? 2 : 1); ++record) {
            Row r(width);
            r[1] = t.name;
            r[2] = "VBT";
            r[5] = record ? "Stress" : "Typ_Cond";
            r[6] = record ? "max" : "nom";
            r[7] = t.kind == Kind::Jtag ? "Fast_Cond" : "Func_Cond";
            r[8] = record ? "max_ac" : "typ_ac";
            r[9] = t.kind == Kind::Scan ? "TSB_Scan" : "TSB_Func";
            r[11] = record || t.kind == Kind::Idd ? "Levels_Low" : "Levels_Func";
            switch (t.kind) {
                case Kind::Func:
                case Kind::Scan:
                case Kind::Jtag:
                    r[3] = "Functional_T";
                    r[14] = kFunctionalArgs;
                    r[15] = t.pattern_set;
                    r[16] = "";
                    r[22] = "Pass/Fail";
                    r[23] = "All";
                    break;
                case Kind::Leakage:
                    r[3] = "Leakage_T";
                    r[14] = "Pins,ForceV,LoLimit,HiLimit,InitPattern,SettleTime";
                    r[15] = "all_inputs";
                    r[16] = "=_VIO_NOM";
                    r[17] = "=-1*uA";
                    r[18] = "=1*uA";
                    r[19] = t.direct_pattern;
                    r[20] = N(0.001);
                    break;
                case Kind::Idd:
                    r[3] = "Idd_T";
                    r[14] = "Pins,Samples,HiLimit";
                    r[15] = "vdd_core";
                    r[16] = N(16);
                    r[17] = "=_IDD_LIMIT";
                    // No pattern and no time set: only the power block applies.
                    r[9] = "";
                    if (t.no_dc_category) r[5] = r[6] = "";
                    break;
            }
            r[width - 1] = record ? "stress corner" : "";
            w.row(r);
        }
    }
    w.end_sheet();
}

void Generator::write_pattern_sets(ProgramWriter& w, const std::string& sheet, bool scan) {
    const auto& sets = scan ? scan_sets_ : func_sets_;
    if (uf_) {
        w.begin_sheet(sheet, 9);
        w.row({title("DTPatternSetSheet", "2.3"), "Pattern Sets"});
        w.blank_row();
        w.row({"", "Pattern Set", "TD Group", "Time Domain", "File/Group Name", "Burst",
               "Start Label", "Stop Label", "Comment"});
        for (const auto& [name, entries] : sets) {
            for (const auto& e : entries) w.row({"", name, "", "", e, "Yes", "", "", ""});
        }
    } else {
        w.begin_sheet(sheet, 6);
        w.row({title("", ""), "Pattern Sets"});
        w.blank_row();
        w.row({"", "Pattern Set", "File/Group Name", "Start Label", "Stop Label", "Comment"});
        for (const auto& [name, entries] : sets) {
            for (const auto& e : entries) w.row({"", name, e, "", "", ""});
        }
    }
    w.end_sheet();
}

void Generator::write_time_sets(ProgramWriter& w, const std::string& sheet, bool scan) {
    static const char* kPins[] = {"clk_main", "clk_aux", "jtag_tck", "jtag_tdi",
                                  "jtag_tdo", "jtag_tms", "data_bus", "ctrl_pins"};
    const auto& sets = scan ? timesets_scan_ : timesets_func_;
    auto period_of = [&](const std::string& ts, size_t k) -> std::string {
        if (ts == "ts_func") return "=_PER_FUNC";
        if (ts == "ts_fast") return "=_PER_FAST";
        if (ts == "ts_jtag") return "=_PER_JTAG";
        if (ts == "ts_dc") return "=1*us";
        if (ts == "ts_scan_shift") return "=_PER_SCAN";
        if (ts == "ts_scan_cap") return "=_PER_SCAN*2";
        return "=" + std::to_string(20 + k % 30) + "*ns";
    };
    auto clock_pin = [](const std::string& ts) {
        return ts == "ts_jtag" ? std::string("jtag_tck") : std::string("clk_main");
    };
    if (uf_) {
        w.begin_sheet(sheet, 18);
        w.row({title("DTTimesetBasicSheet", "2.3"), "Time Sets (Basic)"});
        w.blank_row();
        w.row({"", "Timing Mode:", "Single", "", "Master Timeset Name:"});
        w.row({"", "Time Domain:", "", "", "Strobe Ref Setup Name:"});
        w.blank_row();
        w.row({"", "", "Cycle", "Pin/Group", "", "", "Data", "", "Drive", "", "", "", "Compare", "",
               "", "", "Edge Resolution", ""});
        w.row({"", "Time Set", "Period", "Name", "Clock Period", "Setup", "Src", "Fmt", "On", "Data",
               "Return", "Off", "Mode", "Open", "Close", "Ref Offset", "Mode", "Comment"});
        for (size_t k = 0; k < sets.size(); ++k) {
            const std::string& ts = sets[k];
            const std::string period = period_of(ts, k);
            for (const char* pin : kPins) {
                Row r(18);
                r[1] = ts;
                r[2] = period;
                r[3] = pin;
                const bool is_clock = pin == clock_pin(ts) || (ts == "ts_func" && std::string(pin) == "clk_aux");
                if (is_clock) {
                    // Clock period as a spec expression, or a fraction of the cycle.
                    r[4] = ts == "ts_func" && std::string(pin) == "clk_aux" ? "=_PER_FUNC/4"
                           : ts == "ts_jtag"                                 ? "=_PER_JTAG"
                                                                             : period + "/2";
                    r[5] = "clock";
                    r[6] = "PAT";
                    r[7] = "RL";
                } else {
                    r[5] = "i/o";
                    r[6] = "PAT";
                    r[7] = "NR";
                    r[8] = "=0*ns";
                    r[12] = "Edge";
                    r[13] = "=5*ns";
                }
                r[16] = "Auto";
                w.row(r);
            }
        }
    } else {
        w.begin_sheet(sheet, 16);
        w.row({title("", ""), "Time Sets (Basic)"});
        w.blank_row();
        w.row({"", "Timing Mode:", "Single"});
        w.blank_row();
        w.row({"", "", "Cycle", "Pin/Group", "Clock", "", "Data", "", "Drive", "", "", "",
               "Compare", "", "", ""});
        w.row({"", "Time Set", "Period", "Name", "Divide", "Setup", "Src", "Fmt", "On", "Data",
               "Return", "Off", "Mode", "Open", "Close", "Comment"});
        for (size_t k = 0; k < sets.size(); ++k) {
            const std::string& ts = sets[k];
            const std::string period = period_of(ts, k);
            for (const char* pin : kPins) {
                Row r(16);
                r[1] = ts;
                r[2] = period;
                r[3] = pin;
                if (pin == clock_pin(ts)) {
                    // J750 master clock generator: the period divided by a ratio.
                    r[4] = N(ts == "ts_jtag" ? 1 : 2);
                    r[5] = "mcg";
                    r[7] = "RL";
                } else {
                    r[5] = "i/o";
                    r[7] = "NR";
                    r[8] = "=0*ns";
                }
                r[6] = "PAT";
                w.row(r);
            }
        }
    }
    w.end_sheet();
}

void Generator::write_levels(ProgramWriter& w, const std::string& sheet, bool low) {
    w.begin_sheet(sheet, 6);
    w.row({title("DTLevelSheet", "2.1"), "Pin Levels"});
    w.blank_row();
    w.row({"", "Pin/Group", "Seq.", "Parameter", "Value", "Comment"});
    for (size_t i = 0; i < power_pins_.size(); ++i) {
        const std::string& p = power_pins_[i];
        Cell supply, fold;
        if (p == "vdd_core") {
            supply = low ? "=_VDD_CORE_LVL*0.9" : "=_VDD_CORE_LVL";
            fold = "=_FOLD_CORE";
        } else if (p == "vdd_io") {
            supply = "=_VIO_NOM";
            fold = "=200*mA";
        } else if (p == "vdda") {
            supply = "=_VDDA_LVL";
            fold = "=_GL_FOLD";
        } else if (p == "vpp") {
            // Programming supply switched off in the low corner.
            supply = low ? N(0) : Cell("=_VPP_LVL");
            fold = N(0.1);
        } else {
            supply = N(low ? 1.05 : 1.2);
            fold = "=50*mA";
        }
        // DCVS supplies name their level VPS on UltraFLEX; the others VMain.
        w.row({"", p, "", p == "vdda" && uf_ ? "VPS" : "VMain", supply, "main supply"});
        w.row({"", p, "", "VAlt", N(0), ""});
        w.row({"", p, "", "IFoldLevel", fold, ""});
        w.row({"", p, "", "Tdelay", "=1*ms", ""});
    }
    static const std::pair<const char*, const char*> kSignal[] = {
        {"Vil", "=_VIO_NOM*0.3"}, {"Vih", "=_VIO_NOM*0.7"}, {"Vol", "0.4"}, {"Voh", "=_VIO_NOM-0.4"},
        {"Iol", "=1*mA"},         {"Ioh", "=-1*mA"},        {"Vt", "=_VIO_NOM/2"}, {"DriverMode", "Fixed"}};
    for (size_t g = 0; g < signal_groups_.size(); ++g) {
        if (low && g % 2 == 1) continue;
        for (const auto& [param, value] : kSignal) {
            Cell v = std::string(param) == "Vol" ? N(0.4) : Cell(value);
            w.row({"", signal_groups_[g], "", param, v, ""});
        }
    }
    w.end_sheet();
}

void Generator::write_spec(ProgramWriter& w, const std::string& sheet, bool ac, bool v30) {
    // J750 sheets carry the selector name/value columns ("DFF 1.1" is not 3.0).
    if (!uf_) v30 = false;
    const std::vector<std::string> cats = ac ? std::vector<std::string>{"Func_Cond", "Fast_Cond"}
                                             : std::vector<std::string>{"Typ_Cond", "Stress"};
    const std::vector<std::string> selectors =
        ac ? std::vector<std::string>{"typ_ac", "max_ac"} : std::vector<std::string>{"nom", "min", "max"};
    const size_t sel_cols = v30 ? selectors.size() : 2;
    const size_t width = 3 + sel_cols + 3 * cats.size() + 1;

    w.begin_sheet(sheet, width);
    const char* tag = ac ? "DTACSpecSheet" : "DTDCSpecSheet";
    w.row({title(tag, v30 ? "3.0" : "2.3"), ac ? "AC Specs" : "DC Specs"});
    w.blank_row();
    Row cat_row(width), head(width);
    cat_row[3] = v30 ? "Selectors" : "Selector";
    head[1] = "Symbol";
    head[2] = "Value";
    for (size_t s = 0; s < sel_cols; ++s) {
        head[3 + s] = v30 ? Cell(selectors[s]) : Cell(s == 0 ? "Name" : "Val");
    }
    for (size_t c = 0; c < cats.size(); ++c) {
        cat_row[3 + sel_cols + 3 * c] = cats[c];
        head[3 + sel_cols + 3 * c] = "Typ";
        head[4 + sel_cols + 3 * c] = "Min";
        head[5 + sel_cols + 3 * c] = "Max";
    }
    head[width - 1] = "Comment";
    w.row(cat_row);
    w.row(head);

    struct Sym {
        std::string name;
        double typ;       // in the unit below
        const char* unit;  // "" for plain numbers
    };
    std::vector<Sym> syms;
    if (ac) {
        syms = {{"PER_FUNC", 20, "ns"}, {"PER_FAST", 10, "ns"}, {"PER_JTAG", 100, "ns"},
                {"PER_SCAN", 40, "ns"}, {"T_SETUP", 2.5, "ns"}};
        for (size_t k = 0; k < 4 * static_cast<size_t>(n_); ++k) {
            syms.push_back({"SPARE_AC_" + num3(k), static_cast<double>(5 + k % 40), "ns"});
        }
    } else {
        syms = {{"VDD_CORE_LVL", 0.9, "V"}, {"VDDA_LVL", 1.8, "V"}, {"VPP_LVL", 0, ""},
                {"FOLD_CORE", 500, "mA"},   {"IDD_LIMIT", 50, "mA"}, {"LEAK_LIMIT", 10, "uA"}};
        for (size_t k = 0; k < 4 * static_cast<size_t>(n_); ++k) {
            syms.push_back({"SPARE_DC_" + num3(k), 1.0 + static_cast<double>(k % 10) / 10, "V"});
        }
    }
    auto value = [](double v, const char* unit) -> Cell {
        v = std::round(v * 10000) / 10000;  // no binary noise such as 0.9900000000000001
        if (!*unit) return N(v);
        std::string digits = std::floor(v) == v ? std::to_string(static_cast<long long>(v))
                                                : util::format_double(v);
        return Cell("=" + digits + "*" + unit);
    };
    for (size_t i = 0; i < syms.size(); ++i) {
        const Sym& s = syms[i];
        Row r(width);
        r[1] = s.name;
        r[2] = "#N/A";
        // Selector value per symbol: mostly Typ, some corners at Min/Max.
        static const char* kSel[] = {"Typ", "Typ", "Max", "Min"};
        if (v30) {
            for (size_t k = 0; k < sel_cols; ++k) r[3 + k] = k == 0 ? "Typ" : kSel[(i + k) % 4];
        } else {
            r[3] = selectors[0];
            r[4] = kSel[i % 4];
        }
        for (size_t c = 0; c < cats.size(); ++c) {
            const double scale = c == 0 ? 1.0 : (ac ? 0.5 : 1.1);
            const double typ = s.typ * scale;
            r[3 + sel_cols + 3 * c] = value(typ, s.unit);
            r[4 + sel_cols + 3 * c] = value(typ * 0.9, s.unit);
            r[5 + sel_cols + 3 * c] = value(typ * 1.1, s.unit);
        }
        w.row(r);
    }
    w.end_sheet();
}

void Generator::write_global(ProgramWriter& w) {
    w.begin_sheet("Global Specs", 5);
    w.row({title("DTGlobalSpecSheet", "2.0"), "Global Specs"});
    w.blank_row();
    w.row({"", "Symbol", "Job", "Value", "Comment"});
    w.row({"", "Vcl_default", "", N(-1), "Detector clamp voltage low"});
    w.row({"", "VIO_NOM", "", N(3.3), "I/O supply"});
    w.row({"", "GL_FOLD", "", "=0.2*A", "default fold level"});
    w.row({"", "TEMP_ROOM", "", N(25), ""});
    for (size_t k = 0; k < 2 * static_cast<size_t>(n_); ++k) {
        w.row({"", "GL_SPARE_" + num3(k), "", N(static_cast<double>(k % 7)), ""});
    }
    w.end_sheet();
}

DemoStats Generator::run() {
    fs::create_directories(o_.out_dir);
    plan();
    write_patterns();

    const std::string book = o_.write_workbook ? o_.out_dir + "/" + kWorkbookName : std::string();
    // Large programs stream each sheet to the workbook instead of holding every cell.
    ProgramWriter w(o_.out_dir, book, n_ > 20);
    DemoStats stats;
    write_job_list(w);
    size_t base = 1000;
    for (const auto& j : jobs_) {
        write_flow(w, j.flow, j.tests, base, true);
        base += 100000;
        stats.tests += j.tests.size();
    }
    write_flow(w, "Flow_Sub_Common", sub_tests_, 900000, false);
    stats.tests += sub_tests_.size();
    std::vector<Test> main_tests;
    for (const auto& j : jobs_) main_tests.insert(main_tests.end(), j.tests.begin(), j.tests.end());
    write_instances(w, "Test Instances", main_tests);
    write_instances(w, "Test Instances Sub", sub_tests_);
    write_pattern_sets(w, "PatSets_Func", false);
    write_pattern_sets(w, "PatSets_Scan", true);
    write_time_sets(w, "TSB_Func", false);
    write_time_sets(w, "TSB_Scan", true);
    write_levels(w, "Levels_Func", false);
    write_levels(w, "Levels_Low", true);
    write_spec(w, "DC Specs", false, true);
    write_spec(w, "AC Specs", true, true);
    write_spec(w, "DC Specs Lo", false, false);
    write_spec(w, "AC Specs Lo", true, false);
    write_global(w);
    w.finish();

    stats.sheets = 18;
    stats.rows = w.rows_written();
    stats.patterns = patterns_written_;
    return stats;
}

}  // namespace

DemoStats generate_demo_program(const DemoOptions& options) {
    if (options.out_dir.empty()) throw Error("no output folder given");
    return Generator(options).run();
}

}  // namespace igxl::demo
