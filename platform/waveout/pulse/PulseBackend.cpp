// The sound-server backend: the server's description of a sink format (sample spec and
// channel map), and the backend's slots.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <iterator>

#include "platform/waveout/pulse/PulseBackend.h"

namespace platform {
namespace {

pa_sample_format_t PulseFormatOf(SampleType type) {
    switch (type) {
        case SampleType::U8:
            return PA_SAMPLE_U8;
        case SampleType::S16:
            return PA_SAMPLE_S16LE;
        case SampleType::S24:
            return PA_SAMPLE_S24LE;
        case SampleType::S32:
            return PA_SAMPLE_S32LE;
        case SampleType::F32:
            return PA_SAMPLE_FLOAT32LE;
    }
    return PA_SAMPLE_INVALID;
}

pa_channel_position_t PositionOf(uint32_t speaker) {
    static constexpr pa_channel_position_t positions[] = {PA_CHANNEL_POSITION_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_LFE,
                                                          PA_CHANNEL_POSITION_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_REAR_RIGHT,
                                                          PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
                                                          PA_CHANNEL_POSITION_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_SIDE_LEFT,
                                                          PA_CHANNEL_POSITION_SIDE_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_LEFT,
                                                          PA_CHANNEL_POSITION_TOP_REAR_CENTER,
                                                          PA_CHANNEL_POSITION_TOP_REAR_RIGHT};
    for (size_t bit = 0; bit < std::size(positions); ++bit) {
        if (speaker == (1u << bit)) {
            return positions[bit];
        }
    }
    return PA_CHANNEL_POSITION_INVALID;
}

}  // namespace

bool ToPulse(const SinkFormat& format, pa_sample_spec* spec, pa_channel_map* map) {
    spec->format = PulseFormatOf(format.type);
    spec->rate = format.rate;
    spec->channels = static_cast<uint8_t>(std::min<uint16_t>(format.channels, 255));
    if (format.channels > PA_CHANNELS_MAX || !pa_sample_spec_valid(spec)) {
        return false;
    }
    pa_channel_map_init(map);
    map->channels = spec->channels;
    if (format.channels == 1) {
        map->map[0] = PA_CHANNEL_POSITION_MONO;
        return true;
    }
    unsigned aux = 0;
    for (unsigned i = 0; i < format.channels; ++i) {
        const uint32_t speaker = i < format.speakers.size() ? format.speakers[i] : 0;
        pa_channel_position_t position = PositionOf(speaker);
        if (position == PA_CHANNEL_POSITION_INVALID) {
            position = static_cast<pa_channel_position_t>(PA_CHANNEL_POSITION_AUX0 + aux++);
        }
        map->map[i] = position;
    }
    if (!pa_channel_map_valid(map)) {
        pa_channel_map_init_extend(map, spec->channels, PA_CHANNEL_MAP_WAVEEX);
    }
    return true;
}

// The server holds 500 ms of the stream and asks for more once 250 ms are free: larger
// requests mean fewer wake-ups, and since notifications and positions follow the server's
// clock, the size costs no accuracy; a volume or stretch change is heard after the audio
// already handed over (up to about 1 s with the sink's own ring). It waits for that much
// before it starts (a drain starts less) and again after it ran dry, so written audio is
// never skipped; 2 s (paplay's) would only delay a stop's silence and a change's effect.
pa_buffer_attr StreamBuffer(const pa_sample_spec& spec) {
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(500 * 1000, &spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(pa_usec_to_bytes(250 * 1000, &spec));
    attr.fragsize = static_cast<uint32_t>(-1);
    return attr;
}

namespace {

class PulseBackendImpl final : public AudioBackend {
  public:
    bool ListDevices(BackendDevices* found) override { return ListServerSinks(found); }

    // The server converts to whichever sink plays the stream: a format it can describe is
    // taken by every sink.
    bool Accepts(const std::string& /*target*/, const SinkFormat& format) const override {
        pa_sample_spec spec;
        pa_channel_map map;
        return ToPulse(format, &spec, &map);
    }

    std::unique_ptr<AudioSink> Open(const std::string& target, const SinkFormat& format,
                                    std::function<void()> wake, MMRESULT* error) override {
        if (!Accepts(target, format)) {
            *error = WAVERR_BADFORMAT;
            return nullptr;
        }
        return OpenServerStream(target, format, std::move(wake), error);
    }
};

}  // namespace

AudioBackend& PulseBackend() {
    static PulseBackendImpl backend;
    return backend;
}

}  // namespace platform
