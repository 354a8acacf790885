// The seam between the window core and an on-screen toolkit.
//
// The core (classes, window objects, message queues, timers) works without any display. An
// on-screen backend (FLTK on X11, or a headless one that writes to the terminal) installs
// itself once, before the first window is created, with SetDisplayBackend(). The core then
// tells it about window life and changes through the hooks below, always on the thread that
// owns the window. The backend binds to one GUI thread (IsGuiThread); when that thread's
// queue is empty, GetMessageA does not sleep on its condition variable but calls
// PumpEvents(), so toolkit events (expose, input, close buttons) are served while the thread
// waits; a message posted to that thread from elsewhere calls Wake() so PumpEvents returns.
#pragma once

#include <chrono>
#include <string>

#include <platform/window.h>

namespace platform {

struct WindowInfo {
    HWND window;
    HWND parent;
    const char* className;
    DWORD style;
    DWORD exStyle;
    RECT rect;
    HICON icon;  // the class icon, or null
};

struct FontInfo;

// Why a modal window cannot wait for a click: there is no screen.
enum class ModalKind { MessageBox, Dialog };

class DisplayBackend {
  public:
    virtual ~DisplayBackend() = default;

    virtual void WindowCreated(const WindowInfo& /*info*/) {}
    virtual void WindowDestroyed(HWND /*window*/) {}
    virtual void WindowShown(HWND /*window*/, bool /*visible*/) {}
    virtual void WindowMoved(HWND /*window*/, const RECT& /*rect*/) {}
    virtual void TextChanged(HWND /*window*/, const std::string& /*text*/) {}

    // True on the thread whose waits must also serve the toolkit's events.
    virtual bool IsGuiThread() const { return false; }
    // Serves toolkit events until the deadline or until Wake() is called. Only called on
    // the GUI thread, with no lock of the core held.
    virtual void PumpEvents(std::chrono::steady_clock::time_point /*deadline*/) {}
    // Makes a running PumpEvents() return soon, or the next one return at once when none is
    // running (a wake-up must not be lost between the queue's check and the pump); callable
    // from any thread, for a post to any thread, so it must be cheap.
    virtual void Wake() {}

    // Presentation. Without a screen, modal windows end at once: the backend may still
    // show their content (a message box's caption and text, a dialog's edit texts) before.
    virtual bool HasScreen() const { return false; }
    virtual void ModalWithoutScreen(HWND /*window*/, ModalKind /*kind*/) {}
    // The screen in pixels (the desktop window's rectangle).
    virtual RECT ScreenRect() const { return RECT{0, 0, 1024, 768}; }
    // How far the desktop's frame reaches beyond the client area of a top-level window, on
    // each side; zero while the frame is not known (before the window is first shown).
    virtual RECT FrameInsets(HWND /*window*/) const { return RECT{0, 0, 0, 0}; }
    virtual void FontChanged(HWND /*window*/, const FontInfo* /*font*/) {}
    virtual void Repaint(HWND /*window*/) {}
    // Size of a text in a font (null: the controls' default font), tabs expanded, lines
    // broken between words beyond maxWidth (0: never).
    virtual void MeasureText(const char* text, const FontInfo* font, int maxWidth, int* width,
                             int* height) const;
    // Another program's top-level window by exact class (and title when given), hidden ones
    // included; its handle is one that ForeignWindowRect understands.
    virtual HWND FindForeignWindow(const char* /*className*/, const char* /*title*/) {
        return nullptr;
    }
    virtual bool ForeignWindowRect(HWND /*window*/, RECT* /*rect*/) const { return false; }
};

// The installed backend; a no-display one (every hook does nothing) until one is installed.
DisplayBackend& Display();
// Installs the backend for the rest of the process (not owned; it must outlive every window).
void SetDisplayBackend(DisplayBackend* backend);

}  // namespace platform
