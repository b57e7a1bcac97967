// The page: waiting for Chrome to expose it, its accessibility switch and the switch report, the
// focused field, and the verdict on a write.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <algorithm>

namespace cpi {

bool ChromePrivateInputPolicy::shouldWaitForPage(const Refusal* refusal) {
    if (refusal == nullptr || refusal->reason != ReasonCode::originNotAllowed || !refusal->check) {
        return false;
    }
    const std::optional<std::int64_t> webAreas = refusal->check->map.get("webAreas");
    return webAreas && *webAreas == 0;
}

bool ChromePrivateInputPolicy::shouldTurnOnPageSwitch(bool confirmedWindow, const Refusal* refusal,
                                                      bool switchAlreadyOn) {
    return confirmedWindow && !switchAlreadyOn && shouldWaitForPage(refusal);
}

CheckMap ChromePrivateInputPolicy::pageSwitchReport(const SwitchCodes& setCodes,
                                                    const std::optional<SwitchCodes>& restoreCodes) {
    const auto succeeded = [](const SwitchCode& code) { return code.second == 0; };
    CheckMap map;
    map.set("set", std::any_of(setCodes.begin(), setCodes.end(), succeeded) ? 1 : 0);
    map.set("restored",
            restoreCodes && std::all_of(restoreCodes->begin(), restoreCodes->end(), succeeded) ? 1 : 0);
    for (const auto& [name, code] : setCodes) {
        map.set(name + "SetError", code);
    }
    if (restoreCodes) {
        for (const auto& [name, code] : *restoreCodes) {
            map.set(name + "RestoreError", code);
        }
    }
    return map;
}

bool ChromePrivateInputPolicy::supportsFocusedField(std::string_view role,
                                                    const std::optional<std::string>& subrole) {
    if (role != axRole::textField && role != axRole::secureTextField) {
        return false;
    }
    return !subrole || (*subrole != axSubrole::addressField && *subrole != axSubrole::searchField);
}

std::optional<ReasonCode> ChromePrivateInputPolicy::mutationFailure(bool setSucceeded,
                                                                    bool targetStillMatches) {
    if (!setSucceeded) {
        return ReasonCode::inputUnavailable;
    }
    if (!targetStillMatches) {
        return ReasonCode::focusChanged;
    }
    return std::nullopt;
}

} // namespace cpi
