// A playback stream on an ALSA PCM. The PCM is opened non-blocking, so a device held by
// another program fails the open at once, and no call here ever waits for the device: the
// service's device thread asks Writable() and writes only that much. The play position is
// what was written less the PCM's delay (frames the device has yet to play out).
//
// When the PCM is full, the device thread is told how long it will take until a period has
// been played, and sleeps that long: one look at the device per period, no thread of its own.
//
// Pause uses the hardware pause where the PCM has one. Elsewhere the PCM is dropped and
// re-primed on resume with the frames it had not played yet, which are kept for that in a
// copy of the last buffer's worth of written audio.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>

#include "platform/waveout/PlayoutClock.h"
#include "platform/waveout/alsa/AlsaBackend.h"

namespace platform {
namespace {

// Half a second in two periods: four refills a second, each of which still finds a quarter
// of a second buffered. Positions come from the delay and pause, reset and close act at
// once, so the size costs no accuracy; volume and stretch changes reach the audible output
// after what is already buffered.
constexpr unsigned kBufferUs = 500000;
constexpr unsigned kPeriodUs = 250000;
constexpr auto kPositionReuse = std::chrono::milliseconds(1);
// How long the device thread sleeps when the PCM is full: until a period is due to be free
// by the rate, a little later as the device's clock may lag, within these bounds.
constexpr auto kRoomMin = std::chrono::milliseconds(5);
constexpr auto kRoomMax = std::chrono::milliseconds(500);
constexpr auto kRoomMargin = std::chrono::milliseconds(2);

snd_pcm_format_t AlsaFormatOf(SampleType type) {
    switch (type) {
        case SampleType::U8:
            return SND_PCM_FORMAT_U8;
        case SampleType::S16:
            return SND_PCM_FORMAT_S16_LE;
        case SampleType::S24:
            return SND_PCM_FORMAT_S24_3LE;
        case SampleType::S32:
            return SND_PCM_FORMAT_S32_LE;
        case SampleType::F32:
            return SND_PCM_FORMAT_FLOAT_LE;
    }
    return SND_PCM_FORMAT_UNKNOWN;
}

MMRESULT OpenError(int error) {
    switch (-error) {
        case EBUSY:
        case EAGAIN:
            return MMSYSERR_ALLOCATED;  // held by another program
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return MMSYSERR_NODRIVER;
        case ENOMEM:
            return MMSYSERR_NOMEM;
        default:
            return MMSYSERR_ERROR;
    }
}

bool Plausible(const SinkFormat& format) {
    return format.rate >= 1000 && format.rate <= 768000 && format.channels >= 1 &&
           format.channels <= 32 && AlsaFormatOf(format.type) != SND_PCM_FORMAT_UNKNOWN;
}

// Narrows the PCM's hardware parameters to the format; false when the PCM (with the plug
// layer's conversions) cannot take it.
bool Restrict(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, const SinkFormat& format) {
    return snd_pcm_hw_params_any(pcm, hw) >= 0 &&
           snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) >= 0 &&
           snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) >= 0 &&
           snd_pcm_hw_params_set_format(pcm, hw, AlsaFormatOf(format.type)) >= 0 &&
           snd_pcm_hw_params_set_channels(pcm, hw, format.channels) >= 0 &&
           snd_pcm_hw_params_set_rate(pcm, hw, format.rate, 0) >= 0;
}

class AlsaSink final : public AudioSink {
  public:
    AlsaSink(const SinkFormat& format, std::function<void()> wake)
        : format_(format),
          frameBytes_(format.FrameBytes()),
          wake_(std::move(wake)),
          tail_(format.rate) {}

    ~AlsaSink() override {
        if (pcm_ != nullptr) {
            snd_pcm_drop(pcm_);
            snd_pcm_close(pcm_);
        }
    }

    MMRESULT Open(const std::string& target) {
        QuietAlsaLibrary();
        const int opened =
            snd_pcm_open(&pcm_, target.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
        if (opened < 0) {
            pcm_ = nullptr;
            return OpenError(opened);
        }
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        if (!Restrict(pcm_, hw, format_)) {
            return WAVERR_BADFORMAT;
        }
        unsigned bufferUs = kBufferUs;
        unsigned periodUs = kPeriodUs;
        snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &bufferUs, nullptr);
        snd_pcm_hw_params_set_period_time_near(pcm_, hw, &periodUs, nullptr);
        if (snd_pcm_hw_params(pcm_, hw) < 0) {
            return WAVERR_BADFORMAT;
        }
        snd_pcm_hw_params_get_buffer_size(hw, &bufferFrames_);
        snd_pcm_hw_params_get_period_size(hw, &periodFrames_, nullptr);
        periodFrames_ = std::max<snd_pcm_uframes_t>(periodFrames_, 1);
        canPause_ = snd_pcm_hw_params_can_pause(hw) != 0;

        // Starts by itself once the buffer is full; a shorter remainder starts with Drain().
        snd_pcm_sw_params_t* sw = nullptr;
        snd_pcm_sw_params_alloca(&sw);
        if (snd_pcm_sw_params_current(pcm_, sw) < 0 ||
            snd_pcm_sw_params_set_start_threshold(pcm_, sw, bufferFrames_) < 0 ||
            snd_pcm_sw_params_set_avail_min(pcm_, sw, periodFrames_) < 0 ||
            snd_pcm_sw_params(pcm_, sw) < 0) {
            return MMSYSERR_ERROR;
        }
        if (!canPause_) {
            history_.assign(bufferFrames_ * frameBytes_, 0);
        }
        return MMSYSERR_NOERROR;
    }

    size_t Writable() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || paused_) {
            return 0;
        }
        if (!WriteHeld()) {
            ExpectRoom(0);
            return 0;
        }
        // The room found at the start of a pass is used up before the device is asked again;
        // once it is, the pass ends while the device runs, so that each pass is one write.
        if (known_ > 0) {
            return known_ * frameBytes_;
        }
        if (filling_ && snd_pcm_state(pcm_) == SND_PCM_STATE_RUNNING) {
            filling_ = false;
            ExpectRoom(0);
            return 0;
        }
        snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm_);
        if (avail < 0) {
            if (!Recover(static_cast<int>(avail))) {
                return 0;
            }
            avail = snd_pcm_avail_update(pcm_);
        }
        // While running, the device thread is let in once a whole period is free and then
        // fills what is free: few passes, each writing much. Before the start every frame
        // counts, as the PCM starts only once it is full.
        if (avail >= static_cast<snd_pcm_sframes_t>(periodFrames_) ||
            snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
            filling_ = true;
        }
        if (avail <= 0 || !filling_) {
            if (avail <= 0) {
                StartWhenFull();
            }
            filling_ = false;
            ExpectRoom(static_cast<snd_pcm_uframes_t>(std::max<snd_pcm_sframes_t>(avail, 0)));
            return 0;
        }
        known_ = static_cast<size_t>(avail);
        return known_ * frameBytes_;
    }

    bool Write(const uint8_t* data, size_t bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_) {
            return false;
        }
        if (!paused_ && WriteHeld()) {
            const size_t taken = WriteFrames(data, bytes / frameBytes_) * frameBytes_;
            data += taken;
            bytes -= taken;
        }
        // What the device did not take now goes first next time: nothing is lost.
        held_.insert(held_.end(), data, data + bytes / frameBytes_ * frameBytes_);
        return !failed_;
    }

    void Pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || paused_) {
            return;
        }
        UpdatePosition();
        paused_ = true;
        tailing_ = lastReading_.valid = false;
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
            return;  // not started: nothing plays, nothing to hold
        }
        if (canPause_ && snd_pcm_pause(pcm_, 1) >= 0) {
            return;
        }
        // Drop, and keep the frames not yet played to write them again on resume.
        const uint64_t unplayed =
            std::min<uint64_t>(written_ - played_, history_.size() / frameBytes_);
        std::vector<uint8_t> replay = HistoryTail(static_cast<size_t>(unplayed * frameBytes_));
        replay.insert(replay.end(), held_.begin(), held_.end());
        held_ = std::move(replay);
        snd_pcm_drop(pcm_);
        Recover(snd_pcm_prepare(pcm_));
        known_ = 0;
        written_ = played_;
        reprimed_ = true;
    }

    void Resume() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || !paused_) {
            return;
        }
        paused_ = false;
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PAUSED) {
            if (snd_pcm_pause(pcm_, 0) < 0) {
                Recover(-EPIPE);
            }
            return;
        }
        WriteHeld();
        if (reprimed_ || drainWanted_) {
            StartIfBuffered();  // it was playing when paused: go on at once
        }
        reprimed_ = false;
    }

    void Drain() override {
        std::lock_guard<std::mutex> lock(mutex_);
        drainWanted_ = true;
        if (!failed_ && !paused_ && WriteHeld()) {
            StartIfBuffered();
        }
    }

    void Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failed_) {
            snd_pcm_drop(pcm_);
            Recover(snd_pcm_prepare(pcm_));
        }
        written_ = played_ = 0;
        known_ = 0;
        positionAt_ = {};
        tailing_ = lastReading_.valid = false;
        held_.clear();
        historyAt_ = 0;
        drainWanted_ = reprimed_ = false;
    }

    uint64_t Position() override {
        std::lock_guard<std::mutex> lock(mutex_);
        // Asked twice in a row (retiring, then planning the next wake-up), the device is
        // read once.
        const Clock::time_point now = Clock::now();
        if (!failed_ && !paused_ && now - positionAt_ >= kPositionReuse) {
            WriteHeld();
            UpdatePosition();
            positionAt_ = now;
        }
        return played_;
    }

    bool Failed() override { return failed_; }
    std::chrono::milliseconds RoomExpectedIn() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return roomIn_;
    }

  private:
    using Clock = std::chrono::steady_clock;
    struct Reading {
        Clock::time_point at;
        uint64_t played;
        bool valid;
    };

    // With the lock held: `avail` frames are free now; a period will be free after the rest
    // of it has been played.
    void ExpectRoom(snd_pcm_uframes_t avail) {
        const snd_pcm_uframes_t missing = periodFrames_ - std::min(avail, periodFrames_);
        const auto due = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::microseconds(missing * 1000000u / format_.rate));
        roomIn_ = std::clamp(due + kRoomMargin, kRoomMin, kRoomMax);
    }

    // With the lock held: the device clock, as frames written less the PCM's delay.
    void UpdatePosition() {
        const Clock::time_point now = Clock::now();
        uint64_t played = played_;
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        switch (state) {
            case SND_PCM_STATE_RUNNING:
            case SND_PCM_STATE_DRAINING:
            case SND_PCM_STATE_PREPARED: {
                snd_pcm_sframes_t delay = 0;
                const int result = snd_pcm_delay(pcm_, &delay);
                // Some plugins find the underrun while answering and still return the delay
                // from before it, which would hold the clock back: the state tells.
                if (result == -EPIPE || snd_pcm_state(pcm_) == SND_PCM_STATE_XRUN) {
                    StartTail();
                } else if (result >= 0) {
                    const uint64_t pending = static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(
                        0, std::min<snd_pcm_sframes_t>(delay,
                                                       static_cast<snd_pcm_sframes_t>(written_))));
                    played = written_ - pending;
                    if (state == SND_PCM_STATE_RUNNING) {
                        lastReading_ = {now, played, true};
                    }
                }
                break;
            }
            case SND_PCM_STATE_XRUN:
                StartTail();
                break;
            default:
                break;
        }
        if (tailing_) {
            // Until the frames from before the underrun have played out, the clock runs on
            // them at the rate.
            const uint64_t tailPlayed = tail_.PlayedAt(now);
            tailing_ = tailPlayed < tail_.End();
            played = tailing_ ? tailPlayed : std::max(played, tail_.End());
        }
        played_ = std::max(played_, std::min(played, written_));
    }

    // With the lock held: the PCM has run dry. The device may still be playing what it was
    // given, up to the delay last read, so the clock runs on from that reading rather than
    // jumping to the end.
    void StartTail() {
        if (tailing_) {
            return;
        }
        const Reading from =
            lastReading_.valid ? lastReading_ : Reading{Clock::now(), played_, true};
        tail_.Start(from.at, from.played, written_);
        tailing_ = true;
        lastReading_.valid = false;
    }

    // With the lock held: gets the PCM going again after an error; false when it is gone.
    bool Recover(int error) {
        if (error >= 0) {
            return true;
        }
        known_ = 0;  // what is free is read from the device again
        if (error == -EPIPE) {
            // An underrun is no error: what was written plays out, and output goes on from
            // the next write.
            StartTail();
            error = snd_pcm_prepare(pcm_);
        } else if (error == -ESTRPIPE) {
            error = snd_pcm_resume(pcm_);
            if (error == -EAGAIN) {
                return true;  // still waking up; the next call tries again
            }
            if (error < 0) {
                StartTail();
                error = snd_pcm_prepare(pcm_);
            }
        }
        if (error < 0 && error != -EAGAIN) {
            if (!failed_.exchange(true)) {
                wake_();
            }
            return false;
        }
        return true;
    }

    // With the lock held: frames actually written, stopping early when the device is full.
    size_t WriteFrames(const uint8_t* data, size_t frames) {
        size_t done = 0;
        while (done < frames && !failed_) {
            const snd_pcm_sframes_t n =
                snd_pcm_writei(pcm_, data + done * frameBytes_, frames - done);
            if (n == -EAGAIN) {
                StartWhenFull();
                break;
            }
            if (n < 0) {
                if (!Recover(static_cast<int>(n)) || n == -ESTRPIPE) {
                    break;
                }
                continue;
            }
            Remember(data + done * frameBytes_, static_cast<size_t>(n) * frameBytes_);
            written_ += static_cast<uint64_t>(n);
            known_ -= std::min(known_, static_cast<size_t>(n));
            done += static_cast<size_t>(n);
        }
        if (done > 0) {
            drainWanted_ = false;
        }
        return done;
    }

    // With the lock held: writes what is held back; true when nothing is held any more.
    bool WriteHeld() {
        if (held_.empty()) {
            return true;
        }
        const size_t frames = WriteFrames(held_.data(), held_.size() / frameBytes_);
        held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(frames * frameBytes_));
        return held_.empty();
    }

    // With the lock held: the PCM is full but has not started. Through a rate converter the
    // frames that fit can fall short of the start threshold, so a full PCM is started here
    // rather than left waiting for frames that will never fit.
    void StartWhenFull() {
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) {
            Recover(snd_pcm_start(pcm_));
        }
    }

    void StartIfBuffered() {
        if (snd_pcm_state(pcm_) != SND_PCM_STATE_PREPARED) {
            return;
        }
        const snd_pcm_sframes_t avail = snd_pcm_avail(pcm_);
        if (avail >= 0 && static_cast<snd_pcm_uframes_t>(avail) < bufferFrames_) {
            Recover(snd_pcm_start(pcm_));
        }
    }

    // The copy of the last buffer's worth of written frames (only where there is no pause).
    void Remember(const uint8_t* data, size_t bytes) {
        if (history_.empty()) {
            return;
        }
        if (bytes >= history_.size()) {
            data += bytes - history_.size();
            bytes = history_.size();
        }
        const size_t first = std::min(bytes, history_.size() - historyAt_);
        std::copy(data, data + first, history_.begin() + static_cast<ptrdiff_t>(historyAt_));
        std::copy(data + first, data + bytes, history_.begin());
        historyAt_ = (historyAt_ + bytes) % history_.size();
    }

    std::vector<uint8_t> HistoryTail(size_t bytes) const {
        std::vector<uint8_t> tail(bytes);
        const size_t size = history_.size();
        for (size_t i = 0; i < bytes; ++i) {
            tail[i] = history_[(historyAt_ + size - bytes + i) % size];
        }
        return tail;
    }

    const SinkFormat format_;
    const size_t frameBytes_;
    const std::function<void()> wake_;
    snd_pcm_t* pcm_ = nullptr;
    snd_pcm_uframes_t bufferFrames_ = 0;
    snd_pcm_uframes_t periodFrames_ = 1;
    bool canPause_ = false;

    std::mutex mutex_;
    std::chrono::milliseconds roomIn_{kRoomMin};  // when Writable() may give room again
    size_t known_ = 0;      // frames surely free: the last reading less what was written since
    bool filling_ = false;  // let in until the buffer is full
    std::atomic<bool> failed_{false};
    bool paused_ = false;
    bool drainWanted_ = false;      // a short remainder is to play without waiting for more
    bool reprimed_ = false;         // dropped by a pause, to start again on resume
    Clock::time_point positionAt_;  // when Position() last read the device
    Reading lastReading_{};         // the last delay read while running
    bool tailing_ = false;          // playing out what was written before an underrun
    PlayoutClock tail_;
    uint64_t written_ = 0;          // frames given to the PCM since open or reset
    uint64_t played_ = 0;           // never reported backwards
    std::vector<uint8_t> held_;     // frames to write before anything new
    std::vector<uint8_t> history_;  // ring of the last frames written
    size_t historyAt_ = 0;
};

class AlsaBackendImpl final : public AudioBackend {
  public:
    bool ListDevices(BackendDevices* found) override { return ListAlsaDevices(found); }

    // Asks the PCM itself, and lets it go again. A PCM that is busy or cannot be opened
    // now is given the benefit of the doubt: the open then reports why.
    bool Accepts(const std::string& target, const SinkFormat& format) const override {
        if (!Plausible(format)) {
            return false;
        }
        QuietAlsaLibrary();
        snd_pcm_t* pcm = nullptr;
        if (snd_pcm_open(&pcm, target.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
            return true;
        }
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        const bool accepted = Restrict(pcm, hw, format);
        snd_pcm_close(pcm);
        return accepted;
    }

    std::unique_ptr<AudioSink> Open(const std::string& target, const SinkFormat& format,
                                    std::function<void()> wake, MMRESULT* error) override {
        if (!Plausible(format)) {
            *error = WAVERR_BADFORMAT;
            return nullptr;
        }
        auto sink = std::make_unique<AlsaSink>(format, std::move(wake));
        *error = sink->Open(target);
        if (*error != MMSYSERR_NOERROR) {
            return nullptr;
        }
        return sink;
    }
};

}  // namespace

AudioBackend& AlsaBackend() {
    static AlsaBackendImpl backend;
    return backend;
}

}  // namespace platform
