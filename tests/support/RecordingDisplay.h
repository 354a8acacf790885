// A display backend for tests without a screen: it records what would reach one (modal
// windows with their texts, fonts given to controls) and can pretend to have a desktop frame
// and other programs' windows.
#pragma once

#include <string>
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
        std::vector<std::pair<std::string, std::string>> controls;  // class, text
    };

    RecordingDisplay() { platform::SetDisplayBackend(this); }
    ~RecordingDisplay() override { platform::SetDisplayBackend(nullptr); }
    RecordingDisplay(const RecordingDisplay&) = delete;
    RecordingDisplay& operator=(const RecordingDisplay&) = delete;

    void ModalWithoutScreen(HWND window, platform::ModalKind kind) override {
        Modal modal{kind, {}};
        for (HWND child : platform::ChildrenOf(window)) {
            modal.controls.emplace_back(platform::ClassNameOf(child), Text(child));
        }
        modals.push_back(std::move(modal));
    }
    void FontChanged(HWND /*window*/, const platform::FontInfo* font) override {
        fonts.push_back(font != nullptr ? *font : platform::FontInfo{});
    }
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
    std::vector<platform::FontInfo> fonts;
    RECT frame{0, 0, 0, 0};
    std::string foreignClass;
    RECT foreignRect{};
};

}  // namespace testsupport
