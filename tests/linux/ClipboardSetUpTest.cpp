// The clipboard's set-up against a private X server (Xvfb), with and without XFixes: without it
// no call may own the selection, since this process would not learn when another program takes
// it over. Skipped where Xvfb is not installed.
#include "platform/linux/XDisplay.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace cpi::x11 {
namespace {

// An Xvfb on a display it picks itself, ended with the test.
class PrivateServer {
public:
    explicit PrivateServer(bool xfixes) {
        int fds[2];
        if (::access("/usr/bin/Xvfb", X_OK) != 0 || ::pipe(fds) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            if (xfixes) {
                ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", nullptr);
            } else {
                ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-extension",
                        "XFIXES", nullptr);
            }
            ::_exit(127);
        }
        ::close(fds[1]);
        std::string number;
        pollfd waiting{fds[0], POLLIN, 0};
        char byte = 0;
        while (::poll(&waiting, 1, 10000) > 0 && ::read(fds[0], &byte, 1) == 1 && byte != '\n') {
            number += byte;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            display_ = ":" + number;
        }
    }
    ~PrivateServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;

    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

std::vector<std::pair<std::string, SecureBytes>> someText() {
    std::vector<std::pair<std::string, SecureBytes>> targets;
    targets.emplace_back("UTF8_STRING", SecureBytes{'a', 'b', 'c'});
    return targets;
}

TEST(ClipboardSetUp, OwnsTheSelectionOnlyWhereOtherOwnersCanBeSeen) {
    struct Case {
        bool xfixes;
        bool owned;
    };
    for (const Case& each : {Case{true, true}, Case{false, false}}) {
        SCOPED_TRACE(each.xfixes ? "with XFixes" : "without XFixes");
        const PrivateServer server(each.xfixes);
        if (server.display().empty()) {
            GTEST_SKIP() << "no Xvfb";
        }
        ::setenv("DISPLAY", server.display().c_str(), 1);
        const auto display = Display::connect();
        ASSERT_NE(display, nullptr);
        // The second call is the one a half-done set-up let through.
        for (int call = 0; call < 2; ++call) {
            EXPECT_EQ(display->ownClipboard(someText()), each.owned) << "call " << call;
            EXPECT_EQ(display->ownsClipboard(), each.owned) << "call " << call;
        }
        display->releaseClipboard();
    }
}

} // namespace
} // namespace cpi::x11
