// The sheets of one workbook written at once: each is inflated, decoded and written on its own,
// so workers share only the opened workbook (shared strings, styles), which they only read.
// What comes out is what writing them one after another gives: files, first error, limits.
#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>

#include "export/sheet_text.h"
#include "util/platform.h"

namespace igxl::xlsx {

namespace {

// A worker writes sheet i under a name of its own; the file takes its real name only once every
// sheet before it is known to be fine, so a failure leaves later sheets' files as they were.
// Numbered, so two sheets whose files collide never share one on the way.
class Staging {
public:
    explicit Staging(const std::vector<Workbook::SheetFile>& jobs) {
        for (size_t i = 0; i < jobs.size(); ++i) names_.push_back(jobs[i].file + "." + std::to_string(i) + ".writing");
    }
    ~Staging() {
        // Whatever was not put in place, with the rewrite's temporary beside it.
        for (const std::string& n : names_) {
            util::remove_file(n);
            util::remove_file(n + ".part");
        }
    }
    const std::string& operator[](size_t i) const { return names_[i]; }

private:
    std::vector<std::string> names_;
};

unsigned worker_count(unsigned asked, size_t jobs) {
    unsigned n = asked ? asked : std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
    return static_cast<unsigned>(std::min<size_t>(n, jobs));
}

}  // namespace

void Workbook::write_sheets_text(const std::vector<SheetFile>& jobs, unsigned threads,
                                 const std::function<void(size_t)>& before) const {
    const Impl& wb = *impl_;
    auto in_order = [&](size_t first) {
        for (size_t i = first; i < jobs.size(); ++i) {
            if (before) before(i);
            detail::write_sheet_text(wb, wb.pkg, jobs[i].sheet, jobs[i].file);
        }
    };
    const unsigned n = worker_count(threads, jobs.size());
    if (n <= 1) return in_order(0);

    // Largest parts first, so no worker is left alone with a big sheet at the end.
    std::vector<uint64_t> packed(jobs.size(), 0);
    for (size_t i = 0; i < jobs.size(); ++i)
        for (const Impl::Sheet& s : wb.sheets)
            if (s.name == jobs[i].sheet) {
                packed[i] = wb.pkg.packed_size(s.part);
                break;
            }
    std::vector<size_t> order(jobs.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return packed[a] > packed[b]; });

    struct Outcome {
        std::atomic<bool> done{false};  // set last, once ok and unpacked are written
        bool ok = false;
        uint64_t unpacked = 0;  // by this sheet alone
    };
    std::vector<Outcome> out(jobs.size());
    Staging staging(jobs);
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    // All workers together stay within the limit, so a bomb stops early; the count that decides
    // is made below, in sheet order.
    std::atomic<uint64_t> shared{wb.pkg.unpacked()};

    // Finished sheets are put in place in sheet order, by the calling thread only, as soon as
    // every sheet before them is: a sheet done within what the sheets before it left of the
    // limit is what writing it in turn would have given. Putting a file in place (and removing
    // the old one) is then mostly done while the other workers still decode.
    const uint64_t max = wb.pkg.max_unpacked();
    uint64_t used = wb.pkg.unpacked();
    size_t placed = 0;
    bool blocked = false;
    auto place_ready = [&] {
        while (!blocked && placed < jobs.size() && out[placed].done.load(std::memory_order_acquire)) {
            const size_t i = placed;
            if (!out[i].ok || out[i].unpacked > max - std::min(used, max)) {
                blocked = true;
                return;
            }
            if (before) before(i);
            try {
                util::put_in_place(staging[i], jobs[i].file);
            } catch (const Error&) {
                blocked = true;  // written in turn below, which reports it as such a write would
                return;
            }
            used += out[i].unpacked;
            ++placed;
        }
    };
    std::exception_ptr placing_failed;  // from the caller's before(), thrown once workers are done

    // A failure only marks its sheet: the error is made again below by writing that sheet the
    // one-at-a-time way, which is what decides which error is reported and how.
    auto work = [&](const detail::Package& from, bool caller) noexcept {
        for (size_t k; !stop.load(std::memory_order_relaxed) && (k = next.fetch_add(1)) < order.size();) {
            const size_t i = order[k];
            const uint64_t start = from.unpacked();
            try {
                detail::write_sheet_text(wb, from, jobs[i].sheet, staging[i]);
                out[i].ok = true;
            } catch (...) {
                stop = true;
            }
            out[i].unpacked = from.unpacked() - start;
            out[i].done.store(true, std::memory_order_release);
            if (caller && !placing_failed) {
                try {
                    place_ready();
                } catch (...) {
                    placing_failed = std::current_exception();
                    stop = true;
                }
            }
        }
    };
    // The handles are opened here, one after another: opening one reads the ZIP directory,
    // whose time stamps go through the C library's time zone state.
    std::vector<std::unique_ptr<detail::Package>> handles;
    try {
        while (handles.size() < n) handles.push_back(std::make_unique<detail::Package>(wb.pkg, shared));
    } catch (const Error&) {
        // Fewer workers; with none, every sheet is written in turn below.
    }
    std::vector<std::thread> pool;
    for (size_t t = 1; t < handles.size(); ++t) {
        try {
            pool.emplace_back(work, std::cref(*handles[t]), false);
        } catch (...) {
            break;  // fewer workers, same result; the running ones are still joined below
        }
    }
    if (!handles.empty()) work(*handles[0], true);
    for (std::thread& t : pool) t.join();
    if (placing_failed) std::rethrow_exception(placing_failed);
    place_ready();
    if (placed == jobs.size()) return;
    wb.pkg.set_unpacked(used);
    in_order(placed);
}

}  // namespace igxl::xlsx
