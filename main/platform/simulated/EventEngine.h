// The event engine of the simulated platform: the run's clock, the call counters and the
// scenario's events.
//
// An event has a trigger, a delay and actions. A call trigger goes off at the n-th call of one
// platform operation (counted under the names in `call`), or with "every" at each multiple of n
// once the previous going-off has run its actions. A set trigger goes off at the first successful
// write of an attribute of one element (of one value, when it names one). A time trigger has gone
// off when the run starts. An event that has gone off is due its delay later (a time trigger's
// event at its time plus its delay); a due event runs its actions once, earliest first. Actions
// change the element tree, the applications, the window server or the pasteboard, or send a signal
// to the process.
//
// Triggers are checked as they happen: every platform call enters through `enter`, which counts it
// (call triggers go off) and, for a call that crosses to the application, advances the clock by the
// scenario's round-trip time; then every due event runs before the call is answered. A write that
// succeeds checks the set triggers after its journal line and runs what is then due before it
// returns. The clock is virtual, moved only by round trips and sleeps, unless the scenario asks for
// real time, which is then added. A sleep is counted and journalled before anything it sets off,
// then moves the clock in steps to each due event up to its end, so that timed events run at their
// time. The engine writes no journal lines of its own: the journal shows the calls that see what
// the actions did, and its exit line the counters and the clock.
//
// Everything here runs with the state's mutex held (`lock`); only a "signal" action and a sleep in
// real time release it meanwhile.
#pragma once

#include "platform/simulated/SimulatedState.h"

#include <cstdint>
#include <mutex>
#include <string_view>

namespace cpi::simulated {

using State = SimulatedPlatform::State;
using Lock = std::unique_lock<std::mutex>;

// Microseconds since the start of the run.
std::int64_t nowMicros(const State& state);

// Counts the call `name` (call triggers go off); a round trip advances the clock.
void count(State& state, std::string_view name, bool roundTrip);

// Every platform call starts here: the state is locked, the call counted and due events run.
Lock enter(State& state, std::string_view name, bool roundTrip);

// After `value` was written to `attribute` of `node`: the set triggers it meets go off and due
// events run.
void afterWrite(State& state, Lock& lock, NodeIndex node, std::string_view attribute, const Value& value);

// Runs due events and moves the clock `seconds` forward (none for a value that is not positive).
void sleep(State& state, Lock& lock, double seconds);

} // namespace cpi::simulated
