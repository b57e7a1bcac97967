// One look at one application through the bus's Cache interface: its elements indexed by path,
// each parent's children in order, and the matching of a frame to its X window.
#pragma once

#include "platform/linux/AccessibilityBus.h"
#include "platform/linux/XDisplay.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cpi::atspi {

class CacheSnapshot {
public:
    CacheSnapshot() = default;
    // Keeps the elements `bus` serves; an element of another bus is left out.
    CacheSnapshot(std::string bus, std::vector<CachedElement> elements);

    const std::string& bus() const { return bus_; }
    bool empty() const { return elements_.empty(); }
    const CachedElement* find(const ObjectRef& object) const;
    // The children the Cache listed under `object`, in order (perhaps not all of them).
    std::vector<ObjectRef> listedUnder(const ObjectRef& object) const;
    // Every child of a listed element, in order, when the Cache listed as many as the element
    // counts; nothing otherwise (the element itself is asked then).
    std::optional<std::vector<ObjectRef>> allChildren(const ObjectRef& object) const;

private:
    std::string bus_;
    std::unordered_map<std::string, CachedElement> elements_;
    std::unordered_map<std::string, std::vector<ObjectRef>> children_;
};

// A frame's X window: the one window of process `pid` (or of no known process) whose name and
// geometry are the frame's; nothing when none or several are.
std::optional<std::uint32_t> frameWindowAmong(std::span<const x11::WindowFacts> windows, std::int32_t pid,
                                              std::string_view name, const Rect& extents);

} // namespace cpi::atspi
