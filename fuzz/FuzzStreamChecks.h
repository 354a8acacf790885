// Checks shared by the MPEG and DAF targets: a plain-file type whose header was read hands out
// the file's bytes from the audio start to the end, in any read sizes, and describes its
// format without failing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileBase.h"

namespace fuzzsupport {

inline void DescribeFormat(TWavFmt& format) {
    char* text = nullptr;
    format.GetFormatText(&text);
    FUZZ_CHECK(text != nullptr);
    char name[32];
    int32_t channels = 0;
    int32_t rate = 0;
    int32_t bitRate = 0;
    format.GetFormatName(name, &channels, &rate);
    format.GetFormatInfo(name, &channels, &rate, &bitRate);
    format.GetBytesPerSecond();
    format.GetFrameBytes();
    format.SamplesFromBytes(0x7FFFFFFF, format.SamplesPerFrame);
}

// Reads the rest of the file in sizes from the provider and compares it with the input from
// audioStart on.
inline void ReadToEnd(TWavFileBase& file, FuzzedDataProvider& provider, const uint8_t* data,
                      size_t size, size_t audioStart) {
    std::vector<uint8_t> got;
    std::vector<uint8_t> buffer;
    for (;;) {
        const int32_t ask = NextSize(provider, 70000, 65536);
        buffer.assign(static_cast<size_t>(ask), 0);
        const int32_t n = file.Read(buffer.data(), ask);
        FUZZ_CHECK(n >= 0 && n <= ask);
        if (n == 0 && ask != 0) {
            break;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        FUZZ_CHECK(got.size() <= size);
    }
    FUZZ_CHECK(audioStart <= size);
    FUZZ_CHECK(got.size() == size - audioStart);
    FUZZ_CHECK(std::equal(got.begin(), got.end(), data + audioStart));
    FUZZ_CHECK(file.ReadCount == static_cast<int32_t>(got.size()));
}

}  // namespace fuzzsupport
