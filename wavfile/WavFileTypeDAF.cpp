#include "wavfile/WavFileTypeDAF.h"

#include "wavfile/MpegFrameHeader.h"

TWavFileTypeDAF::TWavFileTypeDAF(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {}

int32_t TWavFileTypeDAF::Open(const char* name, uint32_t flags) {
    if (File) {
        Close();
    }
    const bool create = (flags & MMIO_CREATE) != 0;
    const char* mode = create ? "w+b" : ((flags & MMIO_READWRITE) != 0 ? "r+b" : "rb");
    File.reset(PlainFileOpen(name, mode));
    if (!File) {
        return WAVFILE_OPEN_FAILED;
    }
    DataLength = 0;
    ReadCount = 0;
    if (create) {
        const uint8_t header[HeaderSize] = {};
        // A file without its whole header would be read back with its data shifted.
        if (PlainFileWrite(header, 1, HeaderSize, File.get()) != HeaderSize) {
            return WAVFILE_WRITE_FAILED;
        }
    }
    return WAVFILE_OK;
}

int32_t TWavFileTypeDAF::ReadHeader(int32_t flag) {
    if (!File) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    uint8_t bytes[4];
    PlainFileSeek(File.get(), HeaderSize, PLAINSEEK_START);
    if (PlainFileRead(bytes, 1, 4, File.get()) != 4) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    const uint32_t word = BigEndianWord(bytes);
    if (IsFrameHeader(word)) {
        if (DecodeFrameHeader(*this, word) != WAVFILE_OK) {
            return WAVFILE_NO_DATA_CHUNK;
        }
    } else {
        SetFormatByName("PCM16", 2, 44100);
    }
    PlainFileSeek(File.get(), 0, PLAINSEEK_END);
    const int32_t length = PlainFileTell(File.get());
    if (length >= HeaderSize) {
        DataLength = length - HeaderSize;
    }
    if (flag == 0) {
        PlainFileSeek(File.get(), HeaderSize, PLAINSEEK_START);
    }
    return WAVFILE_OK;
}
