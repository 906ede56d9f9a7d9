// The check driver: one check of one IG-XL test program, from device export to report workbook.
#pragma once
#include <array>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <tsl/ordered_map.h>

#include "parsers/job_list.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

namespace igxl {

// Which spec and pattern-set files were read last, so the walk never reads one twice in a row.
struct LastFlowInfo {
    std::optional<std::string> dc_spec_name;
    std::optional<std::string> glob_spec_name;
    std::optional<std::string> ac_spec_name;
    std::optional<std::string> pattern_set_name;
};

// Pattern -> names of the tests that use it (duplicates kept, in order of use).
using PatternInstanceMap = tsl::ordered_map<std::string, std::vector<std::string>>;
// Pattern -> time-set name -> ","-joined period (or frequency) texts.
using PatternTsetMap = tsl::ordered_map<std::string, tsl::ordered_map<std::string, std::string>>;

class Vantor {
public:
    using LogCallback = std::function<void(const std::string&)>;
    using ProgressCallback = std::function<void(double)>;

    explicit Vantor(std::string device_directory);
    ~Vantor();
    Vantor(const Vantor&) = delete;
    Vantor& operator=(const Vantor&) = delete;

    void reset();
    void read_device(const std::string& device_path, const std::string& power_order_path,
                     const std::string& pattern_path, const std::string& platform,
                     LogCallback text, const std::string& cycle_mode,
                     const std::string& context_env, int enable_orvane,
                     ProgressCallback progressbarOne);
    JobListMap& get_job_list() { return job_list_dict; }
    // Returns the report paths written: the check report, then the VBT report when that ran.
    std::vector<std::string> run(const std::vector<std::string>& job_name_set,
                                 const std::string& work_dir = "./");

    void excel_file_optimise(lxw_worksheet* worksheet, const std::string& freezePane = "C2");
    void save_max_col(int col_cnt);
    void update_progressbar(double val);

    void write_pat_tset_map(const PatternInstanceMap& pat2inst_dict, const PatternTsetMap& my_dict,
                            lxw_worksheet* worksheet);
    void write_bin_descrp(lxw_worksheet* worksheet);
    void write_inst_para(lxw_worksheet* worksheet);
    void write_power_pin_clamp(lxw_worksheet* worksheet);

    // The report name for a given local time: Vantor_<YYYY-MM-DD>__<H><M><S>.xlsm.
    static std::string report_file_name(const std::tm& local_time);
    // Folder holding "vbaProject.bin": "bin" beside the driver library.
    static std::string vba_project_path();

    // State (public, as the host and tests read it).
    std::string device_directory;
    std::string power_order_path;
    std::string pattern_path;
    JobListMap job_list_dict;
    lxw_worksheet* work_sheet = nullptr;
    LogCallback text;
    LastFlowInfo last_flow_info;
    int MAX_DSP_CNT = 0;
    std::string platform = "UltraFLEX";
    int print_inst_info_col_cnt = 6;
    int write_row_index = 0;
    std::string cycle_mode;
    PatternTsetMap tset_dict;
    PatternInstanceMap pat2inst_dict;
    ProgressCallback progressbarOne;
    std::vector<std::string> power_list;
    std::vector<std::array<std::string, 2>> sort_bin_dscrp;
    tsl::ordered_map<std::string, tsl::ordered_map<std::string, double>> power_pin_clamp_dict;
    bool enable_orvane = false;
    std::string context_env;

    lxw_format* format_red = nullptr;
    lxw_format* format_yellow = nullptr;
    lxw_format* format_orange = nullptr;
    lxw_format* format_bold = nullptr;

    // True when the last run ended through its catch-all (the host turns it into an exit status).
    bool last_run_failed = false;

private:
    void put_data_log(const std::string& data_log);
    void run_each_flow(const std::string& job_name);
    void init();
    void run_vbt_step(const std::string& work_dir, std::vector<std::string>& result);
    // Clears what the flow walk keeps between jobs (parser maps and their versions).
    void reset_walk_state();
    void fail_run(const std::string& message);

    lxw_workbook* workbook_ = nullptr;
};

}  // namespace igxl
