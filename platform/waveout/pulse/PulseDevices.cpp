// Lists the server's sinks and finds its default one, over the shared connection.
#include "platform/waveout/pulse/PulseBackend.h"
#include "platform/waveout/pulse/PulseConnection.h"

namespace platform {
namespace {

struct PulseSinkInfo {
    std::string name;         // the server's sink name, used to open it
    std::string description;  // what the desktop's sound settings show
    uint16_t channels;
    bool isDefault;
};

struct Listing {
    pa_threaded_mainloop* loop;
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
    pa_threaded_mainloop_signal(listing->loop, 0);
}

void OnSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int last, void* data) {
    auto* listing = static_cast<Listing*>(data);
    if (last != 0) {
        --listing->pending;
        pa_threaded_mainloop_signal(listing->loop, 0);
        return;
    }
    if (info != nullptr && info->name != nullptr) {
        const char* description = info->description != nullptr ? info->description : info->name;
        listing->sinks->push_back(
            {info->name, description, static_cast<uint16_t>(info->channel_map.channels), false});
    }
}

// Asks the server for its sinks, in the server's order; false when it does not answer.
bool ListPulseSinks(std::vector<PulseSinkInfo>* sinks) {
    std::shared_ptr<PulseConnection> connection = PulseConnection::Get();
    if (connection == nullptr) {
        return false;
    }
    pa_threaded_mainloop* loop = connection->Loop();
    Listing listing{loop, sinks, {}, 0};
    pa_threaded_mainloop_lock(loop);
    for (pa_operation* operation :
         {pa_context_get_server_info(connection->Context(), OnServerInfo, &listing),
          pa_context_get_sink_info_list(connection->Context(), OnSinkInfo, &listing)}) {
        if (operation != nullptr) {
            ++listing.pending;
            pa_operation_unref(operation);
        }
    }
    connection->WaitFor([&] { return listing.pending == 0 || !connection->Ready(); },
                        kAnswerSeconds);
    const bool answered = listing.pending == 0;
    if (!answered) {
        // The server went away or stopped answering: the callbacks must not run on `listing`
        // any more, and the connection is not to be used again.
        pa_context_disconnect(connection->Context());
    }
    pa_threaded_mainloop_unlock(loop);
    for (PulseSinkInfo& sink : *sinks) {
        sink.isDefault = sink.name == listing.defaultName;
    }
    if (!answered) {
        sinks->clear();
    }
    return answered;
}

}  // namespace

bool ListServerSinks(BackendDevices* found) {
    std::vector<PulseSinkInfo> sinks;
    if (!ListPulseSinks(&sinks) || sinks.empty()) {
        return false;
    }
    // No target: the default follows the server's default sink, wherever the server sends it,
    // and the server maps any layout up to its maximum onto it.
    found->preferred = BackendDevice{sinks.front().description, "", PA_CHANNELS_MAX};
    for (const PulseSinkInfo& sink : sinks) {
        found->devices.push_back(BackendDevice{sink.description, sink.name, sink.channels});
        if (sink.isDefault) {
            found->preferred->name = sink.description;
        }
    }
    return true;
}

}  // namespace platform
