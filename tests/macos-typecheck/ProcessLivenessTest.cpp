// The macOS backend's check that Chrome's process has gone, with the kernel's answers faked and,
// once, with the real kill(2) of this machine.
#include "platform/macos/ProcessLiveness.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cpi::liveness {
namespace {

constexpr ProcessStart chromeStart{1765000000, 250000};

struct Case {
    const char* name;
    std::int32_t pid;
    int killErrno;
    std::optional<ProcessStart> remembered;
    std::optional<ProcessStart> startNow;
    bool gone;
    bool killAsked;
};

const Case cases[] = {
    {"running, same start", 501, 0, chromeStart, chromeStart, false, true},
    {"no such process", 501, ESRCH, chromeStart, std::nullopt, true, true},
    {"pid reused by a later process", 501, 0, chromeStart, ProcessStart{1765000100, 250000}, true, true},
    {"pid reused within the same second", 501, 0, chromeStart, ProcessStart{1765000000, 250001}, true, true},
    {"not ours to signal, same start: still there", 501, EPERM, chromeStart, chromeStart, false, true},
    {"start unreadable now: kill decides", 501, 0, chromeStart, std::nullopt, false, true},
    {"start never remembered: kill decides", 501, 0, std::nullopt, ProcessStart{1, 1}, false, true},
    {"pid 0 would address our process group", 0, 0, chromeStart, chromeStart, true, false},
    {"pid -1 would address every process", -1, 0, chromeStart, chromeStart, true, false},
};

TEST(ProcessLiveness, DecidesFromKillAndStartTime) {
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::int32_t> killed;
        const Probes probes{[&](std::int32_t pid) {
                                killed.push_back(pid);
                                return row.killErrno;
                            },
                            [&](std::int32_t) { return row.startNow; }};
        EXPECT_EQ(processGone(row.pid, row.remembered, probes), row.gone);
        EXPECT_EQ(!killed.empty(), row.killAsked);
    }
}

TEST(ProcessLiveness, ARealProcessThatEndedIsGone) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const Probes probes{[](std::int32_t pid) { return ::kill(pid, 0) == 0 ? 0 : errno; },
                        [](std::int32_t) { return std::optional<ProcessStart>(); }};
    EXPECT_FALSE(processGone(getpid(), std::nullopt, probes));
    EXPECT_TRUE(processGone(child, std::nullopt, probes));
}

} // namespace
} // namespace cpi::liveness
