// Spec variable substitution and the arithmetic evaluator. The input's first line is an
// expression; each later line defines a variable: "NAME<tab>VALUE" in the global spec sheet,
// "NAME<tab>SELECTOR<tab>VALUE" in the AC spec sheet (category Prod). Every evaluation gives a
// number or one igxl::Error, in bounded time and memory however the variables nest.
#include <string>
#include <string_view>
#include <vector>

#include "check/arith.h"
#include "check/job_walk.h"
#include "check/vantor.h"
#include "export/common.h"
#include "util/error.h"
#include "util/text.h"

namespace igxl {

// The substitution is a private step of the driver; the fuzz target reaches it as the tests do.
struct VantorTestAccess {
    static std::string calc(Vantor& v, const std::string& target, const SpecMap& spec,
                            const std::string& selector) {
        if (!v.walk_) v.walk_ = std::make_unique<JobWalk>(v, "", nullptr);
        return v.walk_->spec_calculation(target, spec, "Prod", selector);
    }
    // A fresh walk (its memos empty) over empty spec maps.
    static void reset(Vantor& v) {
        v.walk_.reset();
        v.caches_ = RunCaches{};
    }
    static GlobalSpecMap& globals(Vantor& v) { return v.caches_.specs.glob_spec_dict; }
    static SpecMap& ac(Vantor& v) { return v.caches_.specs.ac_spec_dict; }
    static std::string& version(Vantor& v) { return v.caches_.specs.spec_version; }
};

}  // namespace igxl

using namespace igxl;

namespace {

void evaluate(const std::string& text) {
    try {
        (void)evaluate_expression(format_str(text));
    } catch (const Error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Vantor v("./");
    VantorTestAccess::reset(v);
    VantorTestAccess::globals(v).clear();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string_view> lines = util::split(input, '\n');
    const std::string target(lines.empty() ? std::string_view() : lines[0]);
    VantorTestAccess::version(v) = "2.3";
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::vector<std::string_view> f = util::split(lines[i], '\t');
        if (f.size() == 2) {
            VantorTestAccess::globals(v)[util::to_upper(f[0])] = std::string(f[1]);
        } else if (f.size() >= 3) {
            auto& row = VantorTestAccess::ac(v)[util::to_upper(f[0])];
            row.set("SELECTOR VAL", util::to_upper(f[1]));
            row.set("PROD " + util::to_upper(f[1]), f[2]);
        }
    }
    const SpecMap local = VantorTestAccess::ac(v);
    evaluate(target);
    // The driver's own AC map (shared memo, twice: the second use reads the memo) and a map the
    // driver keeps no memo for.
    const SpecMap* const maps[] = {&VantorTestAccess::ac(v), &VantorTestAccess::ac(v), &local};
    for (const SpecMap* map : maps) {
        try {
            evaluate(VantorTestAccess::calc(v, target, *map, "Typ"));
        } catch (const Error&) {
        }
    }
    return 0;
}
