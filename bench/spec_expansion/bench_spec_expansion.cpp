// An AC spec sheet of ROWS symbols, each defined as twice the one before (L1 = _L0+1+_L0+1, ...),
// substituted the way a time-set period is: the goal is well under a second and little memory
// for 26 rows, whether the result is a value or the error naming the variable that grew too
// long. Exits 1 when one substitution takes a second or more.
//
//   bench_spec_expansion [ROWS]   (default 26)
#include <sys/resource.h>

#include <chrono>
#include <iostream>
#include <string>

#include "check/job_walk.h"
#include "check/vantor.h"

namespace igxl {

// The substitution is a private step of the driver; the benchmark reaches it as the tests do.
struct VantorTestAccess {
    static std::string calc(Vantor& v, const std::string& target) {
        if (!v.walk_) v.walk_ = std::make_unique<JobWalk>(v, "", nullptr);
        return v.walk_->spec_calculation(target, ac(v), "Prod", "Typ");
    }
    static SpecMap& ac(Vantor& v) { return v.caches_.specs.ac_spec_dict; }
    static std::string& version(Vantor& v) { return v.caches_.specs.spec_version; }
};

}  // namespace igxl

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::stoi(argv[1]) : 26;
    igxl::Vantor v("./");
    igxl::VantorTestAccess::version(v) = "2.3";
    igxl::VantorTestAccess::ac(v)["L0"] = {{"SELECTOR VAL", "TYP"}, {"PROD TYP", "=1"}};
    for (int i = 1; i < rows; ++i) {
        const std::string prev = "_L" + std::to_string(i - 1);
        igxl::VantorTestAccess::ac(v)["L" + std::to_string(i)] = {{"SELECTOR VAL", "TYP"},
                                                   {"PROD TYP", "=" + prev + "+1+" + prev + "+1"}};
    }
    double worst = 0;
    for (int i = 0; i < rows; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::string outcome;
        try {
            outcome = std::to_string(igxl::VantorTestAccess::calc(v, "=_L" + std::to_string(i)).size()) +
                      " characters";
        } catch (const std::exception& e) {
            outcome = e.what();
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        worst = std::max(worst, s);
        std::cout << "L" << i << ": " << s << " s, " << outcome << "\n";
    }
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::cout << "slowest " << worst << " s, peak memory " << u.ru_maxrss / 1024 << " MB\n";
    return worst < 1.0 ? 0 : 1;
}
