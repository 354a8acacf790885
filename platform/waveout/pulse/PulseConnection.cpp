#include "platform/waveout/pulse/PulseConnection.h"

#include <errno.h>

#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace platform {

PulseConnection::~PulseConnection() {
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_stop(loop_);
    if (context_ != nullptr) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_free(loop_);
}

void PulseConnection::OnState(pa_context* /*context*/, void* data) {
    pa_threaded_mainloop_signal(static_cast<PulseConnection*>(data)->loop_, 0);
}

bool PulseConnection::Connect() {
    loop_ = pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        return false;
    }
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), program_invocation_short_name);
    if (context_ == nullptr) {
        return false;
    }
    pa_context_set_state_callback(context_, OnState, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(loop_) < 0) {
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    WaitFor([&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) || Ready(); },
            kAnswerSeconds);
    const bool ready = Ready();
    pa_threaded_mainloop_unlock(loop_);
    return ready;
}

void PulseConnection::OnTimeout(pa_mainloop_api* /*api*/, pa_time_event* /*event*/,
                                const timeval* /*when*/, void* data) {
    auto* timeout = static_cast<Timeout*>(data);
    timeout->expired = true;
    pa_threaded_mainloop_signal(timeout->loop, 0);
}

std::shared_ptr<PulseConnection> PulseConnection::Get() {
    static std::mutex mutex;
    // Never destroyed: streams may still run while the process exits.
    static auto* connections = new std::map<std::string, std::shared_ptr<PulseConnection>>();
    const char* server = std::getenv("PULSE_SERVER");
    const std::string key = server != nullptr ? server : "";

    std::lock_guard<std::mutex> lock(mutex);
    auto found = connections->find(key);
    if (found != connections->end()) {
        std::shared_ptr<PulseConnection> connection = found->second;
        pa_threaded_mainloop_lock(connection->loop_);
        const bool ready = connection->Ready();
        pa_threaded_mainloop_unlock(connection->loop_);
        if (ready) {
            return connection;
        }
        connections->erase(found);  // gone; sinks still holding it see their streams failed
    }
    auto connection = std::make_shared<PulseConnection>();
    if (!connection->Connect()) {
        return nullptr;
    }
    (*connections)[key] = connection;
    return connection;
}

void PulseConnection::Reply::Done(pa_stream* /*stream*/, int success, void* data) {
    auto* reply = static_cast<Reply*>(data);
    reply->done = true;
    reply->success = success != 0;
    pa_threaded_mainloop_signal(reply->loop, 0);
}

PulseConnection::Answer PulseConnection::Await(pa_operation* operation, Reply* reply,
                                               const std::atomic<bool>& givenUp) {
    if (operation == nullptr) {
        return Answer::No;
    }
    const bool answered =
        WaitFor([&] { return reply->done || givenUp; }, kAnswerSeconds) && reply->done;
    pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return !answered ? Answer::Silent : reply->success ? Answer::Yes : Answer::No;
}

}  // namespace platform
