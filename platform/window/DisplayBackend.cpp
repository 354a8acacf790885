#include "platform/window/DisplayBackend.h"

#include "platform/window/TextLayout.h"

#include <atomic>

namespace platform {
namespace {

DisplayBackend& NoDisplay() {
    static DisplayBackend backend;
    return backend;
}

std::atomic<DisplayBackend*> installed{nullptr};

}  // namespace

DisplayBackend& Display() {
    DisplayBackend* backend = installed.load(std::memory_order_acquire);
    return backend != nullptr ? *backend : NoDisplay();
}

void SetDisplayBackend(DisplayBackend* backend) {
    installed.store(backend, std::memory_order_release);
}

}  // namespace platform

namespace platform {

// Without a toolkit: a cell of 6 x 13 pixels per byte, the base units of the dialog font.
void DisplayBackend::MeasureText(const char* text, const FontInfo* /*font*/, int maxWidth,
                                 int* width, int* height) const {
    const TextLayout layout =
        LayOutText(text != nullptr ? text : "", 48, maxWidth,
                   [](std::string_view piece) { return static_cast<int>(piece.size()) * 6; });
    *width = layout.width;
    *height = layout.lines * 13;
}

}  // namespace platform
