// The built quindle64 as a user runs it, on the test bed's display and sound server: what the
// sink hears (recorded from its monitor), when the program ends, and what it shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/FileWatch.h"
#include "support/PulseRecording.h"
#include "support/ScreenTest.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"
#include "wavfile/WavFileBase.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::TimedRecorder;
using waveouttest::NoiseBytes;

namespace {

constexpr uint32_t kRate = 48000;

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

    std::string Wave(const std::string& name, const std::vector<uint8_t>& audio) {
        return testsupport::WriteWaveFile(dir_.File(name), audio, "PCM16", 2, kRate);
    }

    // Quiet enough noise (about -18 dBFS) that a recording is bit exact and easy to find.
    static std::vector<uint8_t> Noise(double seconds, uint32_t seed) {
        std::vector<uint8_t> audio = NoiseBytes(static_cast<size_t>(seconds * kRate) * 4, seed);
        for (size_t i = 1; i < audio.size(); i += 2) {
            audio[i] = static_cast<uint8_t>(static_cast<int8_t>(audio[i]) / 8);
        }
        return audio;
    }

    testsupport::TempDir dir_;
};

// The whole file, or all but the first /P bytes, heard bit for bit; the program ends right
// after the audible end, and never opened the file for writing.
TEST_F(AppletOnTestBed, PlaysTheFileFromThePunchInAndEndsAtTheAudibleEnd) {
    const std::vector<uint8_t> audio = Noise(1.5, 1);
    const std::string path = Wave("whole.wav", audio);
    const testsupport::FileSnapshot before = testsupport::FileSnapshot::Of(path);
    testsupport::FileWatch watch(path);
    for (size_t skip : {0, 4000}) {
        TimedRecorder recorder;
        Applet applet(skip == 0 ? std::vector<std::string>{"/D:test sink", path}
                                : std::vector<std::string>{"/P:4000", "/H", "/D:Test", path},
                      displayName_, "applet-whole");
        if (skip == 0) {
            std::this_thread::sleep_for(600ms);
            Screenshot("applet-running.png");
        }
        ASSERT_EQ(applet.WaitExit(5s), 0) << applet.Err();
        const auto exited = TimedRecorder::Clock::now();
        std::this_thread::sleep_for(300ms);
        recorder.Stop();
        const auto lastSound = recorder.LastSound();
        ASSERT_NE(lastSound, TimedRecorder::Clock::time_point{}) << "nothing was heard";
        EXPECT_LT(exited - lastSound, kEndAllowance) << "the program lingered after the end";
        const std::vector<uint8_t> rest(audio.begin() + static_cast<long>(skip), audio.end());
        const std::vector<uint8_t> heard = recorder.Bytes();
        const size_t at = testsupport::FindAudio(heard, rest);
        ASSERT_NE(at, std::string::npos) << skip;
        ASSERT_GE(heard.size(), at + rest.size()) << "the end was cut";
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), heard.begin() + static_cast<long>(at)));
        if (skip != 0) {
            EXPECT_EQ(testsupport::FindAudio(heard, audio), std::string::npos);
        }
    }
    watch.Poll(50);
    EXPECT_GE(watch.Opens(), 1u);
    EXPECT_EQ(watch.Changes(), 0u) << "opened for writing or changed";
    EXPECT_TRUE(testsupport::FileSnapshot::Of(path) == before);
}

TEST_F(AppletOnTestBed, ClosingTheWindowMidPlaybackEndsAtOnce) {
    const std::string path = Wave("long.wav", Noise(10.0, 4));
    const std::vector<Window> shown = Windows("QUINDLE", nullptr, true);
    const std::set<Window> known(shown.begin(), shown.end());
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
    const std::string path = Wave("blip.wav", Noise(0.2, 5));
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

// A hidden run puts nothing on the display but the unmapped stand-in by which later instances
// find it: the toolkit, with its own windows, is only brought up for something to show.
TEST_F(AppletOnTestBed, AHiddenRunOwnsNoWindowButItsStandIn) {
    const std::string path = Wave("hidden.wav", Noise(1.5, 6));
    const std::vector<Window> before = Windows("QUINDLE", nullptr, false);
    Applet applet({"/H", "/D:Test", path}, displayName_, "applet-hidden");
    const Window standIn =
        WaitForNewWindow("QUINDLE", nullptr, {before.begin(), before.end()}, false);
    ASSERT_NE(standIn, 0u);
    // The server hands each client its own range of ids (the low 21 bits are the client's).
    const auto client = [](Window w) { return w & ~Window{0x1FFFFF}; };
    const std::vector<Window> all = ChildrenOf(DefaultRootWindow(display_));
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [&](Window w) { return client(w) == client(standIn); }),
              1);
    EXPECT_EQ(applet.WaitExit(5s), 0) << applet.Err();
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
    const std::string spaced = wave("p \"x\ty\".wav");
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
    const std::pair<std::vector<std::string>, Output> cases[] = {
        {{"/E"}, Output::ClosedPipeForOutput},
        {{"/Q"}, Output::ClosedPipeForError},
        {{"/D:null", "/nonexistent/missing.wav"}, Output::ClosedPipeForError},
    };
    for (const auto& [words, output] : cases) {
        Applet applet(words, "", "applet-closed-pipe", output);
        EXPECT_EQ(applet.WaitExit(5s), 0) << words.back();
    }
}

}  // namespace
