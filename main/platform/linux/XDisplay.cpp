#include "platform/linux/XDisplay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xtest.h>

namespace cpi::x11 {

namespace {

// Replies and events come from xcb in memory the caller frees.
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply>
ReplyPtr<Reply> own(Reply* reply) {
    return ReplyPtr<Reply>(reply, &std::free);
}

using Event = ReplyPtr<xcb_generic_event_t>;

constexpr std::uint32_t maximumPropertyWords = 1 << 16;
constexpr std::uint32_t allDesktops = 0xFFFFFFFF;
constexpr std::uint32_t noSymbol = 0;
// Modifiers that would change what a key types: Shift, Lock, Control, Mod1 (Alt), Mod3 to Mod5.
// Mod2 (Num Lock) only changes the keypad, which is never used here.
constexpr std::uint16_t modifiersInForce = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_CONTROL |
                                           XCB_MOD_MASK_1 | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;
constexpr unsigned groupShift = 13;
// The root window's record of lent keycodes, and the selection that serialises typing.
constexpr const char* lentKeycodesProperty = "_CHROME_PRIVATE_INPUT_LENT_KEYCODES";
constexpr const char* typingSelection = "_CHROME_PRIVATE_INPUT_TYPING";
// Where another owner's CLIPBOARD text is read back into, on the clipboard's own window.
constexpr const char* readBackProperty = "_CHROME_PRIVATE_INPUT_READ_BACK";
constexpr auto typingLockPoll = std::chrono::milliseconds(20);
constexpr auto readBackWait = std::chrono::milliseconds(500);

// Equal in length and bytes, in a time that depends on the length only.
bool sameBytes(std::span<const std::uint8_t> one, std::span<const std::uint8_t> other) {
    if (one.size() != other.size()) {
        return false;
    }
    volatile std::uint8_t difference = 0;
    for (std::size_t index = 0; index < one.size(); ++index) {
        difference = std::uint8_t(difference | (one[index] ^ other[index]));
    }
    return difference == 0;
}

// A process on this machine that no longer exists (a pid of another user's process exists).
bool processGone(std::int32_t pid) {
    return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

std::uint32_t createUtilityWindow(xcb_connection_t* connection, std::uint32_t root, std::uint32_t events) {
    const std::uint32_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    return window;
}
constexpr unsigned shiftRow = 0;
constexpr unsigned controlRow = 2;

} // namespace

Display::Display(xcb_connection_t* connection, int screenNumber) : connection_(connection) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int index = 0; index < screenNumber && screens.rem > 0; ++index) {
        xcb_screen_next(&screens);
    }
    root_ = screens.data->root;
    screen_ = Rect{0, 0, double(screens.data->width_in_pixels), double(screens.data->height_in_pixels)};
}

std::unique_ptr<Display> Display::connect() {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    if (connection == nullptr || xcb_connection_has_error(connection) != 0) {
        if (connection != nullptr) {
            xcb_disconnect(connection);
        }
        return nullptr;
    }
    return std::unique_ptr<Display>(new Display(connection, screen));
}

KeyboardLoan::~KeyboardLoan() {
    display_.restoreKeyboard();
}

Display::~Display() {
    xcb_disconnect(connection_);
}

std::uint32_t Display::atom(const char* name) {
    ++roundTrips_;
    const auto reply = own(xcb_intern_atom_reply(
        connection_,
        xcb_intern_atom(connection_, 0, std::uint16_t(std::char_traits<char>::length(name)), name), nullptr));
    return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}

Rect Display::screenBounds() const {
    return screen_;
}

std::vector<WindowFacts> Display::topLevelWindows() {
    const std::uint32_t clientListAtom = atom("_NET_CLIENT_LIST");
    const std::uint32_t pidAtom = atom("_NET_WM_PID");
    const std::uint32_t netNameAtom = atom("_NET_WM_NAME");
    const std::uint32_t desktopAtom = atom("_NET_WM_DESKTOP");
    const std::uint32_t currentDesktopAtom = atom("_NET_CURRENT_DESKTOP");

    const std::uint32_t anyType = XCB_GET_PROPERTY_TYPE_ANY;
    auto readProperty = [&](std::uint32_t window, std::uint32_t property, std::uint32_t type) {
        return xcb_get_property(connection_, 0, window, property, type, 0, maximumPropertyWords);
    };
    auto words = [](const xcb_get_property_reply_t* reply) {
        std::vector<std::uint32_t> values;
        if (reply != nullptr && reply->format == 32) {
            const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
            values.assign(data, data + xcb_get_property_value_length(reply) / 4);
        }
        return values;
    };

    // The window manager's list when one keeps it, else the root's children.
    roundTrips_ += 2;
    const auto clientList = own(
        xcb_get_property_reply(connection_, readProperty(root_, clientListAtom, XCB_ATOM_WINDOW), nullptr));
    const auto currentDesktop = own(xcb_get_property_reply(
        connection_, readProperty(root_, currentDesktopAtom, XCB_ATOM_CARDINAL), nullptr));
    std::vector<std::uint32_t> ids;
    const bool managed = clientList && clientList->type != XCB_ATOM_NONE;
    if (managed) {
        ids = words(clientList.get());
    } else {
        ++roundTrips_;
        const auto tree = own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root_), nullptr));
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            ids.assign(children, children + xcb_query_tree_children_length(tree.get()));
        }
    }
    const std::vector<std::uint32_t> desktop = words(currentDesktop.get());

    // Every question about every window goes out before the first answer is read.
    struct Pending {
        xcb_get_property_cookie_t pid, netName, name, desktop;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t position;
        xcb_get_window_attributes_cookie_t attributes;
    };
    std::vector<Pending> pending;
    pending.reserve(ids.size());
    for (const std::uint32_t id : ids) {
        pending.push_back(Pending{
            readProperty(id, pidAtom, XCB_ATOM_CARDINAL), readProperty(id, netNameAtom, anyType),
            readProperty(id, XCB_ATOM_WM_NAME, anyType), readProperty(id, desktopAtom, XCB_ATOM_CARDINAL),
            xcb_get_geometry(connection_, id), xcb_translate_coordinates(connection_, id, root_, 0, 0),
            xcb_get_window_attributes(connection_, id)});
    }
    ++roundTrips_;
    std::vector<WindowFacts> windows;
    for (std::size_t index = 0; index < ids.size(); ++index) {
        const Pending& asked = pending[index];
        WindowFacts facts;
        facts.id = ids[index];
        const auto pid = own(xcb_get_property_reply(connection_, asked.pid, nullptr));
        if (const std::vector<std::uint32_t> values = words(pid.get()); !values.empty()) {
            facts.pid = std::int32_t(values.front());
        }
        const auto netName = own(xcb_get_property_reply(connection_, asked.netName, nullptr));
        const auto name = own(xcb_get_property_reply(connection_, asked.name, nullptr));
        for (const auto* reply : {netName.get(), name.get()}) {
            if (reply != nullptr && reply->format == 8 && xcb_get_property_value_length(reply) > 0) {
                facts.name.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                                  std::size_t(xcb_get_property_value_length(reply)));
                break;
            }
        }
        const auto windowDesktop = own(xcb_get_property_reply(connection_, asked.desktop, nullptr));
        if (const std::vector<std::uint32_t> values = words(windowDesktop.get());
            !values.empty() && !desktop.empty()) {
            facts.onCurrentDesktop = values.front() == allDesktops || values.front() == desktop.front();
        }
        const auto geometry = own(xcb_get_geometry_reply(connection_, asked.geometry, nullptr));
        const auto position = own(xcb_translate_coordinates_reply(connection_, asked.position, nullptr));
        if (geometry && position) {
            facts.geometry = Rect{double(position->dst_x), double(position->dst_y), double(geometry->width),
                                  double(geometry->height)};
        }
        const auto attributes = own(xcb_get_window_attributes_reply(connection_, asked.attributes, nullptr));
        facts.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        // Without a manager, the windows a manager would list: mapped, and not pop-ups that
        // bypass management (menus, tooltips, the address bar's suggestions).
        if (!managed && (!attributes || attributes->override_redirect ||
                         attributes->map_state == XCB_MAP_STATE_UNMAPPED)) {
            continue;
        }
        if (attributes || geometry) {
            windows.push_back(std::move(facts));
        }
    }
    return windows;
}

bool Display::focusIsWithin(std::uint32_t window) {
    ++roundTrips_;
    const auto focus = own(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    if (!focus) {
        return false;
    }
    // PointerRoot and None name no window; anything else is walked up to the root.
    std::uint32_t current = focus->focus;
    while (current != XCB_NONE && current != XCB_INPUT_FOCUS_POINTER_ROOT && current != root_) {
        if (current == window) {
            return true;
        }
        ++roundTrips_;
        const auto tree =
            own(xcb_query_tree_reply(connection_, xcb_query_tree(connection_, current), nullptr));
        if (!tree) {
            return false;
        }
        current = tree->parent;
    }
    return false;
}

std::optional<KeyPlan> Display::planTyping(std::span<const char32_t> characters) {
    const std::lock_guard lock(keyboardMutex_);
    roundTrips_ += 3;
    const auto pointer =
        own(xcb_query_pointer_reply(connection_, xcb_query_pointer(connection_, root_), nullptr));
    if (!pointer || (pointer->mask & modifiersInForce) != 0 || ((pointer->mask >> groupShift) & 3) != 0) {
        return std::nullopt;
    }
    std::optional<KeyboardMap> map = readKeyboardMap();
    const auto modifiers =
        own(xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
    if (!map || !modifiers) {
        return std::nullopt;
    }
    auto modifierKey = [&](unsigned row) -> std::uint8_t {
        const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(modifiers.get());
        for (unsigned index = 0; index < modifiers->keycodes_per_modifier; ++index) {
            if (const std::uint8_t key = keys[row * modifiers->keycodes_per_modifier + index]; key != 0) {
                return key;
            }
        }
        return 0;
    };
    map->shiftKey = modifierKey(shiftRow);
    map->controlKey = modifierKey(controlRow);
    return planKeys(*map, characters, EraseFirst::yes);
}

// The core keyboard map, without its modifiers.
std::optional<KeyboardMap> Display::readKeyboardMap() {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const auto mapping = own(xcb_get_keyboard_mapping_reply(
        connection_,
        xcb_get_keyboard_mapping(connection_, setup->min_keycode,
                                 std::uint8_t(setup->max_keycode - setup->min_keycode + 1)),
        nullptr));
    if (!mapping) {
        return std::nullopt;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    return KeyboardMap{setup->min_keycode,
                       mapping->keysyms_per_keycode,
                       {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(mapping.get())}};
}

void Display::press(Stroke stroke, std::uint8_t modifier) {
    auto key = [&](std::uint8_t type, std::uint8_t keycode) {
        xcb_test_fake_input(connection_, type, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    if (modifier != 0) {
        key(XCB_KEY_PRESS, modifier);
    }
    key(XCB_KEY_PRESS, stroke.keycode);
    key(XCB_KEY_RELEASE, stroke.keycode);
    if (modifier != 0) {
        key(XCB_KEY_RELEASE, modifier);
    }
}

// A round trip: every request sent before has reached the server once its answer is here.
void Display::sync() {
    ++roundTrips_;
    std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

void Display::erase(const KeyPlan& plan) {
    const std::lock_guard lock(keyboardMutex_);
    if (plan.selectAll && plan.backspace) {
        press(*plan.selectAll, plan.controlKey);
        press(*plan.backspace, 0);
    }
    sync();
}

std::optional<std::vector<LentRecord>> Display::readLentRecords() {
    if (lentAtom_ == 0) {
        lentAtom_ = atom(lentKeycodesProperty);
    }
    ++roundTrips_;
    const auto reply = own(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, root_, lentAtom_, XCB_ATOM_CARDINAL, 0, maximumPropertyWords),
        nullptr));
    if (!reply) {
        return std::nullopt;
    }
    std::vector<LentRecord> records;
    if (reply->format == 32) {
        const auto* data = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        const auto length = std::size_t(xcb_get_property_value_length(reply.get())) / 4;
        records = decodeLentRecords(std::span(data, length));
        secureWipe(xcb_get_property_value(reply.get()), length * 4);
    }
    return records;
}

void Display::writeLentRecords(std::span<const LentRecord> records) {
    if (records.empty()) {
        xcb_delete_property(connection_, root_, lentAtom_);
        return;
    }
    const RecordWords words = encodeLentRecords(records);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, root_, lentAtom_, XCB_ATOM_CARDINAL, 32,
                        std::uint32_t(words.size()), words.data());
}

KeyboardLoan Display::lend(const KeyPlan& plan) {
    const std::lock_guard lock(keyboardMutex_);
    if (plan.lent.empty()) {
        return KeyboardLoan(*this);
    }
    // The record goes out before the first change of the map, so that a process killed at any
    // point after it leaves behind what it lent.
    std::vector<LentRecord> records = readLentRecords().value_or(std::vector<LentRecord>{});
    LentRecord mine{std::int32_t(::getpid()), {}};
    for (const auto& [keysym, keycode] : plan.lent) {
        mine.keys.push_back(LentKey{keycode, keysym});
    }
    std::erase_if(records, [&](const LentRecord& record) { return record.pid == mine.pid; });
    records.push_back(std::move(mine));
    writeLentRecords(records);
    // Every missing keysym is lent before the first key, so that a client that reads the map
    // again at any moment of the typing finds every character in it.
    keysymsPerKeycode_ = std::uint8_t(plan.width);
    std::vector<xcb_keysym_t> row(plan.width, noSymbol);
    for (const auto& [keysym, keycode] : plan.lent) {
        std::fill(row.begin(), row.end(), keysym);
        xcb_change_keyboard_mapping(connection_, 1, keycode, keysymsPerKeycode_, row.data());
        lentKeycodes_.push_back(keycode);
    }
    secureWipe(row.data(), row.size() * sizeof(xcb_keysym_t));
    sync();
    return KeyboardLoan(*this);
}

void Display::send(std::span<const Stroke> strokes, std::uint8_t shiftKey) {
    const std::lock_guard lock(keyboardMutex_);
    for (const Stroke stroke : strokes) {
        press(stroke, stroke.shift ? shiftKey : 0);
    }
    sync();
}

void Display::restoreKeyboard() {
    const std::lock_guard lock(keyboardMutex_);
    if (lentKeycodes_.empty()) {
        return;
    }
    const std::vector<xcb_keysym_t> row(keysymsPerKeycode_, noSymbol);
    for (const std::uint8_t keycode : lentKeycodes_) {
        xcb_change_keyboard_mapping(connection_, 1, keycode, keysymsPerKeycode_, row.data());
    }
    lentKeycodes_.clear();
    if (std::optional<std::vector<LentRecord>> records = readLentRecords()) {
        std::erase_if(*records, [](const LentRecord& record) { return record.pid == ::getpid(); });
        writeLentRecords(*records);
    }
    sync();
}

bool Display::lockTyping(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& stop) {
    if (typingWindow_ == 0) {
        typingAtom_ = atom(typingSelection);
        typingWindow_ = createUtilityWindow(connection_, root_, 0);
    }
    for (;;) {
        // Under the grab nobody can take the selection between the look and the take.
        xcb_grab_server(connection_);
        const std::optional<std::uint32_t> owner = selectionOwner(typingAtom_);
        const bool free = owner == std::uint32_t{XCB_NONE};
        if (free) {
            xcb_set_selection_owner(connection_, typingWindow_, typingAtom_, XCB_CURRENT_TIME);
        }
        xcb_ungrab_server(connection_);
        sync();
        if (free) {
            return true;
        }
        if (!owner || stop() || std::chrono::steady_clock::now() + typingLockPoll >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(typingLockPoll);
    }
}

std::optional<std::uint32_t> Display::selectionOwner(std::uint32_t selection) {
    ++roundTrips_;
    const auto reply = own(
        xcb_get_selection_owner_reply(connection_, xcb_get_selection_owner(connection_, selection), nullptr));
    return reply ? std::optional(reply->owner) : std::nullopt;
}

// Gives up `selection` while `owner` still holds it, under a server grab, so that a newer owner's
// claim is never cleared instead; whether it was released.
bool Display::releaseSelectionOf(std::uint32_t selection, std::uint32_t owner) {
    xcb_grab_server(connection_);
    const bool released = selectionOwner(selection) == owner;
    if (released) {
        xcb_set_selection_owner(connection_, XCB_NONE, selection, XCB_CURRENT_TIME);
    }
    xcb_ungrab_server(connection_);
    return released;
}

void Display::unlockTyping() {
    if (typingWindow_ == 0) {
        return;
    }
    releaseSelectionOf(typingAtom_, typingWindow_);
    sync();
}

void Display::restoreStaleKeycodes() {
    const std::lock_guard lock(keyboardMutex_);
    std::optional<std::vector<LentRecord>> records = readLentRecords();
    if (!records || records->empty()) {
        return;
    }
    ++roundTrips_;
    std::optional<KeyboardMap> map = readKeyboardMap();
    if (!map) {
        return;
    }
    const GiveBack giveBack = staleKeycodes(*records, *map, processGone);
    const std::vector<xcb_keysym_t> row(map->width, noSymbol);
    for (const std::uint8_t keycode : giveBack.keycodes) {
        xcb_change_keyboard_mapping(connection_, 1, keycode, std::uint8_t(map->width), row.data());
    }
    writeLentRecords(giveBack.kept);
    secureWipe(map->keysyms.data(), map->keysyms.size() * sizeof(std::uint32_t));
    sync();
}

// An active grab cannot be asked about; trying one can: AlreadyGrabbed (or Frozen) means another
// client holds it. A grab of ours that succeeds is let go at once.
bool Display::keyboardGrabbedElsewhere() {
    ++roundTrips_;
    const auto reply = own(xcb_grab_keyboard_reply(
        connection_,
        xcb_grab_keyboard(connection_, 0, root_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
        nullptr));
    if (!reply) {
        return true;
    }
    if (reply->status == XCB_GRAB_STATUS_SUCCESS) {
        xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
        sync();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// CLIPBOARD

bool Display::ownClipboard(std::vector<std::pair<std::string, SecureBytes>> targets) {
    const std::lock_guard lock(clipboardMutex_);
    if (clipboardWindow_ == 0) {
        // Told of every change of the selection's owner, so that another program's copy is seen.
        // Without XFixes nothing is set up, so that every call fails alike: a window made first
        // would let the next call own the selection blind to other programs' copies.
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection_, &xcb_xfixes_id);
        if (xfixes == nullptr || !xfixes->present) {
            return false;
        }
        clipboardAtom_ = atom("CLIPBOARD");
        clipboardWindow_ = createUtilityWindow(connection_, root_, XCB_EVENT_MASK_PROPERTY_CHANGE);
        xfixesEvent_ = xfixes->first_event;
        std::free(xcb_xfixes_query_version_reply(
            connection_,
            xcb_xfixes_query_version(connection_, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
            nullptr));
        xcb_xfixes_select_selection_input(connection_, clipboardWindow_, clipboardAtom_,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    }
    // The server's time of a property change on our window stamps the ownership.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, clipboardWindow_, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(connection_);
    clipboardTime_ = 0;
    while (clipboardTime_ == 0) {
        const Event event = own(xcb_wait_for_event(connection_));
        if (!event) {
            break;
        }
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
            clipboardTime_ = reinterpret_cast<xcb_property_notify_event_t*>(event.get())->time;
        } else {
            handleEvent(event.get());
        }
    }
    targets_.clear();
    wipeContents(heldText_);
    changesByOthers_ = 0;
    uncountedChanges_ = 0;
    takenOverWithOurText_.reset();
    takeoverOwner_ = 0;
    for (auto& [name, data] : targets) {
        if (name == "UTF8_STRING") {
            heldText_ = data;
        }
        targets_.emplace_back(atom(name.c_str()), std::move(data));
    }
    xcb_set_selection_owner(connection_, clipboardWindow_, clipboardAtom_, clipboardTime_);
    ownsClipboard_ = selectionOwner(clipboardAtom_) == clipboardWindow_;
    if (!ownsClipboard_) {
        targets_.clear();
        return false;
    }
    ++changeCount_;
    return true;
}

void Display::releaseClipboard() {
    const std::lock_guard lock(clipboardMutex_);
    handleEvents();
    if (ownsClipboard_) {
        xcb_set_selection_owner(connection_, XCB_NONE, clipboardAtom_, clipboardTime_);
        xcb_flush(connection_);
        ownsClipboard_ = false;
        ++changeCount_;
    } else if (takenOverWithOurText_.value_or(false)) {
        // Another client took the selection over with exactly our text: cleared while that
        // client still owns it, under a grab so that nobody's newer copy is cleared instead.
        if (releaseSelectionOf(clipboardAtom_, takeoverOwner_)) {
            ++changeCount_;
        }
        xcb_flush(connection_);
    }
    takenOverWithOurText_.reset();
    takeoverOwner_ = 0;
    targets_.clear();
    wipeContents(heldText_);
}

// Asks `owner` for the selection's text and compares it with ours; no answer within a short wait,
// an incremental transfer or more bytes than ours count as different.
bool Display::ownerHoldsOurText(std::uint32_t owner) {
    if (owner == XCB_NONE || owner == clipboardWindow_ || heldText_.empty()) {
        return false;
    }
    const std::uint32_t utf8 = atom("UTF8_STRING");
    const std::uint32_t property = atom(readBackProperty);
    const std::uint32_t incremental = atom("INCR");
    xcb_convert_selection(connection_, clipboardWindow_, clipboardAtom_, utf8, property, XCB_CURRENT_TIME);
    xcb_flush(connection_);
    const auto deadline = std::chrono::steady_clock::now() + readBackWait;
    std::optional<bool> answered;
    while (!answered && xcb_connection_has_error(connection_) == 0) {
        const Event event = own(xcb_poll_for_event(connection_));
        if (!event) {
            if (!waitForInput(deadline, readBackWait)) {
                break;
            }
            continue;
        }
        const auto* notify = reinterpret_cast<const xcb_selection_notify_event_t*>(event.get());
        if ((event->response_type & 0x7F) == XCB_SELECTION_NOTIFY && notify->requestor == clipboardWindow_ &&
            notify->selection == clipboardAtom_) {
            answered = notify->property != XCB_NONE;
        } else {
            handleEvent(event.get());
        }
    }
    if (!answered.value_or(false)) {
        return false;
    }
    ++roundTrips_;
    const auto words = std::uint32_t(heldText_.size() / 4 + 2);
    const auto reply = own(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 1, clipboardWindow_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, words),
        nullptr));
    if (!reply) {
        return false;
    }
    const auto length = std::size_t(xcb_get_property_value_length(reply.get()));
    auto* value = static_cast<std::uint8_t*>(xcb_get_property_value(reply.get()));
    const bool same = reply->type != incremental && reply->format == 8 && reply->bytes_after == 0 &&
                      sameBytes(std::span(value, length), heldText_);
    secureWipe(value, length);
    if (reply->bytes_after > 0) {
        xcb_delete_property(connection_, clipboardWindow_, property);
        xcb_flush(connection_);
    }
    return same;
}

std::int64_t Display::clipboardChangeCount() {
    const std::lock_guard lock(clipboardMutex_);
    if (clipboardWindow_ != 0) {
        // A round trip first, so that a change the server has already made is among the events.
        std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        handleEvents();
        // Asked once: whether every change since our take only moved our text to another owner.
        if (changesByOthers_ > 0 && !ownsClipboard_ && !heldText_.empty() && !takenOverWithOurText_) {
            takeoverOwner_ = selectionOwner(clipboardAtom_).value_or(XCB_NONE);
            takenOverWithOurText_ = ownerHoldsOurText(takeoverOwner_);
            if (*takenOverWithOurText_) {
                uncountedChanges_ = changesByOthers_;
            }
        }
    }
    return changeCount_ - uncountedChanges_;
}

bool Display::ownsClipboard() {
    const std::lock_guard lock(clipboardMutex_);
    return ownsClipboard_;
}

bool Display::waitForInput(std::chrono::steady_clock::time_point deadline,
                           std::chrono::milliseconds longest) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    pollfd waiting{xcb_get_file_descriptor(connection_), POLLIN, 0};
    return ::poll(&waiting, 1, int(std::min(left, longest).count())) >= 0 || errno == EINTR;
}

void Display::serveUntil(std::chrono::steady_clock::time_point deadline) {
    while (waitForInput(deadline, std::chrono::seconds(1))) {
        const std::lock_guard lock(clipboardMutex_);
        handleEvents();
        if (xcb_connection_has_error(connection_) != 0) {
            return;
        }
    }
}

void Display::handleEvents() {
    while (const Event event = own(xcb_poll_for_event(connection_))) {
        handleEvent(event.get());
    }
}

void Display::handleEvent(void* raw) {
    auto* event = static_cast<xcb_generic_event_t*>(raw);
    const std::uint8_t type = event->response_type & 0x7F;
    if (type == XCB_SELECTION_REQUEST) {
        serveRequest(event);
    } else if (type == XCB_SELECTION_CLEAR) {
        if (reinterpret_cast<xcb_selection_clear_event_t*>(event)->selection == clipboardAtom_) {
            ownsClipboard_ = false;
            targets_.clear();
        }
    } else if (xfixesEvent_ >= 0 && type == xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY) {
        const auto* notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection == clipboardAtom_ && notify->owner != clipboardWindow_) {
            ++changeCount_;
            ++changesByOthers_;
            ownsClipboard_ = false;
            targets_.clear();
        }
    }
}

void Display::serveRequest(void* raw) {
    const auto* request = static_cast<xcb_selection_request_event_t*>(raw);
    xcb_selection_notify_event_t answer{};
    answer.response_type = XCB_SELECTION_NOTIFY;
    answer.time = request->time;
    answer.requestor = request->requestor;
    answer.selection = request->selection;
    answer.target = request->target;
    answer.property = XCB_NONE;
    // Old clients name no property: the target serves as the property then.
    const std::uint32_t property = request->property != XCB_NONE ? request->property : request->target;
    if (ownsClipboard_ && request->selection == clipboardAtom_) {
        const std::uint32_t targetsAtom = atom("TARGETS");
        if (request->target == targetsAtom) {
            std::vector<std::uint32_t> offered{targetsAtom};
            for (const auto& [target, data] : targets_) {
                offered.push_back(target);
            }
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                XCB_ATOM_ATOM, 32, std::uint32_t(offered.size()), offered.data());
            answer.property = property;
        } else {
            for (const auto& [target, data] : targets_) {
                if (target == request->target) {
                    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request->requestor, property,
                                        target, 8, std::uint32_t(data.size()), data.data());
                    answer.property = property;
                }
            }
        }
    }
    xcb_send_event(connection_, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&answer));
    xcb_flush(connection_);
}

} // namespace cpi::x11
