// The wave-output contract on "Null Output": no server, no hardware. What a device got is
// seen on the scripted device, which plays by the same clock and records.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "platform/WaveOutHarness.h"
#include "platform/waveout/DeviceList.h"
#include "platform/waveout/StreamFormat.h"
#include "support/MpegReference.h"
#include "support/ScriptedDevice.h"
#include "support/TempDir.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

// The recording device, emptied for the next case.
testsupport::ScriptedDevice& Recorder() {
    testsupport::ScriptedDevice& device = testsupport::ScriptedDevice::Get();
    device.Clear();
    return device;
}

TEST(WaveOutNull, DeviceListEndsWithNullOutputAndNamesFit) {
    const UINT count = waveOutGetNumDevs();
    ASSERT_GE(count, 1u);
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps;
        std::memset(&caps, 0x7F, sizeof caps);
        ASSERT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_LT(std::strlen(caps.szPname), 32u);
    }
    EXPECT_EQ(NullOutput(), count - 1);
    WAVEOUTCAPSA caps{};
    EXPECT_EQ(waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_GT(std::strlen(caps.szPname), 0u);
    EXPECT_EQ(waveOutGetDevCapsA(count, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutGetDevCapsA(0, &caps, 51), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetDevCapsA(0, nullptr, sizeof caps), MMSYSERR_INVALPARAM);
}

// Playback PCMs of the kernel's sound cards, as /proc/asound/pcm lists them.
size_t KernelPlaybackPcms() {
    std::ifstream list("/proc/asound/pcm");
    size_t count = 0;
    for (std::string line; std::getline(list, line);) {
        count += line.find(": playback") != std::string::npos ? 1 : 0;
    }
    return count;
}

// On a machine without a sound server (run with PULSE_SERVER naming nothing), the list is
// the cards' playback PCMs and "Null Output"; without cards the mapper plays on Null Output.
TEST(WaveOutNull, WithoutServerTheMapperIsNullOutput) {
    if (std::getenv("QUINDLE_EXPECT_NO_SERVER") == nullptr) {
        GTEST_SKIP() << "only where no server answers";
    }
    // A "server" that takes the connection and then never says a word.
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
    const Clock::time_point asked = Clock::now();
    const size_t cards = KernelPlaybackPcms();
    EXPECT_EQ(waveOutGetNumDevs(), cards + 2) << "the cards, the scripted device, Null Output";
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
    CallbackThread callback;
    HWAVEOUT device = OpenDevice(WAVE_MAPPER, FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_NE(device, nullptr);
    const std::vector<uint8_t> audio = NoiseBytes(4800 * 4);
    HeaderSet headers(audio, {audio.size()});
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 2s));
    EXPECT_EQ(PositionBytes(device), audio.size());
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

// Device names longer than szPname are cut to 31 bytes, never inside a UTF-8 character.
TEST(WaveOutNull, DeviceNamesAreCutAtCharacterBoundaries) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const std::string thirty(30, 'a');
    const Case cases[] = {
        {"Test Sink", "Test Sink"},
        {thirty + "b", thirty + "b"},
        {thirty + "bc", thirty + "b"},
        {thirty + "\xC3\xA9", thirty},  // a 2-byte character across the cut
        {std::string(29, 'a') + "\xC3\xA9x", std::string(29, 'a') + "\xC3\xA9"},
        {std::string(28, 'a') + "\xE2\x82\xAC\xE2\x82\xAC", std::string(28, 'a') + "\xE2\x82\xAC"},
        {"", ""},
    };
    for (const Case& c : cases) {
        char name[32];
        std::memset(name, 'x', sizeof name);
        platform::CopyDeviceName(c.name, name);
        EXPECT_EQ(std::string(name), c.expected);
    }
}

// The channel layout a device is opened with: the mask's speakers in order, the usual order
// for plain formats, nothing for channels beyond the mask.
TEST(WaveOutNull, ChannelMasksBecomeSpeakerLayouts) {
    struct Case {
        FormatImage image;
        std::vector<uint32_t> speakers;
    };
    const FormatImage sixOfMask =
        FormatImage::Extensible(6, 48000, 16, 16, 0x60F, WAVE_FORMAT_PCM);  // FL FR FC LFE SL SR
    const FormatImage fourOfTwo = FormatImage::Extensible(4, 48000, 16, 16, 0x3, WAVE_FORMAT_PCM);
    const Case cases[] = {
        {FormatImage::Pcm(1, 8000, 8), {0x4}},
        {FormatImage::Pcm(2, 44100, 16), {0x1, 0x2}},
        {FormatImage::Pcm(4, 44100, 16), {0x1, 0x2, 0x10, 0x20}},
        {sixOfMask, {0x1, 0x2, 0x4, 0x8, 0x200, 0x400}},
        {fourOfTwo, {0x1, 0x2, 0, 0}},
    };
    for (const Case& c : cases) {
        platform::StreamFormat format;
        ASSERT_EQ(platform::ReadStreamFormat(c.image.Get(), &format), MMSYSERR_NOERROR);
        EXPECT_EQ(format.ForSink().speakers, c.speakers);
    }
}

TEST(WaveOutNull, FormatQueryAcceptsWhatItCanPlayAndOpensNothing) {
    struct Case {
        const char* what;
        FormatImage image;
        MMRESULT expected;
    };
    const FormatImage extensible = FormatImage::Extensible(6, 48000, 24, 24, 0x3F, WAVE_FORMAT_PCM);
    const FormatImage extensibleFloat =
        FormatImage::Extensible(4, 44100, 32, 32, 0x33, WAVE_FORMAT_IEEE_FLOAT);
    FormatImage extensibleBadGuid = extensible;
    extensibleBadGuid.Put16(24, 0x55);
    FormatImage extensibleShort(WAVE_FORMAT_EXTENSIBLE, 6, 48000, 24, 18, 0);
    FormatImage mp3ByTag85(WAVE_FORMAT_MPEGLAYER3, 2, 44100, 0, 1, 12);
    const Case cases[] = {
        {"PCM8 mono", FormatImage::Pcm(1, 8000, 8), MMSYSERR_NOERROR},
        {"PCM16 stereo", FormatImage::Pcm(2, 44100, 16), MMSYSERR_NOERROR},
        {"PCM24 stereo", FormatImage::Pcm(2, 96000, 24), MMSYSERR_NOERROR},
        {"PCM32 stereo", FormatImage::Pcm(2, 48000, 32), MMSYSERR_NOERROR},
        {"odd rate", FormatImage::Pcm(2, 52800, 16), MMSYSERR_NOERROR},
        {"float", FormatImage(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 32), MMSYSERR_NOERROR},
        {"extensible 6ch", extensible, MMSYSERR_NOERROR},
        {"extensible float", extensibleFloat, MMSYSERR_NOERROR},
        {"MPEG layer 2", FormatImage::Mpeg(2, 48000, ACM_MPEG_LAYER2), MMSYSERR_NOERROR},
        {"MPEG layer 3", FormatImage::Mpeg(1, 44100, ACM_MPEG_LAYER3), MMSYSERR_NOERROR},
        {"MP3 tag 85", mp3ByTag85, MMSYSERR_NOERROR},
        {"AC2", FormatImage(48, 2, 44100, 16), WAVERR_BADFORMAT},
        {"unknown tag", FormatImage(0x1234, 2, 44100, 16), WAVERR_BADFORMAT},
        {"tag 0", FormatImage(0, 2, 44100, 16), WAVERR_BADFORMAT},
        {"PCM12", FormatImage::Pcm(2, 44100, 12), WAVERR_BADFORMAT},
        {"float 64", FormatImage(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 64), WAVERR_BADFORMAT},
        {"no channels", FormatImage::Pcm(0, 44100, 16), WAVERR_BADFORMAT},
        {"33 channels", FormatImage::Pcm(33, 44100, 16), WAVERR_BADFORMAT},
        {"rate 0", FormatImage::Pcm(2, 0, 16), WAVERR_BADFORMAT},
        {"block align wrong", FormatImage(WAVE_FORMAT_PCM, 2, 44100, 16, 3), WAVERR_BADFORMAT},
        {"MPEG layer field 3", FormatImage::Mpeg(2, 44100, 3), WAVERR_BADFORMAT},
        {"MPEG without extension", FormatImage(WAVE_FORMAT_MPEG, 2, 44100, 16, 1, 0),
         WAVERR_BADFORMAT},
        {"MPEG 3 channels", FormatImage::Mpeg(3, 44100, ACM_MPEG_LAYER3), WAVERR_BADFORMAT},
        {"extensible bad GUID", extensibleBadGuid, WAVERR_BADFORMAT},
        {"extensible short", extensibleShort, WAVERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        HWAVEOUT untouched = reinterpret_cast<HWAVEOUT>(0x1234);
        EXPECT_EQ(waveOutOpen(&untouched, NullOutput(), c.image.Get(), 0, 0, WAVE_FORMAT_QUERY),
                  c.expected)
            << c.what;
        EXPECT_EQ(untouched, reinterpret_cast<HWAVEOUT>(0x1234)) << c.what;
        EXPECT_EQ(waveOutOpen(nullptr, WAVE_MAPPER, c.image.Get(), 0, 0, WAVE_FORMAT_QUERY),
                  c.expected)
            << c.what << " on the mapper";
    }
}

TEST(WaveOutNull, BadHandlesAndParametersGiveClearNumbers) {
    const auto bogus = reinterpret_cast<HWAVEOUT>(0x5550);
    WAVEHDR header{};
    MMTIME time{};
    time.wType = TIME_BYTES;
    DWORD volume = 0;
    EXPECT_EQ(waveOutClose(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPrepareHeader(bogus, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutUnprepareHeader(bogus, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutWrite(bogus, &header, sizeof header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutPause(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutRestart(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutReset(bogus), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutGetPosition(bogus, &time, sizeof time), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutSetVolume(bogus, 0xFFFFFFFF), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutGetVolume(bogus, &volume), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutMessage(bogus, WODM_TIMESTRETCH, 11000, 0), MMSYSERR_INVALHANDLE);

    const FormatImage pcm = FormatImage::Pcm(2, 48000, 16);
    HWAVEOUT device = nullptr;
    EXPECT_EQ(waveOutOpen(&device, 999, pcm.Get(), 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&device, NullOutput(), nullptr, 0, 0, CALLBACK_NULL),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(nullptr, NullOutput(), pcm.Get(), 0, 0, CALLBACK_NULL),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0x7770, 0, CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0, 0, CALLBACK_WINDOW),
              MMSYSERR_INVALPARAM)
        << "no window to notify";
    EXPECT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0, 0, CALLBACK_FUNCTION),
              MMSYSERR_NOTSUPPORTED);
    ASSERT_EQ(waveOutOpen(&device, NullOutput(), pcm.Get(), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);

    std::vector<uint8_t> audio(4800);
    header.lpData = reinterpret_cast<LPSTR>(audio.data());
    header.dwBufferLength = static_cast<DWORD>(audio.size());
    EXPECT_EQ(waveOutWrite(device, &header, sizeof header), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(device, nullptr, sizeof header), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutPrepareHeader(device, &header, 47), MMSYSERR_INVALPARAM);
    ASSERT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    const WAVEHDR prepared = header;
    EXPECT_EQ(waveOutPrepareHeader(device, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(std::memcmp(&prepared, &header, sizeof header), 0) << "preparing twice changed it";
    EXPECT_EQ(waveOutWrite(device, &header, 47), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetPosition(device, nullptr, sizeof time), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetPosition(device, &time, 11), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutMessage(device, WODM_TIMESTRETCH, 0, 0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutMessage(device, 0x4006, 0, 0), MMSYSERR_NOTSUPPORTED);
    EXPECT_EQ(waveOutGetVolume(device, nullptr), MMSYSERR_INVALPARAM);

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

TEST(WaveOutNull, EveryNumberHasItsOwnText) {
    const MMRESULT numbers[] = {MMSYSERR_NOERROR,    MMSYSERR_ERROR,     MMSYSERR_BADDEVICEID,
                                MMSYSERR_NOTENABLED, MMSYSERR_ALLOCATED, MMSYSERR_INVALHANDLE,
                                MMSYSERR_NODRIVER,   MMSYSERR_NOMEM,     MMSYSERR_NOTSUPPORTED,
                                MMSYSERR_BADERRNUM,  MMSYSERR_INVALFLAG, MMSYSERR_INVALPARAM,
                                MMSYSERR_HANDLEBUSY, WAVERR_BADFORMAT,   WAVERR_STILLPLAYING,
                                WAVERR_UNPREPARED,   WAVERR_SYNC};
    std::vector<std::string> seen;
    for (MMRESULT number : numbers) {
        char text[64];
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(waveOutGetErrorTextA(number, text, sizeof text), MMSYSERR_NOERROR) << number;
        EXPECT_LT(std::strlen(text), sizeof text);
        EXPECT_GT(std::strlen(text), 10u);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), text), 0) << text;
        seen.push_back(text);
    }
    char text[64];
    EXPECT_EQ(waveOutGetErrorTextA(777, text, sizeof text), MMSYSERR_BADERRNUM);
    EXPECT_GT(std::strlen(text), 0u);
    char tiny[5];
    EXPECT_EQ(waveOutGetErrorTextA(WAVERR_BADFORMAT, tiny, sizeof tiny), MMSYSERR_NOERROR);
    EXPECT_EQ(std::strlen(tiny), 4u);
    EXPECT_EQ(waveOutGetErrorTextA(WAVERR_BADFORMAT, nullptr, 64), MMSYSERR_INVALPARAM);
}

// Open, pause, write, restart: the device gets exactly the written bytes (headers need not
// hold whole frames), each header comes back in order once its audio has been played, the
// position ends at the byte count, and open and close are notified around it all.
TEST(WaveOutNull, PlaysExactBytesAndReturnsHeadersInOrderWhenPlayed) {
    testsupport::ScriptedDevice& recorder = Recorder();
    CallbackThread callback;
    const uint32_t rate = 48000;
    const std::vector<uint8_t> audio = NoiseBytes(rate * 4 * 6 / 10 + 2);  // 0.6 s and a bit
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
    EXPECT_EQ(PositionBytes(device), audio.size()) << "every byte taken counts";

    const std::vector<Notification> events = callback.Events();
    ASSERT_EQ(events.front().message, static_cast<UINT>(MM_WOM_OPEN));
    size_t done = 0;
    size_t bytesBefore = 0;
    for (const Notification& e : events) {
        if (e.message != MM_WOM_DONE) {
            continue;
        }
        ASSERT_EQ(e.header, headers[done]) << "headers came back out of order";
        EXPECT_EQ(e.header->dwFlags & (WHDR_DONE | WHDR_INQUEUE | WHDR_PREPARED),
                  static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED));
        bytesBefore += e.header->dwBufferLength;
        const auto playedFor = std::chrono::duration<double>(e.when - started).count();
        EXPECT_GE(playedFor, static_cast<double>(bytesBefore / 4) / rate - 0.005)
            << "header " << done << " came back before it was played";
        ++done;
    }
    ASSERT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_CLOSE, 1, 2s));
    EXPECT_EQ(recorder.Bytes(),
              std::vector<uint8_t>(audio.begin(), audio.begin() + audio.size() / 4 * 4));
}

TEST(WaveOutNull, PauseHoldsTheQueueAndThePosition) {
    CallbackThread callback;
    const std::vector<uint8_t> audio(48000 * 4, 0);  // 1 s
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 48000));
    HWAVEOUT device = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    const size_t doneAtPause = callback.Count(MM_WOM_DONE);
    const DWORD positionAtPause = PositionBytes(device);
    EXPECT_GT(positionAtPause, 48000u * 4 / 5);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(callback.Count(MM_WOM_DONE), doneAtPause);
    EXPECT_EQ(PositionBytes(device), positionAtPause);
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 3s));
    EXPECT_EQ(PositionBytes(device), audio.size());
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

TEST(WaveOutNull, ResetReturnsEveryHeaderAndStartsThePositionAgain) {
    CallbackThread callback;
    const std::vector<uint8_t> audio(48000 * 4 * 4, 0);  // 4 s in four headers
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 48000 * 4));
    HWAVEOUT device = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(PositionBytes(device), 0u);
    const Clock::time_point reset = Clock::now();
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    for (size_t i = 0; i < headers.Size(); ++i) {
        EXPECT_EQ(headers[i]->dwFlags & (WHDR_DONE | WHDR_INQUEUE), static_cast<DWORD>(WHDR_DONE));
    }
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 4, 1s));
    EXPECT_LT(Clock::now() - reset, 500ms);
    EXPECT_EQ(PositionBytes(device), 0u);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

// The callback thread refills every returned header at once, as the player does: each
// notification is handled with the service's locks released, so calling back in works.
TEST(WaveOutNull, NotificationReceiverMayCallBackIn) {
    std::atomic<HWAVEOUT> device{nullptr};
    std::atomic<int> refills{0};
    std::vector<DWORD> positions;
    CallbackThread callback([&](WAVEHDR* header) {
        MMTIME time{};
        time.wType = TIME_BYTES;
        EXPECT_EQ(waveOutGetPosition(device, &time, sizeof time), MMSYSERR_NOERROR);
        positions.push_back(time.u.cb);
        if (refills.fetch_add(1) < 12) {
            EXPECT_EQ(waveOutPrepareHeader(device, header, sizeof *header), MMSYSERR_NOERROR);
            EXPECT_EQ(waveOutWrite(device, header, sizeof *header), MMSYSERR_NOERROR);
        }
    });
    const std::vector<uint8_t> audio(4 * 4800 * 4, 0);  // four headers of 0.1 s
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 4800 * 4));
    HWAVEOUT opened = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    device = opened;
    ASSERT_EQ(headers.WriteAll(opened), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 16, 5s));
    EXPECT_EQ(waveOutClose(opened), MMSYSERR_NOERROR);
    ASSERT_EQ(positions.size(), 16u);
    for (size_t i = 0; i < positions.size(); ++i) {
        EXPECT_GE(positions[i], (i + 1) * 4800u * 4) << "notified before played";
        if (i > 0) {
            EXPECT_GE(positions[i], positions[i - 1]);
        }
    }
}

// The position comes from the device clock: it never goes backwards and keeps up with the
// time since the restart, in bytes, samples and milliseconds alike.
TEST(WaveOutNull, PositionFollowsTheClock) {
    const uint32_t rate = 22050;
    const std::vector<uint8_t> audio(rate * 2 * 2, 0);  // 2 s of 16-bit mono... at 2 bytes
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 8820));
    HWAVEOUT device = OpenDevice(NullOutput(), FormatImage::Pcm(1, rate, 16), nullptr);
    ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    // The clock starts somewhere inside the restart call.
    const Clock::time_point early = Clock::now();
    ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
    const Clock::time_point late = Clock::now();
    DWORD last = 0;
    auto since = [](Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    };
    for (int i = 0; i < 30; ++i) {
        std::this_thread::sleep_for(30ms);
        MMTIME bytes{}, samples{}, ms{};
        bytes.wType = TIME_BYTES;
        samples.wType = TIME_SAMPLES;
        ms.wType = TIME_MS;
        // The clock must lie between the times just before and just after each question.
        const double before = since(late);
        ASSERT_EQ(waveOutGetPosition(device, &bytes, sizeof bytes), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutGetPosition(device, &samples, sizeof samples), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutGetPosition(device, &ms, sizeof ms), MMSYSERR_NOERROR);
        const double after = since(early);
        ASSERT_EQ(samples.wType, static_cast<UINT>(TIME_SAMPLES));
        ASSERT_EQ(ms.wType, static_cast<UINT>(TIME_MS));
        EXPECT_GE(bytes.u.cb, last);
        last = bytes.u.cb;
        EXPECT_GE(bytes.u.cb / 2.0 / rate, before - 0.01);
        EXPECT_LE(bytes.u.cb / 2.0 / rate, after + 0.002);
        EXPECT_GE(samples.u.sample, bytes.u.cb / 2);
        EXPECT_GE(ms.u.ms / 1000.0, before - 0.01);
        EXPECT_LE(ms.u.ms / 1000.0, after + 0.002);
    }
    ASSERT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

// The volume word scales the samples: low word left, high word right.
TEST(WaveOutNull, VolumeScalesEachChannel) {
    testsupport::ScriptedDevice& recorder = Recorder();
    CallbackThread callback;
    std::vector<uint8_t> audio;
    for (int i = 0; i < 4800; ++i) {
        const int16_t frame[2] = {20000, -16000};
        audio.insert(audio.end(), reinterpret_cast<const uint8_t*>(frame),
                     reinterpret_cast<const uint8_t*>(frame) + 4);
    }
    HeaderSet headers(audio, {audio.size()});
    HWAVEOUT device = OpenDevice(recorder.Id(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_EQ(waveOutSetVolume(device, 0x4000'8000), MMSYSERR_NOERROR);
    DWORD volume = 0;
    ASSERT_EQ(waveOutGetVolume(device, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x4000'8000u);
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 2s));
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    const std::vector<uint8_t> played = recorder.Bytes();
    ASSERT_EQ(played.size(), audio.size());
    for (size_t i = 0; i < played.size(); i += 4) {
        int16_t left, right;
        std::memcpy(&left, &played[i], 2);
        std::memcpy(&right, &played[i + 2], 2);
        ASSERT_NEAR(left, 20000 * 0x8000 / 65535.0, 1.0);
        ASSERT_NEAR(right, -16000 * 0x4000 / 65535.0, 1.0);
    }
}

// Stretch 11000 plays 10 % longer, and each header comes back once its stretched audio has
// been played; 10000 leaves the bytes untouched.
TEST(WaveOutNull, TimeStretchMakesItLongerAndReturnsHeadersWhenPlayed) {
    struct Case {
        DWORD stretch;
        double lengthFactor;
    };
    for (const Case c : {Case{11000, 1.1}, Case{8000, 0.8}, Case{10000, 1.0}}) {
        testsupport::ScriptedDevice& recorder = Recorder();
        CallbackThread callback;
        const std::vector<uint8_t> audio = StereoTone(1000, 1500, 48000, 48000);
        HeaderSet headers(audio, HeaderSet::Even(audio.size(), 65536));
        HWAVEOUT device =
            OpenDevice(recorder.Id(), FormatImage::Pcm(2, 48000, 16), callback.Window());
        ASSERT_EQ(waveOutPause(device), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutMessage(device, WODM_TIMESTRETCH, c.stretch, 0), MMSYSERR_NOERROR);
        ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
        const Clock::time_point started = Clock::now();
        ASSERT_EQ(waveOutRestart(device), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s));
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(PositionBytes(device), audio.size()) << c.stretch;
        // Each header comes back once its stretched audio has been played, not before.
        double inputSeconds = 0;
        for (const Notification& e : callback.Events()) {
            if (e.message == MM_WOM_DONE) {
                inputSeconds += e.header->dwBufferLength / 4.0 / 48000;
                EXPECT_GE(std::chrono::duration<double>(e.when - started).count(),
                          inputSeconds * c.lengthFactor - 0.01)
                    << c.stretch;
            }
        }
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
        const std::vector<uint8_t> played = recorder.Bytes();
        if (c.stretch == 10000) {
            EXPECT_EQ(played, audio);
            continue;
        }
        EXPECT_NEAR(static_cast<double>(played.size()) / audio.size(), c.lengthFactor, 0.01)
            << c.stretch;
        EXPECT_GE(took, c.lengthFactor - 0.02) << c.stretch;
        EXPECT_LT(took, c.lengthFactor + 0.25) << c.stretch;  // slow builds take longer
    }
}

// MPEG layer III opened by the MP3 tag, written in odd-sized headers: the device gets what
// mpg123 decodes, and the position counts the coded bytes.
TEST(WaveOutNull, MpegPlaysAsTheReferenceDecodes) {
    testsupport::TempDir dir;
    const testsupport::MpegReference reference = testsupport::MakeMpegReference(
        dir, "-r 48000 -c 2", "synth 1.3 sine 440 sine 660 gain -6", "lame --quiet -b 128");
    if (!reference.missing.empty()) {
        GTEST_SKIP() << reference.missing << " is missing";
    }
    ASSERT_GT(reference.decoded.size(), 48000u * 4);
    testsupport::ScriptedDevice& recorder = Recorder();
    CallbackThread callback;
    HWAVEOUT device = OpenDevice(
        recorder.Id(), FormatImage(WAVE_FORMAT_MPEGLAYER3, 2, 48000, 0, 1, 12), callback.Window());
    HeaderSet headers(reference.coded, {1, 417, 5000, 999, 65536, 65536, 65536});
    ASSERT_EQ(headers.WriteAll(device), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s));
    EXPECT_EQ(PositionBytes(device), reference.coded.size());
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(recorder.Bytes() == reference.decoded) << "decoded audio differs";
}

// A caller that does not write in time is no error: output goes on when data comes.
TEST(WaveOutNull, UnderrunResumesWhenDataComes) {
    CallbackThread callback;
    const std::vector<uint8_t> audio = NoiseBytes(9600 * 4);
    HeaderSet headers(audio, {4800 * 4, 4800 * 4});
    HWAVEOUT device = OpenDevice(NullOutput(), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_EQ(waveOutPrepareHeader(device, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 2s));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(PositionBytes(device), 4800u * 4) << "the clock ran on without data";
    const Clock::time_point second = Clock::now();
    ASSERT_EQ(waveOutPrepareHeader(device, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(device, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 2, 2s));
    EXPECT_GE(Clock::now() - second, 95ms);
    EXPECT_EQ(PositionBytes(device), 9600u * 4);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

}  // namespace
