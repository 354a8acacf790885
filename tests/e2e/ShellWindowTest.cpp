// The applet on a real X display (the test bed's Xvfb without a window manager, and for the
// placement also the one with openbox): where the status window goes, its client size, the
// device list dialog and the usage box, and the same program without a display. Screenshots are
// kept under <build>/artifacts/.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/AppletProcess.h"
#include "support/ScreenTest.h"

namespace {

using namespace std::chrono_literals;
using testsupport::Applet;
using testsupport::ArtifactPath;

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

// The window's icon is the program's 32 x 32 picture: a navy tile, transparent corners.
TEST_F(ShellOnScreen, StatusWindowCarriesTheProgramIcon) {
    ASSERT_TRUE(Windows(kClass, nullptr, false).empty()) << "another instance is running";
    Applet applet({"/D:null", kEndlessTone}, displayName_, "icon");
    const Window a = WaitForNewWindow(kClass, kTitle, {});
    ASSERT_NE(a, 0u) << applet.Err();
    Atom type = 0;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    ASSERT_EQ(XGetWindowProperty(display_, a, XInternAtom(display_, "_NET_WM_ICON", False), 0, 4096,
                                 False, AnyPropertyType, &type, &format, &items, &after, &data),
              Success);
    ASSERT_NE(data, nullptr);
    const auto* icon = reinterpret_cast<const unsigned long*>(data);
    ASSERT_EQ(items, 2u + 32 * 32);
    EXPECT_EQ(icon[0], 32u);
    EXPECT_EQ(icon[1], 32u);
    EXPECT_EQ(icon[2 + 0] >> 24, 0u);                            // corner: transparent
    EXPECT_EQ(icon[2 + 3 * 32 + 3] & 0xFFFFFFFFu, 0xFF000080u);  // opaque navy
    XFree(data);
    ClickCloseBox(a);
    EXPECT_EQ(applet.WaitExit(), 0);
}

TEST_F(ShellOnScreen, AHiddenInstanceIsFoundToo) {
    ASSERT_TRUE(Windows(kClass, nullptr, false).empty()) << "another instance is running";
    Applet hidden({"/H", "/D:null", kEndlessTone}, displayName_, "hidden-first");
    const Window standIn = WaitForNewWindow(kClass, nullptr, {}, false);
    ASSERT_NE(standIn, 0u) << hidden.Err();
    EXPECT_TRUE(Windows(kClass, nullptr, true).empty()) << "the /H window must stay unmapped";

    Applet shown({"/D:null", kEndlessTone}, displayName_, "hidden-second");
    const Window b = WaitForNewWindow(kClass, kTitle, {standIn});
    ASSERT_NE(b, 0u) << shown.Err();
    const Geometry g = GeometryOf(b);
    EXPECT_EQ(g.x, 25);
    EXPECT_EQ(g.y, 25);
    EXPECT_EQ(g.width, 240);
    EXPECT_EQ(g.height, 80);
    ClickCloseBox(b);
    EXPECT_EQ(shown.WaitExit(), 0);
    EXPECT_TRUE(hidden.Running());
}

TEST_F(ShellOnScreen, DeviceListIgnoresEscapeAndClosesWithEnterOkAndTheCloseBox) {
    enum class Close { Enter, EnterInTheList, OkButton, CloseBox };
    for (Close how : {Close::Enter, Close::EnterInTheList, Close::OkButton, Close::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(how));
        const std::vector<Window> before = Windows(nullptr, "Dialog", false);
        Applet list({"/E", "/X", "ignored"}, displayName_, "device-list");
        const Window dialog =
            WaitForNewWindow(nullptr, "Dialog", std::set<Window>(before.begin(), before.end()));
        ASSERT_NE(dialog, 0u) << list.Err();
        const Geometry g = GeometryOf(dialog);
        // 309 x 253 dialog units with the 6 x 13 base units of the dialog font.
        EXPECT_EQ(g.width, 464);
        EXPECT_EQ(g.height, 411);
        if (how == Close::Enter) {
            Screenshot("device-list.png");
        }
        if (how == Close::EnterInTheList) {
            Click(g.x + 200, g.y + 150);  // the focus goes into the list text
        }
        Key("Escape");
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(list.Running()) << "Escape must not close the device list";
        switch (how) {
            case Close::Enter:
            case Close::EnterInTheList:
                Key("Return");
                break;
            case Close::OkButton:  // OK at (252, 232) size 50 x 14 dialog units
                Click(g.x + 378 + 37, g.y + 377 + 11);
                break;
            case Close::CloseBox:
                ClickCloseBox(dialog);
                break;
        }
        EXPECT_EQ(list.WaitExit(), 0);
        EXPECT_EQ(list.Out(), "");
        EXPECT_EQ(list.Err(), "");
    }
}

TEST_F(ShellOnScreen, UsageBoxShowsTheMessageUntilOk) {
    const std::vector<Window> before = Windows(nullptr, kTitle, false);
    Applet usage({"/X:1", "/Y"}, displayName_, "usage");
    const Window box =
        WaitForNewWindow(nullptr, kTitle, std::set<Window>(before.begin(), before.end()));
    ASSERT_NE(box, 0u) << usage.Err();
    const Geometry g = GeometryOf(box);
    EXPECT_GT(g.width, 500);  // the longest usage line fits without wrapping
    EXPECT_GT(g.height, 200);
    Screenshot("usage-box.png");
    Key("Escape");  // a box with only OK closes with Escape as well
    EXPECT_EQ(usage.WaitExit(), 0);
    EXPECT_EQ(usage.Err(), "");
}

// SIGINT and SIGTERM end the run while a box waits for OK: the box goes, the run ends with 0.
TEST_F(ShellOnScreen, StopSignalsEndTheRunWhileABoxIsUp) {
    struct Case {
        std::vector<std::string> words;
        const char* title;
        int signal;
    };
    const Case cases[] = {
        {{"/X"}, kTitle, SIGTERM},                                            // the usage box
        {{"/E"}, "Dialog", SIGINT},                                           // the device list
        {{"/D:no such device", kEndlessTone}, "Dialog", SIGTERM},             // nothing matched
        {{"/D:null", "/nonexistent/missing.wav"}, "Starting Error", SIGINT},  // a failed start
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

// Without a display nothing waits for a click: texts go to the terminal.
TEST(ShellWithoutScreen, UsageToStandardErrorDeviceListToStandardOutput) {
    for (const char* display : {"", ":250"}) {
        SCOPED_TRACE(display);
        Applet usage({"/Q"}, display, "headless-usage");
        EXPECT_EQ(usage.WaitExit(), 0);
        const std::string err = usage.Err();
        EXPECT_EQ(err.rfind("Quindle64.exe Version 1.14: Missing required parameter: <filename>.\n"
                            "Unknown option /Q\n\nusage:\tQuindle64.exe [<options>] <filename>\n",
                            0),
                  0u)
            << err;
        EXPECT_EQ(usage.Out(), "");

        Applet list({"/E"}, display, "headless-list");
        EXPECT_EQ(list.WaitExit(), 0);
        const std::string out = list.Out();
        EXPECT_EQ(out.rfind("Device list:\n0 - \"", 0), 0u) << out;
        EXPECT_NE(out.find("\"Null Output\"\n"), std::string::npos) << out;
        EXPECT_EQ(out.find('\r'), std::string::npos);
        EXPECT_EQ(list.Err(), "");
    }
}

}  // namespace
