// The wave-output contract on Null Output and the scripted recording device.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/WaveOutHarness.h"
#include "support/ScriptedDevice.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

// Without a server (PULSE_SERVER names nothing, or a socket that never answers) the list is
// the cards' playback PCMs, the scripted device and Null Output, and it comes at once.
TEST(WaveOutNull, WithoutServerTheMapperIsNullOutput) {
    if (std::getenv("QUINDLE_EXPECT_NO_SERVER") == nullptr) {
        GTEST_SKIP() << "only where no server answers";
    }
    const char* silent = std::getenv("QUINDLE_SILENT_SERVER");
    int listener = -1;
    if (silent != nullptr) {
        listener = socket(AF_UNIX, SOCK_STREAM, 0);
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
    if (listener >= 0) {
        close(listener);
        unlink(silent);
    }
    if (cards > 0) {
        GTEST_SKIP() << "the mapper is a sound card's PCM here";
    }
    WAVEOUTCAPSA caps{};
    ASSERT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_STREQ(caps.szPname, "Null Output");
}

TEST(WaveOutNull, FormatQueryAcceptsWhatItCanPlayAndOpensNothing) {
    FormatImage badGuid = FormatImage::Extensible(6, 48000, 24, 24, 0x3F, WAVE_FORMAT_PCM);
    badGuid.Put16(24, 0x55);
    const std::pair<FormatImage, MMRESULT> cases[] = {
        {FormatImage::Pcm(2, 96000, 24), MMSYSERR_NOERROR},
        {FormatImage::Extensible(4, 44100, 32, 32, 0x33, WAVE_FORMAT_IEEE_FLOAT), MMSYSERR_NOERROR},
        {FormatImage::Mpeg(2, 48000, ACM_MPEG_LAYER2), MMSYSERR_NOERROR},
        {FormatImage(WAVE_FORMAT_MPEGLAYER3, 2, 44100, 0, 1, 12), MMSYSERR_NOERROR},
        {FormatImage(0x1234, 2, 44100, 16), WAVERR_BADFORMAT},
        {FormatImage::Pcm(2, 44100, 12), WAVERR_BADFORMAT},
        {FormatImage::Pcm(2, 0, 16), WAVERR_BADFORMAT},
        {FormatImage(WAVE_FORMAT_PCM, 2, 44100, 16, 3), WAVERR_BADFORMAT},
        {FormatImage::Mpeg(3, 44100, ACM_MPEG_LAYER3), WAVERR_BADFORMAT},
        {badGuid, WAVERR_BADFORMAT},
    };
    for (const auto& [image, expected] : cases) {
        HWAVEOUT untouched = reinterpret_cast<HWAVEOUT>(0x1234);
        EXPECT_EQ(waveOutOpen(&untouched, NullOutput(), image.Get(), 0, 0, WAVE_FORMAT_QUERY),
                  expected);
        EXPECT_EQ(untouched, reinterpret_cast<HWAVEOUT>(0x1234));
    }
}

TEST(WaveOutNull, BadHandlesAndHeaderStatesGiveClearNumbers) {
    const auto bogus = reinterpret_cast<HWAVEOUT>(0x5550);
    WAVEHDR header{};
    EXPECT_EQ(waveOutWrite(bogus, &header, sizeof header), MMSYSERR_INVALHANDLE);
    const FormatImage pcm = FormatImage::Pcm(2, 48000, 16);
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0, 0, CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<uint8_t> audio(4800);
    header.lpData = reinterpret_cast<LPSTR>(audio.data());
    header.dwBufferLength = static_cast<DWORD>(audio.size());
    EXPECT_EQ(waveOutWrite(device, &header, sizeof header), WAVERR_UNPREPARED);
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(device, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    EXPECT_EQ(waveOutUnprepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_INVALHANDLE) << "a closed handle is gone";
}

// Headers that need not hold whole frames, written while paused: the device gets exactly the
// bytes, each header comes back in order once its audio has been played, the position ends
// at the byte count, and open and close are notified around it all.
TEST(WaveOutNull, PlaysExactBytesAndReturnsHeadersInOrderWhenPlayed) {
    testsupport::ScriptedDevice& recorder = testsupport::ScriptedDevice::Get();
    recorder.Clear();
    CallbackThread callback;
    const uint32_t rate = 48000;
    const std::vector<uint8_t> audio = NoiseBytes(rate * 4 * 6 / 10 + 2);
    HeaderSet headers(audio, {48001, 3, 20000, 19200 * 2, 65536});
    HWAVEOUT device = OpenDevice(recorder.Id(), FormatImage::Pcm(2, rate, 16), callback.Window());
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(callback.Count(MM_WOM_DONE), 0u) << "a paused device returned a header";
    EXPECT_EQ(PositionBytes(device), 0u);
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s));
    EXPECT_EQ(PositionBytes(device), audio.size());
    const std::vector<Notification> events = callback.Events();
    ASSERT_EQ(events.front().message, static_cast<UINT>(MM_WOM_OPEN));
    size_t done = 0, bytesBefore = 0;
    for (const Notification& e : events) {
        if (e.message != MM_WOM_DONE) {
            continue;
        }
        ASSERT_EQ(e.header, headers[done++]) << "headers came back out of order";
        EXPECT_EQ(e.header->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
                  static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED));
        bytesBefore += e.header->dwBufferLength;
        EXPECT_GE(std::chrono::duration<double>(e.when - started).count(),
                  static_cast<double>(bytesBefore / 4) / rate - 0.005)
            << "header " << done - 1 << " came back before it was played";
    }
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_CLOSE, 1, 2s));
    EXPECT_EQ(recorder.Bytes(), std::vector<uint8_t>(audio.begin(), audio.end() - 2));
}

// Pausing keeps the queued headers and the position; a reset then returns every header once,
// at once, and starts the position again.
TEST(WaveOutNull, PauseHoldsTheQueueAndResetReturnsEachHeaderOnce) {
    CallbackThread callback;
    const std::vector<uint8_t> audio(48000 * 4 * 4, 0);
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 48000));
    HWAVEOUT device = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    const size_t doneAtPause = callback.Count(MM_WOM_DONE);
    const DWORD positionAtPause = PositionBytes(device);
    EXPECT_GT(positionAtPause, 48000u * 4 / 5);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(callback.Count(MM_WOM_DONE), doneAtPause);
    EXPECT_EQ(PositionBytes(device), positionAtPause);
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(100ms);
    const Clock::time_point reset = Clock::now();
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    for (size_t i = 0; i < headers.Size(); ++i) {
        EXPECT_EQ(headers[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    }
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 1s));
    EXPECT_LT(Clock::now() - reset, 500ms);
    EXPECT_EQ(PositionBytes(device), 0u);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(callback.Count(MM_WOM_DONE), headers.Size()) << "a header came back twice";
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

// The receiver refills each returned header at once, as the player does, with the service's
// locks released; the position it sees never goes backwards and covers what was returned.
TEST(WaveOutNull, NotificationReceiverMayCallBackIn) {
    std::atomic<HWAVEOUT> device{nullptr};
    std::atomic<int> refills{0};
    std::vector<DWORD> positions;
    CallbackThread callback([&](WAVEHDR* header) {
        positions.push_back(PositionBytes(device));
        if (refills.fetch_add(1) < 12) {
            EXPECT_EQ(waveOutPrepareHeader(device, header, sizeof *header), MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutWrite(device, header, sizeof *header), MMSYSERR_NOERROR);
        }
    });
    const std::vector<uint8_t> audio(4 * 4800 * 4, 0);
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 4800 * 4));
    HWAVEOUT opened = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    device = opened;
    ASSERT_EQ(headers.WriteAll(opened), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 16, 5s));
    EXPECT_EQ(waveOutClose(opened), MMSYSERR_NOERROR);
    ASSERT_EQ(positions.size(), 16u);
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_GE(positions[i], (i + 1) * 4800u * 4) << "notified before played";
        EXPECT_GE(positions[i], i > 0 ? positions[i - 1] : 0u);
    }
}

}  // namespace
