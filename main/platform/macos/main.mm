// chrome-private-input: the tool on the real system.
#include "entry/Entry.h"
#include "platform/macos/MacPlatform.h"

#import <Foundation/Foundation.h>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    @autoreleasepool {
        std::vector<std::string> arguments;
        for (int index = 1; index < argc; ++index) {
            arguments.emplace_back(argv[index]);
        }
        // runTool ends the process through exit(), which does not unwind this frame: the platform
        // stays valid for the exit handlers and the stop-signal thread.
        cpi::MacPlatform platform;
        cpi::runTool(platform, arguments);
    }
}
