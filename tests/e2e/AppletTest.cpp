// The built quindle64 as a user runs it, on the test bed's display and sound server: what the
// sink hears (recorded from its monitor), when the program ends, and what it shows.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/PulseRecording.h"
#include "support/ScreenTest.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"
#include "wavfile/WavFileBase.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::TimedRecorder;
using waveouttest::MeasureFrequency;
using waveouttest::NoiseBytes;
using waveouttest::StereoTone;

namespace {

constexpr uint32_t kRate = 48000;
constexpr double kFrameBytes = 4.0;

using testsupport::kEndAllowance;

class AppletOnTestBed : public testsupport::ScreenTest {
  protected:
    void SetUp() override {
        ScreenTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (std::system("pactl info >/dev/null 2>&1") != 0) {
            if (std::getenv("QUINDLE_TESTBED") != nullptr) {
                FAIL() << "the test bed's sound server does not answer";
            }
            GTEST_SKIP() << "no test bed sound server";
        }
    }

    std::string Wave(const std::string& name, const std::vector<uint8_t>& audio,
                     int32_t rate = kRate) {
        return testsupport::WriteWaveFile(dir_.File(name), audio, "PCM16", 2, rate);
    }

    // Quiet enough noise (about -18 dBFS) that a recording is bit exact and easy to find.
    static std::vector<uint8_t> Noise(double seconds, uint32_t seed) {
        std::vector<uint8_t> audio = NoiseBytes(static_cast<size_t>(seconds * kRate) * 4, seed);
        for (size_t i = 1; i < audio.size(); i += 2) {
            audio[i] = static_cast<uint8_t>(static_cast<int8_t>(audio[i]) / 8);
        }
        return audio;
    }

    static std::vector<uint8_t> Tone(double hz, double seconds) {
        return StereoTone(hz, hz, kRate, static_cast<size_t>(seconds * kRate), 0.4);
    }

    testsupport::TempDir dir_;
};

double Seconds(const std::vector<uint8_t>& audio) {
    return audio.size() / kFrameBytes / kRate;
}

TEST_F(AppletOnTestBed, PlaysTheWholeFileAndEndsRightAfterTheAudibleEnd) {
    const std::vector<uint8_t> audio = Noise(1.5, 1);
    const std::string path = Wave("whole.wav", audio);
    TimedRecorder recorder;
    Applet applet({"/D:test sink", path}, displayName_, "applet-whole");
    std::this_thread::sleep_for(600ms);
    Screenshot("applet-running.png");
    ASSERT_EQ(applet.WaitExit(5s), 0) << applet.Err();
    const auto exited = TimedRecorder::Clock::now();
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    const auto lastSound = recorder.LastSound();
    ASSERT_NE(lastSound, TimedRecorder::Clock::time_point{}) << "nothing was heard";
    EXPECT_LT(exited - lastSound, kEndAllowance) << "the program lingered after the audible end";
    const std::vector<uint8_t> heard = recorder.Bytes();
    const size_t at = testsupport::FindAudio(heard, audio);
    ASSERT_NE(at, std::string::npos);
    ASSERT_GE(heard.size(), at + audio.size()) << "the end was cut";
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(), heard.begin() + static_cast<long>(at)));
}

TEST_F(AppletOnTestBed, PunchInSkipsExactlyThatManyBytes) {
    const std::vector<uint8_t> audio = Noise(1.0, 2);
    const std::string path = Wave("punch.wav", audio);
    TimedRecorder recorder;
    Applet applet({"/P:4000", "/H", "/D:Test", path}, displayName_, "applet-punch");
    ASSERT_EQ(applet.WaitExit(5s), 0);
    std::this_thread::sleep_for(200ms);
    recorder.Stop();
    const std::vector<uint8_t> rest(audio.begin() + 4000, audio.end());
    const std::vector<uint8_t> heard = recorder.Bytes();
    const size_t at = testsupport::FindAudio(heard, rest);
    ASSERT_NE(at, std::string::npos);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), heard.begin() + static_cast<long>(at)));
    // Nothing of the skipped part was played before it.
    EXPECT_EQ(testsupport::FindAudio(heard, audio), std::string::npos);
}

TEST_F(AppletOnTestBed, DeviceOptionRoutesToTheNamedSink) {
    ASSERT_EQ(std::system("pactl load-module module-null-sink sink_name=othersink rate=48000 "
                          "format=s16le norewinds=1 "
                          "channels=2 sink_properties=device.description=Other_Speakers "
                          "> /tmp/qdl-othersink-module"),
              0);
    const std::vector<uint8_t> audio = Noise(0.8, 3);
    const std::string path = Wave("route.wav", audio);
    {
        TimedRecorder ours("testsink.monitor");
        TimedRecorder other("othersink.monitor");
        Applet applet({"/D:speakers", "/H", path}, displayName_, "applet-route");
        EXPECT_EQ(applet.WaitExit(5s), 0);
        std::this_thread::sleep_for(200ms);
        ours.Stop();
        other.Stop();
        EXPECT_NE(other.LastSound(), TimedRecorder::Clock::time_point{})
            << "Other_Speakers heard nothing";
        EXPECT_NE(testsupport::FindAudio(other.Bytes(), audio), std::string::npos)
            << "Other_Speakers did not get the exact audio";
        EXPECT_EQ(ours.LastSound(), TimedRecorder::Clock::time_point{})
            << "the test sink played too";
    }
    std::system("pactl unload-module $(cat /tmp/qdl-othersink-module)");
}

TEST_F(AppletOnTestBed, SampleRateAndStretchOptions) {
    const std::string path = Wave("tone.wav", Tone(1000, 1.0));
    struct Case {
        const char* option;
        double hz;
        double seconds;
    };
    const Case cases[] = {
        {"/S:110", 1100, 1.0 / 1.1},
        {"/T:110", 1000, 1.1},
    };
    for (const Case& c : cases) {
        TimedRecorder recorder;
        Applet applet({c.option, "/H", path}, displayName_,
                      std::string("applet-") + (c.option + 1));
        EXPECT_EQ(applet.WaitExit(5s), 0);
        std::this_thread::sleep_for(200ms);
        recorder.Stop();
        const std::vector<uint8_t> heard = testsupport::Audible(recorder.Bytes());
        EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kRate), c.hz, c.hz * 0.01) << c.option;
        EXPECT_NEAR(Seconds(heard), c.seconds, 0.03) << c.option;
    }
}

TEST_F(AppletOnTestBed, LoopingPausesFollowTheSchedule) {
    const std::string path = Wave("beep.wav", Tone(700, 0.25));
    TimedRecorder recorder;
    Applet applet({"/L", "/I:0,400,200", path}, displayName_, "applet-loop");
    const auto deadline = std::chrono::steady_clock::now() + 8s;
    std::vector<std::pair<size_t, size_t>> runs;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(200ms);
        runs = testsupport::SoundRuns(recorder.Bytes());
        if (runs.size() >= 6) {
            break;
        }
    }
    applet.Signal(SIGTERM);
    EXPECT_EQ(applet.WaitExit(2s), 0) << "SIGTERM must end the run like closing the window";
    ASSERT_GE(runs.size(), 5u);
    std::vector<double> gaps;
    for (size_t i = 1; i < 5; ++i) {
        const size_t end = runs[i - 1].first + runs[i - 1].second;
        gaps.push_back(static_cast<double>(runs[i].first - end) / kRate * 1000.0);
    }
    // Pauses 0, 200, 400, 0 ms on top of the same restart overhead each time.
    const double base = gaps[0];
    EXPECT_NEAR(gaps[1] - base, 200, 60) << gaps[1];
    EXPECT_NEAR(gaps[2] - base, 400, 60) << gaps[2];
    EXPECT_NEAR(gaps[3] - base, 0, 60) << gaps[3];
}

TEST_F(AppletOnTestBed, HiddenLoopPlaysOnce) {
    const std::string path = Wave("once.wav", Tone(500, 0.3));
    TimedRecorder recorder;
    Applet applet({"/L", "/H", path}, displayName_, "applet-hidden-loop");
    EXPECT_EQ(applet.WaitExit(3s), 0);
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    EXPECT_EQ(testsupport::SoundRuns(recorder.Bytes()).size(), 1u);
}

TEST_F(AppletOnTestBed, MpegLayerTwoAndThreePlay) {
    for (const char* tool : {"sox", "lame", "twolame"}) {
        if (!waveouttest::HaveTool(tool)) {
            GTEST_SKIP() << tool << " is missing";
        }
    }
    const std::string wav = Wave("source.wav", Tone(440, 1.0));
    const std::string mp3 = dir_.File("tone.mp3"), mp2 = dir_.File("tone.mp2");
    ASSERT_EQ(waveouttest::Shell("lame --quiet -b 128 " + wav + " " + mp3), 0);
    ASSERT_EQ(waveouttest::Shell("twolame --quiet -b 192 " + wav + " " + mp2), 0);
    for (const std::string& file : {mp3, mp2}) {
        TimedRecorder recorder;
        Applet applet({"/H", file}, displayName_, "applet-mpeg");
        EXPECT_EQ(applet.WaitExit(5s), 0) << file;
        std::this_thread::sleep_for(200ms);
        recorder.Stop();
        const std::vector<uint8_t> heard = testsupport::Audible(recorder.Bytes());
        EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kRate), 440, 5) << file;
        EXPECT_NEAR(Seconds(heard), 1.0, 0.1) << file;
    }
}

TEST_F(AppletOnTestBed, ToneSpecificationPlaysItsFrequency) {
    TimedRecorder recorder;
    Applet applet({"~F1000,S48000,TPCM16,C2,A-6"}, displayName_, "applet-tone");
    std::this_thread::sleep_for(1500ms);
    applet.Signal(SIGINT);
    EXPECT_EQ(applet.WaitExit(2s), 0);
    recorder.Stop();
    const std::vector<uint8_t> heard = testsupport::Audible(recorder.Bytes());
    EXPECT_NEAR(MeasureFrequency(heard, 2, 0, kRate), 1000, 5);
    EXPECT_GT(Seconds(heard), 0.8);
}

TEST_F(AppletOnTestBed, MissingFileShowsStartingErrorAndEnds) {
    std::set<Window> known;
    for (Window w : Windows(nullptr, "Starting Error", true)) {
        known.insert(w);
    }
    Applet applet({dir_.File("missing.wav")}, displayName_, "applet-missing");
    const Window box = WaitForNewWindow(nullptr, "Starting Error", known);
    ASSERT_NE(box, 0u) << "no Starting Error box";
    Screenshot("applet-starting-error.png");
    Key("Return");
    EXPECT_EQ(applet.WaitExit(2s), 0) << "the program did not end by itself";

    Applet headless({dir_.File("missing.wav")}, "", "applet-missing-headless");
    EXPECT_EQ(headless.WaitExit(3s), 0);
    EXPECT_NE(headless.Err().find("Starting Error: TWavFile - Could not open file"),
              std::string::npos)
        << headless.Err();
}

TEST_F(AppletOnTestBed, ClosingTheWindowMidPlaybackEndsAtOnce) {
    const std::string path = Wave("long.wav", Noise(10.0, 4));
    std::set<Window> known;
    for (Window w : Windows("QUINDLE", nullptr, true)) {
        known.insert(w);
    }
    TimedRecorder recorder;
    Applet applet({path}, displayName_, "applet-close");
    const Window window = WaitForNewWindow("QUINDLE", nullptr, known);
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(500ms);
    const auto closed = TimedRecorder::Clock::now();
    ClickCloseBox(window);
    EXPECT_EQ(applet.WaitExit(3s), 0);
    EXPECT_LT(TimedRecorder::Clock::now() - closed, 500ms + kEndAllowance);
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    EXPECT_LT(recorder.LastSound() - closed, 250ms) << "sound went on after the close";
    // The device is released: the server has no stream of ours left.
    EXPECT_EQ(waveouttest::Shell("test -z \"$(pactl list short sink-inputs)\""), 0);
}

TEST_F(AppletOnTestBed, StopSignalEndsALoopPauseAtOnce) {
    const std::string path = Wave("blip.wav", Tone(600, 0.2));
    TimedRecorder recorder;
    Applet applet({"/L", "/I:86400000", path}, displayName_, "applet-pause");
    std::this_thread::sleep_for(1s);  // the first pass has played; a day's pause has begun
    ASSERT_EQ(testsupport::SoundRuns(recorder.Bytes()).size(), 1u);
    const auto signalled = std::chrono::steady_clock::now();
    applet.Signal(SIGTERM);
    EXPECT_EQ(applet.WaitExit(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, kEndAllowance);
    EXPECT_EQ(waveouttest::Shell("test -z \"$(pactl list short sink-inputs)\""), 0);
}

// The shell has split and unquoted the words already: a '"', blanks, tabs and UTF-8 are part
// of a name, a leading '-' makes an option, and an empty word is a name of its own. Runs
// without a display, so every message goes to the terminal.
TEST(AppletWords, EachWordIsOneItemByteForByte) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> silence(4800 * 4, 0);  // 0.1 s
    const auto wave = [&](const std::string& name) {
        return testsupport::WriteWaveFile(dir.File(name), silence);
    };
    const std::string quoted = wave("q\"x.wav");
    const std::string spaced = wave("p \"x y\".wav");
    const std::string tabbed = wave("tab\there .wav");
    const std::string utf8 = wave("\xC3\xA9t\xC3\xA9 \xE2\x99\xAA.wav");
    const std::string usage = "Missing required parameter: <filename>.\n";
    struct Case {
        std::vector<std::string> words;
        std::string errorStart;   // standard error begins with this ("" : stays empty)
        std::string outputStart;  // standard output begins with this
    };
    const Case cases[] = {
        {{"/H", "/D:null", quoted}, "", ""},
        {{"/D:null", spaced}, "", ""},
        {{"/D:null", tabbed}, "", ""},
        {{"-d:null", utf8}, "", ""},
        // The quotes belong to the device text, which names no device.
        {{"/D:\"Null Output\"", quoted}, "", "Device list:\n"},
        {{"-q\"x.wav"}, "Quindle64.exe Version 1.14: " + usage + "Unknown option /Q\n", ""},
        {{"/D:null", ""}, "Starting Error: TWavFile - Could not open file", ""},
        {{"", quoted}, "Quindle64.exe Version 1.14: " + usage + "\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        Applet applet(c.words, "", "applet-words");
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_EQ(applet.Err().substr(0, c.errorStart.size()), c.errorStart) << applet.Err();
        if (c.errorStart.empty()) {
            EXPECT_EQ(applet.Err(), "");
        }
        EXPECT_EQ(applet.Out().substr(0, c.outputStart.size()), c.outputStart) << applet.Out();
    }
}

// Output into a pipe nobody reads any more (`quindle64 /E | true`) neither kills the program
// nor changes its exit code.
TEST(AppletWords, OutputIntoAClosedPipeKeepsExitCodeZero) {
    using testsupport::Output;
    struct Case {
        std::vector<std::string> words;
        Output output;
    };
    const Case cases[] = {
        {{"/E"}, Output::ClosedPipeForOutput},
        {{"/Q"}, Output::ClosedPipeForError},
        {{"/D:null", "/nonexistent/missing.wav"}, Output::ClosedPipeForError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        Applet applet(c.words, "", "applet-closed-pipe", c.output);
        EXPECT_EQ(applet.WaitExit(5s), 0);
    }
}

}  // namespace
