// The RIFF WAVE writer: a 40-byte format record from the input, then writes of sizes from the
// input, some in a new file and the rest appended in a second session. The file reads back
// with the same record and exactly the audio given, in whole blocks.
#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

// Writes up to `pieces` pieces: a size from the provider's end, the bytes from its front.
void WritePieces(TWavFileBase& file, FuzzedDataProvider& provider, int pieces,
                 std::vector<uint8_t>* audio) {
    for (int i = 0; i < pieces && provider.remaining_bytes() > 0; ++i) {
        const std::vector<uint8_t> bytes =
            provider.ConsumeBytes<uint8_t>(provider.ConsumeIntegralInRange<size_t>(0, 9000));
        const auto size = static_cast<int32_t>(bytes.size());
        FUZZ_CHECK(file.Write(bytes.data(), size) == size);
        audio->insert(audio->end(), bytes.begin(), bytes.end());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".wav");
    FuzzedDataProvider provider(data, size);
    uint8_t format[WAVE_FORMAT_IMAGE_SIZE] = {};
    const std::vector<uint8_t> given = provider.ConsumeBytes<uint8_t>(sizeof format);
    std::copy(given.begin(), given.end(), format);
    const int firstPieces = provider.ConsumeIntegralInRange<int>(0, 8);
    std::vector<uint8_t> audio;
    int32_t error = 0;
    auto file = CreateWavFile(scratch.Path(), "w", &error);
    FUZZ_CHECK(file != nullptr && error == WAVFILE_OK);
    file->CopyFormatFrom(format);
    FUZZ_CHECK(file->WriteHeader() == WAVFILE_OK);
    WritePieces(*file, provider, firstPieces, &audio);
    FUZZ_CHECK(file->Close() == 0);
    file.reset();
    if (provider.remaining_bytes() > 0) {
        file = CreateWavFile(scratch.Path(), "a", &error);
        FUZZ_CHECK(file != nullptr && error == WAVFILE_OK && file->ReadHeader(1) == WAVFILE_OK);
        WritePieces(*file, provider, 8, &audio);
        FUZZ_CHECK(file->Close() == 0);
        file.reset();
    }
    file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == WAVFILE_OK);
    const uint16_t blockAlign = static_cast<uint16_t>(format[12] | format[13] << 8);
    if (blockAlign != 0) {
        audio.resize(audio.size() - audio.size() % blockAlign);
    }
    const int32_t result = file->ReadHeader(0);
    if (audio.empty()) {
        FUZZ_CHECK(result == WAVFILE_NO_DATA_CHUNK);
        return 0;
    }
    FUZZ_CHECK(result == WAVFILE_OK);
    FUZZ_CHECK(std::equal(format, format + sizeof format, file->WaveFormat));
    std::vector<uint8_t> back(audio.size() + 1);
    back.resize(static_cast<size_t>(file->Read(back.data(), static_cast<int32_t>(back.size()))));
    FUZZ_CHECK(back == audio);
    return 0;
}
