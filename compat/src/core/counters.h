// Live-object counters of the layer, read by tests to prove nothing leaked.
#pragma once

#include <atomic>

namespace compat {

struct LiveCounters {
    std::atomic<long> global_blocks{0};
    std::atomic<long> windows{0};
    std::atomic<long> threads{0};   // layer threads not yet ended
    std::atomic<long> handles{0};   // kernel handles not yet closed
    std::atomic<long> sockets{0};
};

LiveCounters &live();

}  // namespace compat
