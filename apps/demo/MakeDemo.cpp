// Writes the demo WAVE file through the file layer's own writer: four seconds of a soft
// arpeggio (C, E, G, C) with a little stereo movement, 16-bit at 44100 Hz.
#include <cmath>
#include <cstdio>
#include <vector>

#include "wavfile/WavFileBase.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s out.wav\n", argv[0]);
        return 2;
    }
    constexpr int kRate = 44100;
    constexpr double kPi = 3.14159265358979323846;
    const double notes[] = {261.63, 329.63, 392.00, 523.25, 392.00, 329.63, 261.63, 523.25};
    const double noteSeconds = 0.5;
    const int noteFrames = static_cast<int>(noteSeconds * kRate);
    std::vector<int16_t> samples;
    samples.reserve(sizeof notes / sizeof notes[0] * noteFrames * 2);
    int index = 0;
    for (double frequency : notes) {
        const double pan = 0.5 + 0.35 * std::sin(index++ * 0.9);
        for (int i = 0; i < noteFrames; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double attack = std::fmin(1.0, t / 0.01);
            const double envelope = attack * std::exp(-3.0 * t);
            const double tone =
                std::sin(2 * kPi * frequency * t) + 0.3 * std::sin(4 * kPi * frequency * t);
            const double value = 0.3 * envelope * tone;
            samples.push_back(static_cast<int16_t>(32767.0 * value * (1.0 - pan)));
            samples.push_back(static_cast<int16_t>(32767.0 * value * pan));
        }
    }
    int32_t error = 0;
    auto file = CreateWavFile(argv[1], "w", &error);
    if (error != 0 || file->SetFormatByName("PCM16", 2, kRate) != 0 || file->WriteHeader() != 0) {
        char text[64];
        std::fprintf(stderr, "%s: %s\n", argv[1], TWavFileBase::GetErrorText(error, text));
        return 1;
    }
    const auto bytes = static_cast<int32_t>(samples.size() * sizeof(int16_t));
    if (file->Write(samples.data(), bytes) != bytes) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return file->Close() == 0 ? 0 : 1;
}
