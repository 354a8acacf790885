// The process entry: answers --help and --version, sets up the signals, picks the screen (or
// the terminal), attaches the program's resources and hands the words of the command line to
// the windowed entry. The wave-output devices are listed on a thread of their own meanwhile,
// so that the sound server's connection is made while the display comes up.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include <platform/display.h>
#include <platform/resources.h>
#include <platform/waveout.h>
#include "apps/play/CommandLine.h"
#include "apps/play/ShellState.h"
#include "apps/play/Startup.h"
#include "apps/play/StopSignals.h"
#include "apps/play/Usage.h"
#include "resources/Resources.h"

namespace {

// Output that could not be written (a full disk) is reported once, as Linux tools do; a
// reader that went away (a closed pipe) is not. The exit code stays.
int EndOutput(int code) {
    if (std::fflush(stdout) != 0 && errno != EPIPE) {
        std::fprintf(stderr, "quindle64: write error: %s\n", std::strerror(errno));
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    InstallStopSignals();
    if (const char* text = InformationRequested(argc - 1, argv + 1)) {
        std::fputs(text, stdout);
        return EndOutput(0);
    }
    std::thread devices;
    try {
        devices = std::thread([] { waveOutGetNumDevs(); });
    } catch (const std::system_error&) {
        // No thread to be had: the player lists the devices when it opens one.
    }
    shell.onScreen = platform::OpenDisplay();
    HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    // The shell has split and unquoted the words: each is one item (argv outlives the run).
    auto commandLine = std::make_unique<CommandLine>(argc - 1, argv + 1);
    const int code = QuindleMain(instance, std::move(commandLine), SW_SHOWNORMAL);
    if (devices.joinable()) {
        devices.join();
    }
    return EndOutput(code);
}
