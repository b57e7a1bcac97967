#include "entry/Entry.h"

#include "entry/Modes.h"

namespace cpi {

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
    if (arguments.size() == 1 && arguments[0] == profileWindowCountSwitch) {
        return {Mode::profileWindowCount, {}};
    }
    if (arguments.size() == 1 && arguments[0] == keyBaselineSwitch) {
        return {Mode::keyBaseline, {}};
    }
    if (arguments.size() == 1 && arguments[0] == keyCaptureSwitch) {
        return {Mode::keyCapture, {}};
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
    case Mode::keyBaseline:
        runKeyMode(platform, KeyMode::baseline);
    case Mode::keyCapture:
        runKeyMode(platform, KeyMode::capture);
    case Mode::delivery:
        runDelivery(platform);
    case Mode::unrecognised:
        break;
    }
    endProcess(platform, exitUsageError);
}

} // namespace cpi
