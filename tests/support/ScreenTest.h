// A test on the test bed's X display (Xvfb without a window manager, or the second one with
// openbox): finding top-level windows by class and title, their geometry and frames, what a
// window manager sends for the close box, keys, clicks and screenshots kept under
// <build>/artifacts/.
#pragma once

#include <gtest/gtest.h>

#include <X11/Xatom.h>
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
        if (!UseDisplay(std::getenv("DISPLAY"))) {
            GTEST_SKIP() << "no X display (run inside scripts/testbed.sh)";
        }
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

    std::vector<Window> ChildrenOf(Window window) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        std::vector<Window> list;
        if (XQueryTree(display_, window, &root, &parent, &children, &count) != 0 &&
            children != nullptr) {
            list.assign(children, children + count);
            XFree(children);
        }
        return list;
    }

    // Top-level windows (children of the root, or of a window manager's frames) whose
    // WM_CLASS class or name matches, mapped ones only when asked.
    std::vector<Window> Windows(const char* className, const char* title, bool mappedOnly) {
        std::vector<Window> found;
        XSync(display_, False);
        std::vector<Window> children = ChildrenOf(DefaultRootWindow(display_));
        const size_t topCount = children.size();
        for (size_t i = 0; i < topCount; ++i) {
            const std::vector<Window> inner = ChildrenOf(children[i]);
            children.insert(children.end(), inner.begin(), inner.end());
        }
        const size_t count = children.size();
        for (size_t i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display_, children[i], &attributes) == 0 ||
                (mappedOnly && attributes.map_state != IsViewable)) {
                continue;
            }
            bool match = true;
            if (className != nullptr) {
                XClassHint hint{};
                match = XGetClassHint(display_, children[i], &hint) != 0 &&
                        std::string(hint.res_class) == className;
                if (hint.res_name != nullptr) {
                    XFree(hint.res_name);
                }
                if (hint.res_class != nullptr) {
                    XFree(hint.res_class);
                }
            }
            if (match && title != nullptr) {
                char* name = nullptr;
                match = XFetchName(display_, children[i], &name) != 0 && name != nullptr &&
                        std::string(name) == title;
                if (name != nullptr) {
                    XFree(name);
                }
            }
            if (match) {
                found.push_back(children[i]);
            }
        }
        return found;
    }

    // Waits for a mapped window that was not in `known`.
    Window WaitForNewWindow(const char* className, const char* title, const std::set<Window>& known,
                            bool mappedOnly = true) {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < end) {
            for (Window w : Windows(className, title, mappedOnly)) {
                if (known.count(w) == 0) {
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
        Window current = window;
        for (;;) {
            Window root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(display_, current, &root, &parent, &children, &count) == 0) {
                break;
            }
            if (children != nullptr) {
                XFree(children);
            }
            if (parent == root || parent == 0) {
                break;
            }
            current = parent;
        }
        XWindowAttributes attributes{};
        XGetWindowAttributes(display_, current, &attributes);
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

    void Screenshot(const std::string& name) {
        const std::string path = ArtifactPath(name);
        const std::string command =
            "import -display " + displayName_ + " -window root '" + path + "' 2>/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    Display* display_ = nullptr;
    std::string displayName_;
    std::vector<Display*> opened_;
};

}  // namespace testsupport
