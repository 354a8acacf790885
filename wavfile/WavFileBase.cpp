#include "wavfile/WavFileBase.h"

#include <cctype>
#include <climits>
#include <cstdio>

namespace {

const char* const kErrorTexts[] = {
    "TWavFile - Unknown error",  // 0 and every code outside the table
    "TWavFile - Unknown failure",      "TWavFile - Not enough memory",
    "TWavFile - Not a wave file",      "TWavFile - Wave file is corrupt",
    "TWavFile - No format chunk",      "TWavFile - No data chunk",
    "TWavFile - No fact chunk",        "TWavFile - Invalid format",
    "TWavFile - Write failed",         "TWavFile - Read failed",
    "TWavFile - Could not open file",  "TWavFile - Could not create chunk",
    "TWavFile - Could not close file",
};

}  // namespace

TWavFileBase::TWavFileBase(const char* /*name*/, const char* /*mode*/, int32_t* error) {
    if (error != nullptr) {
        *error = WAVFILE_OK;
    }
}

// Runs only the base Close: each type's destructor has already closed what it owns.
TWavFileBase::~TWavFileBase() {
    TWavFileBase::Close();
}

int32_t TWavFileBase::Open(const char* name, uint32_t flags) {
    if (File) {
        Close();
    }
    const char* mode = "rb";
    if ((flags & MMIO_CREATE) != 0) {
        mode = "w+b";
    } else if ((flags & MMIO_READWRITE) != 0) {
        mode = "r+b";
    }
    File.reset(PlainFileOpen(name, mode));
    if (!File) {
        return WAVFILE_OPEN_FAILED;
    }
    DataLength = 0;
    ReadCount = 0;
    return WAVFILE_OK;
}

int32_t TWavFileBase::Close() {
    if (!File) {
        return WAVFILE_OK;
    }
    return PlainFileClose(File.release()) == 0 ? WAVFILE_OK : WAVFILE_CLOSE_FAILED;
}

int32_t TWavFileBase::Seek(int32_t offset, int32_t origin) {
    int32_t plainOrigin = PLAINSEEK_CURRENT;
    if (origin == WAVSEEK_END) {
        plainOrigin = PLAINSEEK_END;
    } else if (origin == WAVSEEK_START) {
        plainOrigin = PLAINSEEK_START;
    }
    if (File && PlainFileSeek(File.get(), offset, plainOrigin) != 0) {
        return WAVFILE_READ_FAILED;  // the position stays where it was
    }
    return WAVFILE_OK;
}

int32_t TWavFileBase::Write(const void* data, int32_t count) {
    if (count <= 0) {
        return 0;
    }
    const int32_t written = File ? PlainFileWrite(data, 1, count, File.get()) : 0;
    DataLength = AddClamped(DataLength, count);
    return written;
}

int32_t TWavFileBase::Read(void* buffer, int32_t count) {
    if (count <= 0 || !File) {
        return 0;
    }
    const int32_t read = PlainFileRead(buffer, 1, count, File.get());
    ReadCount = AddClamped(ReadCount, read);
    return read;
}

int32_t TWavFileBase::WriteHeader() {
    return WAVFILE_OK;
}

int32_t TWavFileBase::ReadHeader(int32_t /*flag*/) {
    return WAVFILE_OK;
}

int32_t TWavFileBase::GetDataLength() {
    return DataLength;
}

int32_t TWavFileBase::GetRemainingBytes() {
    return DataLength > ReadCount ? DataLength - ReadCount : 0;
}

char* TWavFileBase::GetErrorText(int32_t code, char* buffer64) {
    const int32_t known = static_cast<int32_t>(sizeof kErrorTexts / sizeof kErrorTexts[0]);
    const char* text = code > 0 && code < known ? kErrorTexts[code] : kErrorTexts[0];
    if (buffer64 != nullptr) {
        std::snprintf(buffer64, 64, "%s", text);
    }
    return buffer64;
}

int32_t TWavFileBase::AddClamped(int32_t total, int32_t count) {
    const int64_t sum = static_cast<int64_t>(total) + count;
    if (sum > INT32_MAX) {
        return INT32_MAX;
    }
    return sum < 0 ? 0 : static_cast<int32_t>(sum);
}

uint32_t OpenFlagsForMode(const char* mode) {
    const char first = mode != nullptr
                           ? static_cast<char>(std::toupper(static_cast<unsigned char>(mode[0])))
                           : '\0';
    if (first == 'R') {
        return MMIO_READ | MMIO_DENYNONE;
    }
    if (first == 'A') {
        return MMIO_READWRITE | MMIO_DENYNONE;
    }
    return MMIO_CREATE | MMIO_READWRITE | MMIO_DENYNONE;
}
