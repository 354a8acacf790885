// Start-up choice of the backend: the X display when DISPLAY names one that answers, else
// the terminal. An unreachable display is not an error; the program runs without a screen.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <platform/display.h>
#include "platform/window/fltk/FltkBackend.h"
#include "platform/window/headless/HeadlessBackend.h"

namespace platform {

bool OpenDisplay() {
    static std::once_flag once;
    static std::unique_ptr<DisplayBackend> backend;  // lives until the process ends
    static bool onScreen = false;
    std::call_once(once, [] {
        const char* name = std::getenv("DISPLAY");
        ::Display* display = (name != nullptr && name[0] != '\0') ? XOpenDisplay(name) : nullptr;
        if (display != nullptr) {
            backend = MakeFltkBackend(display);
            onScreen = true;
        } else {
            backend = std::make_unique<HeadlessBackend>(stdout, stderr, isatty(STDERR_FILENO) != 0);
        }
        SetDisplayBackend(backend.get());
    });
    return onScreen;
}

}  // namespace platform
