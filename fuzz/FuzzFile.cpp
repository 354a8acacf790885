// Files: the input is the file, read as RIFF WAVE, MPEG audio and DAF. Reading delivers exactly
// the audio bytes (a WAV data chunk; MPEG from the first frame found, which carries the sync
// bits; DAF from byte 256) and writes nothing. A WAV append is refused with the file untouched,
// or reads back as old audio plus new.
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz/FuzzSupport.h"
#include "wavfile/MpegFrameHeader.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeMP23.h"
#include "wavfile/WavFileTypeWav.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A read size from the input's end while it lasts, then a large fixed one.
int32_t NextSize(FuzzedDataProvider& provider, int32_t maxSize, int32_t fallback) {
    return provider.remaining_bytes() ? provider.ConsumeIntegralInRange(0, maxSize) : fallback;
}

// A file in /tmp private to this process; the suffix ends in the file type.
struct ScratchFile {
    explicit ScratchFile(const char* suffix)
        : path("/tmp/quindle-fuzz-" + std::to_string(::getpid()) + suffix) {}
    ~ScratchFile() { ::unlink(path.c_str()); }
    void Write(const Bytes& bytes) const {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    Bytes Read() const {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    const std::string path;
};

std::unique_ptr<TWavFileBase> Open(const ScratchFile& file, const char* mode) {
    int32_t error = -1;
    auto opened = CreateWavFile(file.path.c_str(), mode, &error);
    FUZZ_CHECK(opened != nullptr && error == WAVFILE_OK);
    return opened;
}

// What the status window shows of a format: must not fail whatever the record holds.
void DescribeFormat(TWavFmt& format) {
    char* text = nullptr;
    format.GetFormatText(&text);
    FUZZ_CHECK(text != nullptr);
    format.SamplesFromBytes(0x7FFFFFFF, format.SamplesPerFrame);
    format.GetBytesPerSecond();
    format.GetFrameBytes();
}

// A file whose header was read holds exactly `audio`, read to the end in sizes from the input.
void ExpectAudio(TWavFileBase& file, FuzzedDataProvider& provider, const Bytes& audio) {
    FUZZ_CHECK(file.DataLength == static_cast<int32_t>(audio.size()));
    DescribeFormat(file);
    Bytes got;
    Bytes buffer;
    for (;;) {
        const int32_t ask = NextSize(provider, 70000, 65536);
        buffer.assign(static_cast<size_t>(ask), 0xA5);
        const int32_t n = file.Read(buffer.data(), ask);
        FUZZ_CHECK(n >= 0 && n <= ask);
        if (n == 0 && ask != 0) {
            break;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        FUZZ_CHECK(got.size() <= audio.size());
    }
    FUZZ_CHECK(got == audio && file.ReadCount == static_cast<int32_t>(got.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ScratchFile wavFile(".wav"), mpegFile(".mp3"), dafFile(".daf");
    const Bytes input(data, data + size);
    for (const ScratchFile* scratch : {&wavFile, &mpegFile, &dafFile}) {
        scratch->Write(input);
    }
    FuzzedDataProvider provider(data, size);

    auto file = Open(mpegFile, "r");
    auto* mpeg = static_cast<TWavFileTypeMP23*>(file.get());
    uint32_t header = 0;
    if (mpeg->FindFrameHeader(&header) == WAVFILE_OK) {
        const int32_t at = PlainFileTell(mpeg->File.get());
        FUZZ_CHECK(at >= 0 && static_cast<size_t>(at) + 4 <= size);
        FUZZ_CHECK(BigEndianWord(data + at) == header && IsFrameHeader(header));
    } else {
        FUZZ_CHECK(header == 0);
    }
    if (mpeg->ReadHeader(0) == WAVFILE_OK) {
        const int32_t at = PlainFileTell(mpeg->File.get());
        FUZZ_CHECK(at >= 0 && static_cast<size_t>(at) < size && mpeg->SamplesPerSec() != 0);
        ExpectAudio(*mpeg, provider, Bytes(data + at, data + size));
    }
    file = Open(dafFile, "r");
    const int32_t result = file->ReadHeader(0);
    constexpr size_t kStart = TWavFileTypeDAF::HeaderSize;
    FUZZ_CHECK(size >= kStart + 4 || result == WAVFILE_NO_DATA_CHUNK);
    if (result == WAVFILE_OK) {
        FUZZ_CHECK(file->SamplesPerSec() != 0);
        ExpectAudio(*file, provider, Bytes(data + kStart, data + size));
    }

    file = Open(wavFile, "r");
    auto* wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(0) == WAVFILE_OK) {
        const uint8_t* audio = data + wav->SubChunk.dwDataOffset;
        FUZZ_CHECK(wav->DataLength > 0 && audio + wav->DataLength <= data + size);
        ExpectAudio(*wav, provider, Bytes(audio, audio + wav->DataLength));
    }
    file.reset();
    for (const ScratchFile* scratch : {&wavFile, &mpegFile, &dafFile}) {
        FUZZ_CHECK(scratch->Read() == input);  // reading wrote nothing
    }

    file = Open(wavFile, "a");
    wav = static_cast<TWavFileTypeWav*>(file.get());
    if (wav->ReadHeader(1) != WAVFILE_OK) {
        file.reset();
        FUZZ_CHECK(wavFile.Read() == input);
        return 0;
    }
    // Added in pieces of sizes from the input, it reads back after the audio held before (from
    // the data chunk's start to its size or the file's end), in whole blocks, with the record.
    const TWavFmt format = *wav;
    const int64_t offset = wav->SubChunk.dwDataOffset;
    const int64_t present =
        std::clamp<int64_t>(static_cast<int64_t>(size) - offset, 0, wav->SubChunk.cksize);
    Bytes expected(data + offset, data + offset + present);
    Bytes added(provider.ConsumeIntegralInRange<size_t>(0, 4096));
    for (size_t i = 0; i < added.size(); ++i) {
        added[i] = static_cast<uint8_t>(i * 7 + 1);  // a shifted byte shows
    }
    for (size_t at = 0; at < added.size();) {
        const auto piece = static_cast<int32_t>(
            std::min<size_t>(added.size() - at, NextSize(provider, 9000, 4096)));
        FUZZ_CHECK(wav->Write(added.data() + at, piece) == piece);
        at += static_cast<size_t>(piece);
    }
    FUZZ_CHECK(wav->Close() == 0);
    expected.insert(expected.end(), added.begin(), added.end());
    if (format.BlockAlign() != 0) {
        expected.resize(expected.size() - expected.size() % format.BlockAlign());
    }
    file = Open(wavFile, "r");
    const int32_t reread = file->ReadHeader(0);
    FUZZ_CHECK(reread == (expected.empty() ? WAVFILE_NO_DATA_CHUNK : WAVFILE_OK));
    if (reread == WAVFILE_OK) {
        FUZZ_CHECK(std::equal(format.WaveFormat, std::end(format.WaveFormat), file->WaveFormat));
        ExpectAudio(*file, provider, expected);
    }
    return 0;
}
