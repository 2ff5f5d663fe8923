// Asserts at the end of a test's scope that the layer holds no more objects
// than at its start: blocks, windows, threads, handles and sockets.
#pragma once

#include <compat_seams.h>
#include <gtest/gtest.h>

class LeakCheck {
public:
    LeakCheck() : start_(CompatGetResourceCounts()) {}
    ~LeakCheck() {
        CompatResourceCounts now = CompatGetResourceCounts();
        EXPECT_EQ(now.global_blocks, start_.global_blocks) << "global memory blocks leaked";
        EXPECT_EQ(now.windows, start_.windows) << "windows leaked";
        EXPECT_EQ(now.threads, start_.threads) << "threads still running";
        EXPECT_EQ(now.handles, start_.handles) << "handles leaked";
        EXPECT_EQ(now.sockets, start_.sockets) << "sockets leaked";
    }

private:
    CompatResourceCounts start_;
};
