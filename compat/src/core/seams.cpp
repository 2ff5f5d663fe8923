#include <compat_seams.h>

#include "core/counters.h"

CompatResourceCounts CompatGetResourceCounts(void) {
    compat::LiveCounters &c = compat::live();
    CompatResourceCounts r;
    r.global_blocks = c.global_blocks.load();
    r.windows = c.windows.load();
    r.threads = c.threads.load();
    r.handles = c.handles.load();
    r.sockets = c.sockets.load();
    return r;
}
