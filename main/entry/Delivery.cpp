#include "entry/Modes.h"

namespace cpi {

// Placeholder until the delivery arrives: ends as unusable input, with no output.
void runDelivery(Platform& platform) {
    endProcess(platform, exitRefused);
}

} // namespace cpi
