// The play-out clock with the time passed in: it runs on from a reading at the rate, stops at
// the end of what was written, holds while paused, and counts 400 days without overflow.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/waveout/PlayoutClock.h"

namespace {

using platform::PlayoutClock;
using std::chrono::milliseconds;

enum class Op { Start, Pause, Resume, Extend, Rate, Expect };

struct Step {
    Op op;
    int64_t ms;  // when, from the start of the case
    uint64_t value = 0;
    uint64_t end = 0;  // for Start
};

struct Case {
    uint64_t rate;
    std::vector<Step> steps;
};

TEST(PlayoutClock, RunsOnFromAReadingAndNeverPassesTheEnd) {
    constexpr uint64_t kMax = UINT64_MAX;
    constexpr int64_t kDay = 86400000;
    const Case cases[] = {
        {48000,
         {{Op::Start, 0, 1000, 5000},
          {Op::Expect, -5, 1000},
          {Op::Expect, 0, 1000},
          {Op::Expect, 10, 1480},
          {Op::Expect, 1000, 5000}}},
        {48000, {{Op::Start, 0, 900, 800}, {Op::Expect, 50, 800}}},
        {44100, {{Op::Start, 0, 0, kMax}, {Op::Expect, 1, 44}, {Op::Expect, 10000, 441000}}},
        {48000,
         {{Op::Start, 0, 0, 100000},
          {Op::Pause, 10},
          {Op::Expect, 1000, 480},
          {Op::Resume, 2000},
          {Op::Expect, 2010, 960}}},
        {48000,
         {{Op::Start, 0, 0, 480},
          {Op::Expect, 1000, 480},
          {Op::Extend, 1000, 960},
          {Op::Expect, 1005, 720}}},
        {48000, {{Op::Start, 0, 0, 960}, {Op::Extend, 10, 2000}, {Op::Expect, 30, 1440}}},
        {48000, {{Op::Start, 0, 0, kMax}, {Op::Rate, 10, 96000}, {Op::Expect, 20, 1440}}},
        {768000, {{Op::Start, 0, 7, kMax}, {Op::Expect, 400 * kDay, 26542080000000ull + 7}}},
        {48000, {{Op::Start, 0, kMax - 10, kMax}, {Op::Expect, 1000, kMax}}},
    };
    const PlayoutClock::Time t0 = std::chrono::steady_clock::now();
    for (const Case& c : cases) {
        PlayoutClock clock(c.rate);
        for (const Step& step : c.steps) {
            const PlayoutClock::Time at = t0 + milliseconds(step.ms);
            switch (step.op) {
                case Op::Start:
                    clock.Start(at, step.value, step.end);
                    break;
                case Op::Pause:
                    clock.Pause(at);
                    break;
                case Op::Resume:
                    clock.Resume(at);
                    break;
                case Op::Extend:
                    clock.Extend(at, step.value);
                    break;
                case Op::Rate:
                    clock.SetRate(at, step.value);
                    break;
                case Op::Expect:
                    EXPECT_EQ(clock.PlayedAt(at), step.value)
                        << "case " << &c - cases << " at " << step.ms << " ms";
                    break;
            }
        }
    }
}

}  // namespace
