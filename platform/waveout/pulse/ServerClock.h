// What a sound server's answers about one playback stream mean, given the time and the answers
// and knowing nothing of the server's library: how much has been played by the server's word
// (what may be handed back), how far the position row may run on between answers, when the
// end of the data has been played out, when to ask the server next, and when it has been
// silent too long. Not thread-safe: the sink that owns it locks.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/waveout/PlayoutClock.h"

namespace platform {

class ServerClock {
  public:
    using Time = std::chrono::steady_clock::time_point;
    using Ms = std::chrono::milliseconds;

    // The server is asked this often while someone looks at the position (or before its first
    // reading), else every kAskIdle: each answer shows that it is still there, and it counts
    // as gone when a question has had no answer for kSilence. Wanted positions and the end
    // are asked for when due, whichever the pace.
    static constexpr Ms kAskEvery{100};
    static constexpr Ms kAskIdle{1000};
    static constexpr Ms kSilence{3000};
    // The position row runs on from an answer at the rate for at most this long.
    static constexpr Ms kRunOn{200};

    explicit ServerClock(uint32_t rate) : rate_(rate), endPlayout_(rate) {}

    // A new stream: nothing written, nothing played, no answer yet.
    void Reset();
    // Frames handed to the server so far; more after an underrun ends that underrun.
    void Written(uint64_t frames);
    // No more data comes until Written says so (a drain was asked for, nothing is left over).
    void SetEnding(bool ending);
    void SetCorked(bool corked);
    bool Corked() const { return corked_; }
    // The frames the device thread waits for, and those it will want after them (0: none
    // known), which become the wanted ones once the first are played; true when that changed
    // the wanted count.
    bool Want(uint64_t frames, uint64_t then);
    // Someone read the shown position (a status row, an application's position request).
    void Viewed(Time now) { viewedAt_ = now; }

    // A question went out (a timing request, or the stream's connection).
    void Asked(Time now);
    // The server answered something other than the timing.
    void Answered(Time now);
    // The stream's connection was answered: it is ready.
    void Connected(Time now);
    // The timing answer: the server's clock stood at `server` frames. True when the wanted
    // frames have now been played; the next wanted ones are then watched for.
    bool Reading(Time now, uint64_t server);
    // The same reading, taken by the sink's own question, while a timing request of the
    // clock's may still be on its way.
    void Heard(Time now, uint64_t server);
    // The server has run dry after the first `dryAfter` frames written (a drain's answer covers
    // what had been written when it was asked); its clock stood at `server` frames. Audio
    // written since is not played by that: such an answer is only an answer.
    void Underflow(Time now, uint64_t server, uint64_t dryAfter);

    // Frames played by the server's word, never more than written; at the end of the data,
    // the server's remaining latency played out in real time as far as it has answered since.
    uint64_t Confirmed() const { return confirmed_; }
    // For the position row: Confirmed, run on from the last answer at the rate, at most kRunOn
    // past that answer and never past what was written; it stops in a stall.
    uint64_t Shown(Time now) const;
    bool WantedPlayed() const { return wanted_ > 0 && Confirmed() >= wanted_; }

    // A question has had no answer for kSilence.
    bool Silent(Time now) const;
    // A timing request is due now.
    bool AskDue(Time now) const { return !asking_ && now >= AskAt(); }
    // When the sink is next to look: the next question, or the silence check of an open one.
    Time NextTick() const;
    uint64_t WrittenFrames() const { return written_; }
    // Nothing written yet, or the server has said it ran dry of everything written (an
    // underflow at or past the end, or a drain's answer that covers it all). The next audio
    // then belongs where the server reads now: its read position may have run on past the
    // end (PipeWire's does, by up to a cycle, when a drain ends).
    bool Dry() const { return written_ == 0 || underflowed_; }

  private:
    // Brings the confirmed count up to what the facts so far say; after every event.
    void Settle();
    bool AtTheEnd() const { return underflowed_ && ending_ && !corked_; }
    Time AskAt() const;
    Time WhenPlayed(uint64_t frames) const;

    uint32_t rate_;
    uint64_t written_ = 0;
    uint64_t confirmed_ = 0;
    uint64_t wanted_ = 0;
    uint64_t wantedNext_ = 0;
    bool ending_ = false;
    bool corked_ = false;
    bool asking_ = false;
    Time askedAt_{};
    Time lastAnswer_{};
    Time viewedAt_{};
    // The last timing answer: when, and the server's clock then.
    bool haveReading_ = false;
    Time readingAt_{};
    uint64_t readingFrames_ = 0;
    // The last underrun, and whether the end is timed from an answer given after it.
    bool underflowed_ = false;
    bool endReading_ = false;
    PlayoutClock endPlayout_;
};

}  // namespace platform
