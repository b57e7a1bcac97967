#include "entry/Modes.h"

namespace cpi {

// Placeholder until the key modes arrive: ends as unusable input, with no output.
void runKeyMode(Platform& platform, std::string_view) {
    endProcess(platform, exitRefused);
}

} // namespace cpi
