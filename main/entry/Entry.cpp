#include "entry/Entry.h"

#include "entry/Modes.h"

namespace cpi {

ModeChoice selectMode(const std::vector<std::string>& arguments) {
    // Each switch with the number of words it takes, its own included.
    struct Switch {
        std::string_view word;
        std::size_t words;
        Mode mode;
    };
    static constexpr Switch switches[] = {{visibilitySwitch, 2, Mode::agentBrowserWindowVisibility},
                                          {trustCheckSwitch, 1, Mode::trustCheck},
                                          {clipboardHandoffSwitch, 2, Mode::clipboardHandoff},
                                          {profileWindowCountSwitch, 1, Mode::profileWindowCount},
                                          {keyBaselineSwitch, 1, Mode::keyBaseline},
                                          {keyCaptureSwitch, 1, Mode::keyCapture}};
    if (arguments.empty()) {
        return {Mode::delivery, {}};
    }
    for (const Switch& option : switches) {
        if (arguments.size() == option.words && arguments[0] == option.word) {
            return {option.mode, option.words == 2 ? arguments[1] : std::string()};
        }
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
