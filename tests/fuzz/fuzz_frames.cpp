// Frames and requests: the input is standard input. Its first byte picks the frame maximum of one
// of the uses; frames are read until one is refused, and each payload is decoded as a request and
// as a count request.
#include "protocol/Frames.h"
#include "protocol/Requests.h"
#include "fuzz/StandardInput.h"

#include <array>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    constexpr std::array<std::uint32_t, 5> maxima{
        cpi::deliveryRequestFrameMaximum, cpi::deliverySecretFrameMaximum, cpi::countRequestFrameMaximum,
        cpi::keyRequestFrameMaximum, cpi::clipboardSecretFrameMaximum};
    const std::uint32_t maximum = maxima[data[0] % maxima.size()];
    cpi::fuzz::setStandardInput(data + 1, size - 1);
    for (int frame = 0; frame < 4; ++frame) {
        const std::optional<cpi::SecureBytes> payload = cpi::readFrame(maximum);
        if (!payload) {
            break;
        }
        if (payload->empty() || payload->size() > maximum) {
            std::abort();
        }
        if (const std::optional<cpi::Request> request = cpi::decodeRequest(*payload)) {
            (void)request->allowedOrigins.size();
        }
        (void)cpi::decodeCountRequest(*payload);
        (void)cpi::secretText(*payload);
    }
    // The same bytes as one payload, whatever the frame reader made of them.
    (void)cpi::decodeRequest(std::span<const std::uint8_t>(data + 1, size - 1));
    return 0;
}
