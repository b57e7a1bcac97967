#include "platform/simulated/EventEngine.h"

#include "platform/Process.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <thread>
#include <unistd.h>

namespace cpi::simulated {
namespace {

// How long a "signal" action waits for the stop-signal thread to end the process.
constexpr auto signalWait = std::chrono::seconds(10);
constexpr auto signalPoll = std::chrono::milliseconds(1);

void trigger(State& state, Event& event) {
    event.triggered = true;
    event.dueMicros = nowMicros(state) + event.delayMicros;
}

// Of the events that have gone off and not run yet, the one due first (the first of equals).
Event* nextPending(State& state) {
    Event* next = nullptr;
    for (Event& event : state.events) {
        if (event.triggered && !event.fired && (next == nullptr || event.dueMicros < next->dueMicros)) {
            next = &event;
        }
    }
    return next;
}

// Whether a list in `value`, at any depth, holds the element `node`.
bool listsHold(const Value& value, NodeIndex node) {
    const auto* items = std::get_if<ValueList>(&value.value);
    return items != nullptr && std::ranges::any_of(*items, [node](const Value& entry) {
               const auto* element = std::get_if<ElementRef>(&entry.value);
               return (element != nullptr && element->node == node) || listsHold(entry, node);
           });
}

void dropFromLists(Value& value, NodeIndex node) {
    auto* items = std::get_if<ValueList>(&value.value);
    if (items == nullptr) {
        return;
    }
    std::erase_if(*items, [node](const Value& entry) {
        const auto* element = std::get_if<ElementRef>(&entry.value);
        return element != nullptr && element->node == node;
    });
    for (Value& entry : *items) {
        dropFromLists(entry, node);
    }
}

// The running application with `pid` reports itself terminated; one that quits is gone as well.
void endApplication(State& state, std::int32_t pid, bool quit) {
    for (Application& application : state.applications) {
        if (application.running && application.info->pid == pid) {
            application.running = !quit;
            application.info->terminated = true;
        }
    }
}

void runAction(State& state, Lock& lock, const Action& action) {
    switch (action.kind) {
    case Action::Kind::setAttribute:
        state.nodes.write(action.element).attributes.insert_or_assign(action.attribute, action.value);
        break;
    case Action::Kind::removeAttribute:
        state.nodes.write(action.element).attributes.erase(action.attribute);
        break;
    case Action::Kind::addChild: {
        Value& children = state.nodes.write(action.parent).attributes["AXChildren"];
        if (!std::holds_alternative<ValueList>(children.value)) {
            children.value = ValueList{};
        }
        auto& items = std::get<ValueList>(children.value);
        const std::size_t index = std::min(action.index.value_or(items.size()), items.size());
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(index), Value{ElementRef{action.element}});
        break;
    }
    case Action::Kind::remove:
        for (NodeIndex index = 0; index < state.nodes.size(); ++index) {
            for (const auto& [name, value] : state.nodes[index].attributes) {
                if (listsHold(value, action.element)) {
                    dropFromLists(state.nodes.write(index).attributes.at(name), action.element);
                }
            }
        }
        // The node and everything written inline under it leave the tree.
        state.nodes.writeTree(action.element, [](Node& node) { node.removed = true; });
        break;
    case Action::Kind::terminate:
    case Action::Kind::quit:
        endApplication(state, action.pid, action.kind == Action::Kind::quit);
        break;
    case Action::Kind::launch: {
        Application& launched = state.applications[action.application];
        endApplication(state, launched.info->pid, true);
        launched.running = true;
        break;
    }
    case Action::Kind::pasteboardCopy:
        state.pasteboard.assign(
            1, PasteboardItemContents{{plainTextType, SecureString(action.text.begin(), action.text.end())}});
        ++state.changeCount;
        break;
    case Action::Kind::windowServer:
        if (action.allWindows) {
            state.allWindows = *action.allWindows;
        }
        if (action.onScreenWindows) {
            state.onScreenWindows = *action.onScreenWindows;
        }
        break;
    case Action::Kind::setWindowNumber:
        state.nodes.write(action.element).windowNumber = action.windowNumber;
        break;
    case Action::Kind::signal: {
        // The signal goes to the whole process. Where this thread blocks it, the tool's stop-signal
        // thread takes it and ends the process; wait here (without the lock, which that thread
        // needs) so that it is handled at this point of the run and not after later calls.
        // Inside one of the tool's commits the stop-signal thread needs a lock this thread holds:
        // once it has taken the signal, waiting longer gains nothing, and the call goes on.
        lock.unlock();
        const bool blocked = process::isSignalBlocked(action.signal);
        const std::uint64_t taken = process::stopSignalsTaken();
        ::kill(::getpid(), action.signal);
        if (blocked) {
            const auto deadline = std::chrono::steady_clock::now() + signalWait;
            while (std::chrono::steady_clock::now() < deadline &&
                   !(process::inCommit() && process::stopSignalsTaken() != taken)) {
                std::this_thread::sleep_for(signalPoll);
            }
        }
        lock.lock();
        break;
    }
    }
}

// Whether a "set" trigger's value is the one written (a string or a boolean), compared in place.
bool sameWritten(const nlohmann::json& wanted, const Value& written) {
    if (wanted.is_boolean()) {
        const auto* boolean = std::get_if<bool>(&written.value);
        return boolean != nullptr && wanted.get<bool>() == *boolean;
    }
    if (wanted.is_string()) {
        const auto* text = std::get_if<Text>(&written.value);
        return text != nullptr && std::string_view(*text) == wanted.get_ref<const std::string&>();
    }
    return false;
}

// Runs the actions of every event that is due, earliest first, each once.
void fireDue(State& state, Lock& lock) {
    for (Event* due = nextPending(state); due != nullptr && due->dueMicros <= nowMicros(state);
         due = nextPending(state)) {
        due->fired = true;
        for (const Action& action : due->actions) {
            runAction(state, lock, action);
        }
    }
}

} // namespace

std::int64_t nowMicros(const State& state) {
    std::int64_t micros = state.virtualMicros;
    if (state.realTime) {
        micros += std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                        state.start)
                      .count();
    }
    return micros;
}

void count(State& state, std::string_view name, bool roundTrip) {
    const std::int64_t number = ++state.calls.try_emplace(std::string(name), 0).first->second;
    for (Event& event : state.events) {
        if (event.when.kind != Trigger::Kind::call || event.when.call != name) {
            continue;
        }
        if (event.when.every) {
            // Goes off again at every multiple, once the previous going-off has run its actions.
            if (number % *event.when.every == 0 && (!event.triggered || event.fired)) {
                event.fired = false;
                trigger(state, event);
            }
        } else if (!event.triggered && event.when.count == number) {
            trigger(state, event);
        }
    }
    if (roundTrip) {
        ++state.roundTrips;
        state.virtualMicros += state.roundTripMicros;
    }
}

Lock enter(State& state, std::string_view name, bool roundTrip) {
    Lock lock(state.mutex);
    count(state, name, roundTrip);
    fireDue(state, lock);
    return lock;
}

void afterWrite(State& state, Lock& lock, NodeIndex node, std::string_view attribute, const Value& value) {
    for (Event& event : state.events) {
        if (!event.triggered && event.when.kind == Trigger::Kind::set && event.when.element == node &&
            event.when.attribute == attribute &&
            (!event.when.value || sameWritten(*event.when.value, value))) {
            trigger(state, event);
        }
    }
    fireDue(state, lock);
}

void sleep(State& state, Lock& lock, double seconds) {
    fireDue(state, lock);
    const std::int64_t micros =
        std::isfinite(seconds) && seconds > 0 ? std::llround(std::min(seconds, 1e9) * 1e6) : 0;
    const std::int64_t target = nowMicros(state) + micros;
    // The clock moves in steps to each due event, so that timed events fire at their time.
    for (;;) {
        const Event* next = nextPending(state);
        const std::int64_t wake = next != nullptr && next->dueMicros < target ? next->dueMicros : target;
        const std::int64_t now = nowMicros(state);
        if (wake > now) {
            if (state.realTime) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(wake - now));
                lock.lock();
            } else {
                state.virtualMicros += wake - now;
            }
        }
        fireDue(state, lock);
        if (nowMicros(state) >= target) {
            return;
        }
    }
}

} // namespace cpi::simulated
