// A headerless file: its bytes are the audio and nothing describes their format. Created
// only by direct construction, never by the factory.
#pragma once

#include "wavfile/WavFileBase.h"

class TWavFileTypeRaw : public TWavFileBase {
  public:
    TWavFileTypeRaw(const char* name, const char* mode, int32_t* error);
    ~TWavFileTypeRaw() override;

    // Non-zero flag: position at the end for appending; 0: leave the position alone.
    int32_t ReadHeader(int32_t flag) override;
};
