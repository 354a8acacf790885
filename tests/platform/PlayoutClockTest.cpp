// The play-out clock with the time passed in: it runs on from a reading at the rate, stops at
// the end of what was written, holds while paused, and counts 400 days without overflow.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/waveout/PlayoutClock.h"

namespace {

using platform::PlayoutClock;

TEST(PlayoutClock, RunsOnFromAReadingAndNeverPassesTheEnd) {
    constexpr uint64_t kMax = UINT64_MAX;
    const PlayoutClock::Time t0 = std::chrono::steady_clock::now();
    const auto at = [&](int64_t ms) { return t0 + std::chrono::milliseconds(ms); };
    // A clock at `rate` started at t0 at the reading `from`, with `end` frames written.
    const auto started = [&](uint64_t rate, uint64_t from, uint64_t end) {
        PlayoutClock clock(rate);
        clock.Start(t0, from, end);
        return clock;
    };
    PlayoutClock clock = started(48000, 1000, 5000);
    EXPECT_EQ(clock.PlayedAt(at(-5)), 1000u);
    EXPECT_EQ(clock.PlayedAt(at(10)), 1480u);
    EXPECT_EQ(clock.PlayedAt(at(1000)), 5000u);
    EXPECT_EQ(started(48000, 900, 800).PlayedAt(at(50)), 800u);
    EXPECT_EQ(started(44100, 0, kMax).PlayedAt(at(1)), 44u);
    EXPECT_EQ(started(44100, 0, kMax).PlayedAt(at(10000)), 441000u);
    clock = started(48000, 0, 100000);  // paused from 10 ms to 2 s
    clock.Pause(at(10));
    EXPECT_EQ(clock.PlayedAt(at(1000)), 480u);
    clock.Resume(at(2000));
    EXPECT_EQ(clock.PlayedAt(at(2010)), 960u);
    clock = started(48000, 0, 480);  // runs dry, then on from the next write
    EXPECT_EQ(clock.PlayedAt(at(1000)), 480u);
    clock.Extend(at(1000), 960);
    EXPECT_EQ(clock.PlayedAt(at(1005)), 720u);
    clock = started(48000, 0, 960);  // more written while it runs
    clock.Extend(at(10), 2000);
    EXPECT_EQ(clock.PlayedAt(at(30)), 1440u);
    clock = started(48000, 0, kMax);
    clock.SetRate(at(10), 96000);
    EXPECT_EQ(clock.PlayedAt(at(20)), 1440u);
    // 400 days at 768 kHz, and a reading near the top of the counter.
    EXPECT_EQ(started(768000, 7, kMax).PlayedAt(at(400 * 86400000LL)), 26542080000000ull + 7);
    EXPECT_EQ(started(48000, kMax - 10, kMax).PlayedAt(at(1000)), kMax);
}

}  // namespace
