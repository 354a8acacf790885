// The built quindle64 as a user runs it, on the test bed's display and sound server: what the
// sink hears (recorded from its monitor), when the program ends, where the status window goes
// (Xvfb without a window manager, and with openbox) and what it writes on the terminal.
#include <gtest/gtest.h>

#include <signal.h>

#include <memory>
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

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::Output;
using testsupport::Recorder;
using waveouttest::NoiseBytes;

namespace {

constexpr uint32_t kRate = 48000;
constexpr const char* kTitle = "Quindle64.exe Version 1.14";
// A source that plays until the window goes, on the device without hardware.
constexpr const char* kEndlessTone = "~F440";

using testsupport::kEndAllowance;

class AppletOnTestBed : public testsupport::ScreenTest {
  protected:
    // The server has no stream of ours left: the device was released.
    static bool NoStreamLeft() {
        return waveouttest::Shell("test -z \"$(pactl list short sink-inputs)\"") == 0;
    }

    std::string Wave(const std::string& name, const std::vector<uint8_t>& audio) {
        return testsupport::WriteWaveFile(dir_.File(name), audio, "PCM16", 2, kRate);
    }

    static std::vector<uint8_t> Noise(double seconds, uint32_t seed) {
        return NoiseBytes(static_cast<size_t>(seconds * kRate) * 4, seed);
    }

    testsupport::TempDir dir_;
};

// The whole file, or all but the first /P bytes, heard bit for bit; the program ends right
// after the audible end, and never opened the file for writing.
TEST_F(AppletOnTestBed, PlaysTheFileFromThePunchInAndEndsAtTheAudibleEnd) {
    const std::vector<uint8_t> audio = Noise(1.5, 1);
    const std::string path = Wave("whole.wav", audio);
    testsupport::FileWatch watch(path);
    for (size_t skip : {0, 4000}) {
        Recorder recorder;
        Applet applet(skip == 0 ? std::vector<std::string>{"/D:test sink", path}
                                : std::vector<std::string>{"/P:4000", "/H", "/D:Test", path},
                      displayName_, "applet-whole");
        ASSERT_EQ(applet.WaitExit(5s), 0) << applet.Err();
        const auto exited = Recorder::Clock::now();
        std::this_thread::sleep_for(300ms);
        const std::vector<uint8_t> heard = recorder.Stop();
        const auto lastSound = recorder.LastSound();
        ASSERT_NE(lastSound, Recorder::Clock::time_point{}) << "nothing was heard";
        EXPECT_LT(exited - lastSound, kEndAllowance) << "the program lingered after the end";
        const std::vector<uint8_t> rest(audio.begin() + static_cast<long>(skip), audio.end());
        const size_t at = testsupport::FindAudio(heard, rest);
        ASSERT_NE(at, std::string::npos) << skip;
        ASSERT_GE(heard.size(), at + rest.size()) << "the end was cut";
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), heard.begin() + static_cast<long>(at)));
        if (skip != 0) {  // nothing before the punch-in, not even one frame
            EXPECT_EQ(testsupport::FindAudio(heard, {audio.begin() + 3996, audio.end()}),
                      std::string::npos);
        }
    }
    watch.Poll();
    EXPECT_GE(watch.Opens(), 1);
    EXPECT_EQ(watch.Changes(), 0) << "opened for writing or changed";
}

TEST_F(AppletOnTestBed, ClosingTheWindowMidPlaybackEndsAtOnce) {
    const std::string path = Wave("long.wav", Noise(10.0, 4));
    const std::vector<Window> shown = Windows(kTitle);
    Recorder recorder;
    Applet applet({path}, displayName_, "applet-close");
    const Window window = WaitForNewWindow(kTitle, shown);
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(500ms);
    const auto closed = Recorder::Clock::now();
    ClickCloseBox(window);
    EXPECT_EQ(applet.WaitExit(3s), 0);
    EXPECT_LT(Recorder::Clock::now() - closed, 500ms + kEndAllowance);
    std::this_thread::sleep_for(300ms);
    recorder.Stop();
    EXPECT_LT(recorder.LastSound() - closed, 250ms) << "sound went on after the close";
    EXPECT_TRUE(NoStreamLeft());
}

TEST_F(AppletOnTestBed, StopSignalEndsALoopPauseAtOnce) {
    const std::vector<uint8_t> blip = Noise(0.2, 5);
    Recorder recorder;
    Applet applet({"/L", "/I:86400000", Wave("blip.wav", blip)}, displayName_, "applet-pause");
    for (int i = 0; i < 500 && testsupport::FindAudio(recorder.Bytes(), blip) == std::string::npos;
         ++i) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(600ms);  // the first pass has played; a day's pause has begun
    const std::vector<uint8_t> heard = recorder.Bytes();
    const size_t first = testsupport::FindAudio(heard, blip);
    ASSERT_NE(first, std::string::npos) << "the first pass was not heard";
    EXPECT_EQ(
        testsupport::FindAudio({heard.begin() + static_cast<long>(first) + 4, heard.end()}, blip),
        std::string::npos)
        << "a second pass without the pause";
    const auto signalled = std::chrono::steady_clock::now();
    applet.Signal(SIGTERM);
    EXPECT_EQ(applet.WaitExit(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, kEndAllowance);
    EXPECT_TRUE(NoStreamLeft());
}

// The outer frame is placed: the first at the corner, each next one 25 pixels right of and
// below the topmost running instance's frame, back to the corner when that frame is within 25
// pixels of the right edge; the client area is 240 x 80 whatever the frame. Without a window
// manager the frame is the client area itself.
TEST_F(AppletOnTestBed, StatusWindowFramesCascadeFromTheCornerWithAClientOf240By80) {
    for (const char* desktop : {"DISPLAY", "QUINDLE_WM_DISPLAY"}) {  // plain, openbox
        SCOPED_TRACE(desktop);
        ASSERT_TRUE(UseDisplay(std::getenv(desktop))) << "run inside scripts/testbed.sh";
        ASSERT_TRUE(Windows(kTitle).empty()) << "another instance is running";
        const std::string tag = std::string("placement-") + desktop;
        std::vector<std::unique_ptr<Applet>> applets;
        std::vector<Window> windows;
        for (int i = 0; i < 3; ++i) {
            applets.push_back(std::make_unique<Applet>(
                std::vector<std::string>{"/D:null", kEndlessTone}, displayName_, tag));
            windows.push_back(WaitForNewWindow(kTitle, windows));
            ASSERT_NE(windows.back(), 0u) << applets.back()->Err();
            const Geometry frame = FrameGeometryOf(windows.back());
            const Geometry client = GeometryOf(windows.back());
            EXPECT_EQ(frame.x, 25 * i) << "instance " << i;
            EXPECT_EQ(frame.y, 25 * i) << "instance " << i;
            EXPECT_EQ(client.width, 240);
            EXPECT_EQ(client.height, 80);
        }
        applets.resize(1);  // the first one alone runs on

        // A neighbour whose frame is within 25 pixels of the right edge sends the next one to
        // the corner.
        const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
        const Window first = windows[0];
        const Geometry frame = FrameGeometryOf(first);
        const Geometry client = GeometryOf(first);  // moves place the client (static gravity)
        XMoveWindow(display_, first, screenWidth - frame.width - 10 + client.x - frame.x,
                    300 + client.y - frame.y);
        XSync(display_, False);
        std::this_thread::sleep_for(300ms);
        const Geometry moved = FrameGeometryOf(first);
        EXPECT_EQ(moved.x + moved.width, screenWidth - 10);
        Applet next({"/D:null", kEndlessTone}, displayName_, tag + "-edge");
        const Window corner = WaitForNewWindow(kTitle, {first});
        ASSERT_NE(corner, 0u) << next.Err();
        EXPECT_EQ(FrameGeometryOf(corner).x, 0);
        EXPECT_EQ(FrameGeometryOf(corner).y, 0);
    }
}

// SIGINT and SIGTERM end the run while a box waits for OK, with 0 and nothing on the terminal.
TEST_F(AppletOnTestBed, StopSignalsEndTheRunWhileABoxIsUp) {
    struct Case {
        std::vector<std::string> words;
        const char* title;
        int signal;
    };
    const Case cases[] = {
        {{"/X"}, kTitle, SIGTERM},                                            // the usage box
        {{"/E"}, "Dialog", SIGINT},                                           // the device list
        {{"/D:no such device", kEndlessTone}, "Dialog", SIGTERM},             // nothing matched
        {{"/D:null", "/nonexistent/missing.wav"}, "Starting Error", SIGINT},  // a failed start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        const std::vector<Window> before = Windows(c.title);
        Applet applet(c.words, displayName_, "stop-signal-box");
        ASSERT_NE(WaitForNewWindow(c.title, before), 0u) << applet.Err();
        const auto signalled = std::chrono::steady_clock::now();
        applet.Signal(c.signal);
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, kEndAllowance);
        EXPECT_EQ(applet.Err(), "");
    }
}

// The shell has split and unquoted the words already: a '"', blanks, tabs and UTF-8 are part
// of a name, a leading '-' makes an option, and an empty word is a name of its own. A file that
// cannot be read is a Starting Error. Without a display, or with one that cannot be opened
// (":250"), every message goes to the terminal: the usage to standard error, the device list
// to standard output. Output into a pipe nobody reads any more (`quindle64 /E | true`) neither
// kills the program nor changes its exit code.
TEST(AppletWords, EachWordIsOneItemByteForByte) {
    testsupport::TempDir dir;
    const std::vector<uint8_t> silence(4800 * 4, 0);  // 0.1 s
    const auto wave = [&](const std::string& name) {
        return testsupport::WriteWaveFile(dir.File(name), silence);
    };
    const std::string quoted = wave("q\"x.wav");
    const std::string spaced = wave("p \"x\ty\".wav");
    const std::string utf8 = wave("\xC3\xA9t\xC3\xA9 \xE2\x99\xAA.wav");
    const std::vector<uint8_t> header = testsupport::ReadBytes(quoted);
    testsupport::WriteBytes(dir.File("cut.wav"), {header.begin(), header.begin() + 20});
    mkdir(dir.File("folder.wav").c_str(), 0755);
    const std::string usage =
        "Quindle64.exe Version 1.14: Missing required parameter: <filename>.\n";
    const std::string startingError = "Starting Error: ";
    struct Case {
        std::vector<std::string> words;
        std::string errorStart;   // standard error begins with this ("" : stays empty)
        std::string outputStart;  // standard output begins with this
        const char* display;
        Output output = Output::Files;
    };
    const Case cases[] = {
        {{"/H", "/D:null", quoted}, "", "", ""},
        {{"/D:null", spaced}, "", "", ""},
        {{"-d:null", utf8}, "", "", ""},
        // The quotes belong to the device text, which names no device.
        {{"/D:\"Null Output\"", quoted}, "", "Device list:\n", ""},
        {{"/E"}, "", "Device list:\n0 - \"", ":250"},
        {{"-q\"x.wav"}, usage + "Unknown option /Q\n", "", ""},
        {{"/Q"}, usage, "", ":250"},
        {{"", quoted}, usage + "\n", "", ""},
        {{"/D:null", ""}, startingError + "TWavFile - Could not open file", "", ""},
        {{"/D:null", dir.File("folder.wav")}, startingError, "", ""},
        {{"/D:Test Sink", dir.File("cut.wav")}, startingError, "", ""},
        {{"/E"}, "", "", "", Output::ClosedPipeForOutput},
        {{"/Q"}, "", "", "", Output::ClosedPipeForError},
        {{"/D:null", "/nonexistent/missing.wav"}, "", "", "", Output::ClosedPipeForError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        Applet applet(c.words, c.display, "applet-words", c.output);
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_EQ(applet.Err().substr(0, c.errorStart.size()), c.errorStart) << applet.Err();
        if (c.errorStart.empty()) {
            EXPECT_EQ(applet.Err(), "");
        }
        EXPECT_EQ(applet.Out().substr(0, c.outputStart.size()), c.outputStart) << applet.Out();
    }
}

}  // namespace
