// A playback stream on the sound server, over the process's shared connection: the plumbing
// around ServerClock, which says what the server's answers mean. Every failure (the server
// goes away, refuses, or leaves a question unanswered for 3 s) fails the sink for good. Only
// the first connection and a pause (which must know where it stopped) wait, bounded.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/waveout/pulse/PulseBackend.h"
#include "platform/waveout/pulse/PulseConnection.h"
#include "platform/waveout/pulse/ServerClock.h"

namespace platform {
namespace {

// Audio kept on our side beyond the server's buffer, handed over on the server's requests.
// The device thread tops it up whenever it wakes for a played header, and is woken for room
// only once kRingLowMs are left (with the server's 500 ms behind them): with the player's
// 64 KiB headers of 16-bit stereo at 44.1 or 48 kHz (341-372 ms), that is rarely needed
// between two header ends, and ring and server together stay below three of them, so the
// device thread still has queued audio left to convert and the player's refills need not
// wake it.
constexpr uint32_t kRingMs = 450;
constexpr uint32_t kRingLowMs = 150;
using Reply = PulseConnection::Reply;

class PulseSink final : public AudioSink {
  public:
    PulseSink(const SinkFormat& format, std::string target, std::function<void()> wake)
        : target_(std::move(target)),
          wake_(std::move(wake)),
          frameBytes_(format.FrameBytes()),
          clock_(format.rate) {
        ToPulse(format, &spec_, &map_);
        ring_.resize(std::max<size_t>(1, format.rate * kRingMs / 1000) * frameBytes_);
    }

    ~PulseSink() override {
        if (loop_ != nullptr) {
            PulseConnection::Locked lock(loop_);
            DropStream();
            if (tick_ != nullptr) {
                pa_threaded_mainloop_get_api(loop_)->time_free(tick_);
            }
        }
    }

    // Opens the stream and waits (bounded) until the server has it ready, so that a device
    // that cannot play is reported by the open itself.
    MMRESULT Connect() {
        connection_ = PulseConnection::Get();
        if (connection_ == nullptr) {
            return MMSYSERR_NODRIVER;
        }
        loop_ = connection_->Loop();
        context_ = connection_->Context();
        PulseConnection::Locked lock(loop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when;
        tick_ = api->time_new(api, pa_gettimeofday(&when), OnTick, this);
        MMRESULT result = OpenStream();
        if (result == MMSYSERR_NOERROR &&
            !connection_->WaitFor([&] { return Ready() || failed_; }, kAnswerSeconds)) {
            GiveUp();
        }
        if (failed_) {
            DropStream();
            result = MMSYSERR_NODRIVER;
        }
        return result;
    }

    size_t Writable() override {
        PulseConnection::Locked lock(loop_);
        return failed_ ? 0 : ring_.size() - ringFill_;
    }

    bool Write(const uint8_t* data, size_t bytes) override {
        PulseConnection::Locked lock(loop_);
        const bool written = !failed_ && stream_ != nullptr && bytes <= ring_.size() - ringFill_;
        if (written) {
            for (size_t done = 0; done < bytes;) {
                const size_t end = (ringStart_ + ringFill_) % ring_.size();
                const size_t chunk = std::min(bytes - done, ring_.size() - end);
                std::memcpy(ring_.data() + end, data + done, chunk);
                ringFill_ += chunk;
                done += chunk;
            }
            drainWanted_ = false;
            PushToServer();
        }
        return written;
    }

    // A pause waits (bounded) for the server's cork and then for where it stopped, so that
    // the position holds from the moment Pause returns. A stream that has had no audio yet is
    // corked already: its pause asks the server nothing.
    void Pause() override {
        PulseConnection::Locked lock(loop_);
        clock_.SetCorked(true);
        if (!failed_ && Ready() && !sentCork_) {
            Reply corked{loop_}, timing{loop_};
            sentCork_ = true;
            if (Await(pa_stream_cork(stream_, 1, Reply::Done, &corked), &corked) &&
                clock_.WrittenFrames() > 0 &&
                Await(pa_stream_update_timing_info(stream_, Reply::Done, &timing), &timing)) {
                clock_.Heard(Clock::now(), ServerPosition());
            }
        }
        Arm();
    }

    // Resuming waits for nothing: a server that does not take it falls silent and fails.
    void Resume() override {
        PulseConnection::Locked lock(loop_);
        clock_.SetCorked(false);
        SyncCork();
        if (drainWanted_) {
            StartDrain();  // a short remainder that was waiting for the start threshold
        }
        Arm();
    }

    void Drain() override {
        PulseConnection::Locked lock(loop_);
        drainWanted_ = true;
        PushToServer();
        SyncCork();
        StartDrain();
    }

    // Our ring is emptied before a new stream exists to ask for anything, so nothing queued
    // before the reset is heard after it. The new stream is not waited for: a stop never
    // waits for the server, and one that does not answer fails the sink by its silence.
    void Reset() override {
        PulseConnection::Locked lock(loop_);
        ringStart_ = ringFill_ = 0;
        drainCovers_ = 0;
        drainWanted_ = false;
        clock_.Reset();
        if (!failed_) {
            DropStream();
            if (OpenStream() != MMSYSERR_NOERROR) {
                Fail();
            }
        }
        Arm();
    }

    uint64_t Position() override {
        PulseConnection::Locked lock(loop_);
        return failed_ ? 0 : clock_.Confirmed();
    }

    // Looking at the position asks the server more often (see ServerClock::kAskEvery).
    uint64_t ShownPosition() override {
        PulseConnection::Locked lock(loop_);
        if (failed_) {
            return 0;
        }
        const Clock::time_point now = Clock::now();
        clock_.Viewed(now);
        Arm();
        return clock_.Shown(now);
    }

    // Moving the timer from this thread wakes the loop's; the next wanted position is armed
    // on the loop's thread once this one is played, so a caller that wants just that next
    // moves nothing.
    bool WakeWhenPlayed(uint64_t frames, uint64_t then) override {
        PulseConnection::Locked lock(loop_);
        const bool armed = !failed_ && stream_ != nullptr;
        if (armed && clock_.Want(frames, then)) {
            Arm();
        }
        return armed;
    }

    bool Failed() override { return failed_; }
    // The stream's write callback wakes the device thread; this is only a safety net.
    std::chrono::milliseconds RoomExpectedIn() override { return std::chrono::milliseconds(500); }

  private:
    using Clock = std::chrono::steady_clock;

    // With the loop locked, as every function below.
    bool Ready() const {
        return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }

    // A cork whose answer is not waited for: a refusal fails the sink.
    // One cork request at a time, kept so that dropping the stream cancels it: its answer
    // must not reach a sink that is gone. A change wanted meanwhile follows the answer.
    void SendCork(bool cork) {
        if (cork_ != nullptr) {
            return;
        }
        cork_ = pa_stream_cork(stream_, cork ? 1 : 0, OnCorkDone, this);
        if (cork_ == nullptr) {
            Fail();
            return;
        }
        sentCork_ = cork;
    }

    // The server's stream is corked while we are paused, and from its start until it has
    // audio (or is to drain): a pause before the first audio then needs no answer, and the
    // audio written before a resume starts together with it.
    void SyncCork() {
        const bool cork = clock_.Corked() || (clock_.WrittenFrames() == 0 && !drainWanted_);
        if (!failed_ && Ready() && cork != sentCork_) {
            SendCork(cork);
        }
    }

    // A drain request starts even a remainder shorter than the start threshold. Unlike a
    // plain trigger, it leaves the server waiting at the end of the data when it runs dry:
    // after a trigger the server's read position runs on through the gap, and audio written
    // late would lose its beginning.
    void StartDrain() {
        if (!failed_ && Ready() && drain_ == nullptr) {
            drain_ = pa_stream_drain(stream_, OnDrained, this);
            drainCovers_ = clock_.WrittenFrames();
        }
    }

    // The next look at the server, as the clock wants it. The timer is moved only when that
    // changed: moving it from another thread wakes the loop's thread.
    void Arm() {
        const Clock::time_point next = clock_.NextTick();
        if (failed_ || tick_ == nullptr || (armed_ && next == armedFor_)) {
            return;
        }
        armed_ = true;
        armedFor_ = next;
        const Clock::time_point now = Clock::now();
        const auto wait =
            std::chrono::duration_cast<std::chrono::microseconds>(std::max(next, now) - now);
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(wait.count()));
        pa_threaded_mainloop_get_api(loop_)->time_restart(tick_, &when);
    }

    // On the loop's thread: gives up on a server silent too long (and on its connection, so
    // that the next open tries a new one), else asks for the timing when due.
    static void OnTick(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const timeval* /*when*/,
                       void* data) {
        auto* self = static_cast<PulseSink*>(data);
        self->armed_ = false;
        if (self->failed_) {
            return;  // not armed again
        }
        const Clock::time_point now = Clock::now();
        if (self->clock_.Silent(now)) {
            self->GiveUp();
            return;
        }
        if (self->clock_.AskDue(now) && self->Ready() && self->timing_ == nullptr) {
            self->timing_ = pa_stream_update_timing_info(self->stream_, OnTiming, self);
            if (self->timing_ == nullptr) {
                self->Fail();
                return;
            }
            self->clock_.Asked(now);
        }
        self->Arm();
    }

    static void OnTiming(pa_stream* /*stream*/, int /*success*/, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        pa_operation_unref(self->timing_);
        self->timing_ = nullptr;
        if (self->clock_.Reading(Clock::now(), self->ServerPosition())) {
            self->wake_();
        }
        self->Arm();
    }

    static void OnStreamState(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            self->Fail();
        } else if (state == PA_STREAM_READY) {
            // What was asked of the stream before it was ready is carried out now.
            self->clock_.Connected(Clock::now());
            self->PushToServer();
            self->SyncCork();
            if (self->drainWanted_) {
                self->StartDrain();
            }
            self->Arm();
        }
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    static void OnCorkDone(pa_stream* /*stream*/, int success, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        pa_operation_unref(self->cork_);
        self->cork_ = nullptr;
        if (success == 0) {
            self->Fail();
        }
        self->clock_.Answered(Clock::now());
        self->SyncCork();
    }

    // The server has read everything written (a drain ends without an underflow message).
    static void OnDrained(pa_stream* /*stream*/, int success, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        pa_operation_unref(self->drain_);
        self->drain_ = nullptr;
        self->clock_.Answered(Clock::now());
        if (success != 0) {
            self->RanDry(self->drainCovers_);
        }
        self->DrainTheRest();
    }

    // An underflow message names the write index it happened at, where the server knows it;
    // an older one that arrives after more was written is no end.
    static void OnUnderflow(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        const int64_t at = pa_stream_get_underflow_index(stream);
        self->RanDry(at < 0 ? self->clock_.WrittenFrames()
                            : static_cast<uint64_t>(at) / self->frameBytes_);
    }

    void RanDry(uint64_t dryAfter) {
        clock_.Underflow(Clock::now(), ServerPosition(), dryAfter);
        Arm();
        wake_();
    }

    // The server asks for more: it gets what the ring holds, and the device thread is woken
    // only once the ring runs low, not for every request.
    static void OnWritable(pa_stream* /*stream*/, size_t /*bytes*/, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        self->PushToServer();
        if (self->ringFill_ <= self->ring_.size() * kRingLowMs / kRingMs) {
            self->wake_();
        }
    }

    // Hands the server as much of the ring as it takes now.
    void PushToServer() {
        size_t wanted = failed_ || !Ready() ? 0 : pa_stream_writable_size(stream_);
        if (wanted == static_cast<size_t>(-1)) {
            wanted = 0;
        }
        wanted -= wanted % frameBytes_;
        while (wanted > 0 && ringFill_ > 0) {
            const size_t chunk = std::min({wanted, ringFill_, ring_.size() - ringStart_});
            // A server that has run dry gets the next audio where it reads now: one whose read
            // position ran on through the gap would otherwise skip its start.
            if (pa_stream_write(stream_, ring_.data() + ringStart_, chunk, nullptr, 0,
                                clock_.Dry() ? PA_SEEK_RELATIVE_ON_READ : PA_SEEK_RELATIVE) != 0) {
                Fail();
                return;
            }
            ringStart_ = (ringStart_ + chunk) % ring_.size();
            ringFill_ -= chunk;
            wanted -= chunk;
            clock_.Written(clock_.WrittenFrames() + chunk / frameBytes_);
            SyncCork();
        }
        clock_.SetEnding(drainWanted_ && ringFill_ == 0);
        DrainTheRest();
    }

    // A drain covers what had been written when it was asked: audio that went out later (also
    // after a drain already answered) needs one of its own, or a server waiting for its start
    // threshold would never play it.
    void DrainTheRest() {
        if (drainWanted_ && ringFill_ == 0 && clock_.WrittenFrames() > drainCovers_) {
            StartDrain();
        }
    }

    // Frames played by the server's account, 0 before it knows.
    uint64_t ServerPosition() {
        pa_usec_t played = 0;
        if (stream_ == nullptr || pa_stream_get_time(stream_, &played) != 0) {
            return 0;
        }
        return played * spec_.rate / 1000000u;
    }

    // Waits (bounded) for the answer to `operation`; false, with the sink failed, when the
    // server refused or did not answer.
    bool Await(pa_operation* operation, Reply* reply) {
        switch (connection_->Await(operation, reply, failed_)) {
            case PulseConnection::Answer::Yes:
                clock_.Answered(Clock::now());
                return true;
            case PulseConnection::Answer::No:
                Fail();
                return false;
            case PulseConnection::Answer::Silent:
                GiveUp();
                return false;
        }
        return false;
    }

    void Fail() {
        if (!failed_.exchange(true)) {
            wake_();
        }
    }

    // The server did not answer in time. It is not asked again on this connection; its
    // streams fail with it.
    void GiveUp() {
        Fail();
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            pa_context_disconnect(context_);
        }
    }

    // Connects a new stream, corked, without waiting for it; the connection is a question the
    // server must answer in time.
    MMRESULT OpenStream() {
        stream_ = pa_stream_new(context_, "Playback", &spec_, &map_);
        if (stream_ == nullptr) {
            return WAVERR_BADFORMAT;
        }
        pa_stream_set_state_callback(stream_, OnStreamState, this);
        pa_stream_set_write_callback(stream_, OnWritable, this);
        pa_stream_set_underflow_callback(stream_, OnUnderflow, this);
        const pa_buffer_attr attr = StreamBuffer(spec_);
        // No interpolated timing: the position is what the server reported (ServerClock).
        const auto flags = PA_STREAM_START_CORKED;
        sentCork_ = true;
        clock_.Asked(Clock::now());
        if (pa_stream_connect_playback(stream_, target_.empty() ? nullptr : target_.c_str(), &attr,
                                       flags, nullptr, nullptr) < 0) {
            DropStream();
            return MMSYSERR_NODRIVER;
        }
        return MMSYSERR_NOERROR;
    }

    void DropStream() {
        if (stream_ == nullptr) {
            return;
        }
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        for (pa_operation** operation : {&timing_, &drain_, &cork_}) {
            if (*operation != nullptr) {
                pa_operation_cancel(*operation);
                pa_operation_unref(*operation);
                *operation = nullptr;
            }
        }
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }

    const std::string target_;
    const std::function<void()> wake_;
    const size_t frameBytes_;
    pa_sample_spec spec_{};
    pa_channel_map map_{};
    std::shared_ptr<PulseConnection> connection_;
    pa_threaded_mainloop* loop_ = nullptr;  // the connection's
    pa_context* context_ = nullptr;         // the connection's
    pa_stream* stream_ = nullptr;
    pa_time_event* tick_ = nullptr;  // asks for the timing, watches for a silent server
    bool armed_ = false;             // tick_ is set to go off at armedFor_
    Clock::time_point armedFor_{};
    pa_operation* timing_ = nullptr;  // the timing request on its way, if any
    pa_operation* drain_ = nullptr;   // the drain request on its way, if any
    pa_operation* cork_ = nullptr;    // the cork request on its way, if any
    uint64_t drainCovers_ = 0;        // the frames written when it was asked
    ServerClock clock_;               // what the answers mean
    std::atomic<bool> failed_{false};
    bool sentCork_ = false;  // the cork state the server was last asked for
    bool drainWanted_ = false;
    // Audio written by the device thread that the server has not asked for yet; whole frames.
    std::vector<uint8_t> ring_;
    size_t ringStart_ = 0;
    size_t ringFill_ = 0;
};

}  // namespace

std::unique_ptr<AudioSink> OpenServerStream(const std::string& target, const SinkFormat& format,
                                            std::function<void()> wake, MMRESULT* error) {
    auto sink = std::make_unique<PulseSink>(format, target, std::move(wake));
    *error = sink->Connect();
    if (*error != MMSYSERR_NOERROR) {
        return nullptr;
    }
    return sink;
}

}  // namespace platform
