// The engine against Null Output and the recording scripted device: the bytes that reach the
// device, start failures, and stopping while a file read is held or the device fails (nothing
// reaches the device after a stop, a stop returns once the read does, buffers come back once).
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

int32_t NullDevice() {
    return static_cast<int32_t>(waveOutGetNumDevs()) - 1;
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

bool Stops(WavePlayer& player, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return player.GetState() == PLAYER_STOPPED; }, timeout);
}

std::string ErrorText(WavePlayer& player) {
    char* text = nullptr;
    player.GetErrorText(&text);
    return text;
}

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

class WavePlayerTest : public ::testing::Test {
  protected:
    void SetUp() override { device_.Clear(); }
    void TearDown() override { device_.Clear(); }

    std::vector<uint8_t> Write(const Format& format, size_t bytes, uint32_t seed = 11) {
        const std::vector<uint8_t> audio = testsupport::NoiseBytes(bytes, seed);
        testsupport::WriteWaveFile(path_, audio, format.type, format.channels, format.rate);
        return audio;
    }

    ScriptedDevice& device_ = ScriptedDevice::Get();
    const int32_t id_ = device_.Id();
    TempDir dir_;
    const std::string path_ = dir_.File("play.wav");
};

TEST_F(WavePlayerTest, DeviceGetsTheFileFromThePunchInOnNothingLostOrRepeated) {
    constexpr size_t kBlock = WavePlayer::kBufferBytes;
    struct Case {
        size_t bytes;
        int32_t punchIn;
    };
    const Case cases[] = {
        {100000, 0}, {4 * kBlock, 0}, {11 * kBlock + 96, 32 * 1000}, {300000, -64}};
    WavePlayer player(nullptr);
    uint32_t seed = 77;
    for (const Case& c : cases) {
        const std::vector<uint8_t> audio = Write({"PCM32", 8, 192000, 0}, c.bytes, seed++);
        device_.Clear();
        ASSERT_EQ(player.Start(id_, path_.c_str(), c.punchIn, 1.0f, 1.0f), 0) << ErrorText(player);
        EXPECT_EQ(player.GetDataBytes(), static_cast<int32_t>(c.bytes));
        ASSERT_EQ(player.Restart(), 0);
        ASSERT_TRUE(Stops(player, 10s)) << c.bytes;
        EXPECT_EQ(player.Close(), 0);
        const auto skip = static_cast<long>(std::max(c.punchIn, 0));
        EXPECT_TRUE(device_.Bytes() == std::vector<uint8_t>(audio.begin() + skip, audio.end()))
            << c.bytes << " bytes from " << c.punchIn;
    }
    // A punch-in at or past the end queues nothing; the playback still ends.
    for (int32_t punchIn : {static_cast<int32_t>(300000), 32 * 100000}) {
        ASSERT_EQ(player.Start(NullDevice(), path_.c_str(), punchIn, 1.0f, 1.0f), 0);
        ASSERT_EQ(player.Restart(), 0);
        EXPECT_TRUE(Stops(player, 2s)) << "stuck playing";
        EXPECT_EQ(player.Close(), 0);
    }
}

// Destroying while playing takes the buffers back before they are freed, at once.
TEST_F(WavePlayerTest, DestroyDuringPlaybackStopsAtOnce) {
    Write(kFormats[0], 48000 * 4 * 30);  // 30 s
    auto player = std::make_unique<WavePlayer>(nullptr);
    ASSERT_EQ(player->Start(NullDevice(), path_.c_str(), 0, 1.0f, 1.0f), 0);
    ASSERT_EQ(player->Restart(), 0);
    std::this_thread::sleep_for(50ms);
    const auto before = Clock::now();
    player.reset();
    EXPECT_LT(Clock::now() - before, 2s);
}

TEST_F(WavePlayerTest, StartFailuresReturnTheirErrorAndTheEngineStillPlays) {
    const std::string notWave = dir_.File("text.wav");
    testsupport::WriteBytes(notWave, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    Write(kFormats[0], 3200);
    struct Case {
        const char* name;
        int32_t device;
        int32_t result;
    };
    const std::string missing = dir_.File("missing.wav");
    const Case cases[] = {{nullptr, NullDevice(), 1},
                          {missing.c_str(), NullDevice(), 1},
                          {notWave.c_str(), NullDevice(), 1},
                          {"null", NullDevice(), 1},
                          {path_.c_str(), 999, MMSYSERR_BADDEVICEID}};
    WavePlayer player(nullptr);
    for (const Case& c : cases) {
        EXPECT_EQ(player.Start(c.device, c.name, 0, 1.0f, 1.0f), c.result)
            << (c.name ? c.name : "-");
        EXPECT_FALSE(ErrorText(player).empty());
        EXPECT_EQ(player.Restart(), 0);  // nothing open: nothing happens
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
        EXPECT_EQ(player.Close(), 0);
    }
    ASSERT_EQ(player.Start(NullDevice(), path_.c_str()), 0);
    ASSERT_EQ(player.Restart(), 0);
    EXPECT_TRUE(Stops(player, 2s));
    EXPECT_EQ(player.Close(), 0);
}

// A refill is held in its read while the engine is reset, closed, or paused and closed; a
// buffer written after that would play in full at the format's rate (8 s at 8 kHz mono 8-bit).
TEST_F(WavePlayerTest, StopDuringAHeldRefillSendsNothingMoreAndReturnsOnceTheReadReturns) {
    enum class Stop { Reset, Close, PauseThenClose };
    for (const Format& format : kFormats) {
        for (Stop stop : {Stop::Reset, Stop::Close, Stop::PauseThenClose}) {
            SCOPED_TRACE(std::string(format.type) + " stop " + std::to_string(int(stop)));
            const std::vector<uint8_t> audio = Write(format, 10 * WavePlayer::kBufferBytes);
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
                pausedAt = device_.Bytes().size();
            }
            std::thread stopper(
                [&] { EXPECT_EQ(stop == Stop::Reset ? player.Reset() : player.Close(), 0); });
            std::this_thread::sleep_for(30ms);
            const Clock::time_point released = Clock::now();
            reads.Release();
            stopper.join();
            EXPECT_LT(Clock::now() - released, kPrompt);
            EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
            EXPECT_EQ(player.Close(), 0);
            std::this_thread::sleep_for(50ms);
            const std::vector<uint8_t> got = device_.Bytes();
            // The held read was the fifth buffer: the device got only a prefix of the first four.
            EXPECT_LE(got.size(), 4u * WavePlayer::kBufferBytes);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), audio.begin())) << "out of order";
            if (stop == Stop::PauseThenClose) {
                EXPECT_EQ(got.size(), pausedAt) << "audio reached the device after Pause";
            }
        }
    }
}

// Failed reads drop their buffers until one cycles alone; while it is refilled nothing is in
// flight. A Close then, or just as the read returns, must neither miss the refill nor let it
// write to a closed device.
TEST_F(WavePlayerTest, CloseWhileTheLastBufferIsRefilledWaitsForIt) {
#if defined(__SANITIZE_THREAD__)
    constexpr int kRounds = 10;
#else
    constexpr int kRounds = 30;
#endif
    Write(kFormats[0], 40 * WavePlayer::kBufferBytes);
    WavePlayer player(nullptr);
    std::mt19937 random(7);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        HeldReads reads(path_);
        device_.Clear();
        device_.SetSpeed(SpeedFor(kFormats[0], 10ms));
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
        const size_t closedAt = device_.Bytes().size();
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(ErrorText(player), noError) << "a refill wrote after Close";
        EXPECT_EQ(device_.Bytes().size(), closedAt) << "audio reached the device after Close";
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
    }
}

// A device that fails while the engine is paused, or while Start is still priming, keeps the
// buffers until Restart or Close; the file is read by one thread at a time; the engine ends.
TEST_F(WavePlayerTest, FailedDeviceKeepsPausedBuffersAndTheEngineStillEnds) {
    Write(kFormats[0], 20 * WavePlayer::kBufferBytes);
    for (bool whilePriming : {true, false}) {
        SCOPED_TRACE(whilePriming ? "failed while priming" : "failed while paused");
        HeldReads reads(path_);
        WavePlayer player(nullptr);
        device_.Clear();
        device_.SetSpeed(SpeedFor(kFormats[0], 40ms));
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
            std::this_thread::sleep_for(50ms);  // a buffer back before the pause is still refilled
        }
        const int readsWhenFailed = reads.Reads();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(reads.Reads(), readsWhenFailed) << "buffers came back while paused";
        EXPECT_EQ(reads.MostConcurrentReads(), 1);
        if (!whilePriming) {
            EXPECT_EQ(player.GetState(), PLAYER_PLAYING);
            EXPECT_EQ(player.Restart(), MMSYSERR_NODRIVER);
            EXPECT_TRUE(Stops(player, 2s));
        }
        const auto before = Clock::now();
        EXPECT_EQ(player.Close(), 0) << ErrorText(player);
        EXPECT_LT(Clock::now() - before, 1s);
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
    }
}

}  // namespace
