// DAF files: the input is the file. Reading delivers it from byte 256 to its end.
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
        constexpr size_t kStart = TWavFileTypeDAF::HeaderSize;
        FUZZ_CHECK(file->DataLength == static_cast<int32_t>(size - kStart));
        FUZZ_CHECK(file->SamplesPerSec() != 0);
        fuzzsupport::DescribeFormat(*file);
        const std::vector<uint8_t> got = fuzzsupport::ReadAll(*file, provider);
        FUZZ_CHECK(got == std::vector<uint8_t>(data + kStart, data + size));
    }
    file.reset();
    FUZZ_CHECK(scratch.Holds(data, size));
    return 0;
}
