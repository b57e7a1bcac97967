// Toolbar labels and the profile-avatar test on arbitrary UTF-8 (or not): title, description and
// profile name, one per line.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "fuzz/FuzzInput.h"

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using P = cpi::ChromePrivateInputPolicy;
    std::vector<std::string> lines = cpi::fuzz::fields(cpi::fuzz::text(data, size));
    lines.resize(3);
    const std::optional<std::string> title = lines[0];
    const std::optional<std::string> description = lines[1];
    for (const auto& [first, second] :
         {std::pair{title, description}, std::pair{title, std::optional<std::string>()},
          std::pair{std::optional<std::string>(), description}}) {
        if (const std::optional<std::string> label = P::toolbarLabel(first, second)) {
            // A label goes into a JSON line: it must always serialise.
            (void)nlohmann::json(*label).dump();
        }
        (void)P::isProfileAvatarLabel("AXButton", true, first, second, lines[2]);
        (void)P::isProfileAvatarLabel("AXPopUpButton", false, first, second, lines[2]);
    }
    (void)P::isProfileNameUsable(lines[2]);
    return 0;
}
