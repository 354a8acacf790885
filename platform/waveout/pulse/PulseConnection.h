// The process's connection to the sound server: one threaded main loop and context, shared by
// the device list and every open stream, so opening a device costs no new connection. It is
// kept per server address (PULSE_SERVER), and a connection that has failed (the server went
// away) is replaced by a new attempt on the next use.
#pragma once

#include <pulse/pulseaudio.h>

#include <memory>

namespace platform {

// How long the server may take to answer before it counts as gone.
constexpr int kAnswerSeconds = 3;

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

    // With the loop locked: waits until done() holds or the time is up (false then), so a
    // server that stops answering cannot hang the caller. Whatever done() looks at must
    // signal the loop when it changes.
    template <typename Done>
    bool WaitFor(Done done, int seconds) {
        if (done()) {
            return true;
        }
        Timeout timeout{loop_, false};
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), static_cast<pa_usec_t>(seconds) * PA_USEC_PER_SEC);
        pa_time_event* event = api->time_new(api, &when, OnTimeout, &timeout);
        while (!done() && !timeout.expired) {
            pa_threaded_mainloop_wait(loop_);
        }
        api->time_free(event);
        return done();
    }

  private:
    struct Timeout {
        pa_threaded_mainloop* loop;
        bool expired;
    };
    static void OnTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval* when,
                          void* data);

    bool Connect();
    static void OnState(pa_context* context, void* data);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
};

}  // namespace platform
