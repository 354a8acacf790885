// The engine against the Null Output device and the recording scripted device: what reaches
// the device, the state word, the start failures, stopping in the middle, and reuse of the buffers
// and thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/WavePlayer.h"
#include "support/Noise.h"
#include "support/ScriptedDevice.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

using namespace std::chrono_literals;
using testsupport::TempDir;

namespace {

using testsupport::ScriptedDevice;

int32_t NullDevice() {
    return static_cast<int32_t>(waveOutGetNumDevs()) - 1;
}

// A WAVE file written by our own writer. 8 channels of 32-bit samples at 192 kHz move
// 6 MB a second, so many buffers pass through Null Output quickly.
void WriteWave(const std::string& path, const std::vector<uint8_t>& audio,
               const char* type = "PCM32", int32_t channels = 8, int32_t rate = 192000) {
    testsupport::WriteWaveFile(path, audio, type, channels, rate);
}

bool WaitForState(WavePlayer& player, int32_t state, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (player.GetState() != state) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::string ErrorText(WavePlayer& player) {
    char* text = nullptr;
    player.GetErrorText(&text);
    return text;
}

TEST(WavePlayer, DeviceGetsTheFileFromThePunchInOnNothingLostOrRepeated) {
    TempDir dir;
    ScriptedDevice& device = ScriptedDevice::Get();
    WavePlayer player(nullptr);
    constexpr size_t kBlock = WavePlayer::kBufferBytes;
    struct Case {
        size_t bytes;
        int32_t punchIn;
    };
    const Case cases[] = {
        {100000, 0},            // fewer than four buffers
        {4 * kBlock, 0},        // exactly four
        {11 * kBlock + 96, 0},  // many, the last one short
        {11 * kBlock + 96, 32 * 1000},
        {300000, -64},  // a negative punch-in is no punch-in
    };
    int pass = 0;
    for (const Case& c : cases) {
        const std::string path = dir.File("play" + std::to_string(pass) + ".wav");
        const std::vector<uint8_t> audio = testsupport::NoiseBytes(c.bytes, 77 + pass++);
        WriteWave(path, audio);
        device.Clear();
        ASSERT_EQ(player.Start(device.Id(), path.c_str(), c.punchIn, 1.0f, 1.0f), 0)
            << ErrorText(player);
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED) << "Start does not change the state";
        EXPECT_EQ(player.GetDataBytes(), static_cast<int32_t>(c.bytes));
        ASSERT_EQ(player.Restart(), 0);
        EXPECT_EQ(player.GetState(), PLAYER_PLAYING);
        ASSERT_TRUE(WaitForState(player, PLAYER_STOPPED, 10s)) << c.bytes;
        EXPECT_EQ(player.Close(), 0);
        const size_t skip = c.punchIn > 0 ? static_cast<size_t>(c.punchIn) : 0;
        const std::vector<uint8_t> expected(audio.begin() + static_cast<long>(skip), audio.end());
        const std::vector<uint8_t> got = device.Bytes();
        ASSERT_EQ(got.size(), expected.size()) << c.bytes << " from " << c.punchIn;
        EXPECT_TRUE(got == expected) << "bytes differ for " << c.bytes << " from " << c.punchIn;
    }
}

TEST(WavePlayer, PlaybackThatQueuesNothingStillEnds) {
    TempDir dir;
    const std::string path = dir.File("short.wav");
    WriteWave(path, testsupport::NoiseBytes(32 * 100, 1));
    WavePlayer player(nullptr);
    for (int32_t punchIn : {32 * 100, 32 * 1000}) {
        ASSERT_EQ(player.Start(NullDevice(), path.c_str(), punchIn, 1.0f, 1.0f), 0);
        ASSERT_EQ(player.Restart(), 0);
        EXPECT_TRUE(WaitForState(player, PLAYER_STOPPED, 2s)) << "stuck in state 1";
        EXPECT_EQ(player.Reset(), 0);  // in state 0: nothing to wait for
        EXPECT_EQ(player.Close(), 0);
    }
}

TEST(WavePlayer, CloseAndDestroyDuringPlaybackStopAtOnce) {
    TempDir dir;
    const std::string path = dir.File("long.wav");
    WriteWave(path, testsupport::NoiseBytes(48000 * 4 * 30, 3), "PCM16", 2, 48000);  // 30 s
    auto player = std::make_unique<WavePlayer>(nullptr);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(player->Start(NullDevice(), path.c_str(), 0, 1.0f, 1.0f), 0);
        ASSERT_EQ(player->Restart(), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + 40 * round));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_EQ(player->Close(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
        EXPECT_EQ(player->GetState(), PLAYER_STOPPED);
        WAVEOUTCAPSA* caps = nullptr;
        EXPECT_EQ(player->GetDeviceCaps(&caps), MMSYSERR_INVALHANDLE) << "device still open";
    }
    // Reset in the middle returns every buffer, then the engine closes normally.
    ASSERT_EQ(player->Start(NullDevice(), path.c_str(), 0, 1.0f, 1.0f), 0);
    ASSERT_EQ(player->Restart(), 0);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(player->Reset(), 0);
    EXPECT_EQ(player->GetState(), PLAYER_STOPPED);
    EXPECT_EQ(player->Close(), 0);
    // Destroying while playing: the buffers are taken back before they are freed.
    ASSERT_EQ(player->Start(NullDevice(), path.c_str(), 0, 1.0f, 1.0f), 0);
    ASSERT_EQ(player->Restart(), 0);
    std::this_thread::sleep_for(50ms);
    const auto before = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
}

TEST(WavePlayer, StartFailuresRecordTheirError) {
    TempDir dir;
    const std::string good = dir.File("good.wav");
    WriteWave(good, testsupport::NoiseBytes(3200, 5), "PCM16", 2, 48000);
    const std::string notWave = dir.File("text.wav");
    testsupport::WriteBytes(notWave, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'});
    const std::string ac2 = dir.File("ac2.wav");
    {
        int32_t error = -1;
        auto file = CreateWavFile(ac2.c_str(), "w", &error);
        file->SetFormatByName("PCM16", 2, 48000);
        file->Set16(WavFmtOffset::FormatTag, 48);  // AC2: no device takes it
        file->WriteHeader();
        const std::vector<uint8_t> data(4000, 1);
        file->Write(data.data(), 4000);
    }
    struct Case {
        const char* name;
        int32_t device;
        int32_t result;
        const char* text;  // null: the service's own text, only checked to be non-empty
    };
    const std::string missing = dir.File("missing.wav");
    const Case cases[] = {
        {nullptr, NullDevice(), 1, "TWavFile - Could not open file"},
        {missing.c_str(), NullDevice(), 1, "TWavFile - Could not open file"},
        {notWave.c_str(), NullDevice(), 1, "TWavFile - Not a wave file"},
        {"null", NullDevice(), 1, "TWavFile - Could not open file"},
        {ac2.c_str(), NullDevice(), WAVERR_BADFORMAT, nullptr},
        {good.c_str(), 999, MMSYSERR_BADDEVICEID, nullptr},
    };
    WavePlayer player(nullptr);
    for (const Case& c : cases) {
        EXPECT_EQ(player.Start(c.device, c.name, 0, 1.0f, 1.0f), c.result)
            << (c.name ? c.name : "(none)");
        const std::string text = ErrorText(player);
        if (c.text != nullptr) {
            EXPECT_EQ(text, c.text);
        } else {
            EXPECT_FALSE(text.empty());
            EXPECT_EQ(text.rfind("TWavFile", 0), std::string::npos) << text;
        }
        char* format = reinterpret_cast<char*>(&player);
        EXPECT_EQ(player.GetFormatText(&format), 0);
        if (c.result == 1) {  // the file object is held, but it describes no format
            EXPECT_EQ(format, nullptr) << format;
        }
        EXPECT_EQ(player.Restart(), 0);  // nothing open: nothing happens
        EXPECT_EQ(player.GetState(), PLAYER_STOPPED);
        EXPECT_EQ(player.Close(), 0);
    }
    // After all those failures the same engine still plays.
    ASSERT_EQ(player.Start(NullDevice(), good.c_str()), 0);
    ASSERT_EQ(player.Restart(), 0);
    EXPECT_TRUE(WaitForState(player, PLAYER_STOPPED, 2s));
    EXPECT_EQ(player.Close(), 0);
}

TEST(WavePlayer, QueriesReportTheOpenedFormatAndDevice) {
    TempDir dir;
    const std::string path = dir.File("tone.wav");
    WriteWave(path, testsupport::NoiseBytes(48000 * 4, 9), "PCM16", 2, 48000);
    WavePlayer player(nullptr);
    char* text = nullptr;
    WAVEOUTCAPSA* caps = reinterpret_cast<WAVEOUTCAPSA*>(&player);
    EXPECT_EQ(player.GetDeviceCaps(&caps), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(caps, nullptr);
    EXPECT_EQ(player.GetFormatText(&text), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(player.GetTimeText(&text), 0);
    EXPECT_STREQ(text, "00:00:00:00");
    uint32_t bytes = 7;
    EXPECT_EQ(player.GetPositionBytes(&bytes), 0u);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(player.SetVolume(0.5f), 0u);  // not playing: nothing to set

    ASSERT_EQ(player.Start(NullDevice(), path.c_str(), 0, 0.9f, 1.1f), 0);
    EXPECT_EQ(player.GetFormatText(&text), 0);
    EXPECT_STREQ(text, "Stereo, 43200, PCM16");
    char name[16] = {};
    int32_t channels = 0, rate = 0, bitRate = -1;
    player.GetFormatInfo(name, &channels, &rate, &bitRate);
    EXPECT_STREQ(name, "PCM16");
    EXPECT_EQ(rate, 43200);
    EXPECT_EQ(bitRate, 0);
    ASSERT_EQ(player.GetDeviceCaps(&caps), 0);
    EXPECT_STREQ(caps->szPname, "Null Output");

    ASSERT_EQ(player.Restart(), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(player.GetPositionBytes(&bytes), 0u);
    // 0.3 s at 43200 Hz and 1.1 x stretch: source bytes heard so far.
    EXPECT_GT(bytes, 43200u * 4 / 10);
    EXPECT_LT(bytes, 43200u * 4 * 6 / 10);
    uint32_t ms = 0;
    player.GetPositionMs(&ms);
    EXPECT_GT(ms, 100u);
    EXPECT_LT(ms, 600u);
    EXPECT_EQ(player.SetVolume(0.5f), 0u);
    EXPECT_EQ(player.Close(), 0);
    EXPECT_EQ(player.GetFormatText(&text), 0);
    EXPECT_EQ(text, nullptr);
}

}  // namespace
