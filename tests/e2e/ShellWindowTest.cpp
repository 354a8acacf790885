// The applet on a real X display (Xvfb without a window manager, and with openbox): where the
// status window goes, boxes that stop signals take down, and the program without a display.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/AppletProcess.h"
#include "support/ScreenTest.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Applet;

using ShellOnScreen = testsupport::ScreenTest;

constexpr const char* kClass = "QUINDLE";
constexpr const char* kTitle = "Quindle64.exe Version 1.14";
// A source that plays until the window goes, on the device without hardware.
constexpr const char* kEndlessTone = "~F440";

// The outer frame is placed: the first at the corner, each next one 25 pixels right of and
// below the topmost running instance's frame, back to the corner when that frame is within 25
// pixels of the right edge; the client area is 240 x 80 whatever the frame. Without a window
// manager the frame is the client area itself.
TEST_F(ShellOnScreen, StatusWindowFramesCascadeFromTheCornerWithAClientOf240By80) {
    struct Desktop {
        const char* name;
        const char* display;
    };
    const Desktop desktops[] = {{"plain", std::getenv("DISPLAY")},
                                {"openbox", std::getenv("QUINDLE_WM_DISPLAY")}};
    for (const Desktop& desktop : desktops) {
        SCOPED_TRACE(desktop.name);
        if (!UseDisplay(desktop.display)) {
            ADD_FAILURE() << "no " << desktop.name << " display (run inside scripts/testbed.sh)";
            continue;
        }
        ASSERT_TRUE(Windows(kClass, nullptr, false).empty()) << "another instance is running";
        const std::string tag = std::string("placement-") + desktop.name;
        std::vector<std::unique_ptr<Applet>> applets;
        std::vector<Window> windows;
        for (int i = 0; i < 3; ++i) {
            applets.push_back(std::make_unique<Applet>(
                std::vector<std::string>{"/D:null", kEndlessTone}, displayName_, tag));
            windows.push_back(
                WaitForNewWindow(kClass, kTitle, std::set<Window>(windows.begin(), windows.end())));
            ASSERT_NE(windows.back(), 0u) << applets.back()->Err();
            const Geometry frame = FrameGeometryOf(windows.back());
            const Geometry client = GeometryOf(windows.back());
            EXPECT_EQ(frame.x, 25 * i) << "instance " << i;
            EXPECT_EQ(frame.y, 25 * i) << "instance " << i;
            EXPECT_EQ(client.width, 240);
            EXPECT_EQ(client.height, 80);
            if (i > 0) {
                Screenshot(tag + "-" + std::to_string(i + 1) + "-instances.png");
            }
        }
        for (size_t i = 1; i < windows.size(); ++i) {
            ClickCloseBox(windows[i]);
            EXPECT_EQ(applets[i]->WaitExit(), 0);
        }

        // A neighbour whose frame is within 25 pixels of the right edge sends the next one to
        // the corner.
        const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
        const Window first = windows[0];
        const Geometry frame = FrameGeometryOf(first);
        const Geometry client = GeometryOf(first);  // moves place the client (static gravity)
        XMoveWindow(display_, first, screenWidth - frame.width - 10 + client.x - frame.x,
                    300 + client.y - frame.y);
        XSync(display_, False);
        std::this_thread::sleep_for(300ms);
        const Geometry moved = FrameGeometryOf(first);
        EXPECT_EQ(moved.x + moved.width, screenWidth - 10);
        Applet next({"/D:null", kEndlessTone}, displayName_, tag + "-edge");
        const Window corner = WaitForNewWindow(kClass, kTitle, {first});
        ASSERT_NE(corner, 0u) << next.Err();
        EXPECT_EQ(FrameGeometryOf(corner).x, 0);
        EXPECT_EQ(FrameGeometryOf(corner).y, 0);
        ClickCloseBox(corner);
        EXPECT_EQ(next.WaitExit(), 0);
        ClickCloseBox(first);
        EXPECT_EQ(applets[0]->WaitExit(), 0);
    }
}

// SIGINT and SIGTERM end the run while a box waits for OK: the box goes, the run ends with 0.
TEST_F(ShellOnScreen, StopSignalsEndTheRunWhileABoxIsUp) {
    struct Case {
        std::vector<std::string> words;
        const char* title;
        int signal;
    };
    const Case cases[] = {
        {{"/X"}, kTitle, SIGTERM},                                 // the usage box
        {{"/E"}, "Dialog", SIGINT},                                // the device list
        {{"/D:no such device", kEndlessTone}, "Dialog", SIGTERM},  // nothing matched
        {{"/H", "/D:null", "/nonexistent/missing.wav"}, "Starting Error", SIGINT},  // hidden too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0]);
        const std::vector<Window> before = Windows(nullptr, c.title, false);
        Applet applet(c.words, displayName_, "stop-signal-box");
        const Window box =
            WaitForNewWindow(nullptr, c.title, std::set<Window>(before.begin(), before.end()));
        ASSERT_NE(box, 0u) << applet.Err();
        const auto signalled = std::chrono::steady_clock::now();
        applet.Signal(c.signal);
        EXPECT_EQ(applet.WaitExit(5s), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, testsupport::kEndAllowance);
        const std::vector<Window> after = Windows(nullptr, c.title, false);
        EXPECT_EQ(std::count(after.begin(), after.end(), box), 0) << "the box stayed";
        EXPECT_EQ(applet.Err(), "");
    }
}

// Without a display, or with one that cannot be opened, texts go to the terminal.
TEST(ShellWithoutScreen, UsageToStandardErrorDeviceListToStandardOutput) {
    for (const char* display : {"", ":250"}) {
        Applet usage({"/Q"}, display, "headless-usage");
        EXPECT_EQ(usage.WaitExit(), 0);
        EXPECT_EQ(usage.Err().rfind("Quindle64.exe Version 1.14: Missing", 0), 0u) << usage.Err();
        Applet list({"/E"}, display, "headless-list");
        EXPECT_EQ(list.WaitExit(), 0);
        EXPECT_EQ(list.Out().rfind("Device list:\n0 - \"", 0), 0u) << list.Out();
        EXPECT_NE(list.Out().find("\"Null Output\"\n"), std::string::npos) << list.Out();
    }
}

}  // namespace
