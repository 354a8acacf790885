// The tone generator: the input up to its first NUL is the text after the '~', the rest gives
// read sizes. Reads fill whole frames only; channels off in the mask stay silent.
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeGenerator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
    const size_t textSize = nul != nullptr ? static_cast<size_t>(nul - data) : size;
    const std::string name = "~" + std::string(reinterpret_cast<const char*>(data), textSize);
    FuzzedDataProvider provider(data + textSize, size - textSize);
    int32_t error = 0;
    auto file = CreateWavFile(name.c_str(), "w", &error);
    FUZZ_CHECK(error == WAVFILE_WRITE_FAILED);
    file = CreateWavFile(name.c_str(), "r", &error);
    FUZZ_CHECK(file != nullptr && (error == WAVFILE_OK || error == WAVFILE_OPEN_FAILED));
    auto* tone = static_cast<TWavFileTypeGenerator*>(file.get());
    FUZZ_CHECK(tone->ChannelMask.size() == static_cast<size_t>(tone->ChannelCount));
    if (error != WAVFILE_OK) {
        return 0;
    }
    FUZZ_CHECK(tone->ReadHeader(0) == WAVFILE_OK && tone->Channels() == tone->ChannelCount);
    const int32_t frameBytes = tone->BlockAlign();
    FUZZ_CHECK(frameBytes > 0);
    const int32_t sampleBytes = frameBytes / tone->ChannelCount;
    const uint8_t silence = tone->SampleType[3] == '8' ? 128 : 0;
    std::vector<uint8_t> buffer;
    for (int pass = 0; pass < 8; ++pass) {
        const int32_t ask = fuzzsupport::NextSize(provider, 1 << 16, 4096);
        buffer.assign(static_cast<size_t>(ask) + 1, 0xA5);
        const int32_t got = tone->Read(buffer.data(), ask);
        FUZZ_CHECK(got >= 0 && got <= ask && got % frameBytes == 0);
        FUZZ_CHECK(ask - got < frameBytes * (tone->SampleType[3] == '2' ? 4 : 1));
        FUZZ_CHECK(buffer[static_cast<size_t>(got)] == 0xA5);
        for (int32_t at = 0; at < got; ++at) {
            if (tone->ChannelMask[static_cast<size_t>(at % frameBytes / sampleBytes)] == 0) {
                FUZZ_CHECK(buffer[static_cast<size_t>(at)] == silence);
            }
        }
    }
    fuzzsupport::DescribeFormat(*tone);
    FUZZ_CHECK(tone->Close() == WAVFILE_OK);
    FUZZ_CHECK(tone->Read(buffer.data(), static_cast<int32_t>(buffer.size())) == 0);
    return 0;
}
