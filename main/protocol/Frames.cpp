#include "protocol/Frames.h"

#include "platform/Process.h"

#include <exception>
#include <string>
#include <utf8proc.h>

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

bool isUtf8Text(std::span<const std::uint8_t> bytes) {
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        utf8proc_int32_t codePoint = 0;
        const utf8proc_ssize_t used = utf8proc_iterate(
            bytes.data() + offset, static_cast<utf8proc_ssize_t>(bytes.size() - offset), &codePoint);
        if (used <= 0 || codePoint < 0) {
            return false;
        }
        offset += static_cast<std::size_t>(used);
    }
    return true;
}

std::optional<std::span<const char>> secretText(std::span<const std::uint8_t> payload) {
    if (!isUtf8Text(payload)) {
        return std::nullopt;
    }
    if (payload.size() >= 3 && payload[0] == 0xEF && payload[1] == 0xBB && payload[2] == 0xBF) {
        payload = payload.subspan(3);
    }
    return std::span<const char>(reinterpret_cast<const char*>(payload.data()), payload.size());
}

} // namespace cpi
