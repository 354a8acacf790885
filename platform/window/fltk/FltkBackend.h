// The on-screen backend: FLTK 1.3 on an X display that was opened beforehand.
#pragma once

#include <memory>

#include "platform/window/DisplayBackend.h"

struct _XDisplay;

namespace platform {

// Takes over the open display (FLTK never opens one itself, so it never exits for lack of
// one); the calling thread becomes the thread that serves the screen.
std::unique_ptr<DisplayBackend> MakeFltkBackend(_XDisplay* display);

}  // namespace platform
