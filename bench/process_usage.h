// What the benchmark process has used so far, all its threads together.
#pragma once
#include <sys/resource.h>

namespace bench {

// Processor time (user + system) of the whole process, in seconds.
inline double process_cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Peak resident memory of the process, in KiB.
inline long peak_rss_kib() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

}  // namespace bench
