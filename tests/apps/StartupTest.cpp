// Start-up and the status window without a screen: the device directory over a table of names,
// the device list shortcut, the usage box, placement beside a running instance with the
// client-area fix-up, and the rows at the end of whole runs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <platform/resources.h>
#include <platform/window.h>
#include "apps/play/DeviceDirectory.h"
#include "apps/play/MainWindow.h"
#include "apps/play/ShellState.h"
#include "apps/play/Startup.h"
#include "resources/Resources.h"
#include "support/RecordingDisplay.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

namespace {

using testsupport::RecordingDisplay;

std::vector<std::string> names;
int failingDevice = -1;

UINT FakeCount() {
    return static_cast<UINT>(names.size());
}

MMRESULT FakeCaps(UINT_PTR device, WAVEOUTCAPSA* caps, UINT size) {
    if (size != sizeof(WAVEOUTCAPSA) || device >= names.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    if (static_cast<int>(device) == failingDevice) {
        return MMSYSERR_NODRIVER;  // the record stays as it was
    }
    std::memset(caps, 0, sizeof *caps);
    std::strncpy(caps->szPname, names[device].c_str(), sizeof caps->szPname - 1);
    return MMSYSERR_NOERROR;
}

const DeviceSource kFake = {FakeCount, FakeCaps};

// Matching uses upper-cased names, the list shows them as the service spells them; a device
// whose record fails is an empty name.
TEST(DeviceDirectory, MatchesUpperCasedNamesAndShowsTheListWhenNothingMatches) {
    testsupport::RecordingDisplay display;
    shell.appInstance = RegisterModuleResources(&QuindleResources());
    names = {"Speakers (A)", "Broken", "écouteurs ü", "Null Output"};
    failingDevice = 1;
    DeviceDirectory directory(kFake);
    ASSERT_EQ(directory.DeviceCount(), 4);
    EXPECT_EQ(directory.Capabilities(4), nullptr);
    struct Case {
        const char* text;
        int32_t device;
    };
    for (const Case& c : {Case{"écou", 2}, Case{"null", 3}, Case{"4", -1}, Case{nullptr, -1}}) {
        EXPECT_EQ(directory.FindDevice(c.text), c.device) << (c.text ? c.text : "(null)");
    }
    directory.ShowDeviceList(shell.appInstance, nullptr);
    ASSERT_EQ(display.modals.size(), 1u);
    ASSERT_EQ(display.modals[0].controls.size(), 2u);
    EXPECT_EQ(display.modals[0].controls[1].second,
              "Device list:\r\n0 - \"Speakers (A)\"\r\n1 - \"\"\r\n"
              "2 - \"écouteurs ü\"\r\n3 - \"Null Output\"\r\n");
    ASSERT_FALSE(display.fonts.empty());  // the list's fixed-pitch font comes last
    EXPECT_TRUE(display.fonts.back().fixedPitch);
    failingDevice = -1;

    // Choosing over the service's devices shows the list only when nothing matches.
    display.modals.clear();
    EXPECT_EQ(ChooseDevice(nullptr, nullptr), -1);       // D without a value: no list
    EXPECT_GE(ChooseDevice("null output", nullptr), 0);  // the service always offers it
    EXPECT_TRUE(display.modals.empty());
    EXPECT_EQ(ChooseDevice("no such device here", nullptr), -1);
    EXPECT_EQ(display.modals.size(), 1u);
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

// Beside a running instance (hidden, framed) or another program's window of the same class
// (frameless) on a 1024x768 desktop: the corner when the neighbour's rectangle moved by 25
// would leave it; always a 240x80 client.
TEST_F(StartInstanceTest, PlacedBesideTheNeighbourWithAnExact240By80Client) {
    struct Case {
        bool foreign;
        RECT neighbour;
        POINT at;
    };
    for (const Case& c : {Case{false, {100, 50, 346, 155}, {125, 75}},
                          Case{true, {759, 0, 999, 80}, {784, 25}},   // right + 25 == 1024 stays
                          Case{true, {760, 0, 1000, 80}, {0, 0}},     // one pixel more does not
                          Case{true, {0, 663, 240, 743}, {25, 688}},  // bottom + 25 == 768 stays
                          Case{true, {0, 664, 240, 744}, {0, 0}}}) {
        HWND running = nullptr;
        if (c.foreign) {
            display_.frame = RECT{};
            display_.foreignClass = "QUINDLE";
            display_.foreignRect = c.neighbour;
        } else {
            display_.frame = RECT{3, 22, 3, 3};
            // The stand-in instance is a status window too: an endless tone on Null Output.
            std::string standIn = "/D:null ~F440";
            shell.commandLine = std::make_unique<CommandLine>(standIn.data());
            running = CreateWindowExA(0, "QUINDLE", "other", WS_CAPTION, 100, 50, 246, 105, nullptr,
                                      nullptr, instance_, nullptr);
            ASSERT_NE(running, nullptr);
        }
        ASSERT_TRUE(Start(c.foreign ? "/D:null ~F440" : "/D:null ~F440 /H"));
        HWND window = FindWindowA("QUINDLE", "Quindle64.exe Version 1.14");
        ASSERT_NE(window, nullptr);
        RECT outer{};
        RECT client{};
        GetWindowRect(window, &outer);
        GetClientRect(window, &client);
        EXPECT_EQ(outer.left, c.at.x);
        EXPECT_EQ(outer.top, c.at.y);
        EXPECT_EQ(client.right, 240);
        EXPECT_EQ(client.bottom, 80);
        EXPECT_EQ(outer.right - outer.left, c.foreign ? 240 : 246);
        EXPECT_EQ(IsWindowVisible(window), c.foreign);
        DestroyWindow(running);
        DestroyWindow(window);  // posts the quit message
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0)) {
        }
    }
}

// One whole run of the applet, its window shown unless /H; the device, file, format and
// position rows at its end (a hidden window's position row is never refreshed).
std::vector<std::string> RunApplet(const std::string& commandLine) {
    static HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    shell = ShellState();
    std::string text = commandLine;
    EXPECT_EQ(QuindleMain(instance, std::make_unique<CommandLine>(text.data()), SW_SHOWNORMAL), 0);
    EXPECT_EQ(shell.player, nullptr) << "the run ended without releasing the player";
    return {RecordingDisplay::Text(shell.rowDevice), RecordingDisplay::Text(shell.rowFile),
            RecordingDisplay::Text(shell.rowFormat), RecordingDisplay::Text(shell.rowPosition)};
}

TEST(StatusWindow, RowsAfterARunAndAfterFailedStarts) {
    testsupport::TempDir dir;
    const std::string wav = testsupport::WriteWaveFile(
        dir.File("a.wav"), std::vector<uint8_t>(48000 / 4 * 4, 0), "PCM16", 2, 48000);
    const std::string missing = dir.File("missing.wav");
    struct Case {
        std::string line;
        std::vector<std::string> rows;  // position "digits": a byte count
    };
    const Case cases[] = {
        {"/D:null /H /T:90 /S:110 " + wav,
         {"Null Output", wav, "Stereo, 52800, PCM16, 90%", "Position"}},
        {"/D:NULL /h /L /T:100 " + wav, {"Null Output", wav, "Stereo, 48000, PCM16", "Position"}},
        {"/D:null /b " + wav, {"Null Output", wav, "Stereo, 48000, PCM16", "digits"}},
        {"/D:null " + missing, {"Device", missing, "Format", "00:00:00:00"}},
        // A device text that matches nothing: the list is shown, nothing starts, even with /L.
        {"/D:no-such-device /L " + wav, {"Device", wav, "Format", "00:00:00:00"}},
        {"/D:null /H null", {"Device", "null", "Format", "Position"}},  // a sink, not a file
    };
    for (const Case& c : cases) {
        std::vector<std::string> rows = RunApplet(c.line);
        if (c.rows[3] == "digits") {
            EXPECT_EQ(rows[3].find_first_not_of("0123456789"), std::string::npos) << rows[3];
            rows[3] = "digits";
        }
        EXPECT_EQ(rows, c.rows) << c.line;
    }
    // WM_DESTROY after the end-of-run steps destroys nothing twice.
    HWND window = GetParent(shell.rowFile);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(DestroyWindow(window));
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

}  // namespace
