// MPEG audio files: the input is the file. A found frame carries the sync bits; reading
// delivers the file from that frame to its end.
#include "fuzz/FuzzSupport.h"
#include "wavfile/MpegFrameHeader.h"
#include "wavfile/WavFileTypeMP23.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".mp3");
    scratch.Write(data, size);
    FuzzedDataProvider provider(data, size);
    TWavFmt format;
    if (size >= 4 && DecodeFrameHeader(format, BigEndianWord(data)) == WAVFILE_OK) {
        FUZZ_CHECK(format.SamplesPerSec() != 0);
        fuzzsupport::DescribeFormat(format);
    }
    int32_t error = 0;
    auto file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
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
        FUZZ_CHECK(at >= 0 && static_cast<size_t>(at) < size);
        FUZZ_CHECK(mpeg->DataLength == static_cast<int32_t>(size) - at);
        FUZZ_CHECK(mpeg->SamplesPerSec() != 0);
        fuzzsupport::DescribeFormat(*mpeg);
        FUZZ_CHECK(fuzzsupport::ReadAll(*mpeg, provider) ==
                   std::vector<uint8_t>(data + at, data + size));
    }
    file.reset();
    FUZZ_CHECK(scratch.Holds(data, size));
    return 0;
}
