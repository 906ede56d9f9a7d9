/* Preloaded into a program under test (LD_PRELOAD), this raises a signal in the program at one
 * chosen file operation, so a test stops or kills a run at exactly the same point every time:
 *
 *   IGXL_SHIM_CALL    "rename" or "link": the operation watched
 *   IGXL_SHIM_MATCH   text the target path must contain to count
 *   IGXL_SHIM_NTH     the counted call that raises the signal (1 = the first)
 *   IGXL_SHIM_SIGNAL  the signal's number
 *   IGXL_SHIM_BEFORE  "1": raised before the call is made (a kill leaves its work undone);
 *                     otherwise right after it returns
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

typedef int (*path_pair_fn)(const char*, const char*);

static int counted = 0;

/* 0: nothing to do at this call; 1: raise before; 2: raise after. */
static int decide(const char* call, const char* target) {
    const char* watched = getenv("IGXL_SHIM_CALL");
    const char* match = getenv("IGXL_SHIM_MATCH");
    const char* nth = getenv("IGXL_SHIM_NTH");
    const char* before = getenv("IGXL_SHIM_BEFORE");
    if (!watched || strcmp(watched, call) != 0 || !nth || !getenv("IGXL_SHIM_SIGNAL")) return 0;
    if (match && !strstr(target, match)) return 0;
    if (++counted != atoi(nth)) return 0;
    return before && strcmp(before, "1") == 0 ? 1 : 2;
}

static int forward(const char* call, const char* from, const char* to) {
    path_pair_fn real = (path_pair_fn)dlsym(RTLD_NEXT, call);
    const int when = decide(call, to);
    const int sig = when ? atoi(getenv("IGXL_SHIM_SIGNAL")) : 0;
    if (when == 1) raise(sig);
    const int r = real(from, to);
    if (when == 2) {
        const int err = errno;
        raise(sig);
        errno = err;
    }
    return r;
}

int rename(const char* from, const char* to) { return forward("rename", from, to); }
int link(const char* from, const char* to) { return forward("link", from, to); }
