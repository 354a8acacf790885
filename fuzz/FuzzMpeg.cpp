// MPEG audio and DAF files: the input is the file. A found frame carries the sync bits; reading
// delivers the file from that frame to its end, a DAF file from byte 256 to its end.
#include "fuzz/FuzzSupport.h"
#include "wavfile/MpegFrameHeader.h"
#include "wavfile/WavFileTypeDAF.h"
#include "wavfile/WavFileTypeMP23.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".mp3");
    static const fuzzsupport::ScratchFile dafScratch(".daf");
    scratch.Write(data, size);
    dafScratch.Write(data, size);
    FuzzedDataProvider provider(data, size);
    TWavFmt format;
    if (size >= 4 && DecodeFrameHeader(format, BigEndianWord(data)) == WAVFILE_OK) {
        FUZZ_CHECK(format.SamplesPerSec() != 0);
        fuzzsupport::DescribeFormat(format);
    }
    auto file = fuzzsupport::Open(scratch.Path(), "r");
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
        fuzzsupport::ExpectAudio(*mpeg, provider, data + at, data + size);
    }
    file = fuzzsupport::Open(dafScratch.Path(), "r");
    const int32_t result = file->ReadHeader(0);
    constexpr size_t kStart = TWavFileTypeDAF::HeaderSize;
    FUZZ_CHECK(size >= kStart + 4 || result == WAVFILE_NO_DATA_CHUNK);
    if (result == WAVFILE_OK) {
        FUZZ_CHECK(file->SamplesPerSec() != 0);
        fuzzsupport::ExpectAudio(*file, provider, data + kStart, data + size);
    }
    file.reset();
    FUZZ_CHECK(scratch.Holds(data, size) && dafScratch.Holds(data, size));  // reading wrote nothing
    return 0;
}
