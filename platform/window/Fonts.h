// Font objects and the font each control was given with WM_SETFONT.
#pragma once

#include <string>

#include <platform/gdi.h>
#include <platform/window.h>

namespace platform {

struct FontInfo {
    int height;  // > 0 cell height, < 0 character height, 0 default
    int width;   // average character width, 0 for the face's own
    int weight;
    bool italic;
    bool fixedPitch;
    std::string faceName;
};

// The description behind a font handle, or null (valid until DeleteObject).
const FontInfo* FontOf(HFONT font);
// WM_SETFONT and WM_GETFONT of the default window procedure.
void SetFontOfWindow(HWND window, HFONT font);
HFONT FontOfWindow(HWND window);
// The window is gone: forget its font.
void ForgetFontOfWindow(HWND window);

}  // namespace platform
