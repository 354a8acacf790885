// The process's connection to the sound server: one threaded main loop and context, shared by
// the device list and every open stream, so opening a device costs no new connection. It is
// kept per server address (PULSE_SERVER), and a connection that has failed (the server went
// away) is replaced by a new attempt on the next use.
#pragma once

#include <pulse/pulseaudio.h>

#include <memory>

namespace platform {

class PulseConnection {
  public:
    // A ready connection, or null when no server answers. Never starts a server.
    static std::shared_ptr<PulseConnection> Get();

    PulseConnection() = default;
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* Loop() const { return loop_; }
    pa_context* Context() const { return context_; }
    // With the loop locked.
    bool Ready() const { return pa_context_get_state(context_) == PA_CONTEXT_READY; }

  private:
    bool Connect();
    static void OnState(pa_context* context, void* data);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace platform
