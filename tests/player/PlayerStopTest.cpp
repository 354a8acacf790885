// Stopping the engine while a file read is slow or held, and a device that fails: nothing
// reaches the device after a stop has begun, a stop returns promptly once the read returns,
// the buffers come back once each, and the file is never read by two threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "player/WavePlayer.h"
#include "support/HeldReads.h"
#include "support/Noise.h"
#include "support/ScriptedDevice.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

using namespace std::chrono_literals;
using testsupport::HeldReads;
using testsupport::ScriptedDevice;
using testsupport::TempDir;

namespace {

using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kPrompt = 250ms;  // sanitizers slow every step down
#else
constexpr auto kPrompt = 50ms;
#endif

struct Format {
    const char* type;
    int32_t channels;
    int32_t rate;
    int32_t bytesPerSecond;
};
constexpr Format kFormats[] = {{"PCM16", 2, 48000, 192000}, {"PCM8", 1, 8000, 8000}};

// How much faster than real time the device must play for one buffer to take `time`.
double SpeedFor(const Format& format, std::chrono::milliseconds time) {
    const double seconds = static_cast<double>(WavePlayer::kBufferBytes) / format.bytesPerSecond;
    return seconds / std::chrono::duration<double>(time).count();
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string ErrorText(WavePlayer& player) {
    char* text = nullptr;
    player.GetErrorText(&text);
    return text;
}

bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

class PlayerStop : public ::testing::Test {
  protected:
    void SetUp() override {
        device_.Clear();
        id_ = device_.Id();
    }
    void TearDown() override { device_.Clear(); }

    std::vector<uint8_t> Write(const Format& format, size_t buffers) {
        const std::vector<uint8_t> audio =
            testsupport::NoiseBytes(buffers * WavePlayer::kBufferBytes, 11);
        testsupport::WriteWaveFile(path_, audio, format.type, format.channels, format.rate);
        return audio;
    }

    ScriptedDevice& device_ = ScriptedDevice::Get();
    int32_t id_ = 0;
    TempDir dir_;
    const std::string path_ = dir_.File("held.wav");
};

// A refill is held in its read while the engine is reset, closed, or paused and closed; a
// buffer written after that would play in full at the format's rate (8 s at 8 kHz mono 8-bit).
TEST_F(PlayerStop, StopDuringAHeldRefillSendsNothingMoreAndReturnsOnceTheReadReturns) {
    enum class Stop { Reset, Close, PauseThenClose };
    for (const Format& format : kFormats) {
        for (Stop stop : {Stop::Reset, Stop::Close, Stop::PauseThenClose}) {
            SCOPED_TRACE(std::string(format.type) + " stop " + std::to_string(int(stop)));
            const std::vector<uint8_t> audio = Write(format, 10);
            HeldReads reads(path_);
            WavePlayer player(nullptr);
            device_.Clear();
            device_.SetSpeed(SpeedFor(format, 40ms));
            ASSERT_EQ(player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f), 0) << ErrorText(player);
            reads.Hold();
            ASSERT_EQ(player.Restart(), 0);
            ASSERT_TRUE(reads.WaitUntilHeld(5s)) << "no refill came";
            device_.SetSpeed(1.0);  // from here on a late buffer plays at the real rate

            size_t pausedAt = 0;
            if (stop == Stop::PauseThenClose) {
                ASSERT_EQ(player.Pause(), 0);
                pausedAt = device_.ByteCount();
            }
            Clock::time_point released;
            std::thread stopper([&] {
                EXPECT_EQ(stop == Stop::Reset ? player.Reset() : player.Close(), 0)
                    << ErrorText(player);
            });
            std::this_thread::sleep_for(30ms);
            released = Clock::now();
            reads.Release();
            stopper.join();
            EXPECT_LT(Clock::now() - released, kPrompt);
            EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
            EXPECT_EQ(player.Close(), 0);

            std::this_thread::sleep_for(50ms);
            const std::vector<uint8_t> got = device_.Bytes();
            // The held read was the fifth buffer: the device got only a prefix of the first four.
            EXPECT_LE(got.size(), 4u * WavePlayer::kBufferBytes);
            EXPECT_TRUE(IsPrefix(got, audio)) << "the device got audio out of order";
            if (stop == Stop::PauseThenClose) {
                EXPECT_EQ(got.size(), pausedAt) << "audio reached the device after Pause";
            }
        }
    }
}

// Reads that fail drop their buffers out of circulation until one buffer cycles alone; while
// it is refilled nothing is in flight. A Close then, or just as the read returns, must neither
// miss the refill nor let it write to a closed device.
TEST_F(PlayerStop, CloseWhileTheLastBufferIsRefilledWaitsForIt) {
#if defined(__SANITIZE_THREAD__)
    constexpr int kRounds = 10;
#else
    constexpr int kRounds = 30;
#endif
    const Format& format = kFormats[0];
    const std::vector<uint8_t> audio = Write(format, 40);
    WavePlayer player(nullptr);
    std::mt19937 random(7);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        HeldReads reads(path_);
        device_.Clear();
        device_.SetSpeed(SpeedFor(format, 10ms));
        ASSERT_EQ(player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f), 0) << ErrorText(player);
        const std::string noError = ErrorText(player);
        reads.FailNext(3);
        reads.Hold(4);  // three failed refills, one that plays, then the one held
        ASSERT_EQ(player.Restart(), 0);
        ASSERT_TRUE(reads.WaitUntilHeld(5s));
        std::thread closer([&] { EXPECT_EQ(player.Close(), 0) << ErrorText(player); });
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        reads.Release();
        closer.join();
        const size_t closedAt = device_.ByteCount();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(ErrorText(player), noError) << "a refill wrote after Close";
        EXPECT_EQ(device_.ByteCount(), closedAt) << "audio reached the device after Close";
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
    }
}

// A device that fails while the engine is paused, or while Start is still priming, keeps the
// buffers until Restart or Close; the file is read by one thread at a time; the engine ends.
TEST_F(PlayerStop, FailedDeviceKeepsPausedBuffersAndTheEngineStillEnds) {
    const Format& format = kFormats[0];
    Write(format, 20);
    for (bool whilePriming : {true, false}) {
        SCOPED_TRACE(whilePriming ? "failed while priming" : "failed while paused");
        HeldReads reads(path_);
        WavePlayer player(nullptr);
        device_.Clear();
        device_.SetSpeed(SpeedFor(format, 40ms));
        if (whilePriming) {
            reads.SetDelay(10ms);
            int32_t started = -1;
            std::thread starter([&] { started = player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f); });
            ASSERT_TRUE(WaitFor([&] { return reads.Reads() >= 3; }, 5s));
            device_.Fail();
            starter.join();
            EXPECT_TRUE(started == 0 || started == MMSYSERR_NODRIVER) << started;
        } else {
            ASSERT_EQ(player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f), 0);
            ASSERT_EQ(player.Restart(), 0);
            std::this_thread::sleep_for(60ms);
            ASSERT_EQ(player.Pause(), 0);
            device_.Fail();
            // A buffer that came back before the pause is still refilled (and parked).
            std::this_thread::sleep_for(50ms);
        }
        const int readsWhenFailed = reads.Reads();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(reads.Reads(), readsWhenFailed) << "buffers came back while paused";
        EXPECT_EQ(reads.MostConcurrentReads(), 1);
        if (!whilePriming) {
            EXPECT_EQ(player.GetState(), PLAYER_PLAYING);
            EXPECT_EQ(player.Restart(), MMSYSERR_NODRIVER);
            EXPECT_TRUE(WaitFor([&] { return player.GetState() == PLAYER_STOPPED; }, 2s));
        }
        const auto before = Clock::now();
        EXPECT_EQ(player.Close(), 0) << ErrorText(player);
        EXPECT_LT(Clock::now() - before, 1s);
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
    }
}

}  // namespace
