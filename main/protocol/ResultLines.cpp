#include "protocol/ResultLines.h"

namespace cpi {

nlohmann::ordered_json acceptedLine() {
    return nlohmann::ordered_json{{"ok", true}};
}

nlohmann::ordered_json acceptedLine(std::string_view key, nlohmann::ordered_json value) {
    nlohmann::ordered_json line = acceptedLine();
    line[std::string(key)] = std::move(value);
    return line;
}

nlohmann::ordered_json refusalLine(const Refusal& refusal) {
    nlohmann::ordered_json line{{"ok", false}, {"reason", wireName(refusal.reason)}};
    if (refusal.check) {
        line[std::string(wireName(refusal.check->name))] = checkMapJson(refusal.check->map);
    }
    return line;
}

nlohmann::ordered_json profileWindowCountLine(const Verdict<ProfileWindowCountAnswer>& answer) {
    if (const Refusal* refusal = answer.refusal()) {
        return refusalLine(*refusal);
    }
    const auto orNull = [](const std::optional<std::string>& text) {
        return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
    };
    nlohmann::ordered_json line = acceptedLine("count", answer->count);
    line["windows"] = answer->windows;
    line["windowNumbers"] = answer->windowNumbers;
    line["tabCounts"] = answer->tabCounts;
    line["frontKind"] = orNull(answer->frontKind);
    line["frontAvatar"] = orNull(answer->frontAvatar);
    return line;
}

nlohmann::ordered_json checkMapJson(const CheckMap& map) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : map.entries()) {
        object[key] = value;
    }
    return object;
}

} // namespace cpi
