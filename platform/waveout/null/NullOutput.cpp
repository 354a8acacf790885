#include "platform/waveout/null/NullOutput.h"

#include <algorithm>
#include <chrono>
#include <mutex>

namespace platform {
namespace {

std::mutex& TapMutex() {
    static std::mutex mutex;
    return mutex;
}

NullOutputTap& Tap() {
    static auto* tap = new NullOutputTap();
    return *tap;
}

// The clock: while running and not starved, the play position advances with the time since
// `since_`; it never passes what was written, and when it catches up (an underrun) it waits
// there until new data comes.
class NullSink final : public AudioSink {
  public:
    explicit NullSink(const SinkFormat& format)
        : rate_(format.rate),
          frameBytes_(format.FrameBytes()),
          capacity_(std::max<uint64_t>(1, format.rate / 10)) {}

    size_t Writable() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Advance();
        return static_cast<size_t>(capacity_ - (written_ - played_)) * frameBytes_;
    }

    bool Write(const uint8_t* data, size_t bytes) override {
        {
            std::lock_guard<std::mutex> lock(TapMutex());
            if (Tap()) {
                Tap()(data, bytes);
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        Advance();
        if (written_ == played_) {
            since_ = Clock::now();  // the clock was starved: it runs again from now
            playedAtSince_ = played_;
        }
        written_ += bytes / frameBytes_;
        return true;
    }

    void Pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Advance();
        running_ = false;
    }

    void Resume() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            running_ = true;
            since_ = Clock::now();
            playedAtSince_ = played_;
        }
    }

    void Drain() override {}

    void Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = played_ = playedAtSince_ = 0;
        since_ = Clock::now();
    }

    uint64_t Position() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Advance();
        return played_;
    }

    bool Failed() override { return false; }
    std::chrono::milliseconds RoomExpectedIn() override { return std::chrono::milliseconds(10); }

  private:
    using Clock = std::chrono::steady_clock;

    void Advance() {
        if (!running_) {
            return;
        }
        const Clock::time_point now = Clock::now();
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - since_);
        const uint64_t frames =
            playedAtSince_ + static_cast<uint64_t>(static_cast<unsigned __int128>(elapsed.count()) *
                                                   rate_ / 1000000000u);
        if (frames >= written_) {
            played_ = written_;
            since_ = now;
            playedAtSince_ = played_;
        } else {
            played_ = frames;
        }
    }

    std::mutex mutex_;
    const uint64_t rate_;
    const size_t frameBytes_;
    const uint64_t capacity_;  // frames
    uint64_t written_ = 0;
    uint64_t played_ = 0;
    uint64_t playedAtSince_ = 0;
    Clock::time_point since_ = Clock::now();
    bool running_ = true;
};

class NullBackend final : public AudioBackend {
  public:
    bool Accepts(const SinkFormat& format) const override {
        return format.rate >= 1 && format.rate <= 768000 && format.channels >= 1 &&
               format.channels <= 32;
    }

    std::unique_ptr<AudioSink> Open(const std::string& /*target*/, const SinkFormat& format,
                                    std::function<void()> /*wake*/, MMRESULT* error) override {
        if (!Accepts(format)) {
            *error = WAVERR_BADFORMAT;
            return nullptr;
        }
        *error = MMSYSERR_NOERROR;
        return std::make_unique<NullSink>(format);
    }
};

}  // namespace

AudioBackend& NullOutputBackend() {
    static NullBackend backend;
    return backend;
}

void SetNullOutputTap(NullOutputTap tap) {
    std::lock_guard<std::mutex> lock(TapMutex());
    Tap() = std::move(tap);
}

}  // namespace platform
