#include "wavfile/WavFileTypeRaw.h"

TWavFileTypeRaw::TWavFileTypeRaw(const char* name, const char* mode, int32_t* error)
    : TWavFileBase(name, mode, error) {}

TWavFileTypeRaw::~TWavFileTypeRaw() {
    Close();
}

int32_t TWavFileTypeRaw::ReadHeader(int32_t flag) {
    if (flag != 0) {
        Seek(0, WAVSEEK_END);
    }
    return WAVFILE_OK;
}
