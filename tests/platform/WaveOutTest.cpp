// The wave-output contract, run on every kind of sink: Null Output and the scripted recording
// device (label platform), the test bed's sound server ("Test Sink") and the ALSA test PCM
// ("qlocked": one holder at a time, no hardware pause, records what it played). A process sees
// the sound server or the ALSA test PCMs, never both: ctest starts it once for each, and the
// instances whose sink is not listed skip. Then the tests of what only one sink has.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include <platform/waveout.h>
#include <platform/window.h>
#include "platform/waveout/ConversionChain.h"
#include "support/Noise.h"
#include "support/PulseRecording.h"
#include "support/ScriptedDevice.h"
#include "support/SoundServer.h"
#include "support/TempDir.h"

using namespace std::chrono_literals;
using testsupport::NoiseBytes;
using Clock = std::chrono::steady_clock;

namespace {

// With QUINDLE_ALSA_TEST_PCM (the test PCM's plugin) the process gets the PCMs of a private
// ALSA configuration instead of the sound server, set before the first call into the service.
struct AlsaTestBed {
    AlsaTestBed() {
        const char* plugin = std::getenv("QUINDLE_ALSA_TEST_PCM");
        if (plugin == nullptr) {
            return;
        }
        std::ofstream(dir.File(".asoundrc"))
            << "pcm_type.lockedpcm { lib \"" << plugin << "\" }\n"
            << "pcm.qlockraw { type lockedpcm file \"" << Played() << "\" }\n"
            << "pcm.qlocked { type plug slave.pcm \"qlockraw\" }\n";
        setenv("HOME", dir.Path().c_str(), 1);
        setenv("WAVEOUT_ALSA_DEVICES", "qlocked,qlockraw", 1);
    }
    std::string Played() const { return dir.File("played.raw"); }
    testsupport::TempDir dir;
};
const AlsaTestBed kAlsa;

// A window on the test's thread that keeps the MM_WOM_* messages posted to it; they are taken
// from the queue whenever the test asks for them.
class Notifications {
  public:
    ~Notifications() { DestroyWindow(window_); }
    HWND Window() const { return window_; }

    std::vector<WAVEHDR*> Get(UINT message) {
        MSG msg;
        while (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) {
            events_[msg.message].push_back(reinterpret_cast<WAVEHDR*>(msg.lParam));
            posted_[msg.message].push_back(msg.time);
        }
        return events_[message];
    }
    // When each was posted, in milliseconds of the message clock.
    std::vector<DWORD> PostedAt(UINT message) {
        Get(message);
        return posted_[message];
    }
    bool WaitFor(UINT message, size_t count, std::chrono::milliseconds timeout) {
        for (const auto limit = Clock::now() + timeout; Get(message).size() < count;) {
            if (Clock::now() > limit) {
                return false;
            }
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

  private:
    HWND window_ =
        CreateWindowExA(0, "STATIC", "callback", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    std::map<UINT, std::vector<WAVEHDR*>> events_;  // by message, in order
    std::map<UINT, std::vector<DWORD>> posted_;
};

// A format image stored one byte off alignment: the service must copy it.
class FormatImage {
  public:
    template <typename Image>
    explicit FormatImage(const Image& image) {
        std::memcpy(bytes_ + 1, &image, sizeof image);
    }
    FormatImage(WORD channels, DWORD rate, WORD bits, WORD tag = WAVE_FORMAT_PCM, WORD align = 0,
                WORD extension = 0) {
        align = align != 0 ? align : static_cast<WORD>(channels * bits / 8);
        *this =
            FormatImage(WAVEFORMATEX{tag, channels, rate, rate * align, align, bits, extension});
    }
    LPCWAVEFORMATEX Get() const { return reinterpret_cast<LPCWAVEFORMATEX>(bytes_ + 1); }

  private:
    alignas(8) uint8_t bytes_[48] = {};
};

UINT FindDevice(const char* name) {
    for (UINT id = 0; id < waveOutGetNumDevs(); ++id) {
        WAVEOUTCAPSA caps{};
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR &&
            std::strcmp(caps.szPname, name) == 0) {
            return id;
        }
    }
    return WAVE_MAPPER - 1;  // no such device
}

// What a test opened is let go after it, also when a failed assertion ended it early, so that
// a device only one opener can hold is free for the next test. (Handles are never reused.)
std::vector<HWAVEOUT> opened;
struct ReleaseOpened : ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& /*test*/) override {
        for (HWAVEOUT device : opened) {
            waveOutReset(device);
            waveOutClose(device);
        }
        opened.clear();
    }
};
[[maybe_unused]] const bool kReleaseOpened =
    (::testing::UnitTest::GetInstance()->listeners().Append(new ReleaseOpened), true);

HWAVEOUT OpenDevice(UINT id, const FormatImage& format, HWND window) {
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(&device, id, format.Get(), reinterpret_cast<DWORD_PTR>(window), 0,
                          window != nullptr ? CALLBACK_WINDOW : CALLBACK_NULL),
              MMSYSERR_NOERROR);
    opened.push_back(device);  // a failed open leaves null, which is refused
    return device;
}

DWORD Position(HWAVEOUT device, UINT type = TIME_BYTES) {
    MMTIME time{};
    time.wType = type;
    EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
    EXPECT_EQ(time.wType, type);
    return time.u.cb;
}

// Prepared headers over the pieces of one block of audio, cut in the given sizes (the last
// size repeats).
class HeaderSet {
  public:
    HeaderSet(const uint8_t* audio, size_t bytes, const std::vector<size_t>& sizes) {
        for (size_t at = 0, i = 0; at < bytes; ++i) {
            WAVEHDR header{};
            header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(audio) + at);
            header.dwBufferLength =
                static_cast<DWORD>(std::min(sizes[std::min(i, sizes.size() - 1)], bytes - at));
            headers_.push_back(header);
            at += header.dwBufferLength;
        }
    }
    size_t Size() const { return headers_.size(); }
    WAVEHDR* operator[](size_t i) { return &headers_[i]; }
    MMRESULT Write(HWAVEOUT device, size_t i) {
        const MMRESULT r = waveOutPrepareHeader(device, &headers_[i], sizeof(WAVEHDR));
        return r == MMSYSERR_NOERROR ? waveOutWrite(device, &headers_[i], sizeof(WAVEHDR)) : r;
    }
    MMRESULT WriteAll(HWAVEOUT device) {
        MMRESULT r = MMSYSERR_NOERROR;
        for (size_t i = 0; i < headers_.size() && r == MMSYSERR_NOERROR; ++i) {
            r = Write(device, i);
        }
        return r;
    }

  private:
    std::vector<WAVEHDR> headers_;
};

// Waits until the device has played something (a server may take a while to start).
void WaitUntilPlaying(HWAVEOUT out) {
    for (const auto limit = Clock::now() + 5s; Position(out) == 0 && Clock::now() < limit;) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_GT(Position(out), 0u) << "nothing played";
}

// Every queued header has come back; from now on the device reports that it is gone, returns
// at once, and still closes.
void ExpectGone(HWAVEOUT out, Notifications& callback, size_t headers) {
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers, 3s));
    std::vector<uint8_t> more(4800, 0);
    HeaderSet late(more.data(), more.size(), {more.size()});
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(late.WriteAll(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutPause(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutRestart(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NODRIVER);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_LT(Clock::now() - asked, 2s);
}

constexpr uint32_t kRate = 48000;  // 16-bit stereo at the sinks' own rate: 4 bytes a frame

class WaveOut : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        id_ = FindDevice(GetParam());
        if (id_ >= waveOutGetNumDevs()) {
            if (Is("Test Sink") && std::getenv("QUINDLE_TESTBED") != nullptr &&
                std::getenv("WAVEOUT_ALSA_DEVICES") == nullptr) {
                FAIL() << "the test bed's sink is not in the device list";
            }
            GTEST_SKIP() << GetParam() << " is not listed in this process";
        }
        testsupport::ScriptedDevice::Get().Clear();
        if (Is("Test Sink")) {
            recorder_.emplace();  // takes what the sink plays from here on
        }
    }
    bool Is(const char* name) const { return std::strcmp(GetParam(), name) == 0; }
    HWAVEOUT Open(HWND window) { return OpenDevice(id_, FormatImage(2, kRate, 16), window); }

    // What the sink played, from the start of `audio` on; none for Null Output. The server's
    // silence (an underrun, a pause) is left out: noise has no zero frame.
    // With `raw`, the recording as it is, silence and all.
    std::optional<std::vector<uint8_t>> Played(const std::vector<uint8_t>& audio,
                                               bool raw = false) {
        if (Is("Scripted Device")) {
            return testsupport::ScriptedDevice::Get().Bytes();
        }
        if (Is("qlocked")) {
            return testsupport::ReadBytes(kAlsa.Played());
        }
        if (!recorder_.has_value()) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(300ms);
        std::vector<uint8_t> sound, recording = recorder_->Stop();
        if (raw) {
            return recording;
        }
        for (size_t i = 0; i + 4 <= recording.size(); i += 4) {
            if (std::memcmp(&recording[i], "\0\0\0\0", 4) != 0) {
                sound.insert(sound.end(), &recording[i], &recording[i] + 4);
            }
        }
        const size_t at = testsupport::FindAudio(sound, audio);
        return at == std::string::npos
                   ? sound
                   : std::vector<uint8_t>(sound.begin() + long(at), sound.end());
    }

    UINT id_ = 0;
    std::optional<testsupport::Recorder> recorder_;
};

// Headers that need not hold whole frames, written while paused: the device gets exactly the
// bytes, each header comes back in order, and the position is in bytes, frames or
// milliseconds. Pausing midway holds the queue and the position and loses nothing (ALSA
// without a hardware pause drops its buffer and primes it again). After the queue ran dry,
// more headers play on from there, and so do headers written the moment the last came back
// (a server's read position may have run on past the end by then).
TEST_P(WaveOut, PlaysExactBytesInOrderThroughAPauseAndAnUnderrun) {
    Notifications callback;
    const std::vector<uint8_t> audio = NoiseBytes(kRate * 4 + 41602, 99);  // ~1.2 s, 2 extra
    const size_t firstBytes = 48001 + 3 + 20000 + 38400 + 65536 + 20060;   // whole frames
    const size_t thirdBytes = 9600;
    HeaderSet first(audio.data(), firstBytes, {48001, 3, 20000, 38400, 65536, 20060});
    HeaderSet second(audio.data() + firstBytes, audio.size() - firstBytes - thirdBytes, {3, 65536});
    HeaderSet third(audio.data() + audio.size() - thirdBytes, thirdBytes, {thirdBytes});
    HWAVEOUT out = Open(callback.Window());
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    ASSERT_EQ(first.WriteAll(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(callback.Get(MM_WOM_DONE).size(), 0u) << "a paused device returned a header";
    EXPECT_EQ(Position(out), 0u);
    ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
    WaitUntilPlaying(out);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms);  // notifications posted before the pause arrive
    const size_t doneAtPause = callback.Get(MM_WOM_DONE).size();
    const DWORD positionAtPause = Position(out);
    EXPECT_LT(doneAtPause, first.Size());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(callback.Get(MM_WOM_DONE).size(), doneAtPause);
    EXPECT_EQ(Position(out), positionAtPause);
    ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, first.Size(), 5s));
    EXPECT_EQ(callback.Get(MM_WOM_OPEN).size(), 1u);
    const std::vector<WAVEHDR*> done = callback.Get(MM_WOM_DONE);
    for (size_t i = 0; i < first.Size(); ++i) {
        ASSERT_EQ(done[i], first[i]) << "headers came back out of order";
        EXPECT_EQ(done[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
                  static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED));
    }
    std::this_thread::sleep_for(200ms);  // dry
    EXPECT_EQ(Position(out), firstBytes) << "the position counted the underrun";
    EXPECT_EQ(Position(out, TIME_SAMPLES), firstBytes / 4);
    EXPECT_EQ(Position(out, TIME_MS), firstBytes / 4 * 1000 / kRate);
    ASSERT_EQ(second.WriteAll(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, first.Size() + second.Size(), 5s));
    ASSERT_EQ(third.WriteAll(out), MMSYSERR_NOERROR);
    EXPECT_EQ(callback.Get(MM_WOM_DONE)[first.Size() + second.Size() - 1],
              second[second.Size() - 1]);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, first.Size() + second.Size() + 1, 5s));
    EXPECT_EQ(Position(out), audio.size());
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);  // right after the last: cuts nothing
    EXPECT_TRUE(callback.WaitFor(MM_WOM_CLOSE, 1, 2s));
    if (const auto played = Played(audio)) {
        EXPECT_TRUE(*played == std::vector<uint8_t>(audio.begin(), audio.end() - 2))
            << "the device got " << played->size() << " other bytes, first differing at "
            << std::mismatch(played->begin(), played->end(), audio.begin(), audio.end()).first -
                   played->begin();
    }
}

// Bad handles and header states get their own numbers; closing with headers queued is refused.
// A reset returns every queued header once, in order, before it returns, starts the position
// again and ends a pause.
TEST_P(WaveOut, HeaderStatesAndResetReturnEachHeaderOnce) {
    WAVEHDR unprepared{};
    EXPECT_EQ(waveOutWrite(reinterpret_cast<HWAVEOUT>(0x5550), &unprepared, sizeof unprepared),
              MMSYSERR_INVALHANDLE);
    HWAVEOUT out = nullptr;
    EXPECT_EQ(waveOutOpen(&out, id_, FormatImage(2, kRate, 16).Get(), 0, 0, CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM);
    Notifications callback;
    const std::vector<uint8_t> audio(kRate * 4 * 4, 0);
    HeaderSet headers(audio.data(), audio.size(), {kRate * 2});
    out = Open(callback.Window());
    unprepared = *headers[0];
    EXPECT_EQ(waveOutWrite(out, &unprepared, sizeof unprepared), WAVERR_UNPREPARED);
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(out, headers[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(out, headers[1], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);
    WaitUntilPlaying(out);  // a reset must start the position again
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    const Clock::time_point reset = Clock::now();
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_LT(Clock::now() - reset, 2s) << "the reset waited for the audio";
    for (size_t i = 0; i < headers.Size(); ++i) {
        EXPECT_EQ(headers[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    }
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 2s));
    EXPECT_EQ(Position(out), 0u);
    std::this_thread::sleep_for(50ms);
    const std::vector<WAVEHDR*> done = callback.Get(MM_WOM_DONE);
    ASSERT_EQ(done.size(), headers.Size()) << "a header came back twice";
    for (size_t i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i], headers[i]) << "out of order";
    }
    headers[0]->dwBufferLength = 4800;  // no longer paused: this plays
    ASSERT_EQ(waveOutWrite(out, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size() + 1, 2s)) << "still paused";
    EXPECT_EQ(waveOutUnprepareHeader(out, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE) << "a closed handle is gone";
}

// A reset at any moment of the playback: nothing queued before it is heard after it, and what
// is written after it plays from its start.
TEST_P(WaveOut, AfterAResetNothingQueuedBeforeItIsHeard) {
    if (!Is("Test Sink")) {
        GTEST_SKIP() << "only a recording of the sink tells what was heard";
    }
    const std::vector<uint8_t> audio = NoiseBytes(kRate * 4 * 2, 31), after = NoiseBytes(9600, 32);
    for (const auto moment : {150ms, 420ms, 700ms}) {
        SCOPED_TRACE(moment.count());
        SetUp();
        Notifications callback;
        HWAVEOUT out = Open(callback.Window());
        HeaderSet headers(audio.data(), audio.size(), {65536});
        HeaderSet more(after.data(), after.size(), {after.size()});
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(moment);
        ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(500ms);
        ASSERT_EQ(more.WriteAll(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size() + 1, 5s));
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        const std::vector<uint8_t> heard = *Played(audio);
        const size_t at = testsupport::FindAudio(heard, after);
        ASSERT_NE(at, std::string::npos) << "what came after the reset was not heard whole";
        EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + static_cast<long>(at), audio.begin()))
            << "audio queued before the reset came after it";
    }
}

// A hidden run never asks for the position, yet each header comes back as its end is heard,
// not whenever the sink next looks anyway (that would bunch them at its 100 ms questions):
// short headers (as a high rate makes the player's buffers), played back to back, mostly come
// back as far apart as they last. A stall of a loaded machine bunches a few of them too.
TEST_P(WaveOut, HeadersComeBackAsTheyAreHeardThoughThePositionIsNeverAsked) {
    if (Is("Null Output")) {
        GTEST_SKIP() << "nothing to hear";
    }
    if (const char* server = std::getenv("QUINDLE_TESTBED_SERVER");
        server != nullptr && std::strcmp(server, "pipewire") == 0) {
        // Its graph, without real-time scheduling in the test bed, stalls for a third of a
        // second on a busy machine and then skips ahead: no steady time to measure against.
        GTEST_SKIP() << "PipeWire's test bed keeps no steady time under load";
    }
    constexpr long kMs = 30, kPieces = 40, kStart = 4;  // the server's start is its own
    const std::vector<uint8_t> audio = NoiseBytes(kRate * 4 * kMs / 1000 * kPieces, 50);
    Notifications callback;
    HWAVEOUT out = Open(callback.Window());
    HeaderSet pieces(audio.data(), audio.size(), {kRate * 4 * kMs / 1000});
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    ASSERT_EQ(pieces.WriteAll(out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, kPieces, 5s));
    const std::vector<DWORD> at = callback.PostedAt(MM_WOM_DONE);
    std::vector<long> apart;  // from the return before, in ms
    long steady = 0;
    for (size_t i = kStart + 1; i < at.size(); ++i) {
        apart.push_back(long(at[i] - at[i - 1]));
        steady += std::abs(apart.back() - kMs) <= 12;
    }
    EXPECT_GE(steady, long(apart.size()) / 4) << ::testing::PrintToString(apart);
}

// 16-bit stereo frames from the first to the last sound, and the silent runs of 2 ms or more
// between them (noise is never near 0 that long).
std::pair<size_t, int> SoundAndGaps(const std::vector<uint8_t>& bytes) {
    std::vector<size_t> loud;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        int16_t sample[2];
        std::memcpy(sample, &bytes[i], 4);
        if (std::abs(sample[0]) > 30 || std::abs(sample[1]) > 30) {
            loud.push_back(i / 4);
        }
    }
    int gaps = 0;
    for (size_t k = 1; k < loud.size(); ++k) {
        gaps += loud[k] - loud[k - 1] > kRate / 500;
    }
    return {loud.empty() ? 0 : loud.back() - loud.front(), gaps};
}

// Stretched to half and to 1.5 times its length and fed as the player feeds it (four buffers,
// each written again a moment after it came back, some at once, some late): the audio plays
// without a gap, and as long as the factor says.
TEST_P(WaveOut, StretchedAudioFedInRotationPlaysWithoutGaps) {
    if (Is("Null Output")) {
        GTEST_SKIP() << "nothing to listen to";
    }
    const std::vector<uint8_t> tone = NoiseBytes(kRate * 4 * 3, 40);  // 3 s
    for (const DWORD stretch : {5000u, 15000u}) {
        SCOPED_TRACE(stretch);
        SetUp();
        testsupport::ScriptedDevice::Get().SetCapacity(800ms);  // as much as the server's
        Notifications callback;
        HWAVEOUT out = Open(callback.Window());
        ASSERT_EQ(waveOutMessage(out, WODM_TIMESTRETCH, stretch, 0), MMSYSERR_NOERROR);
        HeaderSet pieces(tone.data(), tone.size(), {65536});  // the player's buffers
        for (size_t i = 0; i < pieces.Size(); ++i) {
            if (i >= 4) {  // four in flight
                ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, i - 3, 5s));
                std::this_thread::sleep_for(std::chrono::milliseconds(i % 3 * 15));
            }
            ASSERT_EQ(pieces.Write(out, i), MMSYSERR_NOERROR);
        }
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, pieces.Size(), 10s));
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        if (Is("Scripted Device")) {  // as the whole input stretched in one go: no flush inside
            platform::ConversionChain chain(
                {.channels = 2, .rate = kRate, .blockAlign = 4, .bitsPerSample = 16});
            std::vector<uint8_t> whole;
            chain.SetStretch(stretch, &whole);
            chain.Write(tone.data(), tone.size(), &whole);
            chain.Flush(&whole);
            EXPECT_TRUE(testsupport::ScriptedDevice::Get().Bytes() == whole);
        }
        if (const auto played = Played({}, true)) {
            const auto [frames, gaps] = SoundAndGaps(*played);
            EXPECT_EQ(gaps, 0);
            const double expected = tone.size() / 4 * stretch / 10000.0;
            EXPECT_NEAR(frames, expected, expected / 100);
        }
    }
}

// A stretch or volume asked for while the device thread is busy (here: stopped inside a
// write to a slow device) holds for every header written after it returns; the header the
// thread was on plays as it began.
TEST(WaveOutSettings, TakeEffectBeforeTheHeadersWrittenAfterThem) {
    const std::vector<uint8_t> audio = NoiseBytes(19200, 7);  // 100 ms
    const struct {
        const char* what;
        std::function<MMRESULT(HWAVEOUT)> set;
        size_t secondBytes;  // what the second header should become
        int secondGain;      // in percent
    } cases[] = {
        {"stretch to half",
         [](HWAVEOUT out) { return waveOutMessage(out, WODM_TIMESTRETCH, 5000, 0); }, 9600, 100},
        {"volume to half", [](HWAVEOUT out) { return waveOutSetVolume(out, 0x80008000); }, 19200,
         50},
    };
    auto& device = testsupport::ScriptedDevice::Get();
    for (const auto& c : cases) {
        device.Clear();
        device.SetCapacity(1000ms);
        Notifications callback;
        HWAVEOUT out =
            OpenDevice(FindDevice("Scripted Device"), FormatImage(2, kRate, 16), callback.Window());
        HeaderSet first(audio.data(), audio.size(), {audio.size()});
        HeaderSet second(audio.data(), audio.size(), {audio.size()});
        device.HoldWrites(true);
        ASSERT_EQ(first.WriteAll(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(device.WaitForHeldWrite()) << c.what;
        ASSERT_EQ(c.set(out), MMSYSERR_NOERROR) << c.what;
        ASSERT_EQ(second.WriteAll(out), MMSYSERR_NOERROR);
        device.HoldWrites(false);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 2, 5s)) << c.what;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        const std::vector<uint8_t> played = device.Bytes();
        ASSERT_GE(played.size(), audio.size()) << c.what;
        EXPECT_TRUE(std::equal(audio.begin(), audio.end(), played.begin())) << c.what;
        EXPECT_NEAR(double(played.size() - audio.size()), double(c.secondBytes),
                    c.secondBytes / 100.0)
            << c.what;
        int peak = 0;  // the noise reaches full scale
        for (size_t i = audio.size(); i + 1 < played.size(); i += 2) {
            peak = std::max(peak, std::abs(int(int16_t(played[i] | played[i + 1] << 8))));
        }
        EXPECT_NEAR(peak * 100.0 / 32768, c.secondGain, 3) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Local, WaveOut, ::testing::Values("Null Output", "Scripted Device"));
INSTANTIATE_TEST_SUITE_P(Server, WaveOut, ::testing::Values("Test Sink"));
INSTANTIATE_TEST_SUITE_P(Alsa, WaveOut, ::testing::Values("qlocked"));

// Without a server (PULSE_SERVER names nothing, or a socket that never answers) the list is
// the cards' playback PCMs, the scripted device and Null Output, and it comes at once. Without
// a card either, the default device cannot be reached: Null Output is never chosen unasked.
TEST(WaveOutNull, WithoutServerTheListComesAtOnceAndNullOutputIsNoDefault) {
    if (std::getenv("QUINDLE_EXPECT_NO_SERVER") == nullptr) {
        GTEST_SKIP() << "only where no server answers";
    }
    const char* silent = std::getenv("QUINDLE_SILENT_SERVER");
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    if (silent != nullptr) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent);
        unlink(silent);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(listen(listener, 4), 0);
    }
    std::ifstream list("/proc/asound/pcm");
    size_t cards = 0;
    for (std::string line; std::getline(list, line);) {
        cards += line.find(": playback") != std::string::npos ? 1 : 0;
    }
    const Clock::time_point asked = Clock::now();
    EXPECT_EQ(waveOutGetNumDevs(), cards + 2);
    EXPECT_LT(Clock::now() - asked, 4s) << "a silent server held up the device list";
    close(listener);
    if (cards == 0) {  // else the mapper is a sound card's PCM
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, FormatImage(2, kRate, 16).Get(), 0, 0,
                              WAVE_FORMAT_QUERY),
                  MMSYSERR_NODRIVER);
    }
}

// A query accepts what Null Output can play, and refuses bad images without touching the handle.
TEST(WaveOutNull, FormatQueryAcceptsWhatItCanPlayAndOpensNothing) {
    const std::pair<FormatImage, MMRESULT> cases[] = {
        {FormatImage(2, 96000, 24), MMSYSERR_NOERROR},
        {FormatImage(MPEG1WAVEFORMAT{{WAVE_FORMAT_MPEG, 2, 48000, 48000, 1, 16, 22},
                                     ACM_MPEG_LAYER2,
                                     128000,
                                     2 /* stereo */}),
         MMSYSERR_NOERROR},
        {FormatImage(2, 44100, 0, WAVE_FORMAT_MPEGLAYER3, 1, 12), MMSYSERR_NOERROR},
        {FormatImage(2, 44100, 16, 0x1234), WAVERR_BADFORMAT},
        {FormatImage(2, 44100, 12), WAVERR_BADFORMAT},
        {FormatImage(3, 44100, 0, WAVE_FORMAT_MPEGLAYER3, 1, 12), WAVERR_BADFORMAT},
    };
    for (const auto& [image, expected] : cases) {
        HWAVEOUT untouched = reinterpret_cast<HWAVEOUT>(0x1234);
        EXPECT_EQ(waveOutOpen(&untouched, FindDevice("Null Output"), image.Get(), 0, 0,
                              WAVE_FORMAT_QUERY),
                  expected);
        EXPECT_EQ(untouched, reinterpret_cast<HWAVEOUT>(0x1234));
    }
}

// The server's sinks are listed before Null Output, its default sink is the mapper, and a
// server that goes away mid-playback returns every queued header, later ones too, and
// pausing, resetting and closing still return at once. That server is a second private one
// of the test bed's kind that this test starts and kills.
TEST(WaveOutServer, SinksAreListedAndAServerThatGoesAwayReturnsEverything) {
    const UINT sink = FindDevice("Test Sink");
    if (sink >= waveOutGetNumDevs()) {
        GTEST_SKIP() << "no test bed sound server (run under scripts/testbed.sh)";
    }
    EXPECT_LT(sink, FindDevice("Null Output"));
    EXPECT_EQ(FindDevice("Null Output"), waveOutGetNumDevs() - 1);
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Test Sink") << "the mapper is the server's default sink";
    testsupport::PrivateSoundServer privateServer;
    ASSERT_TRUE(privateServer.Start());
    Notifications callback;
    HWAVEOUT out = nullptr;
    {
        testsupport::ServerOverride use(privateServer.Address());  // the sink's connection
        out = OpenDevice(sink, FormatImage(2, kRate, 16), callback.Window());
    }
    ASSERT_NE(out, nullptr);
    const std::vector<uint8_t> audio(kRate * 4 * 4, 0);
    HeaderSet headers(audio.data(), audio.size(), {kRate * 2});
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    privateServer.Freeze();  // a stop while the server stalls does not wait for it
    const Clock::time_point frozen = Clock::now();
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_LT(Clock::now() - frozen, 500ms);
    privateServer.Thaw();
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    privateServer.Kill();
    ExpectGone(out, callback, 2 * headers.Size());
}

// Through the plug layer converted audio lasts as long; the PCM alone takes only its own
// format. A query leaves the device free; a device held by another opener fails the open at
// once with "in use".
TEST(WaveOutAlsa, PlugLayerAndBusyDevice) {
    const UINT locked = FindDevice("qlocked"), raw = FindDevice("qlockraw");
    if (locked >= waveOutGetNumDevs()) {
        GTEST_SKIP() << "no ALSA test PCM (QUINDLE_ALSA_TEST_PCM)";
    }
    EXPECT_EQ(waveOutOpen(nullptr, raw, FormatImage(2, 44100, 16).Get(), 0, 0, WAVE_FORMAT_QUERY),
              WAVERR_BADFORMAT)
        << "only the plug layer converts";
    Notifications callback;
    const std::vector<uint8_t> audio = NoiseBytes(44100 * 2);  // 1 s mono at 44.1 kHz
    HeaderSet headers(audio.data(), audio.size(), {20000});
    HWAVEOUT out = OpenDevice(locked, FormatImage(1, 44100, 16), callback.Window());
    HWAVEOUT second = nullptr;
    const Clock::time_point before = Clock::now();
    EXPECT_EQ(waveOutOpen(&second, locked, FormatImage(2, kRate, 16).Get(), 0, 0, CALLBACK_NULL),
              MMSYSERR_ALLOCATED);
    EXPECT_LT(Clock::now() - before, 2s);
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s));
    ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    // 16-bit stereo at 48 kHz behind the converter: the same length in time.
    const double seconds = testsupport::ReadBytes(kAlsa.Played()).size() / (kRate * 4.0);
    EXPECT_NEAR(seconds, 1.0, 0.01);
    EXPECT_EQ(waveOutClose(OpenDevice(locked, FormatImage(2, kRate, 16), nullptr)),
              MMSYSERR_NOERROR)
        << "let go, the device opens again";
}

}  // namespace
