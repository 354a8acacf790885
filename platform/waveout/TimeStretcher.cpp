#include "platform/waveout/TimeStretcher.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/waveout/SampleCodec.h"

namespace platform {

static_assert(sizeof(soundtouch::SAMPLETYPE) == sizeof(float), "SoundTouch built for floats");

namespace {
constexpr int kMaxStretchChannels = 16;
}

TimeStretcher::TimeStretcher(SampleType type, int channels, uint32_t rate)
    : type_(type), channels_(channels), rate_(rate) {
    if (channels < 1 || channels > kMaxStretchChannels) {
        return;
    }
    try {
        auto touch = std::make_unique<soundtouch::SoundTouch>();
        touch->setChannels(static_cast<unsigned>(channels));
        touch->setSampleRate(rate);
        touch_ = std::move(touch);
    } catch (const std::exception&) {
        touch_.reset();
    }
}

TimeStretcher::~TimeStretcher() = default;

bool TimeStretcher::SetLengthFactor(double factor) {
    if (touch_ == nullptr || !(factor > 0.0)) {
        return false;
    }
    expectedBefore_ += static_cast<double>(inFrames_) * factor_;
    inFrames_ = 0;
    factor_ = factor;
    touch_->setTempo(1.0 / factor);
    return true;
}

// Takes what SoundTouch has made, at most up to `limit` frames given out in all.
void TimeStretcher::Receive(std::vector<uint8_t>* out, uint64_t limit) {
    for (;;) {
        out_.resize(4096 * static_cast<size_t>(channels_));
        const unsigned frames = touch_->receiveSamples(out_.data(), 4096);
        const uint64_t kept = std::min<uint64_t>(frames, limit - std::min(limit, outFrames_));
        if (frames == 0) {
            return;
        }
        FloatToSamples(type_, out_.data(), kept * static_cast<size_t>(channels_), out);
        outFrames_ += kept;
    }
}

void TimeStretcher::Process(const uint8_t* data, size_t bytes, std::vector<uint8_t>* out) {
    if (touch_ == nullptr) {
        out->insert(out->end(), data, data + bytes);
        return;
    }
    in_.clear();
    SamplesToFloat(type_, data, bytes, &in_);
    const size_t frames = in_.size() / static_cast<size_t>(channels_);
    touch_->putSamples(in_.data(), static_cast<unsigned>(frames));
    inFrames_ += frames;
    recent_.insert(recent_.end(), in_.begin(), in_.end());
    const size_t keep = static_cast<size_t>(rate_ / 10) * static_cast<size_t>(channels_);
    if (recent_.size() > keep) {
        recent_.erase(recent_.begin(), recent_.end() - static_cast<ptrdiff_t>(keep));
    }
    Receive(out, UINT64_MAX);
}

// SoundTouch holds back the input its next windows need. Its own flush feeds silence for
// them, and windows taken from that silence leave a silent stretch among the last pieces of
// the audio. Fed the audio's own last moments played backwards instead, the windows find
// sound like the end's, and the output is cut where the input's length at the factor ends.
void TimeStretcher::Flush(std::vector<uint8_t>* out) {
    if (touch_ == nullptr || inFrames_ == 0) {
        return;
    }
    const auto expected = static_cast<uint64_t>(
        std::llround(expectedBefore_ + static_cast<double>(inFrames_) * factor_));
    const size_t width = static_cast<size_t>(channels_);
    std::vector<float> mirror(recent_.size());
    for (size_t frame = 0; frame < recent_.size() / width; ++frame) {
        std::copy_n(recent_.end() - static_cast<ptrdiff_t>((frame + 1) * width), width,
                    mirror.begin() + static_cast<ptrdiff_t>(frame * width));
    }
    for (int round = 0; round < 64 && outFrames_ < expected && !mirror.empty(); ++round) {
        touch_->putSamples(mirror.data(), static_cast<unsigned>(mirror.size() / width));
        std::reverse(mirror.begin(), mirror.end());  // back and forth: no jump where it turns
        for (size_t frame = 0; frame < mirror.size(); frame += width) {
            std::reverse(mirror.begin() + static_cast<ptrdiff_t>(frame),
                         mirror.begin() + static_cast<ptrdiff_t>(frame + width));
        }
        Receive(out, expected);
    }
    Clear();
}

void TimeStretcher::Clear() {
    if (touch_ != nullptr) {
        touch_->clear();
    }
    recent_.clear();
    inFrames_ = outFrames_ = 0;
    expectedBefore_ = 0;
}

}  // namespace platform
