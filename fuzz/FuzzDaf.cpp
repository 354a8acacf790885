// DAF files: the input is the file. A 256-byte header is skipped; the word after it is an
// MPEG frame header or the data are taken as 16-bit stereo PCM. Reading delivers the file
// from byte 256 to its end.
#include <cstdint>

#include "fuzz/FuzzStreamChecks.h"
#include "fuzz/FuzzSupport.h"
#include "wavfile/WavFileTypeDAF.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzsupport::ScratchFile scratch(".daf");
    scratch.Write(data, size);
    FuzzedDataProvider provider(data, size);

    int32_t error = 0;
    auto file = CreateWavFile(scratch.Path(), "r", &error);
    FUZZ_CHECK(file != nullptr && error == 0);
    const int32_t result = file->ReadHeader(0);
    if (size < TWavFileTypeDAF::HeaderSize + 4) {
        FUZZ_CHECK(result == WAVFILE_NO_DATA_CHUNK);
    }
    if (result == WAVFILE_OK) {
        FUZZ_CHECK(file->DataLength == static_cast<int32_t>(size) - TWavFileTypeDAF::HeaderSize);
        FUZZ_CHECK(file->SamplesPerSec() != 0);
        fuzzsupport::DescribeFormat(*file);
        fuzzsupport::ReadToEnd(*file, provider, data, size, TWavFileTypeDAF::HeaderSize);
    }
    file.reset();
    FUZZ_CHECK(scratch.Read() == std::vector<uint8_t>(data, data + size));
    return 0;
}
