// RIFF WAVE files: the input is the file. Reading delivers exactly the data chunk's bytes; an
// append is refused with the file untouched, or reads back as old audio plus new; a new file
// with the same format record, written in pieces, reads back as the audio given, in whole blocks.
#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

// Writes `audio` in pieces of sizes from the input to a file set up for writing, then closes it.
void WriteInPieces(TWavFileBase& file, FuzzedDataProvider& provider,
                   const std::vector<uint8_t>& audio) {
    for (size_t at = 0; at < audio.size();) {
        const auto size = static_cast<int32_t>(
            std::min<size_t>(audio.size() - at, fuzzsupport::NextSize(provider, 9000, 4096)));
        FUZZ_CHECK(file.Write(audio.data() + at, size) == size);
        at += static_cast<size_t>(size);
    }
    FUZZ_CHECK(file.Close() == 0);
}

// The file read back has the format record and `audio` cut to whole blocks; nothing at all is
// no data chunk.
void ExpectWholeBlocks(const char* path, FuzzedDataProvider& provider, const TWavFmt& format,
                       std::vector<uint8_t> audio) {
    const uint16_t blockAlign = format.BlockAlign();
    if (blockAlign != 0) {
        audio.resize(audio.size() - audio.size() % blockAlign);
    }
    auto file = fuzzsupport::Open(path, "r");
    const int32_t result = file->ReadHeader(0);
    FUZZ_CHECK(result == (audio.empty() ? WAVFILE_NO_DATA_CHUNK : WAVFILE_OK));
    if (result == WAVFILE_OK) {
        FUZZ_CHECK(std::equal(format.WaveFormat, std::end(format.WaveFormat), file->WaveFormat));
        fuzzsupport::ExpectAudio(*file, provider, audio.data(), audio.data() + audio.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".wav");
    static const fuzzsupport::ScratchFile written("-copy.wav");
    scratch.Write(data, size);
    FuzzedDataProvider provider(data, size);
    auto file = fuzzsupport::Open(scratch.Path(), "r");
    auto* wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(0) == WAVFILE_OK) {
        const uint8_t* audio = data + wav->SubChunk.dwDataOffset;
        FUZZ_CHECK(wav->DataLength > 0 && audio + wav->DataLength <= data + size);
        const std::vector<uint8_t> bytes(audio, audio + wav->DataLength);
        fuzzsupport::ExpectAudio(*wav, provider, audio, audio + wav->DataLength);
        auto copy = fuzzsupport::Open(written.Path(), "w");
        copy->CopyFormatFrom(wav->WaveFormat);
        FUZZ_CHECK(copy->WriteHeader() == WAVFILE_OK);
        WriteInPieces(*copy, provider, bytes);
        ExpectWholeBlocks(written.Path(), provider, *wav, bytes);
    }
    file.reset();
    FUZZ_CHECK(scratch.Holds(data, size));  // reading wrote nothing

    file = fuzzsupport::Open(scratch.Path(), "a");
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
    std::vector<uint8_t> added(provider.ConsumeIntegralInRange<size_t>(0, 4096));
    for (size_t i = 0; i < added.size(); ++i) {
        added[i] = static_cast<uint8_t>(i * 7 + 1);  // a shifted byte shows
    }
    expected.insert(expected.end(), added.begin(), added.end());
    const TWavFmt format = *wav;
    WriteInPieces(*wav, provider, added);
    file.reset();
    ExpectWholeBlocks(scratch.Path(), provider, format, expected);
    return 0;
}
