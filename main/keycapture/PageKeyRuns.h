// The key-like runs of one web page, read through Accessibility.
//
// The page's tree is walked once, up to 20000 elements, web areas of frames included. Every element
// is read in one round trip: its role and children for the walk, and its subrole, value and focus
// for the text test. Only static texts, text fields and text areas that are not password fields
// count; their string values are cut into runs by the key policy, and the runs of focused
// elements are set apart. Values of other elements are wiped unexamined.
#pragma once
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cpi {

inline constexpr std::size_t pageWalkLimit = 20000;

struct PageKeyRuns {
    std::int64_t textNodes = 0;           // text elements whose value was a string
    std::vector<std::string> runs;        // every run, element after element, in text order
    std::vector<std::string> focusedRuns; // the runs of focused text elements
};

// Absent when the page's tree holds more than `pageWalkLimit` elements (the root included).
std::optional<PageKeyRuns> pageKeyRuns(Platform& platform, const Element& root);

} // namespace cpi
