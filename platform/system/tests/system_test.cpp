// The millisecond counter.
#include <gtest/gtest.h>

#include <time.h>

#include <winplat/winbase.h>

namespace {

// The counter is the monotonic clock in milliseconds, taken modulo 2^32, so differences
// across its wrap still come out right.
TEST(TickCount, FollowsTheMonotonicClockModulo32Bits) {
    timespec before{}, after{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    DWORD tick = GetTickCount();
    clock_gettime(CLOCK_MONOTONIC, &after);
    auto ms = [](const timespec& ts) {
        return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                  static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
    };
    EXPECT_LE(static_cast<DWORD>(tick - ms(before)), static_cast<DWORD>(ms(after) - ms(before)));
}

TEST(TickCount, AdvancesAtLeastBySleptTime) {
    DWORD start = GetTickCount();
    Sleep(30);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 30u);
}

} // namespace
