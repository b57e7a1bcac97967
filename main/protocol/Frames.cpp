#include "protocol/Frames.h"

#include "ChromePrivateInputPolicy/Text.h"
#include "platform/Process.h"

#include <exception>
#include <string>

namespace cpi {

namespace {

constexpr std::size_t lengthPrefixSize = 4;

std::uint32_t bigEndianLength(const SecureBytes& prefix) {
    std::uint32_t length = 0;
    for (const std::uint8_t byte : prefix) {
        length = (length << 8) | byte;
    }
    return length;
}

} // namespace

std::optional<SecureBytes> readExactly(std::size_t count) {
    // Room for the whole announced payload before the first read: no reallocation while it arrives.
    SecureBytes buffer(count);
    std::size_t held = 0;
    while (held < count) {
        const long got = process::readStandardInput(std::span(buffer).subspan(held));
        if (got <= 0) {
            wipeContents(buffer);
            return std::nullopt;
        }
        held += static_cast<std::size_t>(got);
    }
    return buffer;
}

std::optional<SecureBytes> readFrame(std::uint32_t maximum) {
    const std::optional<SecureBytes> prefix = readExactly(lengthPrefixSize);
    if (!prefix) {
        return std::nullopt;
    }
    const std::uint32_t length = bigEndianLength(*prefix);
    if (length == 0 || length > maximum) {
        return std::nullopt;
    }
    return readExactly(length);
}

void writeResult(const nlohmann::ordered_json& map) {
    std::string line;
    try {
        line = map.dump();
    } catch (const std::exception&) {
        return; // not serialisable: nothing is written
    }
    line.push_back('\n');
    process::writeStandardOutput(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
}

std::optional<std::span<const char>> secretText(std::span<const std::uint8_t> payload) {
    if (!text::isValidUtf8(std::string_view(reinterpret_cast<const char*>(payload.data()), payload.size()))) {
        return std::nullopt;
    }
    if (payload.size() >= 3 && payload[0] == 0xEF && payload[1] == 0xBB && payload[2] == 0xBF) {
        payload = payload.subspan(3);
    }
    return std::span<const char>(reinterpret_cast<const char*>(payload.data()), payload.size());
}

} // namespace cpi
