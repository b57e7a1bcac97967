#include "platform/linux/ApplicationSnapshot.h"

#include <algorithm>

namespace cpi::atspi {

CacheSnapshot::CacheSnapshot(std::string bus, std::vector<CachedElement> elements) : bus_(std::move(bus)) {
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

const CachedElement* CacheSnapshot::find(const ObjectRef& object) const {
    if (object.bus != bus_) {
        return nullptr;
    }
    const auto found = elements_.find(object.path);
    return found == elements_.end() ? nullptr : &found->second;
}

std::vector<ObjectRef> CacheSnapshot::listedUnder(const ObjectRef& object) const {
    const auto found = object.bus == bus_ ? children_.find(object.path) : children_.end();
    return found != children_.end() ? found->second : std::vector<ObjectRef>{};
}

std::optional<std::vector<ObjectRef>> CacheSnapshot::allChildren(const ObjectRef& object) const {
    const CachedElement* cached = find(object);
    if (cached == nullptr) {
        return std::nullopt;
    }
    std::vector<ObjectRef> children = listedUnder(object);
    if (children.size() != std::size_t(std::max(cached->childCount, 0))) {
        return std::nullopt;
    }
    return children;
}

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

} // namespace cpi::atspi
