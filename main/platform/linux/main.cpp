// chrome-private-input on Linux: the tool against Chromium or Google Chrome on the accessibility
// bus and the X server.
#include "entry/Entry.h"
#include "platform/linux/LinuxPlatform.h"

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    // runTool ends the process through exit(), which does not unwind this frame: the platform
    // stays valid for the exit handlers and the stop-signal thread.
    cpi::LinuxPlatform platform;
    cpi::runTool(platform, arguments);
}
