// The X server, as the Linux backend uses it: the top-level windows with their process, name,
// geometry and visibility; the input focus; the screen; keys typed through XTest; and the
// CLIPBOARD selection, owned and served for the clipboard handoff.
//
// Works with and without a window manager: the window list is the manager's _NET_CLIENT_LIST when
// one runs, else the root window's mapped children that are not override-redirect pop-ups; positions are
// taken relative to the root, so that a window a manager has reparented into its frame reports where its
// contents are.
#pragma once

#include "platform/Platform.h"
#include "platform/SecureMemory.h"
#include "platform/linux/KeyPlan.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

typedef struct xcb_connection_t xcb_connection_t;

namespace cpi::x11 {

struct WindowFacts {
    std::uint32_t id = 0;
    std::optional<std::int32_t> pid; // _NET_WM_PID
    std::string name;                // _NET_WM_NAME, else WM_NAME
    std::optional<Rect> geometry;    // relative to the root window
    bool viewable = false;           // mapped, and every ancestor too
    bool onCurrentDesktop = true;    // _NET_WM_DESKTOP is the current desktop, or all desktops
};

class Display;

// The top-level windows, as a look at an application matches its frames against them.
class WindowList {
public:
    virtual ~WindowList() = default;
    virtual std::vector<WindowFacts> topLevelWindows() = 0;
};

// Spare keycodes lent for one typing, given back (with this process's record of them) when the
// loan ends. A process that ends without unwinding gives them back through
// `Display::restoreKeyboard`, or a later typing on the display does.
class [[nodiscard]] KeyboardLoan {
public:
    explicit KeyboardLoan(Display& display) : display_(display) {}
    ~KeyboardLoan();
    KeyboardLoan(const KeyboardLoan&) = delete;
    KeyboardLoan& operator=(const KeyboardLoan&) = delete;

private:
    Display& display_;
};

class Display final : public WindowList {
public:
    // Connects to the display the environment names; null when there is none.
    static std::unique_ptr<Display> connect();
    ~Display();
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    std::vector<WindowFacts> topLevelWindows() override;
    // Whether the input focus is `window` or a window inside it.
    bool focusIsWithin(std::uint32_t window);
    Rect screenBounds() const;

    // Typing into the focused window. `planTyping` reads the keyboard and plans every key of
    // `characters` (and the erasure before them) without sending any: nothing, when a character
    // cannot be typed faithfully (see planKeys) or a modifier or a keyboard group other than the
    // first is in force. `erase` sends Ctrl+A and BackSpace. `lend` records this process and the
    // spare keycodes the plan needs on the root window, then lends them, all before the first key
    // and none reused, until the loan ends. `send` types `strokes` (a chunk of the plan's)
    // and returns once the server has them.
    std::optional<KeyPlan> planTyping(std::span<const char32_t> characters);
    void erase(const KeyPlan& plan);
    KeyboardLoan lend(const KeyPlan& plan);
    void send(std::span<const Stroke> strokes, std::uint8_t shiftKey);
    // Gives the spare keycodes back and removes this process's record (idempotent; also safe
    // from another thread, for an end that runs no destructors).
    void restoreKeyboard();

    // One typing at a time per display, between processes too: the typing selection, taken under
    // a server grab while it has no owner (the server frees it when its owner's connection ends,
    // also after SIGKILL). `lockTyping` tries until `deadline` or until `stop` says so.
    bool lockTyping(std::chrono::steady_clock::time_point deadline, const std::function<bool()>& stop);
    void unlockTyping();
    // With the typing lock held: gives back the keycodes whose recorded owner has died.
    void restoreStaleKeycodes();
    // Whether another client holds an active grab of the keyboard (keys would go to it).
    bool keyboardGrabbedElsewhere();

    // CLIPBOARD: takes the selection with the given targets and their contents; false when the
    // selection could not be taken. `changeCount` counts this process's takes and releases and
    // every other owner's take, except takes that kept exactly this process's text (asked once,
    // at the first count after another owner took it); `releaseClipboard` lets go while this
    // process still owns it, and clears such a take-over while its owner still holds it.
    bool ownClipboard(std::vector<std::pair<std::string, SecureBytes>> targets);
    void releaseClipboard();
    std::int64_t clipboardChangeCount();
    bool ownsClipboard();
    // Serves requests for the selection until `deadline`.
    void serveUntil(std::chrono::steady_clock::time_point deadline);

    std::uint64_t roundTrips() const { return roundTrips_; }

private:
    explicit Display(xcb_connection_t* connection, int screen);
    std::uint32_t atom(const char* name);
    void press(Stroke stroke, std::uint8_t modifier);
    void sync();
    std::optional<KeyboardMap> readKeyboardMap();
    // The selection's owner (XCB_NONE: none); nothing when the server gave no answer.
    std::optional<std::uint32_t> selectionOwner(std::uint32_t selection);
    // Gives up `selection` if `owner` still holds it (under a server grab); whether it did.
    bool releaseSelectionOf(std::uint32_t selection, std::uint32_t owner);
    // Waits until the server has sent something or `deadline` has passed, at most `longest` at a
    // time; false once the deadline has passed or the wait failed.
    bool waitForInput(std::chrono::steady_clock::time_point deadline, std::chrono::milliseconds longest);
    void handleEvents();
    void handleEvent(void* event);
    void serveRequest(void* event);
    std::optional<std::vector<LentRecord>> readLentRecords();
    void writeLentRecords(std::span<const LentRecord> records);
    bool ownerHoldsOurText(std::uint32_t owner);

    xcb_connection_t* connection_;
    std::uint32_t root_ = 0;
    Rect screen_;
    std::uint64_t roundTrips_ = 0;

    std::mutex keyboardMutex_;
    std::vector<std::uint8_t> lentKeycodes_;
    std::uint8_t keysymsPerKeycode_ = 0;
    std::uint32_t lentAtom_ = 0;
    std::uint32_t typingWindow_ = 0;
    std::uint32_t typingAtom_ = 0;

    std::recursive_mutex clipboardMutex_;
    std::uint32_t clipboardWindow_ = 0;
    std::uint32_t clipboardAtom_ = 0;
    std::uint32_t clipboardTime_ = 0;
    bool ownsClipboard_ = false;
    std::int64_t changeCount_ = 0;
    int xfixesEvent_ = -1;
    std::vector<std::pair<std::uint32_t, SecureBytes>> targets_;
    // The text put on the selection, kept until the hold ends: when the selection changed owner
    // (a clipboard manager takes it over to keep it after its owner leaves), whether it still
    // holds exactly this text decides, once, whether that change counts and the end clears it.
    SecureBytes heldText_;
    std::int64_t changesByOthers_ = 0;
    std::optional<bool> takenOverWithOurText_;
    std::uint32_t takeoverOwner_ = 0;
    std::int64_t uncountedChanges_ = 0;
};

} // namespace cpi::x11
