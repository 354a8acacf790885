#include "platform/waveout/null/NullOutput.h"

#include <algorithm>
#include <mutex>

#include "platform/waveout/PlayoutClock.h"

namespace platform {
namespace {

const BackendDevice kDevice{"Null Output", "null", 32};

// Plays by the play-out clock: while running it advances with the time, never past what was
// written, and after an underrun it runs again from the next write.
class NullSink final : public AudioSink {
  public:
    explicit NullSink(const SinkFormat& format)
        : frameBytes_(format.FrameBytes()),
          capacity_(std::max<uint64_t>(1, format.rate / 10)),
          clock_(format.rate) {
        clock_.Start(Clock::now(), 0, 0);
    }

    size_t Writable() override {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t played = clock_.PlayedAt(Clock::now());
        return static_cast<size_t>(capacity_ - (clock_.End() - played)) * frameBytes_;
    }

    bool Write(const uint8_t* /*data*/, size_t bytes) override {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_.Extend(Clock::now(), clock_.End() + bytes / frameBytes_);
        return true;
    }

    void Pause() override {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_.Pause(Clock::now());
    }

    void Resume() override {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_.Resume(Clock::now());
    }

    void Drain() override {}

    void Reset() override {
        std::lock_guard<std::mutex> lock(mutex_);
        clock_.Start(Clock::now(), 0, 0);
    }

    uint64_t Position() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return clock_.PlayedAt(Clock::now());
    }

    bool Failed() override { return false; }
    std::chrono::milliseconds RoomExpectedIn() override { return std::chrono::milliseconds(10); }

  private:
    using Clock = std::chrono::steady_clock;

    const size_t frameBytes_;
    const uint64_t capacity_;  // frames
    std::mutex mutex_;
    PlayoutClock clock_;
};

class NullBackend final : public AudioBackend {
  public:
    bool ListDevices(BackendDevices* found) override {
        found->devices = {kDevice};  // never the default: it is chosen by name or number only
        return true;
    }

    bool Accepts(const std::string& target, const SinkFormat& format) const override {
        return target == kDevice.target && format.rate >= 1 && format.rate <= 768000 &&
               format.channels >= 1 && format.channels <= 32;
    }

    // It never fails and its room comes by the clock (see RoomExpectedIn): nothing to wake.
    std::unique_ptr<AudioSink> Open(const std::string& target, const SinkFormat& format,
                                    std::function<void()> /*wake*/, MMRESULT* error) override {
        if (target != kDevice.target) {
            *error = MMSYSERR_BADDEVICEID;
            return nullptr;
        }
        if (!Accepts(target, format)) {
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

}  // namespace platform
