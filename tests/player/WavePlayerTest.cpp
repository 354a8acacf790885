// The engine against Null Output and the recording scripted device: the bytes that reach the
// device, start failures, and stopping while a file read is held or the device fails (nothing
// reaches the device after a stop, a stop returns once the read does, buffers come back once).
// Then the engine's arithmetic: rates, stretch, volume and positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "player/PlayerArithmetic.h"
#include "player/WavePlayer.h"
#include "support/HeldReads.h"
#include "support/Noise.h"
#include "support/Sanitized.h"
#include "support/ScriptedDevice.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

using namespace std::chrono_literals;
using testsupport::HeldReads;
using testsupport::ScriptedDevice;
using testsupport::TempDir;

namespace {

using Clock = std::chrono::steady_clock;

// "At once" on a loaded two-core machine, against the seconds a buffer plays at the real rate.
constexpr auto kPrompt = testsupport::kSanitized ? 1000ms : 300ms;

TEST(PlayerArithmetic, RateStretchAndVolumeFromTheFactor) {
    const struct {
        float factor;
        uint32_t scaled, stretch, volume;  // rate 48000 scaled
    } cases[] = {
        {0.9f, 43200, 9000, 0xE665E665u},  // a double product would truncate to 43199
        {1.1f, 52800, 11000, 0xFFFFFFFFu},  {0.5f, 24000, 5000, 0x7FFF7FFFu},
        {1.5f, 72000, 15000, 0xFFFFFFFFu},  {0.1f, 4800, 1000, 0x19991999u},
        {1.51f, 72480, 10000, 0xFFFFFFFFu},  // stretch out of range: none
        {0.09f, 4320, 10000, 0x170A170Au},  {0.0f, 0, 10000, 0},
        {-1.0f, 0xFFFF4480u, 10000, 0},     {NAN, 0, 10000, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScaleRate(48000, c.factor), c.scaled) << c.factor;
        EXPECT_EQ(StretchValue(c.factor), c.stretch) << c.factor;
        EXPECT_EQ(VolumeWord(c.factor), c.volume) << c.factor;
    }
    EXPECT_EQ(ScaleRate(44100, 1.1f), 48510u);
    EXPECT_EQ(ScaleRate(48000, INFINITY), 0u);
}

TEST(PlayerArithmetic, PositionToMillisecondsAndText) {
    TWavFmt pcm22, mpeg, slow, pcm48;
    pcm22.SetFormatByName("PCM16", 2, 22050);
    mpeg.SetFormat("MP3", 2, 44100, 128000);  // 417 bytes and 1152 samples a frame
    slow.SetFormatByName("PCM16", 2, 99);
    pcm48.SetFormatByName("PCM16", 2, 48000);
    const struct {
        TWavFmt* format;
        UINT type;
        DWORD value;
        uint32_t ms;
        const char* text;
    } cases[] = {
        {&pcm22, TIME_SAMPLES, 22050, 1002, "00:00:01:00"},  // the rate loses its remainder: /220
        {&pcm22, TIME_BYTES, 88200, 1002, "00:00:01:00"},
        {&pcm22, TIME_MS, 3723450, 3723450, "01:02:03:45"},
        {&mpeg, TIME_BYTES, 417 * 100, 115200 * 10 / 441, "00:00:02:61"},
        {&slow, TIME_SAMPLES, 5000, 0, "00:00:00:00"},  // below 100 Hz: no division by zero
        {&pcm48, TIME_SAMPLES, 47, 0, "00:00:00:00"},   // 0.98 ms: cut, never rounded up
        {&pcm48, TIME_SAMPLES, 48000u * 3600u * 24u, 86400000u, "24:00:00:00"},  // no wrap
        {&pcm48, TIME_MS, 219600000, 219600000, "01:00:00:00"},                  // hours wrap at 60
    };
    for (const auto& c : cases) {
        MMTIME time = {};
        time.wType = c.type;
        time.u.cb = c.value;
        const uint32_t ms = MillisecondsFromPosition(time, *c.format);
        EXPECT_EQ(ms, c.ms) << c.type << " " << c.value;
        char buffer[256];
        FormatTimeText(ms, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, c.text) << ms;
    }
}

bool Stops(WavePlayer& player, std::chrono::milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout; player.GetState() != PLAYER_STOPPED;) {
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

class WavePlayerTest : public ::testing::Test {
  protected:
    void SetUp() override { device_.Clear(); }

    // 8-bit mono at 8 kHz: a buffer lasts 8 s at the real rate.
    std::vector<uint8_t> Write(size_t bytes, uint32_t seed = 11, const char* type = "PCM8",
                               int32_t channels = 1, int32_t rate = 8000) {
        const std::vector<uint8_t> audio = testsupport::NoiseBytes(bytes, seed);
        testsupport::WriteWaveFile(path_, audio, type, channels, rate);
        return audio;
    }
    // Starts on the scripted device playing one 8 kHz buffer in `time`.
    void Start(WavePlayer& player, std::chrono::milliseconds time) {
        device_.SetSpeed(WavePlayer::kBufferBytes / 8.0 / static_cast<double>(time.count()));
        ASSERT_EQ(player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f), 0) << ErrorText(player);
    }

    ScriptedDevice& device_ = ScriptedDevice::Get();
    const int32_t id_ = device_.Id(), nullOutput_ = id_ + 1;  // Null Output is listed last
    TempDir dir_;
    const std::string path_ = dir_.File("play.wav");
};

TEST_F(WavePlayerTest, DeviceGetsTheFileFromThePunchInOnNothingLostOrRepeated) {
    constexpr size_t kBlock = WavePlayer::kBufferBytes;
    const std::pair<size_t, int32_t> cases[] = {
        {100000, 0},          {4 * kBlock, 0},  {11 * kBlock + 96, 32 * 1000},
        {300000, -64},        {300000, 300000},  // at or past the end: nothing
        {300000, 32 * 100000}, {300000, 32 * 1000 + 31}};  // a cut frame: from the whole one
    WavePlayer player(nullptr);
    uint32_t seed = 77;
    for (const auto& [bytes, punchIn] : cases) {
        const std::vector<uint8_t> audio = Write(bytes, seed++, "PCM32", 8, 192000);
        device_.Clear();
        ASSERT_EQ(player.Start(id_, path_.c_str(), punchIn, 1.0f, 1.0f), 0) << ErrorText(player);
        EXPECT_EQ(player.GetDataBytes(), static_cast<int32_t>(bytes));
        ASSERT_EQ(player.Restart(), 0);
        ASSERT_TRUE(Stops(player, 10s)) << bytes << " bytes from " << punchIn;
        EXPECT_EQ(player.Close(), 0);
        const auto skip =
            static_cast<long>(std::clamp<size_t>(std::max(punchIn, 0) / 32 * 32, 0, bytes));
        EXPECT_TRUE(device_.Bytes() == std::vector<uint8_t>(audio.begin() + skip, audio.end()))
            << bytes << " bytes from " << punchIn;
    }
}

// Failed starts leave the engine as it was; destroying it while it plays takes the buffers back
// before they are freed, at once.
TEST_F(WavePlayerTest, StartFailuresReturnTheirErrorAndTheEngineStillPlays) {
    const std::string notWave = dir_.File("text.wav"), missing = dir_.File("missing.wav");
    testsupport::WriteBytes(notWave, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    Write(8000 * 30);  // 30 s
    const std::tuple<const char*, int32_t, int32_t> cases[] = {
        {nullptr, nullOutput_, 1},
        {missing.c_str(), nullOutput_, 1},
        {notWave.c_str(), nullOutput_, 1},
        {"null", nullOutput_, 1},
        {path_.c_str(), 999, MMSYSERR_BADDEVICEID}};
    auto player = std::make_unique<WavePlayer>(nullptr);
    for (const auto& [name, device, result] : cases) {
        EXPECT_EQ(player->Start(device, name, 0, 1.0f, 1.0f), result) << (name ? name : "-");
        EXPECT_FALSE(ErrorText(*player).empty());
        EXPECT_EQ(player->Restart(), 0);  // nothing open: nothing happens
        EXPECT_EQ(player->GetState(), PLAYER_STOPPED);
        EXPECT_EQ(player->Close(), 0);
    }
    ASSERT_EQ(player->Start(nullOutput_, path_.c_str()), 0);
    ASSERT_EQ(player->Restart(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(player->GetState(), PLAYER_PLAYING);
    const auto before = Clock::now();
    player.reset();
    EXPECT_LT(Clock::now() - before, 2s);
}

// A refill is held in its read while the engine is reset, closed, or paused and closed; a
// buffer written after that would play in full at the real rate.
TEST_F(WavePlayerTest, StopDuringAHeldRefillSendsNothingMoreAndReturnsOnceTheReadReturns) {
    enum class Stop { Reset, Close, PauseThenClose };
    for (Stop stop : {Stop::Reset, Stop::Close, Stop::PauseThenClose}) {
        SCOPED_TRACE("stop " + std::to_string(int(stop)));
        const std::vector<uint8_t> audio = Write(10 * WavePlayer::kBufferBytes);
        HeldReads reads(path_);
        WavePlayer player(nullptr);
        device_.Clear();
        Start(player, 40ms);
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

// Failed reads drop their buffers until one cycles alone; while it is refilled nothing is in
// flight. A Close then, or just as the read returns, must neither miss the refill nor let it
// write to a closed device.
TEST_F(WavePlayerTest, CloseWhileTheLastBufferIsRefilledWaitsForIt) {
    constexpr int kRounds = 30;
    Write(40 * WavePlayer::kBufferBytes);
    WavePlayer player(nullptr);
    std::mt19937 random(7);
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        HeldReads reads(path_);
        device_.Clear();
        Start(player, 10ms);
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
// buffers until Restart or Close; the engine ends.
TEST_F(WavePlayerTest, FailedDeviceKeepsPausedBuffersAndTheEngineStillEnds) {
    Write(20 * WavePlayer::kBufferBytes);
    for (bool whilePriming : {true, false}) {
        SCOPED_TRACE(whilePriming ? "failed while priming" : "failed while paused");
        HeldReads reads(path_);
        WavePlayer player(nullptr);
        device_.Clear();
        if (whilePriming) {  // Start waits in its fourth read
            reads.Hold(3);
            std::thread starter([&] {
                const int32_t started = player.Start(id_, path_.c_str(), 0, 1.0f, 1.0f);
                EXPECT_TRUE(started == 0 || started == MMSYSERR_NODRIVER) << started;
            });
            ASSERT_TRUE(reads.WaitUntilHeld(5s));
            device_.Fail();
            reads.Release();
            starter.join();
        } else {
            Start(player, 40ms);
            ASSERT_EQ(player.Restart(), 0);
            std::this_thread::sleep_for(60ms);
            ASSERT_EQ(player.Pause(), 0);
            device_.Fail();
            std::this_thread::sleep_for(50ms);  // a buffer back before the pause is still refilled
        }
        const int readsWhenFailed = reads.Reads();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(reads.Reads(), readsWhenFailed) << "buffers came back while paused";
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
