// Helpers shared by the fuzz targets: a check that aborts (libFuzzer keeps the input as a
// crash), a scratch file per process, read sizes from the input and a read to the end.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "wavfile/WavFileBase.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzzsupport {

// A file in /tmp private to this process; the suffix ends in the file type (".wav", ".daf"...).
class ScratchFile {
  public:
    explicit ScratchFile(const char* suffix)
        : path_("/tmp/quindle-fuzz-" + std::to_string(::getpid()) + suffix) {}
    ~ScratchFile() { ::unlink(path_.c_str()); }
    const char* Path() const { return path_.c_str(); }
    void Write(const uint8_t* data, size_t size) const {
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(data), size);
    }
    bool Holds(const uint8_t* data, size_t size) const {
        std::ifstream in(path_, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        return bytes.size() == size && std::equal(bytes.begin(), bytes.end(), data);
    }

  private:
    std::string path_;
};

// A read size from the input's end while it lasts, then a large fixed one.
inline int32_t NextSize(FuzzedDataProvider& provider, int32_t maxSize, int32_t fallback) {
    return provider.remaining_bytes() ? provider.ConsumeIntegralInRange(0, maxSize) : fallback;
}

// Reads to the end in sizes from the provider; never more than the data length.
inline std::vector<uint8_t> ReadAll(TWavFileBase& file, FuzzedDataProvider& provider) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer;
    for (;;) {
        const int32_t ask = NextSize(provider, 70000, 65536);
        buffer.assign(static_cast<size_t>(ask), 0xA5);
        const int32_t n = file.Read(buffer.data(), ask);
        FUZZ_CHECK(n >= 0 && n <= ask);
        if (n == 0 && ask != 0) {
            break;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        FUZZ_CHECK(got.size() <= static_cast<size_t>(file.DataLength));
    }
    FUZZ_CHECK(file.ReadCount == static_cast<int32_t>(got.size()));
    return got;
}

// What the status window shows of a format: must not fail whatever the record holds.
inline void DescribeFormat(TWavFmt& format) {
    char* text = nullptr;
    format.GetFormatText(&text);
    FUZZ_CHECK(text != nullptr);
    char name[32];
    int32_t channels = 0, rate = 0, bitRate = 0;
    format.GetFormatInfo(name, &channels, &rate, &bitRate);
    format.SamplesFromBytes(0x7FFFFFFF, format.SamplesPerFrame);
    format.GetBytesPerSecond();
    format.GetFrameBytes();
}

inline std::unique_ptr<TWavFileBase> Open(const char* path, const char* mode) {
    int32_t error = -1;
    auto file = CreateWavFile(path, mode, &error);
    FUZZ_CHECK(file != nullptr && error == WAVFILE_OK);
    return file;
}

// A file whose header was read holds exactly the bytes [begin, end), read in sizes from the input.
inline void ExpectAudio(TWavFileBase& file, FuzzedDataProvider& provider, const uint8_t* begin,
                        const uint8_t* end) {
    FUZZ_CHECK(file.DataLength == end - begin);
    DescribeFormat(file);
    FUZZ_CHECK(ReadAll(file, provider) == std::vector<uint8_t>(begin, end));
}

}  // namespace fuzzsupport
