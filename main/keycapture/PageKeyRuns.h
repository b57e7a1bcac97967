// The key-like runs of one web page, read through Accessibility.
//
// The page's tree is walked once, up to `pageWalkLimit` elements, web areas of frames included;
// the walk reads each element's role, children and subrole in one round trip. Only static texts, text
// fields and text areas that are not password fields count: for each of them one more round trip
// reads value and focus together, and the value is cut into runs by the key policy, then wiped.
// A password field's value is never asked for. The runs of focused elements are set apart.
#pragma once

#include "ChromePrivateInputPolicy/Limits.h"
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cpi {

struct PageKeyRuns {
    std::int64_t textNodes = 0;           // text elements whose value was a string
    std::vector<std::string> runs;        // every run, element after element, in text order
    std::vector<std::string> focusedRuns; // the runs of focused text elements

    // Overwrites every run (key text) and empties both lists.
    void wipe() noexcept;
};

// Absent when the page's tree holds more than `pageWalkLimit` elements (the root included).
std::optional<PageKeyRuns> pageKeyRuns(Platform& platform, const Element& root);

} // namespace cpi
