// A sound device under the test's control, added through the service's one test seam and so
// listed right before "Null Output": it records the bytes it is given, plays them by the
// play-out clock at an adjustable speed, and fails when told to. A program that includes this
// header lists it from its start-up on.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <platform/waveout.h>
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/PlayoutClock.h"

namespace testsupport {

class ScriptedDevice final : public platform::AudioBackend {
  public:
    static ScriptedDevice& Get() {
        static auto* device = [] {
            auto* created = new ScriptedDevice();
            platform::AddTestBackend(created);
            return created;
        }();
        return *device;
    }

    int32_t Id() { return static_cast<int32_t>(waveOutGetNumDevs()) - 2; }

    // How many times faster than real time the open sink plays.
    void SetSpeed(double speed) {
        std::lock_guard<std::mutex> lock(mutex_);
        speed_ = speed;
        clock_.SetRate(Clock::now(), ClockRate());
    }
    void Fail() { failed_ = true; }
    // How much it holds unplayed (a sound server holds most of a second).
    void SetCapacity(std::chrono::milliseconds held) { capacityMs_ = held.count(); }
    // Everything written to a sink of this device since the last Clear.
    std::vector<uint8_t> Bytes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return bytes_;
    }
    // Held writes wait, as behind a slow device; WaitForHeldWrite: one waits (within 5 s).
    void HoldWrites(bool hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = hold;
        gate_.notify_all();
    }
    bool WaitForHeldWrite() {
        std::unique_lock<std::mutex> lock(mutex_);
        return gate_.wait_for(lock, std::chrono::seconds(5), [this] { return writeHeld_; });
    }
    void Clear() {
        HoldWrites(false);
        SetSpeed(1.0);
        std::lock_guard<std::mutex> lock(mutex_);
        bytes_.clear();
        failed_ = false;
        capacityMs_ = 100;
    }

    bool ListDevices(platform::BackendDevices* found) override {
        found->devices = {{"Scripted Device", "scripted", 32}};
        return true;
    }
    bool Accepts(const std::string& target, const platform::SinkFormat&) const override {
        return target == "scripted";
    }
    std::unique_ptr<platform::AudioSink> Open(const std::string& target,
                                              const platform::SinkFormat& format,
                                              std::function<void()> wake,
                                              MMRESULT* error) override {
        *error = Accepts(target, format) ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
        return *error != MMSYSERR_NOERROR ? nullptr
                                          : std::make_unique<Sink>(this, format, std::move(wake));
    }

  private:
    using Clock = std::chrono::steady_clock;

    template <typename Use>
    auto WithClock(Use use) {
        std::lock_guard<std::mutex> lock(mutex_);
        return use(clock_);
    }

    // One open sink at a time; its clock lives here so the test can change the speed.
    class Sink final : public platform::AudioSink {
      public:
        Sink(ScriptedDevice* device, const platform::SinkFormat& format, std::function<void()> wake)
            : device_(device) {
            std::lock_guard<std::mutex> lock(device_->mutex_);
            device_->frameBytes_ = format.FrameBytes();
            device_->rate_ = format.rate;
            device_->clock_ = platform::PlayoutClock(device_->ClockRate());
            device_->clock_.Start(Clock::now(), 0, 0);
            // A device thread that sleeps until the played position should have moved would
            // oversleep a fast clock: wake it often.
            ticker_ = std::thread([this, wake = std::move(wake)] {
                for (; !stop_; std::this_thread::sleep_for(std::chrono::milliseconds(3))) {
                    wake();
                }
            });
        }
        ~Sink() override {
            stop_ = true;
            ticker_.join();
        }
        size_t Writable() override {
            std::lock_guard<std::mutex> lock(device_->mutex_);
            const uint64_t capacity =
                std::max<uint64_t>(1, device_->rate_ * device_->capacityMs_ / 1000);
            const uint64_t held = device_->clock_.End() - device_->clock_.PlayedAt(Clock::now());
            return device_->failed_ ? 0 : (capacity - held) * device_->frameBytes_;
        }
        bool Write(const uint8_t* data, size_t bytes) override {
            std::unique_lock<std::mutex> lock(device_->mutex_);
            if (device_->holding_) {
                device_->writeHeld_ = true;
                device_->gate_.notify_all();
                device_->gate_.wait(lock, [this] { return !device_->holding_; });
                device_->writeHeld_ = false;
            }
            if (device_->failed_) {
                return false;
            }
            device_->bytes_.insert(device_->bytes_.end(), data, data + bytes);
            device_->clock_.Extend(Clock::now(),
                                   device_->clock_.End() + bytes / device_->frameBytes_);
            return true;
        }
        void Pause() override {
            device_->WithClock([](platform::PlayoutClock& c) { c.Pause(Clock::now()); });
        }
        void Resume() override {
            device_->WithClock([](platform::PlayoutClock& c) { c.Resume(Clock::now()); });
        }
        void Drain() override {}
        void Reset() override {
            device_->WithClock([](platform::PlayoutClock& c) { c.Start(Clock::now(), 0, 0); });
        }
        uint64_t Position() override {
            return device_->WithClock(
                [](platform::PlayoutClock& c) { return c.PlayedAt(Clock::now()); });
        }
        bool Failed() override { return device_->failed_; }
        std::chrono::milliseconds RoomExpectedIn() override { return std::chrono::milliseconds(3); }

      private:
        ScriptedDevice* const device_;
        std::atomic<bool> stop_{false};
        std::thread ticker_;
    };

    // With mutex_ held: frames a second at the current speed.
    uint64_t ClockRate() const {
        return static_cast<uint64_t>(std::llround(static_cast<double>(rate_) * speed_));
    }

    std::mutex mutex_;
    std::condition_variable gate_;  // held writes
    bool holding_ = false;
    bool writeHeld_ = false;
    std::vector<uint8_t> bytes_;
    double speed_ = 1.0;
    std::atomic<bool> failed_{false};
    std::atomic<uint64_t> capacityMs_{100};
    size_t frameBytes_ = 1;
    uint64_t rate_ = 1;
    platform::PlayoutClock clock_{1};
};

// Registered before main(), so it is there when the device list is first taken.
inline const bool kScriptedDeviceListed = (ScriptedDevice::Get(), true);

}  // namespace testsupport
