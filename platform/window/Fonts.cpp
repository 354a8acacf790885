// Fonts are descriptions kept by handle; the display backend maps them to real fonts when a
// control receives one.
#include "platform/window/Fonts.h"

#include <memory>
#include <mutex>
#include <unordered_map>

#include <platform/kernel.h>
#include "platform/window/DisplayBackend.h"

namespace platform {
namespace {

struct FontRegistry {
    std::mutex mutex;
    std::unordered_map<HFONT, std::unique_ptr<FontInfo>> fonts;
    std::unordered_map<HWND, HFONT> windowFonts;
    uintptr_t nextHandle = 1;
};

FontRegistry& Fonts() {
    static auto* registry = new FontRegistry();  // outlives windows removed at thread exit
    return *registry;
}

}  // namespace

const FontInfo* FontOf(HFONT font) {
    FontRegistry& registry = Fonts();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.fonts.find(font);
    return found != registry.fonts.end() ? found->second.get() : nullptr;
}

void SetFontOfWindow(HWND window, HFONT font) {
    {
        FontRegistry& registry = Fonts();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.windowFonts[window] = font;
    }
    Display().FontChanged(window, FontOf(font));
}

HFONT FontOfWindow(HWND window) {
    FontRegistry& registry = Fonts();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.windowFonts.find(window);
    return found != registry.windowFonts.end() ? found->second : nullptr;
}

void ForgetFontOfWindow(HWND window) {
    FontRegistry& registry = Fonts();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.windowFonts.erase(window);
}

}  // namespace platform

HFONT CreateFontA(int height, int width, int /*escapement*/, int /*orientation*/, int weight,
                  DWORD italic, DWORD /*underline*/, DWORD /*strikeOut*/, DWORD /*charSet*/,
                  DWORD /*outPrecision*/, DWORD /*clipPrecision*/, DWORD /*quality*/,
                  DWORD pitchAndFamily, LPCSTR faceName) {
    auto info = std::make_unique<platform::FontInfo>(platform::FontInfo{
        height, width, weight, italic != 0, (pitchAndFamily & 0x3) == FIXED_PITCH,
        faceName != nullptr ? faceName : ""});
    platform::FontRegistry& registry = platform::Fonts();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto font = reinterpret_cast<HFONT>(registry.nextHandle++ << 4 | 0x4);
    registry.fonts.emplace(font, std::move(info));
    return font;
}

BOOL DeleteObject(HGDIOBJ object) {
    platform::FontRegistry& registry = platform::Fonts();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (registry.fonts.erase(static_cast<HFONT>(object)) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}
