#include <gtest/gtest.h>

#include "platform/Platform.h"

TEST(VirtualClock, SleepAdvancesAtOnceAndReadingsStepSoBusyLoopsEnd) {
    plat::UseVirtualClock(true);
    uint32_t start = plat::GetTickCount();
    plat::Sleep(3000);
    EXPECT_GE(plat::GetTickCount() - start, 3000u);
    EXPECT_LT(plat::GetTickCount() - start, 3010u);

    // A busy wait for 500 ms ends by reading the clock alone.
    uint32_t t0 = plat::GetTickCount();
    unsigned readings = 0;
    while (plat::GetTickCount() - t0 < 500) ++readings;
    EXPECT_GT(readings, 1000u);
    EXPECT_LT(readings, 100000u);
    plat::UseVirtualClock(false);
}

TEST(VirtualClock, TickDifferencesSurviveWrapAround) {
    plat::UseVirtualClock(true);
    plat::AdvanceVirtualClock((uint64_t{0xFFFFFFFF} - plat::GetTickCount() - 5) * 1000);
    uint32_t before = plat::GetTickCount();
    plat::Sleep(100);
    uint32_t after = plat::GetTickCount();
    EXPECT_LT(after, before);  // wrapped
    EXPECT_GE(after - before, 100u);
    plat::UseVirtualClock(false);
}
