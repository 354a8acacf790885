// Render throughput of the tone generator, in frames per second, for 2 and 8 channels of
// every sample type, against sox synthesising the same tone to /dev/null in the same run.
// Usage: bench_tone_render [seconds of audio per case, default 20]
#include <sys/resource.h>
#include <sys/time.h>
#include <time.h>
#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "wavfile/WavFileBase.h"

namespace {

constexpr int kRate = 48000;
constexpr int32_t kBufferBytes = 65536;  // what the player reads at a time
constexpr int kRuns = 3;

struct SampleType {
    const char* name;
    const char* soxEncoding;
};

// CPU seconds rather than wall time: the machine is shared, and time spent waiting for a
// core belongs to neither side.
double OwnCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Frames per second through the file interface, or 0 on failure.
double GeneratorRate(const SampleType& type, int channels, int64_t frames) {
    const std::string tone =
        "~F1000,S" + std::to_string(kRate) + ",T" + type.name + ",C" + std::to_string(channels);
    int32_t error = 0;
    auto file = CreateWavFile(tone.c_str(), "r", &error);
    if (error != 0 || file->ReadHeader(0) != 0) {
        return 0.0;
    }
    const int64_t frameBytes = file->GetFrameBytes();
    std::vector<uint8_t> buffer(kBufferBytes);
    int64_t done = 0;
    uint32_t sink = 0;
    const double start = OwnCpuSeconds();
    while (done < frames) {
        const int32_t got = file->Read(buffer.data(), kBufferBytes);
        if (got <= 0) {
            return 0.0;
        }
        sink += buffer[static_cast<size_t>(got) - 1];
        done += got / frameBytes;
    }
    const double elapsed = OwnCpuSeconds() - start;
    if (sink == 0xFFFFFFFFu) {
        std::puts("");  // keeps the buffer contents observable
    }
    return static_cast<double>(done) / elapsed;
}

// Frames per second of sox producing the same tone, process start included (the CPU time
// of the shell that starts it counts against sox too, a few milliseconds).
double SoxRate(const SampleType& type, int channels, int seconds) {
    const std::string command = "sox -V1 -D -n -t raw -r " + std::to_string(kRate) + " -c " +
                                std::to_string(channels) + " " + type.soxEncoding + " - synth " +
                                std::to_string(seconds) + " sine 1000 > /dev/null";
    const double start = ChildrenCpuSeconds();
    if (std::system(command.c_str()) != 0) {
        return 0.0;
    }
    return static_cast<double>(seconds) * kRate / (ChildrenCpuSeconds() - start);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: %s [seconds of audio per case]\n", argv[0]);
        return 2;
    }
    const SampleType types[] = {
        {"PCM8", "-e unsigned-integer -b 8"},   {"PCM16", "-e signed-integer -b 16"},
        {"PCM24", "-e signed-integer -b 24"},   {"PCM32", "-e signed-integer -b 32"},
        {"FLOAT32", "-e floating-point -b 32"},
    };
    std::printf(
        "Tone render, %d s of audio at %d Hz per case, best of %d, CPU time (goal: ratio >= 2)\n",
        seconds, kRate, kRuns);
    std::printf("%-8s %4s %16s %16s %8s\n", "type", "ch", "generator fr/s", "sox fr/s", "ratio");
    double worst = 1e300;
    for (int channels : {2, 8}) {
        for (const SampleType& type : types) {
            const double ours =
                GeneratorRate(type, channels, static_cast<int64_t>(seconds) * kRate);
            const double sox = SoxRate(type, channels, seconds);
            const double ratio = sox > 0 ? ours / sox : 0.0;
            worst = ratio < worst ? ratio : worst;
            std::printf("%-8s %4d %16.0f %16.0f %8.2f\n", type.name, channels, ours, sox, ratio);
        }
    }
    std::printf("lowest ratio: %.2f\n", worst);
    return 0;
}
