// The built quindle64 as a user runs it, on the test bed's display and sound server: what the
// sink hears (recorded from its monitor), when the program ends, where the status window goes
// (Xvfb without a window manager, and with openbox), what it writes on the terminal, and what
// it does when the sound server dies or stops while it plays.
#include <gtest/gtest.h>

#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/AppletProcess.h"
#include "support/Noise.h"
#include "support/PulseRecording.h"
#include "support/SoundServer.h"
#include "support/WaveFile.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::FindAudio;
using testsupport::kEndAllowance;
using testsupport::Recorder;

namespace {

constexpr uint32_t kRate = 48000;
constexpr const char* kTitle = "Quindle64.exe Version 1.14";
// A source that plays until the window goes, on the device without hardware.
constexpr const char* kEndlessTone = "~F440";
constexpr auto kSlack = testsupport::kSanitized ? 3s : 1s;  // a slower start and end

// A wave file of `seconds` of noise (16-bit stereo, 48 kHz); its audio in `audio`.
std::string NoiseWave(const testsupport::TempDir& dir, const std::string& name, double seconds,
                      uint32_t seed, std::vector<uint8_t>* audio = nullptr) {
    const std::vector<uint8_t> noise =
        testsupport::NoiseBytes(static_cast<size_t>(seconds * kRate) * 4, seed);
    if (audio != nullptr) {
        *audio = noise;
    }
    return testsupport::WriteWaveFile(dir.File(name), noise, "PCM16", 2, kRate);
}

class AppletOnTestBed : public testsupport::ScreenTest {
  protected:
    testsupport::TempDir dir_;
};

// The whole file, or all but the first /P bytes, heard bit for bit; the program ends right
// after the audible end, and never changed the file nor opened it for writing. Looping with a
// day's pause, the first pass is heard once and SIGTERM ends the pause at once.
TEST_F(AppletOnTestBed, PlaysTheFileFromThePunchInAndEndsAtTheAudibleEnd) {
    std::vector<uint8_t> audio;
    const std::string path = NoiseWave(dir_, "whole.wav", 1.5, 1, &audio);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    inotify_add_watch(watch, path.c_str(),
                      IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVE_SELF | IN_DELETE_SELF);
    const std::vector<uint8_t> last64(audio.end() - 64, audio.end());
    for (const std::vector<std::string>& words : {std::vector<std::string>{"/D:test sink", path},
                                                  {"/P:4000", "/H", "/D:Test", path},
                                                  {"/L", "/I:86400000", path}}) {
        SCOPED_TRACE(words[0]);
        const size_t skip = words[0] == "/P:4000" ? 4000 : 0;
        Recorder recorder;
        Applet applet(words, displayName_, "applet-whole");
        auto asked = Recorder::Clock::time_point{};
        if (words[0] == "/L") {
            for (int i = 0; i < 500 && FindAudio(recorder.Bytes(), last64) == std::string::npos;
                 ++i) {
                std::this_thread::sleep_for(10ms);
            }
            std::this_thread::sleep_for(600ms);  // the first pass has played; the pause began
            asked = Recorder::Clock::now();
            applet.Signal(SIGTERM);
        }
        ASSERT_EQ(applet.WaitExit(5s), 0) << applet.Err();
        const auto exited = Recorder::Clock::now();
        std::this_thread::sleep_for(300ms);
        const std::vector<uint8_t> heard = recorder.Stop();
        EXPECT_LT(exited - (words[0] == "/L" ? asked : recorder.LastSound()), kEndAllowance)
            << "lingered after the end";
        const std::vector<uint8_t> rest(audio.begin() + static_cast<long>(skip), audio.end());
        const size_t at = FindAudio(heard, rest);
        ASSERT_NE(at, std::string::npos);
        ASSERT_GE(heard.size(), at + rest.size()) << "the end was cut";
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), heard.begin() + static_cast<long>(at)));
        // Nothing before the punch-in, not even one frame; no second pass without the pause.
        EXPECT_EQ(FindAudio(heard, {audio.begin() + (skip == 0 ? 0 : 3996), audio.end()}),
                  skip == 0 ? at : std::string::npos);
        EXPECT_EQ(FindAudio({heard.begin() + static_cast<long>(at) + 4, heard.end()}, audio),
                  std::string::npos);
    }
    char event[4096];
    EXPECT_LT(read(watch, event, sizeof event), 0) << "opened for writing or changed";
    close(watch);
}

// The outer frame is placed: the first at the corner, each next one 25 pixels right of and
// below the topmost running instance's frame; the client area is 240 x 80 whatever the frame.
// Without a window manager the frame is the client area itself.
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
            const Geometry frame = GeometryOf(windows.back(), true);
            const Geometry client = GeometryOf(windows.back());
            EXPECT_EQ(frame.x, 25 * i) << "instance " << i;
            EXPECT_EQ(frame.y, 25 * i) << "instance " << i;
            EXPECT_EQ(client.width, 240);
            EXPECT_EQ(client.height, 80);
        }
    }
}

// SIGINT and SIGTERM end the run while a box waits for OK, and the close box (as a window
// manager sends it) while a file plays: at once, with 0 and nothing on the terminal.
TEST_F(AppletOnTestBed, StopSignalsAndTheCloseBoxEndTheRunAtOnce) {
    struct Case {
        std::vector<std::string> words;
        const char* title;
        int signal;  // 0: the close box
    };
    const Case cases[] = {
        {{NoiseWave(dir_, "long.wav", 10.0, 4)}, kTitle, 0},
        {{"/X"}, kTitle, SIGTERM},                                 // the usage box
        {{"/E"}, "Dialog", SIGINT},                                // the device list
        {{"/D:no such device", kEndlessTone}, "Dialog", SIGTERM},  // nothing matched
        {{"/H", "/D:null", "/nonexistent/missing.wav"}, "Starting Error", SIGINT},  // hidden too
    };
    const std::string reason = "quindle64: /nonexistent/missing.wav: No such file or directory\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        const std::vector<Window> before = Windows(c.title);
        Applet applet(c.words, displayName_, "stop-signal-box");
        const Window window = WaitForNewWindow(c.title, before);
        ASSERT_NE(window, 0u) << applet.Err();
        const auto signalled = std::chrono::steady_clock::now();
        applet.Signal(c.signal);
        XEvent event{};  // what a window manager sends when the close box is clicked
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", 0));
        if (c.signal == 0) {
            XSendEvent(display_, window, False, NoEventMask, &event);
            XFlush(display_);
        }
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, kEndAllowance);
        EXPECT_EQ(applet.Err(), std::string(c.title) == "Starting Error" ? reason : "");
    }
}

// The shell has split and unquoted the words already: a '"', blanks, tabs and UTF-8 are part
// of a name, a leading '-' makes an option, and an empty word is a name of its own. Without a
// display, or with one that cannot be opened
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
    const std::string usage =
        "Quindle64.exe Version 1.14: Missing required parameter: <filename>.\n";
    const std::string failed = "Starting Error: TWavFile - Could not open file\nquindle64: ";
    const char* screen = std::getenv("DISPLAY") ?: ":250";  // --help and --version show no box
    struct Case {
        std::vector<std::string> words;
        std::string errorStart;   // standard error begins with this ("" : stays empty)
        std::string outputStart;  // standard output begins with this
        const char* display;
        int closedPipe = 0;  // the output that goes into a closed pipe
    };
    const Case cases[] = {
        {{"/H", "/D:null", quoted}, "", "", ""},
        {{"/D:null", spaced}, "", "", ""},
        {{"-d:null", utf8}, "", "", ""},
        // The quotes belong to the device text, which names no device.
        {{"/D:\"Null Output\"", quoted}, "", "Device list:\n", ""},
        {{"/X", "/E", "a.wav", "b.wav"}, "", "Device list:\n0 - \"", ":250"},  // E alone counts
        {{"-q\"x.wav"}, usage + "Unknown option /Q\n", "", ""},
        {{"/Q"}, usage, "", ":250"},
        {{"", quoted}, usage + "\n", "", ""},
        {{"/D:null", ""}, failed + ": No such file or directory\n", "", ""},
        {{"/D:null", "."}, failed + ".: Is a directory\n", "", ""},
        {{"/D:null", "~C3"}, failed + "~C3: invalid tone setting\n", "", ""},
        {{"/X", "--help", "--version"}, "", "usage:\tQuindle64.exe [<options>]", screen},
        {{"-h", "--version"}, "", "quindle64 1.14\n", screen},
        {{"/E"}, "", "", "", 1},
        {{"/Q"}, "", "", "", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        Applet applet(c.words, c.display, "applet-words", c.closedPipe);
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_EQ(applet.Err().substr(0, c.errorStart.size()), c.errorStart) << applet.Err();
        if (c.errorStart.empty()) {
            EXPECT_EQ(applet.Err(), "");
        }
        EXPECT_EQ(applet.Out().substr(0, c.outputStart.size()), c.outputStart) << applet.Out();
    }
}

// No sound server, no card: the default device cannot be reached, and the run says so at once.
TEST(AppletWithoutSound, TheDefaultDeviceCannotBeReached) {
    testsupport::TempDir dir;
    testsupport::ServerOverride noServer("unix:" + dir.File("no-server"));
    setenv("WAVEOUT_ALSA_DEVICES", "", 1);  // no card either
    Applet applet({NoiseWave(dir, "quiet.wav", 3.0, 7)}, "", "no-sound");
    unsetenv("WAVEOUT_ALSA_DEVICES");
    EXPECT_EQ(applet.WaitExit(testsupport::kSanitized ? 5s : 2s), 0) << "played into nothing";
    EXPECT_EQ(applet.Err(),
              "Starting Error: The sound device cannot be reached.\n"
              "quindle64: default device: The sound device cannot be reached\n");
}

// In a 40-column terminal the status line never passes its edge (a long UTF-8 path gives way)
// and the run ends on the last position played, with a line break.
TEST(AppletOnTerminal, StatusLineFitsFortyColumnsAndEndsOnThePosition) {
    testsupport::TempDir dir;
    std::filesystem::create_directories(dir.File(std::string(150, 'x') + "/\u00e9t\u00e9"));
    const std::string path = NoiseWave(dir, std::string(150, 'x') + "/\u00e9t\u00e9/a.wav", 1.0, 8);
    winsize size{24, 40, 0, 0};
    const std::string binary = testsupport::BinaryDir() + "/apps/play/quindle64";
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
    if (child == 0) {
        execl("/usr/bin/env", "env", "-u", "DISPLAY", binary.c_str(), "/D:null", path.c_str(),
              nullptr);
        _exit(127);
    }
    ASSERT_GT(child, 0);
    std::string shown;
    char chunk[4096];
    for (ssize_t got; (got = read(terminal, chunk, sizeof chunk)) > 0;) {  // EIO at the end
        shown.append(chunk, static_cast<size_t>(got));
    }
    close(terminal);
    waitpid(child, nullptr, 0);
    long column = 0, widest = 0;  // in UTF-8 characters, "\033[K" (clear to the end) too
    for (const char c : shown) {
        column = c == '\r' || c == '\n' ? 0 : column + ((c & 0xC0) != 0x80);
        widest = std::max(widest, column);
    }
    EXPECT_LE(widest, 40 + 3) << shown;
    ASSERT_TRUE(shown.ends_with("\033[K\r\n")) << shown;  // the terminal adds the "\r"
    const std::string end = shown.substr(shown.rfind('\r', shown.size() - 3) + 1);
    EXPECT_NE(end.find(" | 00:00:0"), std::string::npos) << end;
    EXPECT_EQ(end.find("00:00:00:00"), std::string::npos) << "not the position played: " << end;
}

// The sound server killed, or stopped (SIGSTOP) for a while, in the middle of a run, once and
// looping. A stop shorter than the three seconds a server may stay silent loses nothing and
// the run ends at the audible end; a longer one, like a kill, ends the pass as failed: once,
// the program ends in bounded time (while the server is still stopped); looping, it keeps
// trying and plays again once the server is back, and still ends when asked.
TEST(Fault, SoundServerKilledOrStoppedMidPlayback) {
    testsupport::TempDir dir;
    std::vector<uint8_t> audio;
    const std::string path = NoiseWave(dir, "long.wav", 3.0, 5, &audio);
    // PipeWire garbles the graph cycle a stop hits (pacat's too): a few pieces may be missing.
    // PulseAudio's null sink runs a stream dry after a stop longer than what it holds (a
    // quarter to half second) and drops what follows: its brief stop is shorter.
    const char* kind = std::getenv("QUINDLE_TESTBED_SERVER");
    const bool pipewire = kind != nullptr && std::string(kind) == "pipewire";
    struct Case {
        const char* what;
        std::chrono::milliseconds stopFor;  // the stop signal's length; 0: a kill
        bool looping;
    };
    const Case cases[] = {
        {"killed once", 0ms, false},
        {"stopped briefly once", pipewire ? 2000ms : 150ms, false},
        {"stopped 4 s once", 4000ms, false},
        {"stopped 4 s looping", 4000ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::PrivateSoundServer server;
        ASSERT_TRUE(server.Start()) << "could not start a private sound server";
        std::unique_ptr<Recorder> recorder;
        std::unique_ptr<Applet> applet;
        {
            testsupport::ServerOverride use(server.Address());
            recorder = std::make_unique<Recorder>();
            applet =
                std::make_unique<Applet>(c.looping ? std::vector<std::string>{"/L", "/I:0", path}
                                                   : std::vector<std::string>{path},
                                         "", std::string("fault-server-") + c.what);
        }
        std::this_thread::sleep_for(1000ms + kSlack / 2);
        ASSERT_TRUE(applet->Running()) << applet->Err();
        const auto hit = std::chrono::steady_clock::now();
        const bool fails = c.stopFor == 0ms || c.stopFor >= 3s;
        if (c.stopFor == 0ms) {
            server.Kill();
        } else {
            server.Freeze();
        }
        if (!c.looping && fails) {
            // The failed sink ends the run, while the server is still stopped.
            EXPECT_EQ(applet->WaitExit(4s + kSlack), 0) << "hung";
        }
        if (c.stopFor != 0ms) {
            std::this_thread::sleep_until(hit + c.stopFor);
            server.Thaw();
        }
        if (!c.looping && !fails) {
            // Nothing lost: every 50 ms piece is heard, and the program ends at the audible end.
            EXPECT_EQ(applet->WaitExit(3s + kSlack), 0) << "hung";
            const auto ended = std::chrono::steady_clock::now();
            std::this_thread::sleep_for(300ms);
            const std::vector<uint8_t> heard = recorder->Stop();
            int missing = 0;
            for (auto piece = audio.begin(); piece < audio.end(); piece += kRate / 20 * 4) {
                missing += std::search(heard.begin(), heard.end(), piece, piece + kRate / 20 * 4) ==
                           heard.end();
            }
            EXPECT_LE(missing, pipewire ? 4 : 0);
            EXPECT_LT(recorder->LastSound() - ended, 100ms) << "ended before the audio did";
        } else if (c.looping) {
            // It keeps going, quietly; a pass plays on the server once it is back.
            std::this_thread::sleep_for(500ms);
            ASSERT_TRUE(applet->Running()) << applet->Err();
            bool playsAgain = false;
            const std::string streams =
                "test -n \"$(PULSE_SERVER=" + server.Address() + " pactl list short sink-inputs)\"";
            for (int i = 0; i < 80 && !(playsAgain = std::system(streams.c_str()) == 0); ++i) {
                std::this_thread::sleep_for(100ms);
            }
            EXPECT_TRUE(playsAgain) << "no pass played after the server came back";
            applet->Signal(SIGTERM);
            EXPECT_EQ(applet->WaitExit(1s + kSlack), 0) << "hung";
        }
    }
}

}  // namespace
