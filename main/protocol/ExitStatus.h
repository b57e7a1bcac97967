// The tool's exit statuses, part of its contract with the agent like the frames and result lines.
#pragma once

namespace cpi {

inline constexpr int exitSuccess = 0;
inline constexpr int exitRefused = 1; // a refusal, a stop signal or unusable input
// A command line the tool does not take; also the clipboard handoff's unusable input.
inline constexpr int exitUsageError = 2;

} // namespace cpi
