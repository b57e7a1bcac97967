#include "entry/Entry.h"

#include "entry/Modes.h"

#include <algorithm>
#include <array>

namespace cpi {

namespace {

constexpr std::array keySwitches{keyBaselineSwitch, keyCaptureSwitch};

} // namespace

ModeChoice selectMode(const std::vector<std::string>& arguments) {
    // The two-argument switches come first, so that a two-word command line never reaches the
    // count, key or delivery modes.
    if (arguments.size() == 2 && arguments[0] == visibilitySwitch) {
        return {Mode::agentBrowserWindowVisibility, arguments[1]};
    }
    if (arguments.size() == 1 && arguments[0] == trustCheckSwitch) {
        return {Mode::trustCheck, {}};
    }
    if (arguments.size() == 2 && arguments[0] == clipboardHandoffSwitch) {
        return {Mode::clipboardHandoff, arguments[1]};
    }
    const bool countMode = arguments.size() == 1 && arguments[0] == profileWindowCountSwitch;
    const bool keyMode =
        arguments.size() == 1 && std::ranges::find(keySwitches, arguments[0]) != keySwitches.end();
    if (countMode) {
        return {Mode::profileWindowCount, {}};
    }
    if (keyMode) {
        return {Mode::keyMode, arguments[0]};
    }
    if (arguments.empty()) {
        return {Mode::delivery, {}};
    }
    return {Mode::unrecognised, {}};
}

void runTool(Platform& platform, const std::vector<std::string>& arguments) {
    const ModeChoice choice = selectMode(arguments);
    switch (choice.mode) {
    case Mode::agentBrowserWindowVisibility:
        runAgentBrowserWindowVisibility(platform, choice.argument);
    case Mode::trustCheck:
        runTrustCheck(platform);
    case Mode::clipboardHandoff:
        runClipboardHandoff(platform, choice.argument);
    case Mode::profileWindowCount:
        runProfileWindowCount(platform);
    case Mode::keyMode:
        runKeyMode(platform, choice.argument);
    case Mode::delivery:
        runDelivery(platform);
    case Mode::unrecognised:
        break;
    }
    endProcess(platform, exitUsageError);
}

} // namespace cpi
