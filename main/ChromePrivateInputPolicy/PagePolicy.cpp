// The page: waiting for Chrome to expose it, its accessibility switch and the switch report, the
// focused field, and the verdict on a write.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"

#include <algorithm>

namespace cpi {

bool ChromePrivateInputPolicy::shouldWaitForPage(const Refusal* refusal) {
    return refusal != nullptr && refusal->reason == ReasonCode::originNotAllowed && refusal->check &&
           refusal->check->map.get("webAreas") == 0;
}

bool ChromePrivateInputPolicy::shouldTurnOnPageSwitch(bool confirmedWindow, const Refusal* refusal,
                                                      bool switchAlreadyOn) {
    return confirmedWindow && !switchAlreadyOn && shouldWaitForPage(refusal);
}

CheckMap ChromePrivateInputPolicy::pageSwitchReport(const SwitchCodes& setCodes,
                                                    const std::optional<SwitchCodes>& restoreCodes) {
    const auto succeeded = [](const SwitchCode& code) { return code.second == 0; };
    CheckMap map;
    map.set("set", std::ranges::any_of(setCodes, succeeded) ? 1 : 0);
    map.set("restored", restoreCodes && std::ranges::all_of(*restoreCodes, succeeded) ? 1 : 0);
    for (const auto& [name, code] : setCodes) {
        map.set(name + "SetError", code);
    }
    for (const auto& [name, code] : restoreCodes.value_or(SwitchCodes())) {
        map.set(name + "RestoreError", code);
    }
    return map;
}

bool ChromePrivateInputPolicy::supportsFocusedField(std::string_view role,
                                                    const std::optional<std::string>& subrole,
                                                    bool secureFieldOnly) {
    return (role == axRole::textField || role == axRole::secureTextField) &&
           (!subrole || (*subrole != axSubrole::addressField && *subrole != axSubrole::searchField)) &&
           (!secureFieldOnly || isSecureTextField(role, subrole));
}

bool ChromePrivateInputPolicy::isSecureTextField(std::string_view role,
                                                 const std::optional<std::string>& subrole) {
    return role == axRole::secureTextField ||
           (role == axRole::textField && subrole == axSubrole::secureTextField);
}

Check ChromePrivateInputPolicy::writeOutcome(bool setSucceeded, bool targetStillMatches) {
    if (!setSucceeded) {
        return ReasonCode::inputUnavailable;
    }
    if (!targetStillMatches) {
        return ReasonCode::focusChanged;
    }
    return std::monostate{};
}

} // namespace cpi
