// Windows without a screen: message boxes print "caption: text" to the error stream, a
// dialog prints the text of its edit controls to the output stream, and a visible window's
// static rows show as one status line on a terminal.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/window/DisplayBackend.h"

namespace platform {

class HeadlessBackend : public DisplayBackend {
  public:
    // statusLine: show visible windows' rows on the error stream (a terminal).
    HeadlessBackend(FILE* out, FILE* err, bool statusLine);
    // A status line still standing (its window goes with the process) is ended with its
    // line break.
    ~HeadlessBackend() override;

    void ModalWithoutScreen(HWND window, ModalKind kind) override;
    void WindowShown(HWND window, bool visible) override;
    void WindowDestroyed(HWND window) override;
    void TextChanged(HWND window, const std::string& text) override;

  private:
    void DrawStatusLine(HWND window);

    FILE* out_;
    FILE* err_;
    const bool statusLine_;
    std::mutex mutex_;
    HWND shownWindow_ = nullptr;  // the window whose rows the status line shows
    bool lineDrawn_ = false;
};

}  // namespace platform
