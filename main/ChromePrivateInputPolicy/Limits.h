// Every bound the tool keeps, in one table: how far a walk of Chrome's tree goes, how many windows
// it looks at, and what a request may hold. A walk that would pass its bound stops and the stage
// answers with its refusal; nothing is ever cut silently. Documents name these constants rather
// than repeating their values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cpi {

// Walks of Chrome's tree, in elements examined.
inline constexpr std::size_t windowWalkLimit = 2500;     // a window's tree, its toolbar or a page
inline constexpr std::size_t tabStripSearchLimit = 2500; // finding a window's tab strip...
inline constexpr std::size_t tabCountLimit = 5000;       // ...and counting its tabs, together
inline constexpr std::size_t toolbarRoleLimit = 200;     // one toolbar, breadth first...
inline constexpr std::size_t toolbarExpandDepth = 2;     // ...expanded this many levels deep
inline constexpr std::size_t pageWalkLimit = 20000;      // the page that key capture reads

// Windows.
inline constexpr std::uint64_t windowElementIDLimit = 1000; // element identifiers tried per window
inline constexpr std::size_t windowListLimit = 64;          // windows of one Chrome

// Requests and reports, in user-perceived characters or entries.
inline constexpr std::size_t profileNameLimit = 80;    // a profile name
inline constexpr std::size_t allowedOriginsLimit = 16; // allowed origins of one request
inline constexpr std::size_t labelLimit = 80;          // a toolbar label as a report shows it
inline constexpr std::size_t baselineLimit = 64;       // distinct fingerprints a baseline may hold

} // namespace cpi
