// The process's connection to the sound server: one threaded main loop and context, shared by
// the device list and every open stream, so opening a device costs no new connection. It is
// kept per server address (PULSE_SERVER), and a connection that has failed (the server went
// away) is replaced by a new attempt on the next use.
#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <memory>

namespace platform {

// How long the server may take to answer before it counts as gone.
constexpr int kAnswerSeconds = 3;

class PulseConnection {
  public:
    // Holds a loop's lock for a scope.
    class Locked {
      public:
        explicit Locked(pa_threaded_mainloop* loop) : loop_(loop) {
            pa_threaded_mainloop_lock(loop_);
        }
        ~Locked() { pa_threaded_mainloop_unlock(loop_); }
        Locked(const Locked&) = delete;
        Locked& operator=(const Locked&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

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

    // A stream operation's answer, for Await: made with Reply::Done as the callback and the
    // Reply as its data.
    struct Reply {
        pa_threaded_mainloop* loop;
        bool done = false;
        bool success = false;
        static void Done(pa_stream* stream, int success, void* data);
    };
    enum class Answer { Yes, No, Silent };
    // With the loop locked: waits up to kAnswerSeconds for the answer to `operation` (null
    // when it could not be sent: No), then lets go of it so that no late callback comes.
    // A `givenUp` that turns true (the stream failed) ends the wait at once: Silent.
    Answer Await(pa_operation* operation, Reply* reply, const std::atomic<bool>& givenUp);

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
