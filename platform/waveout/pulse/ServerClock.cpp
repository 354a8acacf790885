#include "platform/waveout/pulse/ServerClock.h"

#include <algorithm>

namespace platform {
namespace {

// A wanted position is asked for this long after it should have been played, and (but for
// the end of the data) never sooner than kMinGap after the last question, so that an early
// guess (a server that has not started yet) costs few questions.
constexpr ServerClock::Ms kLate{2};
constexpr ServerClock::Ms kMinGap{10};
// Answers further apart than this, though asked for every kAskEvery, mean a silent server.
constexpr ServerClock::Ms kStallGap{250};

}  // namespace

void ServerClock::Reset() {
    *this = ServerClock(rate_);
}

void ServerClock::Written(uint64_t frames) {
    if (frames > written_) {
        written_ = frames;
        underflowed_ = false;
        endReading_ = false;
    }
    Settle();
}

bool ServerClock::Want(uint64_t frames, uint64_t then) {
    const bool changed = frames != wanted_;
    wanted_ = frames;
    wantedNext_ = then;
    return changed;
}

void ServerClock::Asked(Time now) {
    asking_ = true;
    askedAt_ = now;
}

void ServerClock::Connected(Time now) {
    asking_ = false;
    Answered(now);
}

bool ServerClock::Reading(Time now, uint64_t server) {
    asking_ = false;
    Heard(now, server);
    if (!WantedPlayed()) {
        return false;
    }
    if (wantedNext_ > wanted_) {
        wanted_ = wantedNext_;
    }
    wantedNext_ = 0;
    return true;
}

void ServerClock::Heard(Time now, uint64_t server) {
    if (AtTheEnd() && endReading_ && now - lastAnswer_ > kStallGap) {
        // The server was silent in between, and its latency did not play out while it was:
        // what is left plays out from here.
        endPlayout_.Start(now, Confirmed(), written_);
    }
    lastAnswer_ = readingAt_ = now;
    readingFrames_ = server;
    haveReading_ = true;
    if (AtTheEnd() && !endReading_) {
        // The first reading after the underrun at the end: the server's clock stops a sink
        // latency before the end of the data, and that latency plays out from here.
        endPlayout_.Start(now, std::max(confirmed_, std::min(server, written_)), written_);
        endReading_ = true;
    }
    Settle();
}

void ServerClock::Underflow(Time now, uint64_t server, uint64_t dryAfter) {
    lastAnswer_ = now;
    if (dryAfter < written_) {
        Settle();
        return;
    }
    confirmed_ = std::max(confirmed_, std::min(server, written_));
    underflowed_ = true;
    endReading_ = false;
    Settle();
}

void ServerClock::Settle() {
    if (haveReading_) {
        // The last frame written counts as played only once the server has said that it ran
        // dry: a server's clock can run ahead of its sound after a stall (PipeWire's does),
        // and the end must not be handed back before it is heard.
        const uint64_t last = underflowed_ || written_ == 0 ? written_ : written_ - 1;
        confirmed_ = std::max(confirmed_, std::min(readingFrames_, last));
    }
    if (AtTheEnd() && endReading_ && lastAnswer_ > endPlayout_.ReadingAt()) {
        confirmed_ = std::max(confirmed_, endPlayout_.PlayedAt(lastAnswer_));
    }
}

void ServerClock::SetEnding(bool ending) {
    ending_ = ending;
    Settle();
}

void ServerClock::SetCorked(bool corked) {
    corked_ = corked;
    Settle();
}

void ServerClock::Answered(Time now) {
    lastAnswer_ = now;
    Settle();
}

uint64_t ServerClock::Shown(Time now) const {
    const uint64_t confirmed = confirmed_;
    if (!haveReading_ || corked_ || now <= readingAt_) {
        return confirmed;
    }
    const auto run = std::min<std::chrono::nanoseconds>(now - readingAt_, kRunOn);
    const uint64_t frames = static_cast<uint64_t>(run.count()) * rate_ / 1000000000u;
    return std::max(confirmed, std::min(written_, readingFrames_ + frames));
}

bool ServerClock::Silent(Time now) const {
    return asking_ && now - std::max(askedAt_, lastAnswer_) >= kSilence;
}

ServerClock::Time ServerClock::WhenPlayed(uint64_t frames) const {
    Time at = readingAt_;
    uint64_t from = readingFrames_;
    if (AtTheEnd()) {
        at = endPlayout_.ReadingAt();
        from = endPlayout_.PlayedAt(at);
    }
    const uint64_t ahead = frames - std::min(frames, from);
    return at + std::chrono::microseconds(ahead * 1000000 / std::max<uint32_t>(rate_, 1));
}

ServerClock::Time ServerClock::AskAt() const {
    if (askedAt_ == Time{} || (AtTheEnd() && !endReading_)) {
        return Time{};  // the first question, and where the clock stopped at the end: now
    }
    // Watched: the position was looked at within a second of the last question, or since.
    const bool watched = viewedAt_ != Time{} && viewedAt_ + kAskIdle > askedAt_;
    Time next = askedAt_ + (watched || !haveReading_ ? kAskEvery : kAskIdle);
    if (!corked_ && haveReading_ && wanted_ > confirmed_) {
        const Ms gap = AtTheEnd() ? kLate : kMinGap;
        next = std::min(next, std::max(WhenPlayed(wanted_) + kLate, askedAt_ + gap));
    }
    return next;
}

ServerClock::Time ServerClock::NextTick() const {
    return asking_ ? std::max(askedAt_, lastAnswer_) + kSilence : AskAt();
}

}  // namespace platform
