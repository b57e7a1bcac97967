// Loading a scenario's events: their triggers, delays and actions. Elements named by id are looked
// up once the whole scenario is loaded.
#include "platform/simulated/ScenarioLoader.h"

#include <csignal>

namespace cpi::simulated::loading {
namespace {

std::int64_t microsOf(const json& value, const Path& path) {
    const double seconds = numberOf(value, path);
    if (seconds < 0 || seconds > 1e9) {
        fail(path, "expected a number of seconds from 0 to 1e9");
    }
    return std::llround(seconds * 1e6);
}

int signalOf(const json& value, const Path& path) {
    static const std::pair<std::string_view, int> signals[] = {
        {"SIGTERM", SIGTERM}, {"SIGINT", SIGINT},   {"SIGHUP", SIGHUP},   {"SIGPIPE", SIGPIPE},
        {"SIGQUIT", SIGQUIT}, {"SIGUSR1", SIGUSR1}, {"SIGUSR2", SIGUSR2}, {"SIGKILL", SIGKILL}};
    const std::string name = stringOf(value, path);
    const auto* found = std::ranges::find(signals, name, &std::pair<std::string_view, int>::first);
    if (found == std::end(signals)) {
        fail(path, "unknown signal " + jsonQuoted(name));
    }
    return found->second;
}

} // namespace

void Loader::loadEvent(const json& value, const Path& path) {
    expectObject(value, path, {"when", "delay", "do"});
    const std::size_t eventIndex = state_.events.size();
    state_.events.emplace_back();
    loadTrigger(required(value, path, "when"), Path(path, "when"), eventIndex);
    readMember(value, path, "delay", state_.events[eventIndex].delayMicros, microsOf);
    forEachItem(
        required(value, path, "do"), Path(path, "do"),
        [&](const json& action, const Path& actionPath) { loadAction(action, actionPath, eventIndex); });
}

void Loader::loadTrigger(const json& value, const Path& path, std::size_t eventIndex) {
    expectObject(value, path);
    Trigger trigger;
    if (value.contains("call")) {
        expectObject(value, path, {"call", "count", "every"});
        if (value.contains("count") && value.contains("every")) {
            fail(path, "a call trigger has \"count\" or \"every\", not both");
        }
        trigger.kind = Trigger::Kind::call;
        trigger.call = stringOf(value["call"], Path(path, "call"));
        if (std::find(std::begin(call::all), std::end(call::all), trigger.call) == std::end(call::all)) {
            fail(Path(path, "call"), "unknown platform call " + jsonQuoted(trigger.call));
        }
        readMember(value, path, "count", trigger.count, integerIn(1));
        readMember(value, path, "every", trigger.every, integerIn(1));
        trigger.count = trigger.every.value_or(trigger.count);
    } else if (value.contains("set")) {
        expectObject(value, path, {"set"});
        trigger.kind = Trigger::Kind::set;
        const Path setPath(path, "set");
        const json& set = value["set"];
        expectObject(set, setPath, {"element", "attribute", "value"});
        const Path elementPath(setPath, "element");
        std::string id = stringOf(required(set, setPath, "element"), elementPath);
        trigger.attribute = stringOf(required(set, setPath, "attribute"), Path(setPath, "attribute"));
        readMember(set, setPath, "value", trigger.value, [](const json& wanted, const Path& wantedPath) {
            return expectKind(wanted, wantedPath, wanted.is_string() || wanted.is_boolean(),
                              "a string or boolean");
        });
        deferred_.push_back([this, eventIndex, id = std::move(id), where = elementPath.render()] {
            state_.events[eventIndex].when.element = lookup(id, where);
        });
    } else if (value.contains("time")) {
        expectObject(value, path, {"time"});
        trigger.kind = Trigger::Kind::time;
        trigger.timeMicros = microsOf(value["time"], Path(path, "time"));
    } else if (value.empty()) {
        fail(path, "expected a trigger: \"call\", \"set\" or \"time\"");
    } else {
        fail(path, "unknown trigger " + jsonQuoted(value.begin().key()));
    }
    state_.events[eventIndex].when = std::move(trigger);
}

void Loader::loadAction(const json& value, const Path& path, std::size_t eventIndex) {
    expectObject(value, path);
    if (value.size() != 1) {
        fail(path, "an action has exactly one key");
    }
    const std::string& name = value.begin().key();
    const json& argument = value.begin().value();
    const Path argumentPath(path, name);
    const std::size_t actionIndex = state_.events[eventIndex].actions.size();
    Action action;
    auto elementLater = [&](const json& id, const Path& idPath) {
        deferred_.push_back(
            [this, eventIndex, actionIndex, id = stringOf(id, idPath), where = idPath.render()] {
                state_.events[eventIndex].actions[actionIndex].element = lookup(id, where);
            });
    };
    if (name == "setAttribute" || name == "removeAttribute") {
        const bool set = name == "setAttribute";
        action.kind = set ? Action::Kind::setAttribute : Action::Kind::removeAttribute;
        if (set) {
            expectObject(argument, argumentPath, {"element", "attribute", "value"});
        } else {
            expectObject(argument, argumentPath, {"element", "attribute"});
        }
        elementLater(required(argument, argumentPath, "element"), Path(argumentPath, "element"));
        action.attribute =
            stringOf(required(argument, argumentPath, "attribute"), Path(argumentPath, "attribute"));
        if (set) {
            action.value =
                loadTyped(required(argument, argumentPath, "value"), Path(argumentPath, "value"), true);
        }
    } else if (name == "addChild") {
        action.kind = Action::Kind::addChild;
        expectObject(argument, argumentPath, {"parent", "element", "index"});
        const Path parentPath(argumentPath, "parent");
        const std::string parentId = stringOf(required(argument, argumentPath, "parent"), parentPath);
        readMember(argument, argumentPath, "index", action.index,
                   integerIn(0, std::numeric_limits<std::int32_t>::max()));
        const std::string pathName =
            parentId + "/children/" + (action.index ? std::to_string(*action.index) : std::string("last"));
        action.element = loadElement(required(argument, argumentPath, "element"),
                                     Path(argumentPath, "element"), pathName, 0, std::nullopt, "", false);
        deferred_.push_back([this, eventIndex, actionIndex, parentId, where = parentPath.render()] {
            Action& added = state_.events[eventIndex].actions[actionIndex];
            added.parent = lookup(parentId, where);
            const std::size_t application = state_.nodes[added.parent].application;
            state_.nodes.writeTree(added.element,
                                   [application](Node& node) { node.application = application; });
            state_.nodes.write(added.parent).owned.push_back(added.element);
        });
    } else if (name == "remove") {
        action.kind = Action::Kind::remove;
        elementLater(argument, argumentPath);
    } else if (name == "terminate" || name == "quit") {
        action.kind = name == "quit" ? Action::Kind::quit : Action::Kind::terminate;
        action.pid = int32Of(argument, argumentPath);
        pidChecks_.emplace_back(action.pid, argumentPath.render());
    } else if (name == "launch") {
        action.kind = Action::Kind::launch;
        action.application = loadApplication(argument, argumentPath, false);
    } else if (name == "pasteboardCopy") {
        action.kind = Action::Kind::pasteboardCopy;
        action.text = stringOf(argument, argumentPath);
    } else if (name == "signal") {
        action.kind = Action::Kind::signal;
        action.signal = signalOf(argument, argumentPath);
    } else if (name == "windowServer") {
        action.kind = Action::Kind::windowServer;
        loadWindowServer(argument, argumentPath, action.allWindows, action.onScreenWindows);
    } else if (name == "setWindowNumber") {
        action.kind = Action::Kind::setWindowNumber;
        expectObject(argument, argumentPath, {"element", "windowNumber"});
        elementLater(required(argument, argumentPath, "element"), Path(argumentPath, "element"));
        // null: from now on the element has no number (the call fails).
        const json& number = required(argument, argumentPath, "windowNumber");
        if (!number.is_null()) {
            action.windowNumber = static_cast<std::uint32_t>(integerOf(
                number, Path(argumentPath, "windowNumber"), 0, std::numeric_limits<std::uint32_t>::max()));
        }
    } else {
        fail(path, "unknown action " + jsonQuoted(name));
    }
    state_.events[eventIndex].actions.push_back(std::move(action));
}

} // namespace cpi::simulated::loading
