// The path from a stream's bytes to the sink's: whole sample frames (a part frame waits for
// the next bytes), MPEG decoding, time stretch and gain, in the sink's sample format. It
// keeps no clock and starts no thread: the caller gives it bytes and takes what comes out.
//
// Accounting. The caller maps sink frames back to the input that made them. InputEnd() says
// at which output frame (counted since the last reset) the audio of all the input given so
// far ends: where the output ends, or while stretching, where that input lands at the
// stretch factor if that is further, since the stretcher holds part of it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/waveout/AudioSink.h"
#include "platform/waveout/MpegDecoder.h"
#include "platform/waveout/StreamFormat.h"
#include "platform/waveout/TimeStretcher.h"

namespace platform {

class ConversionChain {
  public:
    explicit ConversionChain(const StreamFormat& format);
    ~ConversionChain();
    ConversionChain(const ConversionChain&) = delete;
    ConversionChain& operator=(const ConversionChain&) = delete;

    bool Ready() const { return decoder_ == nullptr || decoder_->Ready(); }
    const SinkFormat& Sink() const { return sink_; }

    // The volume word: low word left, high word right, 0xFFFF full.
    void SetVolume(DWORD volume);
    // The length factor times 10000; 10000 plays unstretched. Leaving the stretch pushes out
    // what the stretcher holds, appended to `out`, and then returns true: like Flush, the
    // input so far ends where the output ends.
    bool SetStretch(DWORD lengthTimes10000, std::vector<uint8_t>* out);
    // Converts the bytes and appends what comes out (whole frames) to `out`; returns
    // InputEnd().
    uint64_t Write(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out);
    // Pushes out what the stretcher holds (the end of the audio); returns InputEnd(), which
    // is then Produced(). A part frame stays for later bytes.
    uint64_t Flush(std::vector<uint8_t>* out);
    // Drops everything held inside; the counts start again from 0.
    void Reset();

    uint64_t Produced() const { return produced_; }  // frames given out since the reset
    uint64_t InputEnd() const;
    // The stretcher holds input back that only more input or a flush brings out.
    bool Holding() const { return stretcher_ != nullptr && segmentInput_ > 0; }

  private:
    void Emit(std::vector<uint8_t>* out, size_t from);
    void EndSegment();

    const SinkFormat sink_;
    const size_t frameBytes_;
    DWORD volume_ = 0xFFFFFFFF;
    DWORD stretch_ = 10000;
    std::vector<float> gains_;
    std::unique_ptr<MpegDecoder> decoder_;
    std::unique_ptr<TimeStretcher> stretcher_;
    std::vector<uint8_t> carry_;    // a part sample frame waiting for the next bytes
    std::vector<uint8_t> decoded_;  // whole frames before stretch and gain
    double factor_ = 1.0;
    uint64_t produced_ = 0;
    uint64_t segmentBase_ = 0;   // frames produced before the stretcher took its current input
    uint64_t segmentInput_ = 0;  // frames given to the stretcher since then
};

}  // namespace platform
