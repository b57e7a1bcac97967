// The stop guard: the one lock that orders the main thread's commits against a stop signal, the
// look for a begun stop, the wiping of the secret's copies, and the end of the process.
//
// The stop path is exclusive and terminal. The stop-signal thread takes the lock and never gives
// it back: it runs what the protected state registered (the page switch's restore), wipes the
// secret's copies that the main thread holds, and ends the process with status 1 at once, without
// exit handlers. The main thread takes the same lock for every step that commits something.
// Inside the lock it looks for a stop that has begun (a stop signal announced, or one that has
// arrived and not been announced yet) and, when there is one, takes the stop path itself; after a
// commit it parks for good when a stop began meanwhile. So once a stop signal has reached the
// process nothing more is committed but the restore, and exactly one thread ends the process.
//
// The lock is never held across an inspection or a sleep, and no path takes it twice.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace cpi {

// The status a stop ends the process with.
inline constexpr int stopExitStatus = 1;

class StopGuard {
public:
    // Where the guard learns of a begun stop, and how a thread stops for good; the process's own
    // by default, replaced in tests.
    struct Hooks {
        std::function<int()> stopBegun; // the begun stop's signal, 0 when none
        std::function<void()> park;     // must not return
    };
    StopGuard();
    explicit StopGuard(Hooks hooks);
    StopGuard(const StopGuard&) = delete;
    StopGuard& operator=(const StopGuard&) = delete;

    // One commit of the main thread: holds the lock for its lifetime. Taking it when a stop has
    // begun takes the stop path instead; releasing it when a stop began meanwhile parks the thread.
    class [[nodiscard]] Commit {
    public:
        explicit Commit(StopGuard& guard);
        ~Commit();
        Commit(const Commit&) = delete;
        Commit& operator=(const Commit&) = delete;

    private:
        StopGuard& guard_;
    };

    // Back to the start for a new run (a hold for the end of an earlier run on this thread is let
    // go), running `reset` under the lock: `restoreForStop` runs under the lock on the stop path
    // before the secrets are wiped, and `terminate` ends the process at once with a status (it must
    // not return).
    void startOver(const std::function<void()>& reset, std::function<void()> restoreForStop,
                   std::function<void(int status)> terminate);

    // How to wipe the copies of a secret that the main thread holds; replaces what was held. A commit.
    void holdSecrets(std::function<void()> wipe);

    // The stop-signal handler's path, from the thread that took the signal.
    [[noreturn]] void stop();

    // With the lock held: takes the stop path when a stop has begun.
    void stopIfBegun();

    // Takes the lock for good on the main thread, for the end of the process, and honours a begun
    // stop. Whatever is read or written afterwards on this thread needs no lock.
    void holdForEnd();
    bool heldForEnd() const { return heldForEnd_; }

    // With the lock held: nothing more may be restored (the last line is on its way, or the process
    // is ending), and with `wipe`, the held secrets are wiped.
    void close(bool wipe);
    // Whether the guard is closed; without the lock (the exit handler's look).
    bool closed() const { return closed_.load(); }

    // Runs `action` under the lock unless the guard is closed; from any thread, once the lock is
    // free (the exit handler's restore).
    template <typename Action>
    void unlessClosed(Action action) {
        if (closed_.load()) {
            return; // a closed guard's lock is never given back
        }
        const std::lock_guard lock(lock_);
        if (!closed_.load()) {
            action();
        }
    }

    // Reads under the lock, or without it on the thread that holds it for the end.
    template <typename Read>
    auto observe(Read read) const {
        if (heldForEnd_) {
            return read();
        }
        const std::lock_guard lock(lock_);
        return read();
    }

    // Whether the lock is free at this moment. Call only from a thread that does not hold it.
    bool lockIsFree() const;

private:
    [[noreturn]] void stopLocked();

    Hooks hooks_;
    mutable std::mutex lock_;
    std::function<void()> restoreForStop_;
    std::function<void(int)> terminate_;
    std::function<void()> heldSecrets_;
    // Set under the lock by whoever ends the process; read without it by the exit handler.
    std::atomic<bool> closed_{false};
    // The main thread holds the lock until the process ends; main thread only.
    bool heldForEnd_ = false;
};

// The process's guard, never freed: the exit handler and the stop-signal thread may use it until
// the process is gone.
StopGuard& processStopGuard();

} // namespace cpi
