// DAF files: a 256-byte header, never interpreted, in front of MPEG audio frames or of
// 16-bit stereo PCM at 44100 Hz. Creating one writes the header as zero bytes; the data are
// then passed through unchanged by the inherited plain-file operations.
#pragma once

#include <cstdint>

#include "wavfile/WavFileBase.h"

class TWavFileTypeDAF : public TWavFileBase {
  public:
    TWavFileTypeDAF(const char* name, const char* mode, int32_t* error);

    int32_t Open(const char* name, uint32_t flags) override;
    int32_t ReadHeader(int32_t flag) override;

    static constexpr int32_t HeaderSize = 256;
};
