// The bodies of the tool's modes. Each reads its own input, writes its own output and ends the
// process through `Platform::exitProcess` (or by a signal); none returns.
#pragma once

#include "platform/Platform.h"
#include "protocol/ExitStatus.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace cpi {

// The command-line switches.
inline constexpr std::string_view visibilitySwitch = "--agent-browser-window-visibility";
inline constexpr std::string_view trustCheckSwitch = "--trust-check";
inline constexpr std::string_view clipboardHandoffSwitch = "--copy-delivered-secret";
inline constexpr std::string_view profileWindowCountSwitch = "--profile-window-count";
inline constexpr std::string_view keyBaselineSwitch = "--key-baseline";
inline constexpr std::string_view keyCaptureSwitch = "--key-capture";

// Ends the process with `status` through the platform's normal exit path.
[[noreturn]] inline void endProcess(Platform& platform, int status) {
    platform.exitProcess(status);
    std::abort(); // not reached: the call above does not return
}

enum class Mode {
    agentBrowserWindowVisibility,
    trustCheck,
    clipboardHandoff,
    profileWindowCount,
    keyBaseline,
    keyCapture,
    delivery,
    unrecognised,
};

// The mode a command line selects, with the argument the mode takes: the process identifier or the
// deadline; empty for the other modes.
struct ModeChoice {
    Mode mode = Mode::unrecognised;
    std::string argument;
};
ModeChoice selectMode(const std::vector<std::string>& arguments);

// Delivery of a secret into the focused field: request frame, then secret frame.
[[noreturn]] void runDelivery(Platform& platform);

enum class KeyMode { baseline, capture };

// Key baseline ("--key-baseline") or key capture ("--key-capture").
[[noreturn]] void runKeyMode(Platform& platform, KeyMode mode);

// The profile window count: one request frame, one map.
[[noreturn]] void runProfileWindowCount(Platform& platform);

// The clipboard handoff: one secret frame, on the pasteboard for 20 seconds.
[[noreturn]] void runClipboardHandoff(Platform& platform, const std::string& deadlineArgument);

// Whether this process is trusted for Accessibility.
[[noreturn]] void runTrustCheck(Platform& platform);

// How many windows of the process `processIdentifierArgument` names exist and are on screen.
[[noreturn]] void runAgentBrowserWindowVisibility(Platform& platform,
                                                  std::string_view processIdentifierArgument);

} // namespace cpi
