#include "discovery/RegularChrome.h"

namespace cpi {

std::vector<RunningApplicationRef> regularChromes(Platform& platform) {
    std::vector<RunningApplicationRef> chromes;
    for (RunningApplicationRef& application :
         platform.runningApplicationsWithBundleIdentifier(chromeBundleIdentifier)) {
        if (application && !application->isTerminated() &&
            application->activationPolicy() == activationPolicyRegular) {
            chromes.push_back(std::move(application));
        }
    }
    return chromes;
}

RunningApplicationRef singleRegularChrome(Platform& platform) {
    std::vector<RunningApplicationRef> chromes = regularChromes(platform);
    return chromes.size() == 1 ? std::move(chromes.front()) : nullptr;
}

} // namespace cpi
