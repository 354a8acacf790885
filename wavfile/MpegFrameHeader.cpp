#include "wavfile/MpegFrameHeader.h"

#include "wavfile/WavFileBase.h"

int32_t ReadFrameInfo(uint32_t header, MpegFrameInfo* info) {
    const uint32_t row = 3 - ((header >> 19) & 3);
    const uint32_t layer = (header >> 17) & 3;
    const uint32_t bitRateIndex = (header >> 12) & 15;
    const uint32_t rateIndex = (header >> 10) & 3;
    // The sync test leaves only version IDs 2 and 3; a word that skipped it has no row.
    if (row > 1) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    const int32_t sampleRate = MpegFrame::SampleRates[row][rateIndex];
    if (sampleRate == 0) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    MpegFrameInfo result{};
    const bool mpeg1 = row == 0;
    if (layer == MpegFrame::LayerFieldII) {
        result.Name = "MPEG2";
        result.BitRate = (mpeg1 ? MpegFrame::Mpeg1Layer2BitRates[bitRateIndex]
                                : MpegFrame::Mpeg2BitRates[bitRateIndex]) *
                         1000;
    } else if (layer == MpegFrame::LayerFieldIII) {
        result.Name = "MP3";
        result.BitRate = (mpeg1 ? MpegFrame::Mpeg1Layer3BitRates[bitRateIndex]
                                : MpegFrame::Mpeg2BitRates[bitRateIndex]) *
                         1000;
    } else {
        return WAVFILE_NO_DATA_CHUNK;
    }
    result.Channels = MpegFrame::ChannelCounts[(header >> 6) & 3];
    result.SampleRate = sampleRate;
    *info = result;
    return WAVFILE_OK;
}

int32_t DecodeFrameHeader(TWavFmt& format, uint32_t header) {
    MpegFrameInfo info{};
    if (ReadFrameInfo(header, &info) != WAVFILE_OK) {
        return WAVFILE_NO_DATA_CHUNK;
    }
    format.SetFormat(info.Name, info.Channels, info.SampleRate, info.BitRate);
    return WAVFILE_OK;
}
