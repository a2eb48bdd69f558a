// The program's clock under a script: a frame period a frame, whatever the
// frame took, and no time at all while it is held.

#include "base/ProgramClock.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace qv;

TEST(ProgramClock, a_virtual_clock_moves_by_frames_only_and_stands_still_while_held)
{
    EXPECT_FALSE(virtual_clock());
    use_virtual_clock();
    ASSERT_TRUE(virtual_clock());
    std::uint32_t const start = program_ticks();
    // Real time passing is not seen.
    std::uint32_t const real = platform::tick_count();
    while (platform::tick_count() - real < 30)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(program_ticks(), start);
    for (int i = 0; i < 3; ++i)
        program_clock_frame();
    EXPECT_EQ(program_ticks() - start, 3 * kVirtualFramePeriodMs);
    hold_program_clock(true);
    program_clock_frame();
    EXPECT_EQ(program_ticks() - start, 3 * kVirtualFramePeriodMs);
    hold_program_clock(false);
    program_clock_frame();
    EXPECT_EQ(program_ticks() - start, 4 * kVirtualFramePeriodMs);
}
