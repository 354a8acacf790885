// A test on the test bed's X display (Xvfb without a window manager, or the second one with
// openbox): finding mapped top-level windows by title, their geometry and frames, and what a
// window manager sends for the close box.
#pragma once

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/AppletProcess.h"

namespace testsupport {

class ScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Never the user's own display and sound server.
        if (std::getenv("QUINDLE_TESTBED") == nullptr) {
            GTEST_SKIP() << "run inside scripts/testbed.sh";
        }
        ASSERT_TRUE(UseDisplay(std::getenv("DISPLAY"))) << "the test bed has no display";
        // Other programs' windows may vanish between two requests.
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    void TearDown() override {
        for (Display* display : opened_) {
            XCloseDisplay(display);
        }
    }

    // Works on that display from here on (the test bed's second one runs a window manager).
    // Connections stay open until the end of the test: an X server without clients resets
    // and refuses connections for a moment.
    bool UseDisplay(const char* name) {
        Display* display = nullptr;
        if (name == nullptr || name[0] == '\0' || (display = XOpenDisplay(name)) == nullptr) {
            return false;
        }
        opened_.push_back(display);
        display_ = display;
        displayName_ = name;
        return true;
    }

    // The window's children; with `parent`, its parent instead of them.
    std::vector<Window> Tree(Window window, Window* parent = nullptr) {
        Window root = 0;
        Window up = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> list;
        if (XQueryTree(display_, window, &root, &up, &children, &count) != 0 &&
            children != nullptr) {
            list.assign(children, children + count);
            XFree(children);
        }
        if (parent != nullptr) {
            *parent = up == root ? 0 : up;
        }
        return list;
    }

    // Mapped top-level windows (children of the root, or of a window manager's frames) with
    // that title.
    std::vector<Window> Windows(const std::string& title) {
        XSync(display_, False);
        std::vector<Window> candidates = Tree(DefaultRootWindow(display_));
        for (size_t i = 0, top = candidates.size(); i < top; ++i) {
            const std::vector<Window> inner = Tree(candidates[i]);
            candidates.insert(candidates.end(), inner.begin(), inner.end());
        }
        std::vector<Window> found;
        for (Window w : candidates) {
            XWindowAttributes attributes{};
            char* name = nullptr;
            if (XGetWindowAttributes(display_, w, &attributes) != 0 &&
                attributes.map_state == IsViewable && XFetchName(display_, w, &name) != 0 &&
                name != nullptr && title == name) {
                found.push_back(w);
            }
            if (name != nullptr) {
                XFree(name);
            }
        }
        return found;
    }

    // Waits for a mapped window with that title that was not in `known`.
    Window WaitForNewWindow(const std::string& title, const std::vector<Window>& known) {
        const std::set<Window> old(known.begin(), known.end());
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < end) {
            for (Window w : Windows(title)) {
                if (old.count(w) == 0) {
                    std::this_thread::sleep_for(150ms);  // let it draw
                    return w;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return 0;
    }

    struct Geometry {
        int x, y, width, height;
    };
    Geometry GeometryOf(Window window) {
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        int x = 0;
        int y = 0;
        Window child = 0;
        XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
        return {x, y, attributes.width, attributes.height};
    }

    // The outer frame: the window's ancestor just below the root, borders included.
    Geometry FrameGeometryOf(Window window) {
        Window parent = window;
        while (parent != 0) {
            window = parent;
            Tree(window, &parent);
        }
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, window, &attributes);
        const int border = attributes.border_width;
        return {attributes.x, attributes.y, attributes.width + 2 * border,
                attributes.height + 2 * border};
    }

    // What a window manager sends when the close box is clicked.
    void ClickCloseBox(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] =
            static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, window, False, NoEventMask, &event);
        XFlush(display_);
    }

    Display* display_ = nullptr;
    std::string displayName_;
    std::vector<Display*> opened_;
};

}  // namespace testsupport
