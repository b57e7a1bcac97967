#include "discovery/AccessibilityElements.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "platform/SecureMemory.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace cpi {

namespace {

const AttributeRead& missingRead() {
    static const AttributeRead missing{axErrorNoValue, std::nullopt};
    return missing;
}

// The value of a successful read, null when the read failed or yielded nothing.
const AttributeValue* valueOf(const AttributeRead& read) {
    if (read.error != axErrorSuccess || !read.value) {
        return nullptr;
    }
    return &*read.value;
}

// The value of a successful read when it is a `T`, otherwise null.
template <typename T>
const T* valueAs(const AttributeRead& read) {
    const AttributeValue* value = valueOf(read);
    return value != nullptr ? std::get_if<T>(&value->value) : nullptr;
}

// A copy of the value of a successful read when it is a `T`, otherwise absent.
template <typename T>
std::optional<T> copyAs(const AttributeRead& read) {
    const T* value = valueAs<T>(read);
    return value != nullptr ? std::optional(*value) : std::nullopt;
}

// The position of `attribute` among `reads`.
auto findRead(auto& reads, std::string_view attribute) {
    return std::ranges::find(reads, attribute, &std::pair<std::string, AttributeRead>::first);
}

// Overwrites every string in `value`, those of a list included.
void wipeValue(AttributeValue& value) {
    if (std::string* text = std::get_if<std::string>(&value.value)) {
        secureWipe(text->data(), text->size());
    } else if (AttributeList* list = std::get_if<AttributeList>(&value.value)) {
        for (AttributeValue& item : *list) {
            wipeValue(item);
        }
    }
}

} // namespace

std::optional<std::string> stringFrom(const AttributeRead& read) {
    return copyAs<std::string>(read);
}

std::optional<bool> booleanFrom(const AttributeRead& read) {
    return copyAs<bool>(read);
}

std::optional<std::vector<Element>> elementsFrom(const AttributeRead& read) {
    const auto* list = valueAs<AttributeList>(read);
    if (list == nullptr) {
        return std::nullopt;
    }
    std::vector<Element> elements;
    elements.reserve(list->size());
    for (const AttributeValue& item : *list) {
        const auto* element = std::get_if<Element>(&item.value);
        if (element == nullptr || !*element) {
            return std::nullopt;
        }
        elements.push_back(*element);
    }
    return elements;
}

std::optional<std::string> urlOrStringFrom(const AttributeRead& read) {
    if (const auto* url = valueAs<UrlValue>(read)) {
        return url->absoluteString;
    }
    return stringFrom(read);
}

std::optional<AttributeValue> rawValueFrom(const AttributeRead& read) {
    const AttributeValue* value = valueOf(read);
    return value != nullptr ? std::optional(*value) : std::nullopt;
}

// ---------------------------------------------------------------------------------------------

ElementFacts ElementFacts::read(Platform& platform, const Element& element,
                                std::span<const std::string_view> attributes) {
    ElementFacts facts;
    if (attributes.empty()) {
        return facts;
    }
    std::vector<AttributeRead> reads = platform.copyAttributeValues(element, attributes);
    facts.reads_.reserve(attributes.size());
    for (std::size_t index = 0; index < attributes.size(); ++index) {
        // A backend that answers fewer entries than asked leaves the rest unread.
        facts.reads_.emplace_back(std::string(attributes[index]),
                                  index < reads.size() ? std::move(reads[index]) : missingRead());
    }
    return facts;
}

ElementFacts ElementFacts::read(Platform& platform, const Element& element,
                                std::initializer_list<std::string_view> attributes) {
    return read(platform, element, std::span<const std::string_view>(attributes.begin(), attributes.size()));
}

const AttributeRead& ElementFacts::at(std::string_view attribute) const {
    const auto found = findRead(reads_, attribute);
    return found != reads_.end() ? found->second : missingRead();
}

ElementFacts ElementFacts::select(std::span<const std::string_view> attributes) && {
    ElementFacts selected;
    // Reserved: no read is moved while `selected.at` refers to one of them.
    selected.reads_.reserve(attributes.size());
    for (std::string_view attribute : attributes) {
        const auto found = findRead(reads_, attribute);
        if (found != reads_.end() && findRead(selected.reads_, attribute) == selected.reads_.end()) {
            selected.reads_.emplace_back(std::string(attribute), std::move(found->second));
        } else {
            // Not read, or a name asked for twice: a failed read, or again the first copy's read.
            selected.reads_.emplace_back(std::string(attribute), selected.at(attribute));
        }
    }
    return selected;
}

void ElementFacts::wipeStrings() {
    for (auto& [name, read] : reads_) {
        if (read.value) {
            wipeValue(*read.value);
        }
    }
}

// ---------------------------------------------------------------------------------------------

std::optional<std::string> readString(Platform& platform, const Element& element,
                                      std::string_view attribute) {
    return stringFrom(platform.copyAttributeValue(element, attribute));
}

std::optional<bool> readBoolean(Platform& platform, const Element& element, std::string_view attribute) {
    return booleanFrom(platform.copyAttributeValue(element, attribute));
}

std::optional<std::vector<Element>> readElements(Platform& platform, const Element& element,
                                                 std::string_view attribute) {
    return elementsFrom(platform.copyAttributeValue(element, attribute));
}

std::optional<std::string> readUrlOrString(Platform& platform, const Element& element,
                                           std::string_view attribute) {
    return urlOrStringFrom(platform.copyAttributeValue(element, attribute));
}

std::string readRole(Platform& platform, const Element& element) {
    return readString(platform, element, ax::role).value_or(std::string());
}

bool isAttributeSettable(Platform& platform, const Element& element, std::string_view attribute) {
    bool settable = false;
    return platform.isAttributeSettable(element, attribute, settable) == axErrorSuccess && settable;
}

std::optional<std::uint32_t> windowNumberOf(Platform& platform, const Element& element) {
    std::optional<std::uint32_t> number = platform.windowNumber(element);
    if (!number || *number == 0) {
        return std::nullopt;
    }
    return number;
}

// ---------------------------------------------------------------------------------------------

std::optional<WalkedTree> walkTree(Platform& platform, const Element& root, WebContent webContent,
                                   std::size_t limit, std::span<const std::string_view> extraAttributes,
                                   std::optional<std::string_view> stopRole) {
    constexpr std::size_t noParent = std::numeric_limits<std::size_t>::max();

    std::vector<std::string_view> attributes{ax::role, ax::children};
    std::ranges::copy_if(extraAttributes, std::back_inserter(attributes), [](std::string_view attribute) {
        return attribute != ax::role && attribute != ax::children;
    });

    // An element waiting on the work stack, with the place it takes in its parent's child list.
    struct Pending {
        Element element;
        std::size_t parent;
        std::size_t position;
    };

    WalkedTree tree;
    std::vector<Pending> stack;
    stack.push_back({root, noParent, 0});
    while (!stack.empty()) {
        Pending pending = std::move(stack.back());
        stack.pop_back();
        if (tree.nodes.size() >= limit) {
            return std::nullopt;
        }
        const std::size_t index = tree.nodes.size();
        if (pending.parent != noParent) {
            (*tree.children[pending.parent])[pending.position] = index;
        }

        ElementFacts facts = ElementFacts::read(platform, pending.element, attributes);
        std::string role = facts.role();
        std::optional<std::vector<std::size_t>> childPositions;
        if (role != stopRole && Policy::shouldDescend(role, webContent)) {
            if (std::optional<std::vector<Element>> children = facts.elements(ax::children)) {
                childPositions.emplace(children->size(), noParent);
                for (std::size_t position = 0; position < children->size(); ++position) {
                    stack.push_back({std::move((*children)[position]), index, position});
                }
            }
        }
        tree.nodes.push_back(std::move(pending.element));
        tree.roles.push_back(std::move(role));
        tree.children.push_back(std::move(childPositions));
        if (!extraAttributes.empty()) {
            tree.facts.push_back(std::move(facts).select(extraAttributes));
        }
    }
    return tree;
}

std::optional<std::vector<Element>> descendants(Platform& platform, const Element& root,
                                                WebContent webContent, std::size_t limit) {
    std::optional<WalkedTree> tree = walkTree(platform, root, webContent, limit);
    if (!tree) {
        return std::nullopt;
    }
    return std::move(tree->nodes);
}

std::vector<Element> uniqueAXElements(Platform& platform, const std::vector<Element>& elements) {
    std::vector<Element> kept;
    for (const Element& element : elements) {
        if (std::ranges::none_of(
                kept, [&](const Element& earlier) { return platform.elementsEqual(earlier, element); })) {
            kept.push_back(element);
        }
    }
    return kept;
}

} // namespace cpi
