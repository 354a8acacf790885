#include "platform/waveout/TimeStretcher.h"

#include <soundtouch/SoundTouch.h>

#include <exception>

#include "platform/waveout/SampleCodec.h"

namespace platform {

static_assert(sizeof(soundtouch::SAMPLETYPE) == sizeof(float), "SoundTouch built for floats");

namespace {
constexpr int kMaxStretchChannels = 16;
}

TimeStretcher::TimeStretcher(SampleType type, int channels, uint32_t rate)
    : type_(type), channels_(channels) {
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
    touch_->setTempo(1.0 / factor);
    return true;
}

void TimeStretcher::Receive(std::vector<uint8_t>* out) {
    for (;;) {
        out_.resize(4096 * static_cast<size_t>(channels_));
        const unsigned frames = touch_->receiveSamples(out_.data(), 4096);
        if (frames == 0) {
            return;
        }
        FloatToSamples(type_, out_.data(), frames * static_cast<size_t>(channels_), out);
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
    Receive(out);
}

void TimeStretcher::Flush(std::vector<uint8_t>* out) {
    if (touch_ == nullptr) {
        return;
    }
    touch_->flush();
    Receive(out);
}

void TimeStretcher::Clear() {
    if (touch_ != nullptr) {
        touch_->clear();
    }
}

}  // namespace platform
