// Time stretch without pitch change (SoundTouch): a length factor of 1.1 plays 10 % longer
// at the same pitch. Samples go in and come out in the device's sample type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/waveout/AudioSink.h"

namespace soundtouch {
class SoundTouch;
}

namespace platform {

class TimeStretcher {
  public:
    TimeStretcher(SampleType type, int channels, uint32_t rate);
    ~TimeStretcher();
    TimeStretcher(const TimeStretcher&) = delete;
    TimeStretcher& operator=(const TimeStretcher&) = delete;

    // False when the stretch cannot be applied (too many channels).
    bool SetLengthFactor(double factor);
    // Processes whole frames and appends what comes out.
    void Process(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out);
    // Pushes out what is held inside (the end of the audio, or before the factor changes).
    void Flush(std::vector<uint8_t>* out);
    // Drops what is held inside.
    void Clear();

  private:
    void Receive(std::vector<uint8_t>* out, uint64_t limit);

    std::unique_ptr<soundtouch::SoundTouch> touch_;
    SampleType type_;
    int channels_;
    uint32_t rate_;
    double factor_ = 1.0;
    // Since the last flush or clear: the input's last 100 ms, frames taken and given out, and
    // the output the input before the last factor change is worth.
    std::vector<float> recent_;
    uint64_t inFrames_ = 0;
    uint64_t outFrames_ = 0;
    double expectedBefore_ = 0;
    std::vector<float> in_;
    std::vector<float> out_;
};

}  // namespace platform
