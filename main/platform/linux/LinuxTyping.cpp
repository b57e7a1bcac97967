// Typing the secret into Chromium's focused field through XTest.
#include "platform/Process.h"
#include "platform/ValueArrival.h"
#include "platform/linux/LinuxPlatform.h"

#include <atspi/atspi-constants.h>
#include <chrono>
#include <functional>

namespace cpi {

using atspi::ObjectRef;

namespace {
// How long typed characters may take to arrive in the field (each wait), and how long a typing
// waits for another one on the same display to end. Both are given up at once when a stop begins.
constexpr auto typingSettle = std::chrono::seconds(1);
constexpr auto typingLockWait = std::chrono::seconds(3);
constexpr auto typingPoll = std::chrono::milliseconds(5);
// How long a typing that a stop ends still waits for the keys it has already sent.
constexpr auto sentKeysWait = std::chrono::milliseconds(750);
} // namespace

// The secret is typed: no element of Chromium takes a value through the bus. Before the first
// key the field must still be a focused, editable text field of a window that has the X input
// focus, and every character must be typeable; the field is then emptied (Ctrl+A, BackSpace) and
// the keys go out in chunks. Before the erasure and before each chunk, once the chunk before has
// arrived in the field, the field must still be focused, its window must still have the X input
// focus and no other client may hold a keyboard grab: at the first change no further key goes
// out. Afterwards the field must hold as many characters as the secret has. One typing at a time
// per display; a stop that begins meanwhile ends the typing at its next look.
AXError LinuxPlatform::typeInto(const ObjectRef& field, const SecureString& text) {
    if (display() == nullptr) {
        return axErrorCannotComplete;
    }
    auto fieldFocused = [&] {
        const std::optional<atspi::StateSet> states = bus_->states(field);
        return states && atspi::hasState(*states, ATSPI_STATE_FOCUSED);
    };
    const std::optional<std::uint32_t> role = bus_->role(field);
    const std::optional<atspi::StateSet> states = bus_->states(field);
    if (!role || !atspi::isTextFieldRole(*role) || !states ||
        !atspi::hasState(*states, ATSPI_STATE_FOCUSED) || !atspi::hasState(*states, ATSPI_STATE_EDITABLE) ||
        atspi::hasState(*states, ATSPI_STATE_READ_ONLY)) {
        return axErrorCannotComplete;
    }
    const std::optional<ObjectRef> frame = look().frameOf(field);
    const std::optional<std::uint32_t> window = frame ? look().frameWindow(*frame) : std::nullopt;
    if (!window || !display_->focusIsWithin(*window)) {
        return axErrorCannotComplete;
    }
    const std::function<bool()> stopping = [] { return process::stopRequested(); };
    if (!display_->lockTyping(std::chrono::steady_clock::now() + typingLockWait, stopping)) {
        return axErrorCannotComplete;
    }
    struct TypingLock {
        x11::Display& display;
        ~TypingLock() { display.unlockTyping(); }
    } const typingLock{*display_};
    // Keycodes that a typing killed before giving them back still holds are free again, and the
    // plan may use them.
    display_->restoreStaleKeycodes();
    const x11::SecretCharacters characters = x11::decodeUtf8(text);
    const std::optional<x11::KeyPlan> plan = display_->planTyping(characters);
    if (!plan) {
        return axErrorCannotComplete;
    }
    // Every wait for the field goes through here, bounded. Once a stop has begun no further key goes
    // out, but the keys already sent are still let arrive (for at most sentKeysWait, every bus call
    // then on the stop's short deadline) before the keyboard is given back and the process ends:
    // Chromium ends when the client whose keys it is still turning into text goes away.
    auto settlesAt = [&](std::int32_t wanted) {
        const auto holds = [&] { return bus_->characterCount(field) == wanted; };
        const Arrival arrival =
            waitForArrival(holds, typingSettle, typingPoll, process::stopRequested, steadyWaitClock());
        if (arrival == Arrival::stopped) {
            waitForArrival(
                holds, sentKeysWait, typingPoll, [] { return false; }, steadyWaitClock());
        }
        return arrival == Arrival::arrived;
    };
    auto keysStillGoWhereTheyShould = [&] {
        return !process::stopRequested() && fieldFocused() && display_->focusIsWithin(*window) &&
               !display_->keyboardGrabbedElsewhere();
    };
    // The field is emptied first and seen empty, so that the count can only reach the secret's
    // length once the last key has arrived (a field that already held as many characters would
    // otherwise pass before any key had).
    if (!keysStillGoWhereTheyShould()) {
        return axErrorCannotComplete;
    }
    display_->erase(*plan);
    if (!settlesAt(0)) {
        return axErrorCannotComplete;
    }
    const x11::KeyboardLoan loan = display_->lend(*plan);
    const std::span<const x11::Stroke> strokes(plan->strokes.data(), plan->strokes.size());
    const std::size_t sent = x11::sendInChunks(
        strokes, x11::strokesPerChunk,
        [&](std::size_t sentSoFar) {
            return settlesAt(std::int32_t(sentSoFar)) && keysStillGoWhereTheyShould();
        },
        [&](std::span<const x11::Stroke> chunk) { display_->send(chunk, plan->shiftKey); });
    if (sent != strokes.size()) {
        return axErrorCannotComplete;
    }
    return settlesAt(std::int32_t(characters.size())) ? axErrorSuccess : axErrorFailure;
}

} // namespace cpi
