// One look at one application through the bus's Cache interface: its elements indexed by path,
// each parent's children in order, the reads of what the Cache left out, and the matching of a
// frame to its X window.
#pragma once

#include "platform/linux/AccessibilityBus.h"
#include "platform/linux/ChromiumSurface.h"
#include "platform/linux/XDisplay.h"

#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cpi::atspi {

// A frame's X window: the one window of process `pid` (or of no known process) whose name and
// geometry are the frame's; nothing when none or several are.
std::optional<std::uint32_t> frameWindowAmong(std::span<const x11::WindowFacts> windows, std::int32_t pid,
                                              std::string_view name, const Rect& extents);

// One look at one application: the Cache's list of its elements (when asked for and served), and
// every element the list leaves out read from the element itself, once per look. An element of
// another application (or any element, when no application was found: `bus` empty) is read from
// the element itself each time it is asked about.
class ApplicationSnapshot {
public:
    // `windowList` gives the X server's window list, or nothing when there is no display; it is
    // asked only when a frame of this application is matched.
    ApplicationSnapshot(ElementReads& reads, std::function<x11::WindowList*()> windowList, std::string bus,
                        std::int32_t pid, bool readCache);

    // Whether `object` belongs to the application this look is of.
    bool holds(const ObjectRef& object) const { return !bus_.empty() && object.bus == bus_; }
    // The element as the Cache listed it; null when it did not.
    const CachedElement* find(const ObjectRef& object) const;
    // The children the Cache listed under `object`, in order (perhaps not all of them).
    std::vector<ObjectRef> listedUnder(const ObjectRef& object) const;
    // Every child of a listed element, in order, when the Cache listed as many as the element
    // counts; nothing otherwise (the element itself is asked then).
    std::optional<std::vector<ObjectRef>> allChildren(const ObjectRef& object) const;
    std::optional<ElementShape> shapeOf(const ObjectRef& object);
    std::map<std::string, std::string> attributesOf(const ObjectRef& object);
    // The children Chrome on a Mac would list: from the Cache when it listed all of them, else
    // from the element; hidden ones left out.
    std::optional<std::vector<ObjectRef>> listedChildren(const ObjectRef& object);
    // The window below the application root that holds `object`.
    std::optional<ObjectRef> frameOf(const ObjectRef& object);
    // The X window of one of this application's frames (the window list is read once per look).
    std::optional<std::uint32_t> frameWindow(const ObjectRef& frame);
    // The application's frames that have an X window.
    std::vector<ObjectRef> windowsOf(const ObjectRef& application);

private:
    ElementReads& reads_;
    std::function<x11::WindowList*()> windowList_;
    std::string bus_;
    std::int32_t pid_;
    // The Cache's elements of this application, and each parent's listed children in order.
    std::unordered_map<std::string, CachedElement> elements_;
    std::unordered_map<std::string, std::vector<ObjectRef>> children_;
    std::unordered_map<std::string, std::optional<ElementShape>> shapes_; // read from the elements
    std::unordered_map<std::string, std::map<std::string, std::string>> attributes_;
    std::unordered_map<std::string, std::optional<std::uint32_t>> frameWindows_;
    std::optional<std::vector<x11::WindowFacts>> windows_;
};

} // namespace cpi::atspi
