// A display backend for tests: no pixels, but it records what reaches the screen (modal
// windows with their texts, fonts given to controls) and can pretend to have a screen, a
// desktop frame and other programs' windows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <platform/window.h>
#include "platform/window/DisplayBackend.h"
#include "platform/window/Fonts.h"
#include "platform/window/WindowObject.h"

namespace testsupport {

class RecordingDisplay : public platform::DisplayBackend {
  public:
    struct Modal {
        platform::ModalKind kind;
        std::string caption;
        std::vector<std::pair<std::string, std::string>> controls;  // class, text
    };

    RecordingDisplay() { platform::SetDisplayBackend(this); }
    ~RecordingDisplay() override { platform::SetDisplayBackend(nullptr); }
    RecordingDisplay(const RecordingDisplay&) = delete;
    RecordingDisplay& operator=(const RecordingDisplay&) = delete;

    void ModalWithoutScreen(HWND window, platform::ModalKind kind) override {
        Modal modal{kind, Text(window), {}};
        for (HWND child : platform::ChildrenOf(window)) {
            modal.controls.emplace_back(platform::ClassNameOf(child), Text(child));
        }
        modals.push_back(std::move(modal));
    }
    void FontChanged(HWND window, const platform::FontInfo* font) override {
        fonts.emplace_back(window, font != nullptr ? *font : platform::FontInfo{});
    }
    bool HasScreen() const override { return screen; }
    // With a screen, the creating thread serves it: its waits sleep here until woken.
    bool IsGuiThread() const override { return screen && std::this_thread::get_id() == guiThread_; }
    void PumpEvents(std::chrono::steady_clock::time_point deadline) override {
        std::unique_lock<std::mutex> lock(wakeMutex_);
        woken_.wait_until(lock, deadline, [this] { return wakes_ > 0; });
        wakes_ = 0;
    }
    void Wake() override {
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            ++wakes_;
        }
        woken_.notify_all();
    }
    RECT ScreenRect() const override { return screenRect; }
    RECT FrameInsets(HWND window) const override {
        return GetParent(window) == nullptr ? frame : RECT{0, 0, 0, 0};
    }
    HWND FindForeignWindow(const char* className, const char* title) override {
        return foreignClass == className && title == nullptr ? kForeign : nullptr;
    }
    bool ForeignWindowRect(HWND window, RECT* rect) const override {
        if (window != kForeign) {
            return false;
        }
        *rect = foreignRect;
        return true;
    }

    static std::string Text(HWND window) {
        char buffer[8192];
        GetWindowTextA(window, buffer, sizeof buffer);
        return buffer;
    }

    HWND const kForeign = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1231));
    std::vector<Modal> modals;
    std::vector<std::pair<HWND, platform::FontInfo>> fonts;
    bool screen = false;
    RECT screenRect{0, 0, 1280, 1024};
    RECT frame{0, 0, 0, 0};
    std::string foreignClass;
    RECT foreignRect{};

  private:
    const std::thread::id guiThread_ = std::this_thread::get_id();
    std::mutex wakeMutex_;
    std::condition_variable woken_;
    int wakes_ = 0;
};

}  // namespace testsupport
