// Long looping runs of the built quindle64: hundreds of passes of a very short file on Null
// Output and a few dozen on the test sink. Every pass must be complete, and the process's
// resident memory and open descriptors must stay flat from an early pass to the last.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/WaveOutHarness.h"
#include "support/AppletProcess.h"
#include "support/FileWatch.h"
#include "support/ProcessStats.h"
#include "support/PulseRecording.h"
#include "support/WaveFile.h"
#include "wavfile/WavFileBase.h"

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::FileSnapshot;
using testsupport::FileWatch;
using testsupport::ProcessStats;

namespace {

constexpr uint32_t kRate = 48000;

// Sanitized builds run the same passes several times slower (ThreadSanitizer most), so the
// counts shrink there; memory grows by the sanitizers' own bookkeeping, so the margin widens.
#if defined(__SANITIZE_THREAD__)
constexpr int kNullPasses = 150;
constexpr int kSinkPasses = 10;
constexpr int64_t kResidentMarginKb = 8192;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kNullPasses = 500;
constexpr int kSinkPasses = 12;
constexpr int64_t kResidentMarginKb = 4096;
#else
constexpr int kNullPasses = 500;
constexpr int kSinkPasses = 30;
constexpr int64_t kResidentMarginKb = 512;
#endif

std::string Wave(const std::string& path, const std::vector<uint8_t>& audio) {
    return testsupport::WriteWaveFile(path, audio, "PCM16", 2, kRate);
}

off_t SizeOf(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_size : -1;
}

class Soak : public ::testing::Test {
  protected:
    void SetUp() override {
        // Freed memory parked by AddressSanitizer would look like growth.
        const char* asan = std::getenv("ASAN_OPTIONS");
        savedAsan_ = asan != nullptr ? asan : "";
        hadAsan_ = asan != nullptr;
        setenv("ASAN_OPTIONS", (savedAsan_ + ":quarantine_size_mb=0").c_str(), 1);
    }
    void TearDown() override {
        if (hadAsan_) {
            setenv("ASAN_OPTIONS", savedAsan_.c_str(), 1);
        } else {
            unsetenv("ASAN_OPTIONS");
        }
    }

    testsupport::TempDir dir_;
    std::string savedAsan_;
    bool hadAsan_ = false;
};

void Report(const char* what, int passes, double seconds, const ProcessStats& early,
            const ProcessStats& late) {
    std::printf("%s: %d passes in %.1f s; VmRSS %lld -> %lld kB, descriptors %lld -> %lld\n", what,
                passes, seconds, static_cast<long long>(early.residentKb),
                static_cast<long long>(late.residentKb), static_cast<long long>(early.descriptors),
                static_cast<long long>(late.descriptors));
}

TEST_F(Soak, HundredsOfNullOutputPassesStayFlatAndComplete) {
    // 20 ms of audio per pass, no pause between passes.
    const std::vector<uint8_t> audio = waveouttest::NoiseBytes(kRate / 50 * 4, 7);
    const std::string path = Wave(dir_.File("short.wav"), audio);
    const FileSnapshot before = FileSnapshot::Of(path);
    FileWatch watch(path);
    ASSERT_TRUE(watch.Valid());

    // How often one pass opens the file.
    {
        Applet once({"/D:null", "/H", path}, "", "soak-null-once");
        ASSERT_EQ(once.WaitExit(10s), 0) << once.Err();
    }
    watch.Poll(100);
    const uint64_t opensPerPass = watch.Opens();
    ASSERT_GE(opensPerPass, 1u);

    const uint64_t openedBefore = watch.Opens();
    Applet applet({"/D:null", "/L", "/I:0", path}, "", "soak-null");
    const int earlyPass = kNullPasses / 10;
    ProcessStats early, late, earlyPeak, latePeak;
    int passesAtEarly = 0, passes = 0;
    auto earlyTime = std::chrono::steady_clock::now(), lateTime = earlyTime;
    const auto deadline = std::chrono::steady_clock::now() + kNullPasses * 250ms + 20s;
    while (passes < kNullPasses && std::chrono::steady_clock::now() < deadline) {
        watch.Poll(20);
        ASSERT_TRUE(applet.Running()) << applet.Err();
        passes = static_cast<int>((watch.Opens() - openedBefore) / opensPerPass);
        if (passesAtEarly == 0 && passes >= earlyPass) {
            earlyTime = std::chrono::steady_clock::now();
            early = ProcessStats::Of(applet.Pid());
            passesAtEarly = passes;
            earlyPeak = ProcessStats::Peak(applet.Pid());
        }
    }
    late = ProcessStats::Of(applet.Pid());
    lateTime = std::chrono::steady_clock::now();
    latePeak = ProcessStats::Peak(applet.Pid());
    applet.Signal(SIGTERM);
    EXPECT_EQ(applet.WaitExit(5s), 0) << applet.Err();
    const double seconds = std::chrono::duration<double>(lateTime - earlyTime).count();
    Report("Null Output", passes, seconds, earlyPeak, latePeak);
    std::printf("Null Output: %llu opens per pass; %lld bytes read from pass %d to %d\n",
                static_cast<unsigned long long>(opensPerPass),
                static_cast<long long>(late.bytesRead - early.bytesRead), passesAtEarly, passes);

    ASSERT_GE(passes, kNullPasses) << "passes stopped coming";
    ASSERT_FALSE(watch.Overflowed());
    EXPECT_LE(latePeak.residentKb - earlyPeak.residentKb, kResidentMarginKb);
    EXPECT_EQ(latePeak.descriptors, earlyPeak.descriptors);
    // Every pass read the whole file and played its 20 ms by the device's clock.
    const int counted = passes - passesAtEarly;
    EXPECT_GE(late.bytesRead - early.bytesRead, static_cast<int64_t>(counted - 1) * SizeOf(path));
    EXPECT_GE(seconds, (counted - 1) * 0.020 * 0.95);
    watch.Poll(50);
    EXPECT_EQ(watch.Changes(), 0u) << "something wrote to the file being played";
    EXPECT_TRUE(FileSnapshot::Of(path) == before) << "the played file changed";
}

TEST_F(Soak, DozensOfPassesOnTheTestSinkAreEachHeardWhole) {
    if (std::system("pactl info >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "no test bed sound server";
    }
    // 100 ms of tone per pass, 150 ms pause between passes so the runs stand apart.
    constexpr size_t kFrames = kRate / 10;
    const std::string path =
        Wave(dir_.File("beep.wav"), waveouttest::StereoTone(1000, 1000, kRate, kFrames, 0.4));
    const FileSnapshot before = FileSnapshot::Of(path);
    testsupport::TimedRecorder recorder;
    Applet applet({"/D:Test Sink", "/L", "/I:150", path}, "", "soak-sink");
    ProcessStats early, late;
    std::vector<std::pair<size_t, size_t>> runs;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + kSinkPasses * 1s + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
        ASSERT_TRUE(applet.Running()) << applet.Err();
        runs = testsupport::SoundRuns(recorder.Bytes());
        if (early.residentKb < 0 && runs.size() >= 3) {
            early = ProcessStats::Peak(applet.Pid());
        }
        // The pass after the last counted one has begun, so that one is heard whole.
        if (runs.size() > static_cast<size_t>(kSinkPasses)) {
            late = ProcessStats::Peak(applet.Pid());
            break;
        }
    }
    applet.Signal(SIGTERM);
    EXPECT_EQ(applet.WaitExit(5s), 0) << applet.Err();
    recorder.Stop();
    Report("Test Sink", static_cast<int>(runs.size()),
           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), early,
           late);

    ASSERT_GT(runs.size(), static_cast<size_t>(kSinkPasses)) << "passes stopped coming";
    for (int i = 0; i < kSinkPasses; ++i) {
        EXPECT_NEAR(static_cast<double>(runs[i].second), kFrames, 10) << "pass " << i;
    }
    EXPECT_LE(late.residentKb - early.residentKb, kResidentMarginKb);
    EXPECT_EQ(late.descriptors, early.descriptors);
    EXPECT_EQ(waveouttest::Shell("test -z \"$(pactl list short sink-inputs)\""), 0)
        << "a stream was left on the server";
    EXPECT_TRUE(FileSnapshot::Of(path) == before) << "the played file changed";
}

}  // namespace
