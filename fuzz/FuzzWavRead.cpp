// RIFF WAVE reading: the input is the file. ReadHeader(0) then reads to the end in sizes taken
// from the input, which must deliver exactly the data chunk's bytes that the file holds. Then
// the same file is opened for appending: a refused append leaves the file untouched, an
// accepted one must read back as the old audio followed by the new.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

// Reads to the end in sizes from the provider; returns what was delivered.
std::vector<uint8_t> ReadAll(TWavFileBase& file, FuzzedDataProvider& provider) {
    std::vector<uint8_t> data;
    std::vector<uint8_t> buffer;
    for (;;) {
        const int32_t ask = fuzzsupport::NextSize(provider, 70000, 65536);
        buffer.assign(static_cast<size_t>(ask), 0xA5);
        const int32_t got = file.Read(buffer.data(), ask);
        FUZZ_CHECK(got >= 0 && got <= ask);
        if (got == 0 && ask != 0) {
            break;
        }
        data.insert(data.end(), buffer.begin(), buffer.begin() + got);
        FUZZ_CHECK(data.size() <= static_cast<size_t>(file.DataLength));
    }
    FUZZ_CHECK(file.ReadCount == static_cast<int32_t>(data.size()));
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".wav");
    scratch.Write(data, size);
    FuzzedDataProvider provider(data, size);

    int32_t error = 0;
    auto file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    auto* wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(0) == WAVFILE_OK) {
        FUZZ_CHECK(wav->DataLength > 0);
        const int64_t offset = wav->SubChunk.dwDataOffset;
        FUZZ_CHECK(offset + wav->DataLength <= static_cast<int64_t>(size));
        const uint16_t blockAlign = wav->BlockAlign();
        FUZZ_CHECK(blockAlign == 0 || wav->DataLength % blockAlign == 0);
        const std::vector<uint8_t> audio = ReadAll(*wav, provider);
        FUZZ_CHECK(audio.size() == static_cast<size_t>(wav->DataLength));
        FUZZ_CHECK(std::equal(audio.begin(), audio.end(), data + offset));
        // What the status window shows of the format.
        char* text = nullptr;
        wav->GetFormatText(&text);
        char name[32];
        int32_t channels = 0;
        int32_t rate = 0;
        int32_t bitRate = 0;
        wav->GetFormatName(name, &channels, &rate);
        wav->GetFormatInfo(name, &channels, &rate, &bitRate);
        wav->SamplesFromBytes(wav->DataLength, wav->SamplesPerFrame);
        wav->GetBytesPerSecond();
        wav->GetFrameBytes();
    }
    file.reset();
    FUZZ_CHECK(scratch.Read() == std::vector<uint8_t>(data, data + size));  // reading wrote nothing

    // Append.
    file = CreateWavFile(scratch.Path(), "a", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    wav = static_cast<TWavFileTypeWav*>(file.get());
    const int32_t appendResult = wav->ReadHeader(1);
    if (appendResult != WAVFILE_OK) {
        file.reset();
        FUZZ_CHECK(scratch.Read() == std::vector<uint8_t>(data, data + size));
        return 0;
    }
    // The audio the file holds now: from the data chunk's start to its size or the file's end.
    const int64_t offset = wav->SubChunk.dwDataOffset;
    const int64_t present =
        std::clamp<int64_t>(static_cast<int64_t>(size) - offset, 0, wav->SubChunk.cksize);
    std::vector<uint8_t> expected(data + offset, data + offset + present);
    const uint16_t blockAlign = wav->BlockAlign();
    const int32_t count = provider.ConsumeIntegralInRange<int32_t>(0, 4096);
    std::vector<uint8_t> added(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        added[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + 1);
    }
    FUZZ_CHECK(wav->Write(added.data(), count) == count);
    expected.insert(expected.end(), added.begin(), added.end());
    FUZZ_CHECK(wav->Close() == 0);
    file.reset();

    file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    wav = static_cast<TWavFileTypeWav*>(file.get());
    int64_t readable = static_cast<int64_t>(expected.size());
    if (blockAlign != 0) {
        readable -= readable % blockAlign;
    }
    const int32_t result = wav->ReadHeader(0);
    if (readable == 0) {
        FUZZ_CHECK(result == WAVFILE_NO_DATA_CHUNK);
        return 0;
    }
    FUZZ_CHECK(result == WAVFILE_OK);
    FUZZ_CHECK(wav->BlockAlign() == blockAlign);
    FUZZ_CHECK(wav->DataLength == readable);
    const std::vector<uint8_t> audio = ReadAll(*wav, provider);
    FUZZ_CHECK(std::equal(audio.begin(), audio.end(), expected.begin()));
    return 0;
}
