// The play-out clock of a sink: from a reading (so many frames played at a moment) it runs on
// at the sample rate and never passes the end of what was written. When it catches up with
// the end (an underrun) it waits there; more data makes it run again from then. Times are
// passed in, so that the arithmetic can be checked without waiting. Not thread-safe: the sink
// that owns it locks.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

class PlayoutClock {
  public:
    using Time = std::chrono::steady_clock::time_point;

    explicit PlayoutClock(uint64_t rate) : rate_(rate) {}

    // Runs from `played` frames at `at`, up to `end` frames (a paused clock stays paused).
    void Start(Time at, uint64_t played, uint64_t end);
    // Holds at what has been played by `now`, until Resume.
    void Pause(Time now);
    void Resume(Time now);
    // More has been written: the end moves to `end`. A clock that had caught up with the old
    // end runs on from `now`.
    void Extend(Time now, uint64_t end);
    // Frames a second from `now` on.
    void SetRate(Time now, uint64_t rate);

    // Frames played at `now`: what was read, plus the time since at the rate, at most the
    // end. A time before the reading counts as the reading.
    uint64_t PlayedAt(Time now) const;
    uint64_t End() const { return end_; }
    Time ReadingAt() const { return at_; }

  private:
    uint64_t rate_;
    Time at_{};
    uint64_t from_ = 0;  // frames played at `at_`
    uint64_t end_ = 0;
    bool running_ = true;
};

}  // namespace platform
