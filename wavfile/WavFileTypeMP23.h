// MPEG audio layer II and III streams, optionally behind an ID3v2 tag. The frames are not
// decoded: the first frame header describes the stream, and the inherited plain-file
// operations hand the bytes from the first frame on out unchanged.
#pragma once

#include <cstdint>

#include "wavfile/WavFileBase.h"

class TWavFileTypeMP23 : public TWavFileBase {
  public:
    TWavFileTypeMP23(const char* name, const char* mode, int32_t* error);

    int32_t ReadHeader(int32_t flag) override;

    // Looks for the first frame: at offset 0, right after an ID3v2 tag, then by scanning at
    // most ScanWindow bytes from there. Returns 0 with the header word and the file at the
    // frame, or 6 with the word 0.
    int32_t FindFrameHeader(uint32_t* header);

    static constexpr int32_t ScanWindow = 8192;
};
