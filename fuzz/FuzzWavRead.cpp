// RIFF WAVE reading: the input is the file. Reading delivers exactly the data chunk's bytes;
// then an append is refused with the file untouched, or reads back as old audio plus new.
#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeWav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".wav");
    scratch.Write(data, size);
    FuzzedDataProvider provider(data, size);
    int32_t error = 0;
    auto file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    auto* wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(0) == WAVFILE_OK) {
        const int64_t offset = wav->SubChunk.dwDataOffset;
        FUZZ_CHECK(wav->DataLength > 0 && offset + wav->DataLength <= static_cast<int64_t>(size));
        FUZZ_CHECK(wav->BlockAlign() == 0 || wav->DataLength % wav->BlockAlign() == 0);
        FUZZ_CHECK(fuzzsupport::ReadAll(*wav, provider) ==
                   std::vector<uint8_t>(data + offset, data + offset + wav->DataLength));
        fuzzsupport::DescribeFormat(*wav);
    }
    file.reset();
    FUZZ_CHECK(scratch.Holds(data, size));  // reading wrote nothing

    file = CreateWavFile(scratch.Path(), "a", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(1) != WAVFILE_OK) {
        file.reset();
        FUZZ_CHECK(scratch.Holds(data, size));
        return 0;
    }
    // The audio held now: from the data chunk's start to its size or the file's end.
    const int64_t offset = wav->SubChunk.dwDataOffset;
    const int64_t present =
        std::clamp<int64_t>(static_cast<int64_t>(size) - offset, 0, wav->SubChunk.cksize);
    std::vector<uint8_t> expected(data + offset, data + offset + present);
    const uint16_t blockAlign = wav->BlockAlign();
    std::vector<uint8_t> added(provider.ConsumeIntegralInRange<size_t>(0, 4096));
    for (size_t i = 0; i < added.size(); ++i) {
        added[i] = static_cast<uint8_t>(i * 7 + 1);  // a shifted byte shows
    }
    const auto count = static_cast<int32_t>(added.size());
    FUZZ_CHECK(wav->Write(added.data(), count) == count && wav->Close() == 0);
    file.reset();
    expected.insert(expected.end(), added.begin(), added.end());
    file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    if (blockAlign != 0) {
        expected.resize(expected.size() - expected.size() % blockAlign);
    }
    const int32_t result = file->ReadHeader(0);
    if (expected.empty()) {
        FUZZ_CHECK(result == WAVFILE_NO_DATA_CHUNK);
        return 0;
    }
    FUZZ_CHECK(result == WAVFILE_OK && file->BlockAlign() == blockAlign);
    FUZZ_CHECK(fuzzsupport::ReadAll(*file, provider) == expected);
    return 0;
}
