// Start-up without a screen: the device list shortcut, the usage box, placement beside a
// running instance and the client-area fix-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <platform/resources.h>
#include <platform/window.h>
#include "apps/play/MainWindow.h"
#include "apps/play/ShellState.h"
#include "apps/play/Startup.h"
#include "resources/Resources.h"
#include "support/RecordingDisplay.h"

namespace {

using testsupport::RecordingDisplay;

TEST(Placement, BesideTheRunningInstanceOrInTheCorner) {
    const RECT desktop{0, 0, 1024, 768};
    struct Case {
        bool found;
        RECT instance;
        POINT expected;
    };
    const Case cases[] = {
        {false, {}, {0, 0}},
        {true, {759, 0, 999, 100}, {784, 25}},  // right + 25 == desktop right stays
        {true, {760, 0, 1000, 100}, {0, 0}},    // one pixel more does not
        {true, {0, 643, 240, 743}, {25, 668}},  // bottom + 25 == desktop bottom stays
        {true, {0, 644, 240, 744}, {0, 0}},
    };
    for (const Case& c : cases) {
        const POINT at = PlaceBesideInstance(desktop, c.found ? &c.instance : nullptr);
        EXPECT_EQ(at.x, c.expected.x);
        EXPECT_EQ(at.y, c.expected.y);
    }
}

class StartInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shell = ShellState();
        instance_ = RegisterModuleResources(&QuindleResources());
        LoadStringA(instance_, IDS_CLASS_NAME, shell.className, sizeof shell.className);
        std::snprintf(shell.windowTitle, sizeof shell.windowTitle, "Quindle64.exe Version 1.14");
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = instance_;
        windowClass.lpszClassName = shell.className;
        RegisterClassExA(&windowClass);  // once per process; later calls fail harmlessly
    }
    void TearDown() override {
        while (HWND window = FindWindowA("QUINDLE", nullptr)) {
            if (window == display_.kForeign) {
                break;
            }
            DestroyWindow(window);
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        shell = ShellState();
    }

    bool Start(const char* text) {
        text_ = text;
        return StartInstance(instance_, SW_SHOWNORMAL, std::make_unique<CommandLine>(text_.data()));
    }

    RecordingDisplay display_;
    HINSTANCE instance_ = nullptr;
    std::string text_;
};

TEST_F(StartInstanceTest, OptionEShowsOnlyTheDeviceListWhateverElseIsThere) {
    EXPECT_FALSE(Start("/X /E:1 a.wav b.wav"));
    ASSERT_EQ(display_.modals.size(), 1u);
    ASSERT_EQ(display_.modals[0].controls.size(), 2u);
    EXPECT_NE(display_.modals[0].controls[1].second.find("\"Null Output\"\r\n"), std::string::npos);
    EXPECT_EQ(FindWindowA("QUINDLE", nullptr), nullptr);
}

TEST_F(StartInstanceTest, ARejectedCommandLineShowsTheUsageBoxAndCreatesNoWindow) {
    EXPECT_FALSE(Start("/x:1 -B"));
    ASSERT_EQ(display_.modals.size(), 1u);
    const RecordingDisplay::Modal& box = display_.modals[0];
    EXPECT_EQ(box.kind, platform::ModalKind::MessageBox);
    ASSERT_FALSE(box.controls.empty());
    EXPECT_EQ(box.controls[0].second,
              "Missing required parameter: <filename>.\nUnknown option /X:1\n\n" + UsageText());
    EXPECT_TRUE(shell.showBytes);
    EXPECT_EQ(FindWindowA("QUINDLE", nullptr), nullptr);
}

TEST_F(StartInstanceTest, HiddenWindowBesideARunningInstanceWithAnExact240By80Client) {
    display_.frame = RECT{3, 22, 3, 3};
    // The stand-in instance is a status window too: it plays an endless tone on Null Output.
    std::string standIn = "/D:null ~F440";
    shell.commandLine = std::make_unique<CommandLine>(standIn.data());
    HWND running = CreateWindowExA(0, "QUINDLE", "other", WS_CAPTION, 100, 50, 246, 105, nullptr,
                                   nullptr, instance_, nullptr);
    ASSERT_NE(running, nullptr);
    ASSERT_TRUE(Start("/D:null ~F440 /H /I:500,2000,250"));
    HWND window = FindWindowA("QUINDLE", "Quindle64.exe Version 1.14");
    ASSERT_NE(window, nullptr);
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    EXPECT_EQ(outer.left, 125);
    EXPECT_EQ(outer.top, 75);
    EXPECT_EQ(outer.right - outer.left, 246);
    EXPECT_EQ(outer.bottom - outer.top, 105);
    EXPECT_EQ(client.right, 240);
    EXPECT_EQ(client.bottom, 80);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(shell.loopDelay.limit, 2000);
    EXPECT_TRUE(display_.modals.empty());
    DestroyWindow(running);
}

TEST_F(StartInstanceTest, AnotherProgramsWindowNearTheEdgeSendsTheWindowToTheCorner) {
    display_.foreignClass = "QUINDLE";
    struct Case {
        RECT neighbour;
        LONG x;
        LONG y;
    };
    for (const Case c : {Case{{1020, 0, 1260, 80}, 0, 0}, Case{{300, 200, 540, 280}, 325, 225}}) {
        display_.foreignRect = c.neighbour;
        ASSERT_TRUE(Start("/D:null ~F440"));
        HWND window = FindWindowA("QUINDLE", "Quindle64.exe Version 1.14");
        ASSERT_NE(window, nullptr);
        RECT outer{};
        RECT client{};
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        EXPECT_EQ(outer.left, c.x);
        EXPECT_EQ(outer.top, c.y);
        // Without a frame the outer size is the client size.
        EXPECT_EQ(outer.right - outer.left, 240);
        EXPECT_EQ(outer.bottom - outer.top, 80);
        EXPECT_TRUE(IsWindowVisible(window));
        DestroyWindow(window);  // posts the quit message
        MSG message;
        EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    }
}

}  // namespace
