#include <xlsxwriter.h>

#include "check/vantor.h"
#include "util/error.h"

namespace igxl {

void Vantor::reset_walk_state() {}

void Vantor::run_each_flow(const std::string& job_name) {
    auto it = job_list_dict.find(job_name);
    if (it == job_list_dict.end()) throw Error("job '" + job_name + "' is not in the job list");
    update_progressbar(1);
    put_data_log("Parse Job: " + job_name);
    init();
    sort_bin_dscrp.clear();
    update_progressbar(100);
}

}  // namespace igxl
