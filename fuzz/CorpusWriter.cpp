// Writes seed files with the file layer's own writer: RIFF WAVE files in every sample layout
// and in the MPEG layouts (with a fact chunk), one written in two sessions (append), and for
// the writer target the 40-byte format records followed by audio bytes.
// Usage: fuzz_corpus_writer <wav-read dir> <wav-write dir>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "wavfile/WavFileBase.h"

namespace {

struct Layout {
    const char* name;
    int32_t channels;
    int32_t rate;
    int32_t bitRate;  // 0 for the PCM layouts
};

constexpr Layout kLayouts[] = {
    {"PCM8", 1, 8000, 0},        {"PCM16", 2, 44100, 0},   {"PCM24", 6, 48000, 0},
    {"PCM32", 2, 96000, 0},      {"FLOAT32", 3, 22050, 0}, {"MP3", 2, 44100, 128000},
    {"MPEG2", 1, 48000, 256000}, {"PCM16", 1, 11025, 0},
};

std::vector<uint8_t> Audio(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t state = 12345;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

bool WriteWav(const std::string& path, const Layout& layout, const std::vector<uint8_t>& audio,
              size_t split) {
    int32_t error = 0;
    auto file = CreateWavFile(path.c_str(), "w", &error);
    if (error != 0) {
        return false;
    }
    file->SetFormat(layout.name, layout.channels, layout.rate, layout.bitRate);
    if (file->WriteHeader() != 0) {
        return false;
    }
    file->Write(audio.data(), static_cast<int32_t>(split));
    file->Close();
    file.reset();
    if (split == audio.size()) {
        return true;
    }
    file = CreateWavFile(path.c_str(), "a", &error);
    if (error != 0 || file->ReadHeader(1) != 0) {
        return false;
    }
    file->Write(audio.data() + split, static_cast<int32_t>(audio.size() - split));
    return file->Close() == 0;
}

bool WriteRecord(const std::string& path, const Layout& layout, const std::vector<uint8_t>& audio) {
    TWavFmt format;
    format.SetFormat(layout.name, layout.channels, layout.rate, layout.bitRate);
    uint8_t image[WAVE_FORMAT_IMAGE_SIZE];
    format.CopyFormatTo(image);
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    std::fwrite(image, 1, sizeof image, out);
    std::fwrite(audio.data(), 1, audio.size(), out);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <wav-read dir> <wav-write dir>\n", argv[0]);
        return 2;
    }
    const std::string readDir = argv[1];
    const std::string writeDir = argv[2];
    int index = 0;
    for (const Layout& layout : kLayouts) {
        const std::vector<uint8_t> audio = Audio(static_cast<size_t>(301 + 97 * index));
        const std::string stem = "writer-" + std::to_string(index) + "-" + layout.name;
        if (!WriteWav(readDir + "/" + stem + ".wav", layout, audio, audio.size()) ||
            !WriteWav(readDir + "/" + stem + "-appended.wav", layout, audio, audio.size() / 3) ||
            !WriteRecord(writeDir + "/" + stem, layout, audio)) {
            std::fprintf(stderr, "cannot write the seeds for %s\n", stem.c_str());
            return 1;
        }
        ++index;
    }
    return 0;
}
