// The process entry: sets up the signals, picks the screen (or the terminal), attaches the
// program's resources and hands the words of the command line to the windowed entry.
#include <memory>
#include <utility>

#include <platform/display.h>
#include <platform/resources.h>
#include "apps/play/CommandLine.h"
#include "apps/play/Startup.h"
#include "apps/play/StopSignals.h"
#include "resources/Resources.h"

int main(int argc, char** argv) {
    InstallStopSignals();
    platform::OpenDisplay();
    HINSTANCE instance = RegisterModuleResources(&QuindleResources());
    // The shell has split and unquoted the words: each is one item (argv outlives the run).
    auto commandLine = std::make_unique<CommandLine>(argc - 1, argv + 1);
    return QuindleMain(instance, std::move(commandLine), SW_SHOWNORMAL);
}
