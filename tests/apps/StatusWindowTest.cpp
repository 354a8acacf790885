// The status window in this process, without a display: the rows it fills from the player,
// the position row, a failed start, a device text that matches nothing, and a destruction
// that comes after the run has already ended.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <platform/resources.h>
#include "apps/play/MainWindow.h"
#include "apps/play/ShellState.h"
#include "apps/play/Startup.h"
#include "resources/Resources.h"
#include "support/TempDir.h"
#include "support/WaveFile.h"

namespace {

struct Rows {
    std::string device, file, format, position;
};

std::string Text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// One whole run of the applet with this command line; the rows as they were at its end.
Rows RunApplet(const std::string& commandLine) {
    static HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    shell = ShellState();
    std::string text = commandLine;
    EXPECT_EQ(QuindleMain(instance, std::make_unique<CommandLine>(text.data()), SW_HIDE), 0);
    return Rows{Text(shell.rowDevice), Text(shell.rowFile), Text(shell.rowFormat),
                Text(shell.rowPosition)};
}

std::string Wave(const testsupport::TempDir& dir, const char* name, int32_t rate, double seconds) {
    const std::vector<uint8_t> silence(static_cast<size_t>(rate * seconds) * 4, 0);
    return testsupport::WriteWaveFile(dir.File(name), silence, "PCM16", 2, rate);
}

TEST(StatusWindow, RowsShowDeviceFileFormatAndPosition) {
    testsupport::TempDir dir;
    const std::string wav = Wave(dir, "a.wav", 48000, 0.3);
    struct Case {
        std::string options;
        Rows rows;  // position: "digits" for a byte count, "time" for the time text
    };
    const Case cases[] = {
        {"/D:null /H", {"Null Output", wav, "Stereo, 48000, PCM16", "time"}},
        {"/D:null /H /T:90 /S:110", {"Null Output", wav, "Stereo, 52800, PCM16, 90%", "time"}},
        {"/D:null /H /T:100", {"Null Output", wav, "Stereo, 48000, PCM16", "time"}},
        {"/D:NULL /h /b /L", {"Null Output", wav, "Stereo, 48000, PCM16", "digits"}},
    };
    for (const Case& c : cases) {
        const Rows rows = RunApplet(c.options + " " + wav);
        EXPECT_EQ(rows.device, c.rows.device) << c.options;
        EXPECT_EQ(rows.file, c.rows.file) << c.options;
        EXPECT_EQ(rows.format, c.rows.format) << c.options;
        if (c.rows.position == "digits") {
            EXPECT_EQ(rows.position.find_first_not_of("0123456789"), std::string::npos)
                << rows.position;
            EXPECT_FALSE(rows.position.empty());
        } else {
            ASSERT_EQ(rows.position.size(), 11u) << rows.position;
            EXPECT_EQ(rows.position.substr(0, 6), "00:00:") << rows.position;
        }
        EXPECT_EQ(shell.player, nullptr) << "the run ended without releasing the player";
    }
}

TEST(StatusWindow, FailedStartsAndUnmatchedDevicesEndTheRunByThemselves) {
    testsupport::TempDir dir;
    const std::string wav = Wave(dir, "b.wav", 44100, 0.2);
    const std::string missing = dir.File("missing.wav");
    Rows rows = RunApplet("/D:null /H " + missing);
    EXPECT_EQ(rows.device, "Device");
    EXPECT_EQ(rows.format, "Format");

    // A device text that matches nothing: the list is shown, nothing starts, even with /L.
    rows = RunApplet("/D:no-such-device /L " + wav);
    EXPECT_EQ(rows.device, "Device");

    // "null" is a sink the player cannot read from.
    rows = RunApplet("/D:null /H null");
    EXPECT_EQ(rows.format, "Format");
}

TEST(StatusWindow, DestructionAfterTheRunEndedDestroysNothingTwice) {
    testsupport::TempDir dir;
    const std::string wav = Wave(dir, "c.wav", 48000, 0.1);
    RunApplet("/D:null /H " + wav);
    HWND window = GetParent(shell.rowFile);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(DestroyWindow(window));  // WM_DESTROY after the end-of-run steps
    EXPECT_EQ(shell.player, nullptr);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

}  // namespace
