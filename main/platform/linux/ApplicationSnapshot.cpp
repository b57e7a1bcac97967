#include "platform/linux/ApplicationSnapshot.h"

#include <algorithm>

namespace cpi::atspi {

std::optional<std::uint32_t> frameWindowAmong(std::span<const x11::WindowFacts> windows, std::int32_t pid,
                                              std::string_view name, const Rect& extents) {
    std::optional<std::uint32_t> number;
    int matches = 0;
    for (const x11::WindowFacts& window : windows) {
        if ((!window.pid || *window.pid == pid) && window.name == name && window.geometry == extents) {
            number = window.id;
            ++matches;
        }
    }
    return matches == 1 ? number : std::nullopt;
}

ApplicationSnapshot::ApplicationSnapshot(ElementReads& reads, std::function<x11::WindowList*()> windowList,
                                         std::string bus, std::int32_t pid, bool readCache)
    : reads_(reads), windowList_(std::move(windowList)), bus_(std::move(bus)), pid_(pid) {
    // Without the Cache interface every read goes to the element itself.
    std::vector<CachedElement> elements =
        readCache && !bus_.empty() ? reads_.cachedElements(bus_).value_or(std::vector<CachedElement>{})
                                   : std::vector<CachedElement>{};
    // An element of another bus is left out.
    for (CachedElement& element : elements) {
        if (element.object.bus != bus_) {
            continue;
        }
        if (element.parent.bus == bus_) {
            children_[element.parent.path].push_back(element.object);
        }
        std::string path = element.object.path;
        elements_.emplace(std::move(path), std::move(element));
    }
    for (auto& [parent, children] : children_) {
        std::ranges::sort(children, {},
                          [&](const ObjectRef& child) { return elements_.at(child.path).indexInParent; });
    }
}

const CachedElement* ApplicationSnapshot::find(const ObjectRef& object) const {
    const auto found = object.bus == bus_ ? elements_.find(object.path) : elements_.end();
    return found == elements_.end() ? nullptr : &found->second;
}

std::vector<ObjectRef> ApplicationSnapshot::listedUnder(const ObjectRef& object) const {
    const auto found = object.bus == bus_ ? children_.find(object.path) : children_.end();
    return found != children_.end() ? found->second : std::vector<ObjectRef>{};
}

std::optional<std::vector<ObjectRef>> ApplicationSnapshot::allChildren(const ObjectRef& object) const {
    const CachedElement* cached = find(object);
    std::vector<ObjectRef> children = listedUnder(object);
    if (cached == nullptr || children.size() != std::size_t(std::max(cached->childCount, 0))) {
        return std::nullopt;
    }
    return children;
}

std::optional<ElementShape> ApplicationSnapshot::shapeOf(const ObjectRef& object) {
    const bool sameLook = holds(object);
    if (sameLook) {
        if (const CachedElement* cached = find(object)) {
            return ElementShape{cached->role, cached->states, cached->name, cached->description};
        }
        if (const auto read = shapes_.find(object.path); read != shapes_.end()) {
            return read->second;
        }
    }
    if (object.bus.empty()) {
        return std::nullopt;
    }
    std::optional<ElementShape> shape;
    if (const std::optional<std::uint32_t> role = reads_.role(object)) {
        shape = ElementShape{*role, reads_.states(object).value_or(StateSet{}),
                             reads_.name(object).value_or(""), reads_.description(object).value_or("")};
    }
    // Read once per look, like the elements the Cache listed.
    if (sameLook) {
        shapes_.emplace(object.path, shape);
    }
    return shape;
}

std::map<std::string, std::string> ApplicationSnapshot::attributesOf(const ObjectRef& object) {
    if (!holds(object)) {
        return reads_.attributes(object).value_or(std::map<std::string, std::string>{});
    }
    auto [known, added] = attributes_.try_emplace(object.path);
    if (added) {
        known->second = reads_.attributes(object).value_or(std::map<std::string, std::string>{});
    }
    return known->second;
}

std::optional<std::vector<ObjectRef>> ApplicationSnapshot::listedChildren(const ObjectRef& object) {
    std::optional<std::vector<ObjectRef>> children = allChildren(object);
    if (!children) {
        children = reads_.children(object); // not all in the snapshot: ask the element itself
    }
    if (children) {
        std::erase_if(*children, [&](const ObjectRef& child) {
            const std::optional<ElementShape> shape = shapeOf(child);
            return !shape || !isListedChild(shape->states);
        });
    }
    return children;
}

std::optional<ObjectRef> ApplicationSnapshot::frameOf(const ObjectRef& object) {
    ObjectRef current = object;
    for (int depth = 0; depth < 256; ++depth) {
        const CachedElement* cached = find(current);
        const std::optional<ObjectRef> parent = cached != nullptr ? cached->parent : reads_.parent(current);
        if (!parent || parent->path.empty() || parent->bus != object.bus) {
            return std::nullopt;
        }
        if (parent->path == rootPath) {
            return current;
        }
        current = *parent;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ApplicationSnapshot::frameWindow(const ObjectRef& frame) {
    x11::WindowList* windows = holds(frame) ? windowList_() : nullptr;
    if (windows == nullptr) {
        return std::nullopt;
    }
    if (const auto known = frameWindows_.find(frame.path); known != frameWindows_.end()) {
        return known->second;
    }
    std::optional<std::uint32_t>& number = frameWindows_[frame.path];
    const std::optional<ElementShape> shape = shapeOf(frame);
    const std::optional<Rect> extents = reads_.extents(frame);
    if (!shape || shape->name.empty() || !extents) {
        return number;
    }
    if (!windows_) {
        windows_ = windows->topLevelWindows();
    }
    number = frameWindowAmong(*windows_, pid_, shape->name, *extents);
    return number;
}

std::vector<ObjectRef> ApplicationSnapshot::windowsOf(const ObjectRef& application) {
    std::vector<ObjectRef> found;
    std::optional<std::vector<ObjectRef>> frames;
    if (holds(application) && !elements_.empty()) {
        frames = listedUnder(application);
    } else if (!application.bus.empty()) {
        frames = reads_.children(application);
    }
    for (const ObjectRef& frame : frames.value_or(std::vector<ObjectRef>{})) {
        const std::optional<ElementShape> shape = shapeOf(frame);
        if (!shape || !isWindowRole(shape->role)) {
            continue;
        }
        if (frameWindow(frame)) {
            found.push_back(frame);
        }
    }
    return found;
}

} // namespace cpi::atspi
