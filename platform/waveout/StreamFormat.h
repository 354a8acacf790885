// The format a caller opens a device with, read from the WAVEFORMATEX image (and its
// extension), and what the device is then fed.
#pragma once

#include <cstdint>

#include <platform/waveout.h>
#include "platform/waveout/AudioSink.h"

namespace platform {

struct StreamFormat {
    enum class Coding { Pcm, Float, Mpeg };
    Coding coding = Coding::Pcm;
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    uint32_t channelMask = 0;  // 0: the usual order for the channel count
    int mpegLayer = 0;         // 1, 2 or 3

    // What the sink is opened for: the samples as they are for PCM and float, 16-bit
    // samples from the decoder for MPEG; always at the opened rate.
    SinkFormat ForSink() const;
};

// Reads the caller's format record. `image` may have any alignment; only the bytes that its
// extension size announces are read. Returns MMSYSERR_NOERROR or WAVERR_BADFORMAT.
MMRESULT ReadStreamFormat(const void* image, StreamFormat* format);

}  // namespace platform
