// MPEG audio frame headers: the sync test and the constant tables that turn a header word
// (the four bytes at a frame start, read big-endian) into a format record.
#pragma once

#include <cstdint>

#include "wavfile/WavFmt.h"

namespace MpegFrame {

// Twelve set bits at the top of the word mark a frame start (MPEG-1 and MPEG-2).
constexpr uint32_t SyncMask = 0xFFF00000u;

// Rows: 0 = MPEG-1 (version ID 3), 1 = MPEG-2 (version ID 2). Index 3 is reserved.
constexpr int32_t SampleRates[2][4] = {
    {44100, 48000, 32000, 0},
    {22050, 24000, 16000, 0},
};

// By channel mode: stereo, joint stereo, dual channel, single channel.
constexpr int32_t ChannelCounts[4] = {2, 2, 2, 1};

// kbit/s by bit-rate index; index 0 (free format) and 15 (invalid) give 0. MPEG-1 has a
// table per layer; MPEG-2 (the lower sample rates) has one table for layers II and III.
constexpr int32_t Mpeg1Layer2BitRates[16] = {0,   32,  48,  56,  64,  80,  96,  112,
                                             128, 160, 192, 224, 256, 320, 384, 0};
constexpr int32_t Mpeg1Layer3BitRates[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                             112, 128, 160, 192, 224, 256, 320, 0};
constexpr int32_t Mpeg2BitRates[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                       64, 80, 96, 112, 128, 144, 160, 0};

// Values of the two-bit layer field.
constexpr uint32_t LayerFieldII = 2;
constexpr uint32_t LayerFieldIII = 1;

}  // namespace MpegFrame

constexpr bool IsFrameHeader(uint32_t word) {
    return (word & MpegFrame::SyncMask) == MpegFrame::SyncMask;
}

constexpr uint32_t BigEndianWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

// What one header word says about the stream.
struct MpegFrameInfo {
    const char* Name;  // "MPEG2" for layer II, "MP3" for layer III
    int32_t Channels;
    int32_t SampleRate;  // Hz
    int32_t BitRate;     // bits per second
};

// Fills info from a header word that passed IsFrameHeader. Returns 0, or 6
// (WAVFILE_NO_DATA_CHUNK) for layer I, the reserved layer and the reserved sample-rate index,
// which would leave a rate of 0 for every later division by the rate.
int32_t ReadFrameInfo(uint32_t header, MpegFrameInfo* info);

// Sets the format record from a header word; returns 0 or 6 and leaves the record untouched
// on 6.
int32_t DecodeFrameHeader(TWavFmt& format, uint32_t header);
