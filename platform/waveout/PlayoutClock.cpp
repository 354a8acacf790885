#include "platform/waveout/PlayoutClock.h"

#include <algorithm>

namespace platform {
namespace {

// Whole frames in `elapsed` at `rate` (none for a negative span). The product is formed in
// 128 bits, so no span or rate overflows it; a count beyond 64 bits is held at the top.
uint64_t FramesIn(std::chrono::steady_clock::duration elapsed, uint64_t rate) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    if (ns <= 0) {
        return 0;
    }
    const auto frames = static_cast<unsigned __int128>(ns) * rate / 1000000000u;
    return frames > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(frames);
}

}  // namespace

void PlayoutClock::Start(Time at, uint64_t played, uint64_t end) {
    at_ = at;
    from_ = played;
    end_ = end;
}

void PlayoutClock::Pause(Time now) {
    if (running_) {
        from_ = PlayedAt(now);
        at_ = now;
        running_ = false;
    }
}

void PlayoutClock::Resume(Time now) {
    if (!running_) {
        at_ = now;
        running_ = true;
    }
}

void PlayoutClock::Extend(Time now, uint64_t end) {
    const uint64_t played = PlayedAt(now);
    if (running_ && played >= end_) {
        at_ = now;  // it was starved: it runs again from now
        from_ = played;
    }
    end_ = end;
}

void PlayoutClock::SetRate(Time now, uint64_t rate) {
    from_ = PlayedAt(now);
    at_ = std::max(at_, now);
    rate_ = rate;
}

uint64_t PlayoutClock::PlayedAt(Time now) const {
    if (from_ >= end_) {
        return end_;
    }
    const uint64_t run = running_ ? FramesIn(now - at_, rate_) : 0;
    return from_ + std::min(run, end_ - from_);
}

}  // namespace platform
