// The least that any start of the applet costs before its first sound: load the libraries,
// open the display and look through its top-level windows for another instance (as the
// status window's placement must), connect to the sound server while the display answers,
// open a stream with the applet's buffering on the default device and write the file's
// audio. Nothing else: no window of its own, no thread of its own, no file layer, no device
// listing. Built twice (see CMakeLists.txt): with the sound server's and X's libraries alone,
// and with every library the applet links, so that the two first sounds show what loading
// the rest costs.
// Usage: bench_start_floor <16-bit stereo 48 kHz WAV with a 44-byte header>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/pulseaudio.h>

#include <cstdio>
#include <cstdlib>

namespace {

// Every top-level window's class, as the search for another instance reads them.
void LookForAnotherInstance(Display* display) {
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
        return;
    }
    for (unsigned i = 0; i < count; ++i) {
        XClassHint hint{};
        if (XGetClassHint(display, children[i], &hint) != 0) {
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
    }
    XFree(children);
}

bool Iterate(pa_mainloop* loop) {
    return pa_mainloop_iterate(loop, 1, nullptr) >= 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_start_floor <16-bit stereo 48 kHz WAV>\n", stderr);
        return 2;
    }
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Start floor");
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0) {
        return 1;
    }
    const char* name = std::getenv("DISPLAY");
    Display* display = name != nullptr && name[0] != '\0' ? XOpenDisplay(name) : nullptr;
    if (display != nullptr) {
        LookForAnotherInstance(display);
    }
    // C's file calls only: the lean build must not need the C++ library, as paplay does not.
    std::FILE* file = std::fopen(argv[1], "rb");
    static char wav[1 << 24];
    const size_t size = file != nullptr ? std::fread(wav, 1, sizeof wav, file) : 0;
    if (file != nullptr) {
        std::fclose(file);
    }
    if (size < 44) {
        return 2;
    }

    while (pa_context_get_state(context) != PA_CONTEXT_READY) {
        if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || !Iterate(loop)) {
            return 1;
        }
    }
    const pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 2};
    const pa_buffer_attr attr{
        static_cast<uint32_t>(-1), static_cast<uint32_t>(pa_usec_to_bytes(500000, &format)),
        static_cast<uint32_t>(-1), static_cast<uint32_t>(pa_usec_to_bytes(250000, &format)),
        static_cast<uint32_t>(-1)};
    pa_stream* stream = pa_stream_new(context, "Playback", &format, nullptr);
    if (stream == nullptr || pa_stream_connect_playback(stream, nullptr, &attr, PA_STREAM_NOFLAGS,
                                                        nullptr, nullptr) < 0) {
        return 1;
    }
    for (size_t at = 44; at < size;) {
        if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            return 1;
        }
        size_t room =
            pa_stream_get_state(stream) == PA_STREAM_READY ? pa_stream_writable_size(stream) : 0;
        room = room == static_cast<size_t>(-1) ? 0 : room - room % 4;
        room = room < size - at ? room : size - at;
        if (room > 0) {
            pa_stream_write(stream, wav + at, room, nullptr, 0, PA_SEEK_RELATIVE);
            at += room;
        } else if (!Iterate(loop)) {
            return 1;
        }
    }
    bool drained = false;
    pa_operation_unref(pa_stream_drain(
        stream, [](pa_stream*, int, void* done) { *static_cast<bool*>(done) = true; }, &drained));
    while (!drained && PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        if (!Iterate(loop)) {
            return 1;
        }
    }
    if (display != nullptr) {
        XCloseDisplay(display);
    }
    pa_stream_unref(stream);
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return 0;
}
