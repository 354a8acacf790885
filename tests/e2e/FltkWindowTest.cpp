// The on-screen backend in this process: static rows show their text and follow
// SetWindowTextA (from the window's thread and from another), and the window sits where it
// was asked to with the client size it was given.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <platform/display.h>
#include <platform/window.h>

namespace {

using namespace std::chrono_literals;

LRESULT PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// Serves the window's messages and the display for a while.
void Pump(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    HWND timerWindow =
        CreateWindowExA(0, "STATIC", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    SetTimer(timerWindow, 1, 20, nullptr);
    MSG message;
    while (std::chrono::steady_clock::now() < end && GetMessageA(&message, nullptr, 0, 0) > 0) {
        DispatchMessageA(&message);
    }
    KillTimer(timerWindow, 1);
    DestroyWindow(timerWindow);
}

class OnScreen : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0' || (observer_ = XOpenDisplay(name)) == nullptr) {
            GTEST_SKIP() << "no X display (run inside scripts/testbed.sh)";
        }
        ASSERT_TRUE(platform::OpenDisplay());
    }
    void TearDown() override {
        if (observer_ != nullptr) {
            XCloseDisplay(observer_);
        }
    }

    // Dark (text) pixels in a rectangle of the screen, seen from another connection; with
    // light set, the light (window background) ones.
    int DarkPixels(int x, int y, int width, int height, bool light = false) {
        XImage* image =
            XGetImage(observer_, DefaultRootWindow(observer_), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), AllPlanes, ZPixmap);
        if (image == nullptr) {
            return -1;
        }
        int dark = 0;
        for (int row = 0; row < height; ++row) {
            for (int column = 0; column < width; ++column) {
                const unsigned long pixel = XGetPixel(image, column, row);
                const unsigned long sum =
                    ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
                dark += (light ? sum > 400 : sum < 200) ? 1 : 0;
            }
        }
        XDestroyImage(image);
        return dark;
    }

    Display* observer_ = nullptr;
};

TEST_F(OnScreen, StaticRowsDrawTheirTextAndFollowSetWindowText) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = PlainProc;
    windowClass.lpszClassName = "FltkRowTest";
    windowClass.hInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(1));
    RegisterClassExA(&windowClass);
    HWND window = CreateWindowExA(0, "FltkRowTest", "Rows", WS_CAPTION | WS_SYSMENU, 300, 200, 240,
                                  80, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    HWND rows[4];
    const char* texts[4] = {"Device", "File", "Format", "Position"};
    for (int i = 0; i < 4; ++i) {
        rows[i] = CreateWindowExA(0, "STATIC", texts[i], WS_CHILD | WS_VISIBLE, 0, 20 * i, 240,
                                  i == 3 ? 80 : 20, window, nullptr, nullptr, nullptr);
        ASSERT_NE(rows[i], nullptr);
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    Pump(300ms);

    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 240);
    EXPECT_EQ(client.bottom, 80);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(DarkPixels(300, 200 + 20 * i, 240, 20), 20) << texts[i];
    }

    SetWindowTextA(rows[1], "");
    Pump(150ms);
    EXPECT_EQ(DarkPixels(300, 220, 240, 20), 0);
    EXPECT_GT(DarkPixels(300, 240, 240, 20), 20);  // the other rows stay

    // A text set on another thread is drawn by the window's thread.
    std::thread([&] { SetWindowTextA(rows[1], "00:00:01:23 from a thread"); }).join();
    Pump(150ms);
    EXPECT_GT(DarkPixels(300, 220, 240, 20), 20);
    char text[64];
    GetWindowTextA(rows[1], text, sizeof text);
    EXPECT_STREQ(text, "00:00:01:23 from a thread");

    // Hidden again: nothing of it left on the (black) screen.
    EXPECT_GT(DarkPixels(300, 200, 240, 80, true), 1000);
    ShowWindow(window, SW_HIDE);
    Pump(150ms);
    EXPECT_EQ(DarkPixels(300, 200, 240, 80, true), 0);
    DestroyWindow(window);
    Pump(50ms);
}

}  // namespace
