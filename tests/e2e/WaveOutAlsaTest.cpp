// The wave-output contract on the ALSA backend, on PCMs of a private ALSA configuration
// (a private HOME with its own .asoundrc, set before the service takes its device list):
//   "qtap"     plug -> file (what the device got) -> pulse (the test bed's "Test Sink", paced)
//   "qlocked"  plug -> a test PCM: one holder at a time, paced by the clock, no hardware
//              pause, records what it has played
//   "qlockraw" that test PCM without the plug layer (16-bit stereo 48 kHz only)
//   default    plug -> file -> pulse, as "qtap" but into its own file
#include <gtest/gtest.h>

#include <stdlib.h>

#include <thread>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

using namespace waveouttest;
using namespace std::chrono_literals;

namespace {

// The private configuration, in place before the first call into the service.
class AlsaTestBed {
  public:
    AlsaTestBed() {
        // The pulse PCM is told the server itself, and the process forgets it: otherwise
        // ALSA's configuration makes the running server its "default", over ours.
        const char* server = std::getenv("PULSE_SERVER");
        server_ = server != nullptr ? server : "";
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_RUNTIME_PATH");
        const std::string config =
            "pcm.qsink { type pulse server \"" + server_ +
            "\" device testsink }\n"
            "pcm.qtap { type plug slave.pcm { type file slave.pcm \"qsink\" file \"" +
            Tap() + "\" format \"raw\" } }\n" +
            "pcm.!default { type plug slave.pcm { type file slave.pcm \"qsink\" file \"" +
            DefaultTap() + "\" format \"raw\" } }\n" + "pcm_type.lockedpcm { lib \"" +
            LOCKED_PCM_PLUGIN + "\" }\n" + "pcm.qlockraw { type lockedpcm lockfile \"" +
            dir_.File("lock") + "\" file \"" + Played() + "\" }\n" +
            "pcm.qlocked { type plug slave.pcm \"qlockraw\" }\n";
        testsupport::WriteBytes(dir_.File(".asoundrc"),
                                std::vector<uint8_t>(config.begin(), config.end()));
        setenv("HOME", dir_.Path().c_str(), 1);
        setenv("WAVEOUT_ALSA_DEVICES", "qtap, qlocked,qlockraw", 1);
    }
    std::string Tap() const { return dir_.File("tap.raw"); }
    std::string DefaultTap() const { return dir_.File("default.raw"); }
    std::string Played() const { return dir_.File("played.raw"); }
    bool HasServer() const { return !server_.empty(); }

  private:
    std::string server_;
    testsupport::TempDir dir_;
};

const AlsaTestBed& Bed() {
    static const AlsaTestBed bed;
    return bed;
}
[[maybe_unused]] const AlsaTestBed& bedBeforeMain = Bed();

bool HaveSoundServer() {
    return Bed().HasServer();
}

struct Device {
    const char* name;
    UINT id;
    std::string record;  // the file that shows what the device got
    bool paced;          // by a real clock
};

std::vector<Device> Devices() {
    std::vector<Device> devices;
    devices.push_back({"qlocked", FindDevice("qlocked"), Bed().Played(), true});
    if (HaveSoundServer()) {
        devices.push_back({"qtap", FindDevice("qtap"), Bed().Tap(), true});
        devices.push_back({"mapper", WAVE_MAPPER, Bed().DefaultTap(), true});
    }
    return devices;
}

std::string Name(UINT id) {
    WAVEOUTCAPSA caps{};
    EXPECT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
    return caps.szPname;
}

TEST(WaveOutAlsa, ListsTheConfiguredPcmsThenNullOutputAndTheDefaultAsMapper) {
    ASSERT_EQ(waveOutGetNumDevs(), 4u);
    EXPECT_EQ(Name(0), "qtap");
    EXPECT_EQ(Name(1), "qlocked");
    EXPECT_EQ(Name(2), "qlockraw");
    EXPECT_EQ(Name(3), "Null Output");
    // ALSA's "default" opens here (the configuration defines it): it is the mapper.
    EXPECT_EQ(Name(WAVE_MAPPER), "ALSA default");
}

// Headers of odd sizes come back in order, none before it was played, and the device got
// exactly the bytes; closing right after the last notification loses nothing.
TEST(WaveOutAlsa, PlaysTheExactBytesAndReturnsHeadersWhenPlayed) {
    for (const Device& device : Devices()) {
        CallbackThread callback;
        const uint32_t rate = 48000;
        const std::vector<uint8_t> audio = NoiseBytes(rate * 4 * 7 / 10);
        HeaderSet headers(audio, {48001, 3, 20000, 38400, 65536});
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(2, rate, 16), callback.Window());
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(callback.Count(MM_WOM_DONE), 0u) << device.name << ": returned while paused";
        EXPECT_EQ(PositionBytes(out), 0u) << device.name;
        const Clock::time_point started = Clock::now();
        ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s)) << device.name;
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(PositionBytes(out), audio.size()) << device.name;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_CLOSE, 1, 2s));

        size_t done = 0, bytesBefore = 0;
        for (const Notification& e : callback.Events()) {
            if (e.message != MM_WOM_DONE) {
                continue;
            }
            ASSERT_EQ(e.header, headers[done]) << device.name << ": out of order";
            bytesBefore += e.header->dwBufferLength;
            const double at = std::chrono::duration<double>(e.when - started).count();
            EXPECT_GE(at, static_cast<double>(bytesBefore / 4) / rate - 0.01)
                << device.name << ": header " << done << " came back before it was played";
            ++done;
        }
        EXPECT_GE(took, 0.69) << device.name;
        EXPECT_LT(took, 1.5) << device.name;
        const std::vector<uint8_t> got = testsupport::ReadBytes(device.record);
        EXPECT_EQ(got.size(), audio.size()) << device.name;
        EXPECT_TRUE(got == audio) << device.name << ": the device got other bytes";
    }
}

// Through the plug layer every rate, size and channel count is taken; the PCM alone takes
// only its own format. A query leaves the device free.
TEST(WaveOutAlsa, FormatQueryAsksThePcmAndKeepsNothing) {
    struct Case {
        const char* device;
        FormatImage format;
        MMRESULT expected;
    };
    const FormatImage surround = FormatImage::Extensible(6, 48000, 24, 24, 0x3F, WAVE_FORMAT_PCM);
    const Case cases[] = {
        {"qlocked", FormatImage::Pcm(2, 48000, 16), MMSYSERR_NOERROR},
        {"qlocked", FormatImage::Pcm(1, 8000, 8), MMSYSERR_NOERROR},
        {"qlocked", FormatImage::Pcm(2, 52800, 16), MMSYSERR_NOERROR},
        {"qlocked", FormatImage::Pcm(2, 96000, 24), MMSYSERR_NOERROR},
        {"qlocked", FormatImage(WAVE_FORMAT_IEEE_FLOAT, 2, 44100, 32), MMSYSERR_NOERROR},
        {"qlocked", surround, MMSYSERR_NOERROR},
        {"qlocked", FormatImage::Mpeg(2, 44100, ACM_MPEG_LAYER3), MMSYSERR_NOERROR},
        {"qlockraw", FormatImage::Pcm(2, 48000, 16), MMSYSERR_NOERROR},
        {"qlockraw", FormatImage::Pcm(2, 44100, 16), WAVERR_BADFORMAT},
        {"qlockraw", FormatImage::Pcm(1, 48000, 16), WAVERR_BADFORMAT},
        {"qlockraw", FormatImage::Pcm(2, 48000, 8), WAVERR_BADFORMAT},
        {"qlockraw", FormatImage::Pcm(2, 48000, 12), WAVERR_BADFORMAT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            waveOutOpen(nullptr, FindDevice(c.device), c.format.Get(), 0, 0, WAVE_FORMAT_QUERY),
            c.expected)
            << c.device << " " << c.format.Get()->nSamplesPerSec << " Hz "
            << c.format.Get()->nChannels << " ch " << c.format.Get()->wBitsPerSample << " bit";
    }
    // Nothing was kept: the device opens, and an odd format plays paced at its own rate.
    CallbackThread callback;
    const std::vector<uint8_t> audio(52800 * 2 / 2, 0x40);  // 0.5 s of 8-bit stereo at 52.8k
    HeaderSet headers(audio, {audio.size()});
    HWAVEOUT out =
        OpenDevice(FindDevice("qlocked"), FormatImage::Pcm(2, 52800, 8), callback.Window());
    ASSERT_NE(out, nullptr);
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 3s));
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - started).count(), 0.5, 0.1);
    EXPECT_EQ(PositionBytes(out), audio.size());
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

// A device held by someone else fails the open at once with "in use", whether the holder is
// this process or another program; it opens again once let go.
TEST(WaveOutAlsa, BusyDeviceFailsTheOpenAtOnce) {
    const UINT locked = FindDevice("qlocked");
    const FormatImage format = FormatImage::Pcm(2, 48000, 16);
    HWAVEOUT holder = OpenDevice(locked, format, nullptr);
    ASSERT_NE(holder, nullptr);
    HWAVEOUT second = nullptr;
    Clock::time_point before = Clock::now();
    EXPECT_EQ(waveOutOpen(&second, locked, format.Get(), 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);
    EXPECT_LT(Clock::now() - before, 500ms);
    char text[64];
    ASSERT_EQ(waveOutGetErrorTextA(MMSYSERR_ALLOCATED, text, sizeof text), MMSYSERR_NOERROR);
    EXPECT_STREQ(text, "The wave-output device is in use.");
    EXPECT_EQ(waveOutClose(holder), MMSYSERR_NOERROR);

    if (HaveTool("aplay")) {
        testsupport::TempDir dir;
        const std::vector<uint8_t> silence(48000 * 4 * 3, 0);
        testsupport::WriteBytes(dir.File("silence.raw"), silence);
        const std::string pid = dir.File("pid");
        ASSERT_EQ(Shell("aplay -q -D qlocked -t raw -f S16_LE -r 48000 -c 2 " +
                        dir.File("silence.raw") + " & echo $! > " + pid),
                  0);
        std::this_thread::sleep_for(300ms);
        before = Clock::now();
        EXPECT_EQ(waveOutOpen(&second, locked, format.Get(), 0, 0, CALLBACK_NULL),
                  MMSYSERR_ALLOCATED)
            << "aplay holds the device";
        EXPECT_LT(Clock::now() - before, 500ms);
        if (second != nullptr) {
            waveOutClose(second);
        }
        Shell("kill $(cat " + pid + ") 2>/dev/null; sleep 0.2");
    }
    HWAVEOUT again = OpenDevice(locked, format, nullptr);
    EXPECT_EQ(waveOutClose(again), MMSYSERR_NOERROR);
}

// Pause holds the queue and the position, with the hardware pause (qtap: the pulse PCM) and
// without (qlocked: dropped and re-primed); after restart every byte is played once.
TEST(WaveOutAlsa, PauseHoldsTheQueueAndLosesNothing) {
    for (const Device& device : Devices()) {
        CallbackThread callback;
        const std::vector<uint8_t> audio = NoiseBytes(48000 * 4, 777);  // 1 s
        HeaderSet headers(audio, HeaderSet::Even(audio.size(), 48000));
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(2, 48000, 16), callback.Window());
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(350ms);
        ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        const size_t doneAtPause = callback.Count(MM_WOM_DONE);
        const DWORD positionAtPause = PositionBytes(out);
        EXPECT_GT(positionAtPause, 48000u * 4 / 10) << device.name;
        EXPECT_LT(positionAtPause, 48000u * 4 / 2) << device.name;
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(callback.Count(MM_WOM_DONE), doneAtPause) << device.name;
        EXPECT_EQ(PositionBytes(out), positionAtPause) << device.name;
        const Clock::time_point restarted = Clock::now();
        ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s)) << device.name;
        const double rest = std::chrono::duration<double>(Clock::now() - restarted).count();
        const double expected = static_cast<double>(audio.size() - positionAtPause) / 4 / 48000;
        EXPECT_GE(rest, expected - 0.02) << device.name;
        EXPECT_LT(rest, expected + 0.4) << device.name;
        EXPECT_EQ(PositionBytes(out), audio.size()) << device.name;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        if (device.id == FindDevice("qlocked")) {
            // This PCM records what it played, so a frame lost or played twice shows.
            EXPECT_TRUE(testsupport::ReadBytes(device.record) == audio) << device.name;
        }
    }
}

// Reset returns every header at once and starts the position again; what is written
// afterwards plays from the start.
TEST(WaveOutAlsa, ResetReturnsEveryHeaderAndPlaysOnAfterwards) {
    for (const Device& device : Devices()) {
        CallbackThread callback;
        const std::vector<uint8_t> first(48000 * 4 * 3, 0x11);
        HeaderSet headers(first, HeaderSet::Even(first.size(), 48000 * 4));
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(2, 48000, 16), callback.Window());
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        std::this_thread::sleep_for(300ms);
        EXPECT_GT(PositionBytes(out), 0u) << device.name;
        const Clock::time_point reset = Clock::now();
        ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 3, 1s)) << device.name;
        EXPECT_LT(Clock::now() - reset, 300ms) << device.name;
        EXPECT_EQ(PositionBytes(out), 0u) << device.name;

        const std::vector<uint8_t> second = NoiseBytes(48000 * 4 / 4, 99);
        HeaderSet more(second, {second.size()});
        ASSERT_EQ(more.WriteAll(out), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 4, 3s)) << device.name;
        EXPECT_EQ(PositionBytes(out), second.size()) << device.name;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        const std::vector<uint8_t> got = testsupport::ReadBytes(device.record);
        ASSERT_GE(got.size(), second.size()) << device.name;
        EXPECT_TRUE(std::equal(second.begin(), second.end(), got.end() - second.size()))
            << device.name << ": the audio after the reset is not what was written";
    }
}

// A writer that comes late is no error: the device runs dry, the position stops at what was
// written, and output goes on when the next header comes.
TEST(WaveOutAlsa, UnderrunRecoversWithoutError) {
    for (const Device& device : Devices()) {
        CallbackThread callback;
        const std::vector<uint8_t> audio = NoiseBytes(9600 * 4, 4242);
        HeaderSet headers(audio, {4800 * 4, 4800 * 4});
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(2, 48000, 16), callback.Window());
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(waveOutPrepareHeader(out, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, headers[0], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 1, 2s)) << device.name;
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(PositionBytes(out), 4800u * 4) << device.name;
        const Clock::time_point second = Clock::now();
        ASSERT_EQ(waveOutPrepareHeader(out, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, headers[1], sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, 2, 2s)) << device.name;
        EXPECT_GE(Clock::now() - second, 95ms) << device.name;
        EXPECT_EQ(PositionBytes(out), 9600u * 4) << device.name;
        ASSERT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
        EXPECT_TRUE(testsupport::ReadBytes(device.record) == audio) << device.name;
    }
}

// The position follows the device clock, in bytes and milliseconds, and never goes back.
TEST(WaveOutAlsa, PositionFollowsTheDeviceClock) {
    for (const Device& device : Devices()) {
        const uint32_t rate = 44100;
        const std::vector<uint8_t> audio(rate * 2 * 3 / 2, 0);  // 1.5 s of 16-bit mono
        HeaderSet headers(audio, HeaderSet::Even(audio.size(), 8820));
        HWAVEOUT out = OpenDevice(device.id, FormatImage::Pcm(1, rate, 16), nullptr);
        ASSERT_NE(out, nullptr) << device.name;
        ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
        ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
        const Clock::time_point started = Clock::now();
        ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
        DWORD last = 0;
        for (int i = 0; i < 20; ++i) {
            std::this_thread::sleep_for(50ms);
            const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
            MMTIME ms{};
            ms.wType = TIME_MS;
            ASSERT_EQ(waveOutGetPosition(out, &ms, sizeof ms), MMSYSERR_NOERROR);
            const DWORD bytes = PositionBytes(out);
            EXPECT_GE(bytes, last) << device.name;
            last = bytes;
            // The pulse PCM adds the sound server's latency before the clock runs.
            EXPECT_NEAR(bytes / 2.0 / rate, elapsed, 0.06) << device.name << " at " << elapsed;
            EXPECT_NEAR(ms.u.ms / 1000.0, elapsed, 0.06) << device.name;
        }
        ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
        EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    }
}

// Volume and time stretch are the service's, so they work on ALSA as everywhere.
TEST(WaveOutAlsa, VolumeAndStretchComeFromTheService) {
    CallbackThread callback;
    const std::vector<uint8_t> audio = StereoTone(1000, 1500, 48000, 48000);
    HeaderSet headers(audio, HeaderSet::Even(audio.size(), 65536));
    HWAVEOUT out =
        OpenDevice(FindDevice("qlocked"), FormatImage::Pcm(2, 48000, 16), callback.Window());
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(waveOutPause(out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutSetVolume(out, 0x8000'8000), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutMessage(out, WODM_TIMESTRETCH, 12000, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(headers.WriteAll(out), MMSYSERR_NOERROR);
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(waveOutRestart(out), MMSYSERR_NOERROR);
    ASSERT_TRUE(callback.WaitFor(MM_WOM_DONE, headers.Size(), 5s));
    EXPECT_NEAR(std::chrono::duration<double>(Clock::now() - started).count(), 1.2, 0.1);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    const std::vector<uint8_t> played = testsupport::ReadBytes(Bed().Played());
    EXPECT_NEAR(static_cast<double>(played.size()) / audio.size(), 1.2, 0.02);
    EXPECT_NEAR(MeasureFrequency(played, 2, 0, 48000), 1000, 10);
    int16_t peak = 0;
    for (size_t i = 0; i + 1 < played.size(); i += 2) {
        int16_t v;
        std::memcpy(&v, &played[i], 2);
        peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(v)));
    }
    EXPECT_NEAR(peak, 0.5 * 32767 * 0x8000 / 65535.0, 600);
}

// The applet as a user runs it, hidden and without a display, on an ALSA PCM picked by name:
// the PCM's own format arrives byte for byte, another rate through the plug layer's
// converter, and the run ends once the audio has been played.
TEST(WaveOutAlsa, TheAppletPlaysAFileOnAnAlsaDevice) {
    struct Case {
        const char* tag;
        uint16_t channels;
        uint32_t rate;
        bool exact;  // the PCM's own format: what it played is the file's audio
    };
    const Case cases[] = {
        {"alsa-native", 2, 48000, true},
        {"alsa-converted", 1, 44100, false},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        const double seconds = 1.0;
        const std::vector<uint8_t> audio =
            NoiseBytes(static_cast<size_t>(seconds * c.rate) * c.channels * 2, c.rate);
        const std::string path = testsupport::WriteWaveFile(
            dir.File("play.wav"), audio, "PCM16", c.channels, static_cast<int32_t>(c.rate));
        const Clock::time_point started = Clock::now();
        testsupport::Applet applet({"/D:qlocked", path, "/H"}, "", c.tag);
        ASSERT_EQ(applet.WaitExit(5s), 0) << c.tag << ": " << applet.Err();
        const double took = std::chrono::duration<double>(Clock::now() - started).count();
        EXPECT_EQ(applet.Err(), "") << c.tag;
        EXPECT_GE(took, seconds) << c.tag << ": ended before the audio was played";
        // Start-up and exit of the whole program, on top of the audio.
        const double overhead = testsupport::kSanitized ? 2.5 : 0.6;
        EXPECT_LT(took, seconds + overhead) << c.tag << ": lingered after the end";
        const std::vector<uint8_t> played = testsupport::ReadBytes(Bed().Played());
        if (c.exact) {
            EXPECT_TRUE(played == audio) << c.tag << ": the device played other bytes";
        } else {
            // 16-bit stereo at 48 kHz behind the converter: the same length in time.
            EXPECT_NEAR(static_cast<double>(played.size()) / (48000 * 4), seconds, 0.01) << c.tag;
        }
    }
}

}  // namespace
