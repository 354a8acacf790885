// A playback stream on the sound server, over the process's shared connection. Every failure
// (the server goes away, a write, cork or re-open fails, or the server stays silent for
// kAnswerSeconds) fails the sink, and every call here returns at once from then on. The play
// position is only what the server has confirmed as played: its timing of the stream, asked
// for when someone wants the position (at most every kTimingMs) and otherwise every
// kAliveMs, is never run on by a clock of ours while the server is silent.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/waveout/PlayoutClock.h"
#include "platform/waveout/pulse/PulseBackend.h"
#include "platform/waveout/pulse/PulseConnection.h"

namespace platform {
namespace {

// The server's buffer for the stream, and how much room it waits for before asking for more:
// larger requests mean fewer wake-ups. Notifications and positions follow the server's clock,
// so the buffer size costs no accuracy; a volume or stretch change is heard after the audio
// already handed over (up to about 0.8 s).
constexpr uint32_t kTargetLatencyMs = 500;
constexpr uint32_t kRequestMs = 250;
// Audio kept on our side beyond the server's buffer, handed over on the server's requests.
constexpr uint32_t kRingMs = 300;
// How often the server is asked for the stream's timing: at most every kTimingMs while the
// position is asked for, else every kAliveMs (each answer shows that the server is still
// there), and at the end of the data once more when the sink should have played it out.
constexpr int kTimingMs = 100;
constexpr int kAliveMs = 1000;
// A wanted position is asked for this long after it should have been played, and never
// sooner than kMinGapMs after the last request (except once at the end, see ArmTick).
constexpr int kLateMs = 2;
constexpr int kMinGapMs = 10;

pa_sample_format_t PulseFormatOf(SampleType type) {
    switch (type) {
        case SampleType::U8:
            return PA_SAMPLE_U8;
        case SampleType::S16:
            return PA_SAMPLE_S16LE;
        case SampleType::S24:
            return PA_SAMPLE_S24LE;
        case SampleType::S32:
            return PA_SAMPLE_S32LE;
        case SampleType::F32:
            return PA_SAMPLE_FLOAT32LE;
    }
    return PA_SAMPLE_INVALID;
}

pa_channel_position_t PositionOf(uint32_t speaker) {
    static constexpr pa_channel_position_t positions[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_LFE,
                                                          PA_CHANNEL_POSITION_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_REAR_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_SIDE_LEFT,
                                                          PA_CHANNEL_POSITION_SIDE_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_REAR_RIGHT};
    for (size_t bit = 0; bit < std::size(positions); ++bit) {
        if (speaker == (1u << bit)) {
            return positions[bit];
        }
    }
    return PA_CHANNEL_POSITION_INVALID;
}

bool ToPulse(const SinkFormat& format, pa_sample_spec* spec, pa_channel_map* map) {
    spec->format = PulseFormatOf(format.type);
    spec->rate = format.rate;
    spec->channels = static_cast<uint8_t>(std::min<uint16_t>(format.channels, 255));
    if (format.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(spec)) {
        return false;
    }
    pa_channel_map_init(map);
    map->channels = spec->channels;
    if (format.channels == 1) {
        map->map[0] = PA_CHANNEL_POSITION_MONO;
        return true;
    }
    unsigned aux = 0;
    for (unsigned i = 0; i < format.channels; ++i) {
        const uint32_t speaker = i < format.speakers.size() ? format.speakers[i] : 0;
        pa_channel_position_t position = PositionOf(speaker);
        if (position == PA_CHANNEL_POSITION_INVALID) {
            position = static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + aux++);
        }
        map->map[i] = position;
    }
    if (!pa_channel_map_valid(map)) {
        pa_channel_map_init_extend(map, spec->channels, PA_CHANNEL_MAP_WAVEEX);
    }
    return true;
}

class PulseSink final : public AudioSink {
  public:
    PulseSink(const SinkFormat& format, std::string target, std::function<void()> wake)
        : target_(std::move(target)),
          wake_(std::move(wake)),
          frameBytes_(format.FrameBytes()),
          endPlayout_(format.rate) {
        ToPulse(format, &spec_, &map_);
        ring_.resize(std::max<size_t>(1, format.rate * kRingMs / 1000) * frameBytes_);
    }

    ~PulseSink() override {
        if (loop_ == nullptr) {
            return;
        }
        pa_threaded_mainloop_lock(loop_);
        DropStream();
        if (tick_ != nullptr) {
            pa_threaded_mainloop_get_api(loop_)->time_free(tick_);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    MMRESULT Connect() {
        connection_ = PulseConnection::Get();
        if (connection_ == nullptr) {
            return MMSYSERR_NODRIVER;
        }
        loop_ = connection_->Loop();
        context_ = connection_->Context();
        pa_threaded_mainloop_lock(loop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when;
        tick_ = api->time_new(api, pa_gettimeofday(&when), OnTick, this);
        armedAt_ = Clock::now();
        const MMRESULT result = OpenStream(false);
        pa_threaded_mainloop_unlock(loop_);
        return result;
    }

    size_t Writable() override {
        pa_threaded_mainloop_lock(loop_);
        const size_t bytes = failed_ ? 0 : ring_.size() - ringFill_;
        pa_threaded_mainloop_unlock(loop_);
        return bytes;
    }

    bool Write(const uint8_t* data, size_t bytes) override {
        pa_threaded_mainloop_lock(loop_);
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
        pa_threaded_mainloop_unlock(loop_);
        return written;
    }

    // A cork the server refuses or does not answer fails the sink: Failed() tells the caller
    // that nothing happened.
    void Pause() override { Cork(true); }

    void Resume() override {
        if (Cork(false) && drainWanted_) {
            Drain();  // a short remainder that was waiting for the start threshold
        }
    }

    // A drain request starts even a remainder shorter than the start threshold. Unlike a plain
    // trigger, it leaves the server waiting at the end of the data when it runs dry: after a
    // trigger the server's read position runs on through the gap, and audio written late
    // would lose its beginning.
    void Drain() override {
        pa_threaded_mainloop_lock(loop_);
        drainWanted_ = true;
        PushToServer();
        if (!failed_ && stream_ != nullptr && drain_ == nullptr) {
            drain_ = pa_stream_drain(stream_, OnDrained, this);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    // A fresh stream is the simplest way back to position 0 with nothing buffered; one that
    // cannot be opened fails the sink.
    void Reset() override {
        pa_threaded_mainloop_lock(loop_);
        if (!failed_) {
            DropStream();
            if (OpenStream(corked_) != MMSYSERR_NOERROR) {
                Fail();
            }
        }
        lastPosition_ = 0;
        writtenFrames_ = 0;
        wantFrames_ = 0;
        readingAt_ = {};
        readingFrames_ = 0;
        ringStart_ = ringFill_ = 0;
        underflowed_ = false;
        drainWanted_ = false;
        pa_threaded_mainloop_unlock(loop_);
    }

    uint64_t Position() override {
        pa_threaded_mainloop_lock(loop_);
        const uint64_t position = Confirmed();
        pa_threaded_mainloop_unlock(loop_);
        return position;
    }

    // While the position is shown, the timing is asked for every kTimingMs.
    void PositionWanted() override {
        pa_threaded_mainloop_lock(loop_);
        const Clock::time_point now = Clock::now();
        const bool polling = Polling(now);
        wantedAt_ = now;
        if (!polling && !failed_) {
            ArmTick(true);
        }
        pa_threaded_mainloop_unlock(loop_);
    }

    // The timing is asked for when the last answer says that `frames` should have been played.
    bool WakeWhenPlayed(uint64_t frames) override {
        pa_threaded_mainloop_lock(loop_);
        const bool armed = !failed_ && stream_ != nullptr;
        if (armed && frames != wantFrames_) {
            wantFrames_ = frames;
            ArmTick(true);
        }
        pa_threaded_mainloop_unlock(loop_);
        return armed;
    }

    bool Failed() override { return failed_; }
    // The stream's write callback wakes the device thread; this is only a safety net.
    std::chrono::milliseconds RoomExpectedIn() override { return std::chrono::milliseconds(500); }

  private:
    static void OnStreamState(pa_stream* stream, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
            self->Fail();
        }
        self->lastAnswer_ = Clock::now();
        pa_threaded_mainloop_signal(self->loop_, 0);
    }

    using Clock = std::chrono::steady_clock;

    // With the loop locked: the position the server has confirmed.
    uint64_t Confirmed() {
        if (!failed_ && stream_ != nullptr) {
            lastPosition_ = std::max(lastPosition_, std::min(ServerPosition(), writtenFrames_));
            if (AtTheEnd() && lastAnswer_ > endPlayout_.ReadingAt()) {
                // At the end of the data the server's clock stops at the last byte it read, a
                // sink latency before the end; the sink plays that latency out in real time,
                // as far as the server has answered since. (An underrun with more data to
                // come is not the end: the server's clock goes on when the data comes.)
                lastPosition_ = std::max(lastPosition_, endPlayout_.PlayedAt(lastAnswer_));
            }
        }
        return lastPosition_;
    }

    // The server has read all the data, and no more is coming.
    bool AtTheEnd() const { return underflowed_ && drainWanted_ && ringFill_ == 0 && !corked_; }

    bool Polling(Clock::time_point now) const {
        return now - wantedAt_ < std::chrono::milliseconds(2 * kTimingMs);
    }

    // On the loop's thread: asks for the stream's timing, and fails the sink when the server
    // has given no answer for kAnswerSeconds. The connection is given up then too, so that
    // the next open tries a new one.
    static void OnTick(pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const timeval* /*when*/,
                       void* data) {
        auto* self = static_cast<PulseSink*>(data);
        if (self->failed_) {
            return;  // not armed again
        }
        if (Clock::now() - self->lastAnswer_ >= std::chrono::seconds(kAnswerSeconds)) {
            self->GiveUp();
            return;
        }
        self->AskTiming();
        self->ArmTick(false);
    }

    // With the loop locked: asks for the stream's timing unless a request is on its way.
    void AskTiming() {
        if (stream_ != nullptr && timing_ == nullptr &&
            pa_stream_get_state(stream_) == PA_STREAM_READY) {
            timing_ = pa_stream_update_timing_info(stream_, OnTiming, this);
            lastAsked_ = Clock::now();
        }
    }

    // With the loop locked: when the server's clock should reach `frames`, by the last answer
    // (at the end of the data, by the play-out of the sink's latency); none while that answer
    // is still to come.
    std::optional<Clock::time_point> WhenPlayed(uint64_t frames) const {
        Clock::time_point at = readingAt_;
        uint64_t from = readingFrames_;
        if (AtTheEnd()) {
            if (!endReading_) {
                return std::nullopt;
            }
            at = endPlayout_.ReadingAt();
            from = endPlayout_.PlayedAt(at);
        } else if (at == Clock::time_point{}) {
            return std::nullopt;
        }
        return at +
               std::chrono::microseconds((frames - std::min(frames, from)) * 1000000 / spec_.rate);
    }

    // With the loop locked: the next timing request goes out when a wanted position should
    // have been played, kTimingMs after the last one while the position is shown, and after
    // kAliveMs at the latest. `soonerOnly`: a later time than the armed one waits.
    void ArmTick(bool soonerOnly) {
        using std::chrono::milliseconds;
        const Clock::time_point now = Clock::now();
        Clock::time_point next = now + milliseconds(kAliveMs);
        if (!corked_ && Polling(now)) {
            next =
                std::min(next, std::max(lastAsked_ + milliseconds(kTimingMs),
                                        timing_ != nullptr ? now + milliseconds(kTimingMs) : now));
        }
        // While shown, the position comes often enough to wake the device thread on the
        // way; only the end is timed on its own.
        if (!corked_ && timing_ == nullptr && wantFrames_ > lastPosition_ &&
            (AtTheEnd() || !Polling(now))) {
            if (const auto played = WhenPlayed(wantFrames_)) {
                // The first check after the reading the end is timed from goes out as soon
                // as the end should have been heard; a wait of kMinGapMs there would often
                // outlast the sink's whole latency.
                const bool firstAtEnd = AtTheEnd() && lastAsked_ <= endPlayout_.ReadingAt();
                const int gapMs = firstAtEnd ? kLateMs : kMinGapMs;
                next = std::min(next, std::max(*played + milliseconds(kLateMs),
                                               lastAsked_ + milliseconds(gapMs)));
            }
        }
        if (soonerOnly && next >= armedAt_) {
            return;
        }
        armedAt_ = next;
        const auto wait =
            std::chrono::duration_cast<std::chrono::microseconds>(std::max(next, now) - now);
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(wait.count()));
        pa_threaded_mainloop_get_api(loop_)->time_restart(tick_, &when);
    }

    static void OnTiming(pa_stream* /*stream*/, int /*success*/, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        pa_operation_unref(self->timing_);
        self->timing_ = nullptr;
        self->lastAnswer_ = self->readingAt_ = Clock::now();
        self->readingFrames_ = self->ServerPosition();
        if (self->AtTheEnd() && !self->endReading_) {
            // The first reading after the underrun: the end is timed from here.
            self->endPlayout_.Start(self->readingAt_,
                                    std::max(self->lastPosition_, self->readingFrames_),
                                    self->writtenFrames_);
            self->endReading_ = true;
        }
        if (self->wantFrames_ > self->lastPosition_ && self->Confirmed() >= self->wantFrames_) {
            self->wake_();
        }
        self->ArmTick(false);
    }

    // The server has read everything written (a drain ends without an underflow message).
    static void OnDrained(pa_stream* /*stream*/, int success, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        pa_operation_unref(self->drain_);
        self->drain_ = nullptr;
        self->lastAnswer_ = Clock::now();
        if (success != 0) {
            OnUnderflow(nullptr, self);
        }
    }

    // The server asks for more: it gets what the ring holds, and the device thread is woken
    // only once half the ring is free, not for every request.
    static void OnWritable(pa_stream* /*stream*/, size_t /*bytes*/, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        self->PushToServer();
        if (self->ringFill_ <= self->ring_.size() / 2) {
            self->wake_();
        }
    }

    // With the loop locked: hands the server as much of the ring as it takes now.
    void PushToServer() {
        if (failed_ || stream_ == nullptr) {
            return;
        }
        size_t wanted = pa_stream_writable_size(stream_);
        if (wanted == static_cast<size_t>(-1)) {
            return;
        }
        wanted -= wanted % frameBytes_;
        while (wanted > 0 && ringFill_ > 0) {
            const size_t chunk = std::min({wanted, ringFill_, ring_.size() - ringStart_});
            if (pa_stream_write(stream_, ring_.data() + ringStart_, chunk, nullptr, 0,
                                PA_SEEK_RELATIVE) != 0) {
                Fail();
                return;
            }
            ringStart_ = (ringStart_ + chunk) % ring_.size();
            ringFill_ -= chunk;
            wanted -= chunk;
            writtenFrames_ += chunk / frameBytes_;
        }
    }

    static void OnUnderflow(pa_stream* /*stream*/, void* data) {
        auto* self = static_cast<PulseSink*>(data);
        self->underflowed_ = true;
        self->endReading_ = false;
        self->endPlayout_.Start(Clock::now(), std::max(self->lastPosition_, self->ServerPosition()),
                                self->writtenFrames_);
        if (!self->failed_ && self->AtTheEnd()) {
            self->AskTiming();  // where the server's clock stopped, read afresh
            self->ArmTick(false);
        }
        self->wake_();
    }

    // With the loop locked: frames played by the server's account, 0 before it knows.
    uint64_t ServerPosition() {
        pa_usec_t played = 0;
        if (stream_ == nullptr || pa_stream_get_time(stream_, &played) != 0) {
            return 0;
        }
        return played * spec_.rate / 1000000u;
    }

    struct Operation {
        PulseSink* sink;
        bool done = false;
        bool success = false;
    };
    static void OnOperationDone(pa_stream* /*stream*/, int success, void* data) {
        auto* operation = static_cast<Operation*>(data);
        operation->done = true;
        operation->success = success != 0;
        operation->sink->lastAnswer_ = Clock::now();
        pa_threaded_mainloop_signal(operation->sink->loop_, 0);
    }

    // With the loop locked: waits for the answer to `operation` (made with OnOperationDone
    // and `result`); false, with the sink failed, when the server refused or did not answer.
    bool Await(pa_operation* operation, Operation* result) {
        if (operation == nullptr) {
            Fail();
            return false;
        }
        if (!connection_->WaitFor([&] { return result->done || failed_; }, kAnswerSeconds)) {
            GiveUp();
        }
        pa_operation_cancel(operation);  // no late callback on `result`
        pa_operation_unref(operation);
        if (!result->success) {
            Fail();
        }
        return !failed_;
    }

    void Fail() {
        if (!failed_.exchange(true)) {
            wake_();
        }
    }

    // With the loop locked: the server did not answer in time. It is not asked again on this
    // connection; its streams fail with it.
    void GiveUp() {
        Fail();
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            pa_context_disconnect(context_);
        }
    }

    // With the loop locked.
    MMRESULT OpenStream(bool corked) {
        stream_ = pa_stream_new(context_, "Playback", &spec_, &map_);
        if (stream_ == nullptr) {
            return WAVERR_BADFORMAT;
        }
        pa_stream_set_state_callback(stream_, OnStreamState, this);
        pa_stream_set_write_callback(stream_, OnWritable, this);
        pa_stream_set_underflow_callback(stream_, OnUnderflow, this);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyMs * 1000, &spec_));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(kRequestMs * 1000, &spec_));
        attr.fragsize = static_cast<uint32_t>(-1);
        // No interpolated timing: the position is what the server reported, see OnTick.
        auto flags = static_cast<pa_stream_flags_t>(corked ? PA_STREAM_START_CORKED : 0);
        lastAnswer_ = Clock::now();
        if (pa_stream_connect_playback(stream_, target_.empty() ? nullptr : target_.c_str(), &attr,
                                       flags, nullptr, nullptr) < 0) {
            DropStream();
            return MMSYSERR_NODRIVER;
        }
        if (!connection_->WaitFor(
                [&] { return pa_stream_get_state(stream_) == PA_STREAM_READY || failed_; },
                kAnswerSeconds)) {
            GiveUp();
        }
        if (failed_) {
            DropStream();
            return MMSYSERR_NODRIVER;
        }
        corked_ = corked;
        return MMSYSERR_NOERROR;
    }

    // With the loop locked.
    void DropStream() {
        if (stream_ == nullptr) {
            return;
        }
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        for (pa_operation** operation : {&timing_, &drain_}) {
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

    // False, with the sink failed, when the server refused the cork or did not answer.
    bool Cork(bool cork) {
        pa_threaded_mainloop_lock(loop_);
        corked_ = cork;
        if (!failed_ && stream_ != nullptr) {
            Operation corked{this};
            if (Await(pa_stream_cork(stream_, cork ? 1 : 0, OnOperationDone, &corked), &corked) &&
                cork && writtenFrames_ > 0) {
                // The position where it stopped, from the server's timing after the cork. (With
                // nothing handed over yet, as at the start, it can only be 0: not asked.)
                Operation timing{this};
                Await(pa_stream_update_timing_info(stream_, OnOperationDone, &timing), &timing);
            }
        }
        if (!failed_) {
            ArmTick(false);  // corked, only to hear from the server; else as wanted
        }
        const bool done = !failed_;
        pa_threaded_mainloop_unlock(loop_);
        return done;
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
    pa_time_event* tick_ = nullptr;   // asks for the timing, watches for a silent server
    pa_operation* timing_ = nullptr;  // the timing request on its way, if any
    Clock::time_point lastAsked_;     // when timing_ was last sent
    Clock::time_point armedAt_;       // when tick_ goes off
    Clock::time_point wantedAt_;      // the position was last shown
    uint64_t wantFrames_ = 0;         // the device thread waits for these
    // The last answer: when it came, and the frames played by the server's clock then.
    Clock::time_point readingAt_;
    uint64_t readingFrames_ = 0;
    pa_operation* drain_ = nullptr;  // the drain request on its way, if any
    // When the server last answered anything (steady clock; the loop's lock).
    Clock::time_point lastAnswer_;
    std::atomic<bool> failed_{false};
    bool corked_ = false;
    std::atomic<bool> drainWanted_{false};
    uint64_t lastPosition_ = 0;
    uint64_t writtenFrames_ = 0;  // handed to the server
    // Audio written by the device thread that the server has not asked for yet; whole frames.
    std::vector<uint8_t> ring_;
    size_t ringStart_ = 0;
    size_t ringFill_ = 0;
    // The last underrun: from where the server's clock stood then, up to what had been written.
    bool underflowed_ = false;
    bool endReading_ = false;  // endPlayout_ starts from an answer given after the underrun
    PlayoutClock endPlayout_;
};

class PulseBackendImpl final : public AudioBackend {
  public:
    bool ListDevices(BackendDevices* found) override { return ListServerSinks(found); }

    // The server converts to whichever sink plays the stream: a format it can describe is
    // taken by every sink.
    bool Accepts(const std::string& /*target*/, const SinkFormat& format) const override {
        pa_sample_spec spec;
        pa_channel_map map;
        return ToPulse(format, &spec, &map);
    }

    std::unique_ptr<AudioSink> Open(const std::string& target, const SinkFormat& format,
                                    std::function<void()> wake, MMRESULT* error) override {
        if (!Accepts(target, format)) {
            *error = WAVERR_BADFORMAT;
            return nullptr;
        }
        auto sink = std::make_unique<PulseSink>(format, target, std::move(wake));
        *error = sink->Connect();
        if (*error != MMSYSERR_NOERROR) {
            return nullptr;
        }
        return sink;
    }
};

}  // namespace

AudioBackend& PulseBackend() {
    static PulseBackendImpl backend;
    return backend;
}

}  // namespace platform
