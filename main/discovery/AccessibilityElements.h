// The element layer: how chrome-private-input reads Chrome's Accessibility tree.
//
// Every read yields a value of the kind the caller expects or nothing: a failed call, a call that
// yields no value and a value of another kind are the same "absent" to every caller. A list of
// elements converts only when every item is an element. Element-valued reads ("AXFocusedWindow",
// "AXMainWindow") take the value as it comes (`rawValue`).
//
// Every read is a cross-process request to Chrome, so the layer reads all attributes an algorithm
// needs from one element in a single round trip (`ElementFacts::read`, and the walks below, which
// read role and children together). The answers are those of reading the attributes one by one.
//
// Elements are compared only with `Platform::elementsEqual`, never by handle address, and are
// never kept in hashed containers.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "platform/Platform.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cpi {

// ---------------------------------------------------------------------------------------------
// Conversions of one read to the expected kind (absent: failed, no value, or another kind).

std::optional<std::string> stringFrom(const AttributeRead& read);
std::optional<bool> booleanFrom(const AttributeRead& read);
// Present only when the value is a list whose every item is an element.
std::optional<std::vector<Element>> elementsFrom(const AttributeRead& read);
// The absolute text of a URL value, or else a string value as it is ("AXURL" of web areas).
std::optional<std::string> urlOrStringFrom(const AttributeRead& read);
// The value whatever its kind; absent only when the read failed or yielded nothing.
std::optional<AttributeValue> rawValueFrom(const AttributeRead& read);

// ---------------------------------------------------------------------------------------------
// Several attributes of one element, read in one round trip.

class ElementFacts {
public:
    ElementFacts() = default;

    // Reads `attributes` of `element` with one platform call.
    static ElementFacts read(Platform& platform, const Element& element,
                             std::span<const std::string_view> attributes);
    static ElementFacts read(Platform& platform, const Element& element,
                             std::initializer_list<std::string_view> attributes);

    // The read of `attribute`; a failed read when it was not among the attributes asked for.
    const AttributeRead& at(std::string_view attribute) const;

    std::optional<std::string> string(std::string_view attribute) const { return stringFrom(at(attribute)); }
    std::optional<bool> boolean(std::string_view attribute) const { return booleanFrom(at(attribute)); }
    std::optional<std::vector<Element>> elements(std::string_view attribute) const {
        return elementsFrom(at(attribute));
    }
    std::optional<AttributeValue> rawValue(std::string_view attribute) const {
        return rawValueFrom(at(attribute));
    }
    // "AXRole" as a string, the empty string when absent.
    std::string role() const { return string(ax::role).value_or(std::string()); }

    // The reads of `attributes` only, in that order (moved out of a temporary: nothing is copied).
    ElementFacts select(std::span<const std::string_view> attributes) &&;
    // Overwrites every string read (page text, possibly secret) before it is released.
    void wipeStrings();

private:
    std::vector<std::pair<std::string, AttributeRead>> reads_;
};

// ---------------------------------------------------------------------------------------------
// Single reads and calls (one round trip each).

std::optional<std::string> readString(Platform& platform, const Element& element, std::string_view attribute);
std::optional<bool> readBoolean(Platform& platform, const Element& element, std::string_view attribute);
std::optional<std::vector<Element>> readElements(Platform& platform, const Element& element,
                                                 std::string_view attribute);
std::optional<std::string> readUrlOrString(Platform& platform, const Element& element,
                                           std::string_view attribute);
// "AXRole", the empty string when absent.
std::string readRole(Platform& platform, const Element& element);

// True only when the call succeeds and reports the attribute settable.
bool isAttributeSettable(Platform& platform, const Element& element, std::string_view attribute);

// The window-server number of `element`; absent when the call fails or gives 0.
std::optional<std::uint32_t> windowNumberOf(Platform& platform, const Element& element);

// ---------------------------------------------------------------------------------------------
// The bounded tree walk.

// One walk of an element tree, depth first, each element before its descendants and siblings from
// the last child to the first. An element reached along two paths is listed twice.
struct WalkedTree {
    std::vector<Element> nodes;     // walk order, the root first
    std::vector<std::string> roles; // "AXRole" of each node, the empty string when absent
    // The walk positions of each node's children, in the order of its "AXChildren" list; absent
    // when the walk did not enter the node or its children were unreadable or not all elements.
    std::vector<std::optional<std::vector<std::size_t>>> children;
    // The extra attributes asked for, per node (empty when none were asked for).
    std::vector<ElementFacts> facts;

    std::size_t size() const { return nodes.size(); }
};

// Walks the tree under `root`: reads role, children and `extraAttributes` of every element in one
// round trip; enters an element's children when `ChromePrivateInputPolicy::shouldDescend` says so.
// Absent as soon as the walk would take more than `limit` elements (no partial result), so `limit`
// bounds the work also for trees that repeat elements or loop.
// An element of `stopRole` is listed but not entered.
std::optional<WalkedTree> walkTree(Platform& platform, const Element& root, WebContent webContent,
                                   std::size_t limit, std::span<const std::string_view> extraAttributes = {},
                                   std::optional<std::string_view> stopRole = std::nullopt);

// The elements of `walkTree`, in walk order (the tests' view of a walk).
std::optional<std::vector<Element>> descendants(Platform& platform, const Element& root,
                                                WebContent webContent, std::size_t limit);

// `elements` in order, each element kept only the first time it occurs (platform equality).
std::vector<Element> uniqueAXElements(Platform& platform, const std::vector<Element>& elements);

} // namespace cpi
