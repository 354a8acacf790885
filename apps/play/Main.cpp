// The process entry: picks the screen (or the terminal), attaches the program's resources and
// hands the rebuilt command-line text to the windowed entry.
#include <string>

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
    static std::string commandLineText;  // the parsed texts point into it for the whole run
    commandLineText = JoinArguments(argc, argv);
    return QuindleMain(instance, commandLineText.data(), SW_SHOWNORMAL);
}
