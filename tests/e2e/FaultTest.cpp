// The applet when things go wrong around it: the sound server dies mid-playback, the file is
// cut short while it plays, the file cannot be read, the device refuses the format, and the
// window is closed at random moments. No hang, no crash, exit code 0, the device released.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <platform/resources.h>
#include "apps/play/ShellState.h"
#include "apps/play/Startup.h"
#include "platform/WaveOutHarness.h"
#include "resources/Resources.h"
#include "support/AppletProcess.h"
#include "support/FileWatch.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"
#include "wavfile/WavFileBase.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::FileSnapshot;
using testsupport::PutLE16;
using testsupport::PutLE32;
using testsupport::PutText;
using waveouttest::Shell;

namespace {

constexpr uint32_t kRate = 48000;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kSlack = 3s;  // sanitizers start, run and end the program slower
#else
constexpr auto kSlack = 1s;
#endif

#if defined(__SANITIZE_ADDRESS__)
constexpr int kCloses = 100;
#elif defined(__SANITIZE_THREAD__)
constexpr int kCloses = 20;
#else
constexpr int kCloses = 40;
#endif

bool HaveSoundServer() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

std::string Wave(const std::string& path, double seconds, uint32_t seed = 1) {
    return testsupport::WriteWaveFile(
        path, waveouttest::NoiseBytes(static_cast<size_t>(seconds * kRate) * 4, seed), "PCM16", 2,
        kRate);
}

// A RIFF WAVE file written byte by byte: any format record, `dataBytes` of zero audio.
std::string HandMadeWave(const std::string& path, uint16_t tag, uint16_t channels, uint16_t bits,
                         uint32_t dataBytes) {
    const uint16_t align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
    std::vector<uint8_t> bytes;
    PutText(bytes, "RIFF");
    PutLE32(bytes, 4 + 8 + 18 + 8 + dataBytes);
    PutText(bytes, "WAVEfmt ");
    PutLE32(bytes, 18);
    PutLE16(bytes, tag);
    PutLE16(bytes, channels);
    PutLE32(bytes, kRate);
    PutLE32(bytes, kRate * (align != 0 ? align : 1));
    PutLE16(bytes, align != 0 ? align : 1);
    PutLE16(bytes, bits);
    PutLE16(bytes, 0);
    PutText(bytes, "data");
    PutLE32(bytes, dataBytes);
    bytes.resize(bytes.size() + dataBytes, 0);
    testsupport::WriteBytes(path, bytes);
    return path;
}

// No sanitizer report and no crash text in what the program wrote to its error output.
void ExpectCleanEnd(const Applet& applet, const std::string& what) {
    const std::string err = applet.Err();
    EXPECT_EQ(err.find("ERROR: "), std::string::npos) << what << ": " << err;
    EXPECT_EQ(err.find("runtime error"), std::string::npos) << what << ": " << err;
    EXPECT_EQ(err.find("WARNING: ThreadSanitizer"), std::string::npos) << what << ": " << err;
}

// A second sound server of our own, so that killing it leaves the test bed's one alone.
class PrivateSoundServer {
  public:
    bool Start() {
        const std::string run = dir_.File("run"), home = dir_.File("home");
        // Its own runtime directory, not the test bed's that the environment names.
        const std::string env = "env -u PULSE_SERVER PULSE_RUNTIME_PATH=" + run +
                                "/pulse XDG_RUNTIME_DIR=" + run + " HOME=" + home + " ";
        const std::string command =
            "mkdir -p " + run + " " + home + " && chmod 700 " + run + " && " + env +
            "pulseaudio --daemonize=yes --exit-idle-time=-1 -n --use-pid-file=yes"
            " --load='module-native-protocol-unix auth-anonymous=1'"
            " --load='module-null-sink sink_name=faultsink rate=48000 format=s16le channels=2"
            " norewinds=1' >" +
            dir_.File("pulse.log") + " 2>&1";
        if (Shell(command) != 0) {
            return false;
        }
        server_ = "unix:" + run + "/pulse/native";
        for (int i = 0; i < 100; ++i) {
            if (Shell("PULSE_SERVER=" + server_ + " pactl info >/dev/null 2>&1") == 0) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    ~PrivateSoundServer() { Kill(); }

    // Ends the server at once, as a crash would.
    void Kill() {
        std::ifstream pidFile(dir_.File("run/pulse/pid"));
        long pid = 0;
        if (pidFile >> pid && pid > 0) {
            kill(static_cast<pid_t>(pid), SIGKILL);  // its socket closes with it
        }
        // Nobody may reap the daemon here: its pid file would keep a new one from starting.
        std::remove(dir_.File("run/pulse/pid").c_str());
    }
    const std::string& Address() const { return server_; }

  private:
    testsupport::TempDir dir_;
    std::string server_;
};

// Runs the children of this scope against another sound server.
class ServerOverride {
  public:
    explicit ServerOverride(const std::string& address) {
        const char* old = std::getenv("PULSE_SERVER");
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~ServerOverride() {
        if (had_) {
            setenv("PULSE_SERVER", old_.c_str(), 1);
        } else {
            unsetenv("PULSE_SERVER");
        }
    }

  private:
    bool had_ = false;
    std::string old_;
};

TEST(Fault, SoundServerKilledMidPlaybackEndsTheRunInBoundedTime) {
    if (!waveouttest::HaveTool("pulseaudio")) {
        GTEST_SKIP() << "no pulseaudio";
    }
    testsupport::TempDir dir;
    const std::string path = Wave(dir.File("long.wav"), 6.0);
    const FileSnapshot before = FileSnapshot::Of(path);
    struct Case {
        const char* what;
        std::vector<std::string> options;
        bool endsByItself;
    };
    const Case cases[] = {
        {"once", {}, true},
        {"looping", {"/L", "/I:0"}, false},
    };
    for (const Case& c : cases) {
        PrivateSoundServer server;
        ASSERT_TRUE(server.Start()) << "could not start a private sound server";
        std::unique_ptr<Applet> applet;
        {
            ServerOverride use(server.Address());
            std::vector<std::string> arguments = c.options;
            arguments.push_back(path);
            applet = std::make_unique<Applet>(arguments, "", std::string("fault-server-") + c.what);
        }
        std::this_thread::sleep_for(800ms + kSlack / 2);
        ASSERT_TRUE(applet->Running()) << c.what << ": " << applet->Err();
        auto asked = std::chrono::steady_clock::now();  // the kill, or the stop signal
        server.Kill();
        if (c.endsByItself) {
            EXPECT_EQ(applet->WaitExit(2s + kSlack), 0) << c.what << ": the program hung";
        } else {
            // Looping keeps trying to start again, silently; once the server is back, a pass
            // plays there again, and the run still ends when asked.
            std::this_thread::sleep_for(500ms);
            ASSERT_TRUE(applet->Running()) << c.what << ": " << applet->Err();
            ASSERT_TRUE(server.Start()) << "could not start the sound server again";
            bool playsAgain = false;
            for (int i = 0; i < 40 && !playsAgain; ++i) {
                std::this_thread::sleep_for(100ms);
                playsAgain = Shell("test -n \"$(PULSE_SERVER=" + server.Address() +
                                   " pactl list short sink-inputs)\"") == 0;
            }
            EXPECT_TRUE(playsAgain) << "no pass played after the server came back";
            asked = std::chrono::steady_clock::now();
            applet->Signal(SIGTERM);
            EXPECT_EQ(applet->WaitExit(1s + kSlack), 0) << c.what << ": the program hung";
        }
        std::printf(
            "%s: ended %.0f ms after %s\n", c.what,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked)
                .count(),
            c.endsByItself ? "the server was killed" : "the stop signal");
        ExpectCleanEnd(*applet, c.what);
    }
    EXPECT_TRUE(FileSnapshot::Of(path) == before);
}

TEST(Fault, FileTruncatedWhilePlayingEndsCleanly) {
    testsupport::TempDir dir;
    const bool server = HaveSoundServer();
    const bool lame = waveouttest::HaveTool("lame");
    constexpr off_t kWaveBytes = 44 + 3 * kRate * 4;
    struct Case {
        const char* what;
        const char* device;
        bool mp3;
        off_t keep;  // bytes left of the file; negative: that share of it in per mille
    };
    // The engine reads about 1.4 s ahead: cuts at 1.5 s are met by a short read.
    const Case cases[] = {
        {"wave cut to half", "/D:null", false, 44 + (kWaveBytes - 44) / 2},
        {"wave cut inside a frame", "/D:null", false, 44 + (kWaveBytes - 44) / 2 + 3},
        {"wave cut inside a frame", "/D:Test Sink", false, 44 + (kWaveBytes - 44) / 2 + 3},
        {"wave cut to its header", "/D:null", false, 44},
        {"wave emptied", "/D:Test Sink", false, 0},
        {"mp3 cut inside a frame", "/D:null", true, -401},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.what) + " on " + c.device;
        if ((c.device[3] == 'T' && !server) || (c.mp3 && !lame)) {
            std::printf("%s: skipped\n", what.c_str());
            continue;
        }
        std::string path = Wave(dir.File("cut.wav"), c.mp3 ? 1.5 : 3.0);
        if (c.mp3) {
            const std::string mp3 = dir.File("cut.mp3");
            ASSERT_EQ(Shell("lame --quiet -b 128 " + path + " " + mp3), 0);
            path = mp3;
        }
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        const off_t keep = c.keep >= 0 ? c.keep : status.st_size * -c.keep / 1000;
        Applet applet({c.device, path}, "", "fault-truncated");
        std::this_thread::sleep_for(300ms + kSlack / 3);
        ASSERT_TRUE(applet.Running()) << what << ": " << applet.Err();
        ASSERT_EQ(truncate(path.c_str(), keep), 0);
        const auto cut = std::chrono::steady_clock::now();
        EXPECT_EQ(applet.WaitExit(3s + kSlack), 0) << what << ": did not end";
        std::printf(
            "%s: ended %.0f ms after the cut\n", what.c_str(),
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - cut)
                .count());
        ExpectCleanEnd(applet, what);
    }
}

TEST(Fault, UnreadableFilesGiveStartingErrorAndEnd) {
    testsupport::TempDir dir;
    const std::string good = Wave(dir.File("good.wav"), 0.2);
    const std::vector<uint8_t> goodBytes = testsupport::ReadBytes(good);
    mkdir(dir.File("folder.wav").c_str(), 0755);
    mkdir(dir.File("folder.mp3").c_str(), 0755);
    testsupport::WriteBytes(dir.File("cut.wav"),
                            std::vector<uint8_t>(goodBytes.begin(), goodBytes.begin() + 20));
    testsupport::WriteBytes(dir.File("empty.wav"), {});
    testsupport::WriteBytes(dir.File("locked.wav"), goodBytes);
    chmod(dir.File("locked.wav").c_str(), 0);
    struct Case {
        const char* name;
        bool skipAsRoot;  // root reads files whatever their mode
    };
    const Case cases[] = {
        {"folder.wav", false}, {"folder.mp3", false}, {"cut.wav", false},
        {"empty.wav", false},  {"locked.wav", true},
    };
    for (const Case& c : cases) {
        if (c.skipAsRoot && geteuid() == 0) {
            std::printf("%s: skipped, running as root\n", c.name);
            continue;
        }
        Applet applet({"/D:null", dir.File(c.name)}, "", "fault-unreadable");
        EXPECT_EQ(applet.WaitExit(3s + kSlack), 0) << c.name;
        const std::string err = applet.Err();
        EXPECT_EQ(err.rfind("Starting Error: ", 0), 0u) << c.name << ": " << err;
        std::printf("%s: %s", c.name, err.c_str());
        ExpectCleanEnd(applet, c.name);
    }
}

TEST(Fault, FormatTheDeviceRefusesGivesTheServiceText) {
    testsupport::TempDir dir;
    const std::string ac2 = HandMadeWave(dir.File("ac2.wav"), 48, 2, 16, 4800);
    const std::string wide = HandMadeWave(dir.File("wide.wav"), 1, 200, 16, 200 * 2 * 100);
    for (const char* device : {"/D:null", "/D:Test Sink"}) {
        if (device[3] == 'T' && !HaveSoundServer()) {
            continue;
        }
        for (const std::string& path : {ac2, wide}) {
            Applet applet({device, path}, "", "fault-format");
            EXPECT_EQ(applet.WaitExit(3s + kSlack), 0) << device << " " << path;
            EXPECT_EQ(applet.Err().rfind("Starting Error: ", 0), 0u)
                << device << " " << path << ": " << applet.Err();
            std::printf("%s %s: %s", device, path.c_str(), applet.Err().c_str());
            ExpectCleanEnd(applet, path);
        }
    }
}

// The whole applet in this process, closed at a random moment of a looping run: while a pass
// plays, between passes, right after the start. Every run must end, release the player and
// leave no stream on the sound server; leaks show in the sanitizer's check at exit.
TEST(Fault, WindowClosedAtRandomMomentsReleasesEverything) {
    const bool server = HaveSoundServer();
    testsupport::TempDir dir;
    const std::string path = Wave(dir.File("loop.wav"), 0.15);
    const FileSnapshot before = FileSnapshot::Of(path);
    static HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> delayMs(0, 250);
    int left = 0;
    for (int run = 0; run < kCloses; ++run) {
        const std::string device = server && run % 4 != 3 ? "/D:Test" : "/D:null";
        std::string text = device + " /L /I:0 " + path;
        shell = ShellState();
        const auto delay = std::chrono::milliseconds(delayMs(random));
        std::atomic<bool> posted{false};
        std::thread closer([&] {
            std::this_thread::sleep_for(delay);
            const auto end = std::chrono::steady_clock::now() + 10s;
            while (std::chrono::steady_clock::now() < end) {
                HWND window = FindWindowA("QUINDLE", nullptr);
                if (window != nullptr && PostMessageA(window, WM_CLOSE, 0, 0)) {
                    posted = true;
                    return;
                }
                std::this_thread::sleep_for(1ms);
            }
        });
        EXPECT_EQ(QuindleMain(instance, std::make_unique<CommandLine>(text.data()), SW_HIDE), 0)
            << "run " << run;
        closer.join();
        EXPECT_TRUE(posted) << "run " << run << ": no window to close";
        EXPECT_EQ(shell.player, nullptr) << "run " << run << ": the player was kept";
        if (server && Shell("test -z \"$(pactl list short sink-inputs)\"") != 0) {
            ++left;
        }
    }
    EXPECT_EQ(left, 0) << "runs that left a stream on the server";
    EXPECT_TRUE(FileSnapshot::Of(path) == before);
}

}  // namespace
