// The status window in this process, without a display: the rows at the end of a whole run,
// failed starts, and a destruction after the run has ended.
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

std::string Text(HWND window) {
    char text[256] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// One whole run of the applet, its window shown unless /H; the device, file, format and
// position rows at its end (a hidden window's position row is never refreshed).
std::vector<std::string> RunApplet(const std::string& commandLine) {
    static HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    shell = ShellState();
    std::string text = commandLine;
    EXPECT_EQ(QuindleMain(instance, std::make_unique<CommandLine>(text.data()), SW_SHOWNORMAL), 0);
    EXPECT_EQ(shell.player, nullptr) << "the run ended without releasing the player";
    return {Text(shell.rowDevice), Text(shell.rowFile), Text(shell.rowFormat),
            Text(shell.rowPosition)};
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
