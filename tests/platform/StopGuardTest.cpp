// The kqueue signal source and the stop guard's announce/commit protocol, run against a fake
// kernel that behaves as XNU does: a process-directed signal posts its kqueue events before any
// mask or ignore check, a signal that every thread blocks parks on the first thread's own pending
// set, `sigpending` shows a thread only its own set, and a thread-directed signal (raise) posts
// no event. Setting a signal to ignore drops it from every pending set.
//
// In the protocol tests, threads that end "the process" or park block for good, as they would in
// the tool; every object they use is deliberately never freed (it stays reachable from them).
#include "platform/StopGuard.h"

#include "platform/StopSignals.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace cpi {
namespace {

using namespace std::chrono_literals;

[[noreturn]] void blockForGood() {
    for (;;) {
        std::this_thread::sleep_for(1h);
    }
}

class FakeXnu final : public process::KqueueKernel {
public:
    // kill(getpid(), signal).
    void kill(int signal) {
        const std::lock_guard lock(mutex_);
        for (auto& [queue, events] : queues_) {
            // EVFILT_SIGNAL coalesces: one event per signal until it is taken.
            if (std::find(events.begin(), events.end(), signal) == events.end()) {
                events.push_back(signal);
            }
        }
        if (!ignored_ && blocked_) {
            pending_[mainThread_].insert(signal);
        }
        changed_.notify_all();
    }
    // raise(signal) on the calling thread.
    void raise(int signal) {
        const std::lock_guard lock(mutex_);
        if (!ignored_) {
            pending_[std::this_thread::get_id()].insert(signal);
        }
        changed_.notify_all();
    }
    bool anythingPending() {
        const std::lock_guard lock(mutex_);
        for (const auto& [thread, signals] : pending_) {
            if (!signals.empty()) {
                return true;
            }
        }
        return false;
    }

    std::function<void()> onBlock; // runs right after the signals are blocked
    int failQueueNumber = 0;       // the nth queue to be made fails (1-based; 0: none)
    int queuesClosed = 0;

    void blockStopSignals() override {
        {
            const std::lock_guard lock(mutex_);
            blocked_ = true;
            mainThread_ = std::this_thread::get_id();
        }
        if (onBlock) {
            onBlock();
        }
    }
    int watchQueue() override {
        const std::lock_guard lock(mutex_);
        if (++queuesMade_ == failQueueNumber) {
            return -1;
        }
        queues_[queuesMade_];
        return queuesMade_;
    }
    void closeQueue(int queue) override {
        const std::lock_guard lock(mutex_);
        queues_.erase(queue);
        ++queuesClosed;
    }
    int nextEvent(int queue, bool wait) override {
        std::unique_lock lock(mutex_);
        auto& events = queues_.at(queue);
        if (wait) {
            changed_.wait(lock, [&events] { return !events.empty(); });
        }
        if (events.empty()) {
            return 0;
        }
        const int signal = events.front();
        events.pop_front();
        return signal;
    }
    int ownPending() override {
        const std::lock_guard lock(mutex_);
        return firstOf(pending_[std::this_thread::get_id()]);
    }
    void ignoreStopSignals() override {
        const std::lock_guard lock(mutex_);
        ignored_ = true;
        for (auto& [thread, signals] : pending_) {
            signals.clear();
        }
    }
    int takePending() override {
        std::unique_lock lock(mutex_);
        for (;;) {
            for (auto& [thread, signals] : pending_) {
                if (const int signal = firstOf(signals); signal != 0) {
                    signals.erase(signal);
                    return signal;
                }
            }
            changed_.wait(lock);
        }
    }
    void pauseAfterError() override {}

private:
    static int firstOf(const std::set<int>& signals) {
        for (const int signal : process::stopSignalNumbers) {
            if (signals.count(signal) != 0) {
                return signal;
            }
        }
        return 0;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, std::deque<int>> queues_;
    std::map<std::thread::id, std::set<int>> pending_;
    std::thread::id mainThread_;
    bool blocked_ = false;
    bool ignored_ = false;
    int queuesMade_ = 0;
};

// What happened, in order, with the thread it happened on.
class Journal {
public:
    void add(const std::string& entry) {
        const std::lock_guard lock(mutex_);
        entries_.push_back(entry);
        changed_.notify_all();
    }
    // The entries once `count` have been added (or after five seconds).
    std::vector<std::string> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 5s, [&] { return entries_.size() >= count; });
        return entries_;
    }
    std::vector<std::string> now() {
        const std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

// ---------------------------------------------------------------------------------------------
// The kqueue source

TEST(KqueueSignalSource, ArrivalBeforeTheFiltersIsTakenOnceFromTheMainThreadsOwnSet) {
    FakeXnu kernel;
    kernel.onBlock = [&kernel] { kernel.kill(SIGINT); }; // no filter yet: only a pending bit
    process::KqueueSignalSource source(kernel);
    source.arm();
    EXPECT_FALSE(source.fellBack());
    EXPECT_FALSE(kernel.anythingPending()); // dropped by the change to ignore, but noted first
    EXPECT_EQ(source.arrived(), SIGINT);
    int handed = 0;
    std::thread([&] { handed = source.awaitArrival(); }).join();
    EXPECT_EQ(handed, SIGINT);
    EXPECT_EQ(source.arrived(), SIGINT); // still begun
}

TEST(KqueueSignalSource, ProcessDirectedSignalIsSeenByTheLookAndTheWaitingThreadAndLeavesNoPendingBit) {
    for (const int signal : process::stopSignalNumbers) {
        SCOPED_TRACE(signal);
        FakeXnu kernel;
        process::KqueueSignalSource source(kernel);
        source.arm();
        EXPECT_EQ(source.arrived(), 0);
        kernel.kill(signal);
        EXPECT_FALSE(kernel.anythingPending());
        EXPECT_EQ(source.arrived(), signal); // from any thread, at once
        int waited = 0;
        std::thread([&] { waited = source.awaitArrival(); }).join();
        EXPECT_EQ(waited, signal);
        kernel.kill(signal == SIGTERM ? SIGHUP : SIGTERM);
        EXPECT_EQ(source.arrived(), signal); // the first arrival stays the begun stop
    }
}

TEST(KqueueSignalSource, ThreadDirectedSignalPostsNoEventAndIsDropped) {
    FakeXnu kernel;
    process::KqueueSignalSource source(kernel);
    source.arm();
    std::thread([&kernel] { kernel.raise(SIGTERM); }).join();
    EXPECT_EQ(source.arrived(), 0);
    EXPECT_FALSE(kernel.anythingPending());
}

TEST(KqueueSignalSource, QueueThatCannotBeMadeFallsBackToTheMainThreadsPendingSet) {
    for (const int failing : {1, 2}) {
        SCOPED_TRACE(failing);
        FakeXnu kernel;
        kernel.failQueueNumber = failing;
        process::KqueueSignalSource source(kernel);
        source.arm();
        EXPECT_TRUE(source.fellBack());
        EXPECT_EQ(kernel.queuesClosed, failing - 1); // a first queue made is not left open
        kernel.kill(SIGTERM);                        // not ignored: it parks on the main thread
        EXPECT_EQ(source.arrived(), SIGTERM);
        int other = -1;
        std::thread([&] { other = source.arrived(); }).join();
        EXPECT_EQ(other, 0); // another thread's look cannot see it: sigpending is per thread
        int taken = 0;
        std::thread([&] { taken = source.awaitArrival(); }).join();
        EXPECT_EQ(taken, SIGTERM);
    }
}

// ---------------------------------------------------------------------------------------------
// The commit protocol: a stop guard over the announcing thread, on the fake kernel.

struct World {
    FakeXnu kernel;
    process::KqueueSignalSource source{kernel};
    process::StopSignals signals{source};
    Journal journal;
    StopGuard guard{StopGuard::Hooks{[this] { return signals.requested(); },
                                     [this] {
                                         journal.add("parked");
                                         blockForGood();
                                     }}};

    // Runs `body` as the tool's main thread: arms the signals (starting the stop-signal thread
    // unless `withStopThread` is false), then sets up the guard.
    void runMain(std::function<void()> body, bool withStopThread = true) {
        std::thread([this, body = std::move(body), withStopThread] {
            mainThread = std::this_thread::get_id();
            if (withStopThread) {
                signals.start([this](int signal) {
                    journal.add("stop thread took " + std::to_string(signal));
                    guard.stop();
                });
            } else {
                source.arm();
            }
            guard.startOver(
                nullptr, [this] { journal.add("restore"); },
                [this](int status) {
                    journal.add(
                        (mainThread == std::this_thread::get_id() ? "main ended " : "stop thread ended ") +
                        std::to_string(status));
                    blockForGood();
                });
            guard.holdSecrets([this] { journal.add("wiped"); });
            body();
            journal.add("main done");
        }).detach();
    }
    std::atomic<std::thread::id> mainThread;
};

using Entries = std::vector<std::string>;

// After a commit the main thread parks while the stop thread restores: those two run at once.
void expectParkedAndStoppedAfter(const Entries& entries, const Entries& before) {
    ASSERT_EQ(entries.size(), before.size() + 4);
    EXPECT_EQ(Entries(entries.begin(), entries.begin() + static_cast<long>(before.size())), before);
    Entries rest(entries.begin() + static_cast<long>(before.size()), entries.end());
    const auto parked = std::find(rest.begin(), rest.end(), "parked");
    ASSERT_NE(parked, rest.end());
    rest.erase(parked);
    EXPECT_EQ(rest, (Entries{"restore", "wiped", "stop thread ended 1"}));
}

TEST(StopGuardProtocol, StopWhileIdleRestoresWipesAndEndsOnTheStopThread) {
    auto* world = new World;
    world->runMain([world] {
        world->journal.add("idle");
        blockForGood();
    });
    world->journal.waitFor(1);
    world->kernel.kill(SIGTERM);
    EXPECT_EQ(world->journal.waitFor(5),
              (Entries{"idle", "stop thread took 15", "restore", "wiped", "stop thread ended 1"}));
}

TEST(StopGuardProtocol, StopDuringACommitWaitsForItThenParksTheMainThread) {
    auto* world = new World;
    world->runMain([world] {
        const StopGuard::Commit commit(world->guard);
        world->kernel.kill(SIGHUP);
        // The stop thread has announced and now waits for the lock this commit holds.
        world->journal.waitFor(1);
        world->journal.add("written");
    });
    expectParkedAndStoppedAfter(world->journal.waitFor(6), {"stop thread took 1", "written"});
}

TEST(StopGuardProtocol, ArrivalNotYetAnnouncedIsHonouredByTheNextCommitOnTheMainThread) {
    auto* world = new World;
    world->runMain(
        [world] {
            world->kernel.kill(SIGINT); // no stop thread has run: only the look can see it
            const StopGuard::Commit commit(world->guard);
            world->journal.add("written");
        },
        false);
    EXPECT_EQ(world->journal.waitFor(3), (Entries{"restore", "wiped", "main ended 1"}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(world->journal.now().size(), 3u); // nothing written after the stop
}

TEST(StopGuardProtocol, ArrivalBeforeTheGuardStartedStopsAtTheFirstCommit) {
    auto* world = new World;
    world->kernel.onBlock = [world] { world->kernel.kill(SIGTERM); };
    world->runMain(
        [world] {
            const StopGuard::Commit commit(world->guard);
            world->journal.add("written");
        },
        false);
    // The first commit is the one that hands over the secret's wipe: it never completes.
    world->journal.waitFor(2);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(world->journal.now(), (Entries{"restore", "main ended 1"}));
}

TEST(StopGuardProtocol, StopAfterTheFinalLineWaitsAndTheMainThreadEndsAsItMeant) {
    auto* world = new World;
    world->runMain([world] {
        world->guard.holdForEnd();
        world->kernel.kill(SIGTERM);
        world->journal.waitFor(1);
        world->guard.close(true);
        world->journal.add("exit 0");
    });
    EXPECT_EQ(world->journal.waitFor(4), (Entries{"stop thread took 15", "wiped", "exit 0", "main done"}));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(world->journal.now().size(), 4u); // the stop thread never got the lock
}

TEST(StopGuardProtocol, TwoSignalsEndTheProcessOnce) {
    auto* world = new World;
    world->runMain([world] {
        const StopGuard::Commit commit(world->guard);
        world->kernel.kill(SIGTERM);
        world->kernel.kill(SIGINT);
        world->journal.waitFor(1);
        world->journal.add("written");
    });
    world->journal.waitFor(6);
    std::this_thread::sleep_for(50ms);
    // The stop thread is inside the first stop for good: the second is never handled.
    expectParkedAndStoppedAfter(world->journal.now(), {"stop thread took 15", "written"});
}

} // namespace
} // namespace cpi
