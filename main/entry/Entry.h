// The tool's entry: mode selection and the process lifecycle, shared by the production
// executable and the simulated harness.
#pragma once

#include "platform/Platform.h"

#include <string>
#include <vector>

namespace cpi {

// Runs the tool for `arguments` (the words after the program's name) on `platform` and ends the
// process through `platform.exitProcess`; never returns.
[[noreturn]] void runTool(Platform& platform, const std::vector<std::string>& arguments);

} // namespace cpi
