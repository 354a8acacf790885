// One short synchronous conversation with the server to list its sinks and find the
// default one.
#include <pulse/pulseaudio.h>

#include <chrono>

#include "platform/waveout/pulse/PulseBackend.h"

namespace platform {
namespace {

struct Listing {
    std::vector<PulseSinkInfo>* sinks;
    std::string defaultName;
    int pending = 0;
};

void OnServerInfo(pa_context* /*context*/, const pa_server_info* info, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (info != nullptr && info->default_sink_name != nullptr) {
        listing->defaultName = info->default_sink_name;
    }
    --listing->pending;
}

void OnSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int last, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (last != 0) {
        --listing->pending;
        return;
    }
    if (info != nullptr && info->name != nullptr) {
        const char* description = info->description != nullptr ? info->description : info->name;
        listing->sinks->push_back(
            {info->name, description, static_cast<uint16_t>(info->channel_map.channels), false});
    }
}

}  // namespace

bool ListPulseSinks(std::vector<PulseSinkInfo>* sinks) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(3);
    pa_mainloop* loop = pa_mainloop_new();
    if (loop == nullptr) {
        return false;
    }
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "wave-output device list");
    bool answered = false;
    if (context != nullptr &&
        pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        Listing listing{sinks, {}, 0};
        bool asked = false;
        while (Clock::now() < deadline) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state)) {
                break;
            }
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                listing.pending = 2;
                pa_operation* info = pa_context_get_server_info(context, OnServerInfo, &listing);
                pa_operation* list = pa_context_get_sink_info_list(context, OnSinkInfo, &listing);
                if (info != nullptr) {
                    pa_operation_unref(info);
                } else {
                    --listing.pending;
                }
                if (list != nullptr) {
                    pa_operation_unref(list);
                } else {
                    --listing.pending;
                }
            }
            if (asked && listing.pending <= 0) {
                answered = true;
                break;
            }
            // Short blocking steps so that the deadline holds even when the server is silent.
            pa_mainloop_prepare(loop, 50 * 1000);
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
        for (PulseSinkInfo& sink : *sinks) {
            sink.isDefault = sink.name == listing.defaultName;
        }
        pa_context_disconnect(context);
    }
    if (context != nullptr) {
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    if (!answered) {
        sinks->clear();
    }
    return answered;
}

}  // namespace platform
