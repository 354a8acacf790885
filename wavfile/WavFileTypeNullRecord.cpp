#include "wavfile/WavFileTypeNullRecord.h"

TWavFileTypeNullRecord::TWavFileTypeNullRecord(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {}

// Only a sink opened for writing makes sense; reading from it is refused.
int32_t TWavFileTypeNullRecord::Open(const char* /*name*/, uint32_t flags) {
    if ((flags & MMIO_CREATE) == 0) {
        return WAVFILE_OPEN_FAILED;
    }
    File.reset();
    DataLength = 0;
    ReadCount = 0;
    return WAVFILE_OK;
}

int32_t TWavFileTypeNullRecord::Close() {
    return WAVFILE_OK;
}

int32_t TWavFileTypeNullRecord::Seek(int32_t /*offset*/, int32_t /*origin*/) {
    return WAVFILE_READ_FAILED;
}

int32_t TWavFileTypeNullRecord::Write(const void* /*data*/, int32_t count) {
    return count > 0 ? count : 0;
}

int32_t TWavFileTypeNullRecord::Read(void* /*buffer*/, int32_t /*count*/) {
    return 0;
}

int32_t TWavFileTypeNullRecord::WriteHeader() {
    return WAVFILE_OK;
}

int32_t TWavFileTypeNullRecord::ReadHeader(int32_t /*flag*/) {
    return WAVFILE_READ_FAILED;
}
