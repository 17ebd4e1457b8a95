#include "platform/FreedMemory.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

using namespace zz;

// Memory goes back once a load has fallen for a while (to a quarter of its most, or to none), once per fall;
// never while idle or under a steady load.
TEST(FreedMemory, HandsBackOnceALoadHasFallen) {
    VirtualClock vc(0xFFFF0000u, false); // across the wrap
    ScopedClock sc(&vc);
    int trims = 0;
    FreedMemory freed([&] { ++trims; });
    auto run = [&](int32_t lines, uint32_t ms) {
        for (uint32_t t = 0; t < ms; t += 500) {
            vc.Advance(500);
            freed.Step(lines);
        }
    };
    run(0, 600000);
    EXPECT_EQ(trims, 0);
    run(200, 60000);
    run(0, FreedMemory::kQuietMs - 1000);
    EXPECT_EQ(trims, 0); // the SIP transactions of the last calls are still kept
    run(0, 2000);
    EXPECT_EQ(trims, 1);
    run(0, 600000);
    EXPECT_EQ(trims, 1);
    run(800, 60000);
    run(150, 20000);
    run(800, 20000); // a dip shorter than the wait
    run(150, FreedMemory::kQuietMs + 1000);
    EXPECT_EQ(trims, 2);
    run(150, 600000);
    run(120, 600000);
    EXPECT_EQ(trims, 2); // steady
    run(0, FreedMemory::kQuietMs + 1000);
    EXPECT_EQ(trims, 3);
}
