// The delivery mode as a process, with standard input held open: a stop signal while the tool waits
// for the secret frame.
#include "InspectionTestSupport.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#ifndef CPI_HARNESS
#error "CPI_HARNESS must name the chrome-private-input-sim executable"
#endif

namespace cpi::test {
namespace {

// A Chrome whose Work window shows its page only once the page switch is on.
json pagelessChrome() {
    json chrome = chromeApplication({window("w1", 11, "Work", nullptr)});
    return {{"applications", {chrome}},
            {"events",
             {{{"when",
                {{"set", {{"element", "chrome"}, {"attribute", "AXManualAccessibility"}, {"value", true}}}}},
               {"delay", 0.1},
               {"do",
                {{{"addChild",
                   {{"parent", "w1"}, {"element", signInPage("late", "https://example.com/login")}}}}}}}}}};
}

std::string frame(const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    return bytes + payload;
}

const std::string requestFrame =
    frame(R"({"profileName":"Work","allowedOrigins":["https://example.com"],"windowNumber":11})");

// The harness running a delivery, its standard input and output connected to this test.
class Delivery {
public:
    explicit Delivery(const json& scenario) {
        folder_ = std::filesystem::temp_directory_path() /
                  ("cpi-delivery-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / "scenario.json") << scenario.dump();
        int input[2];
        int output[2];
        EXPECT_EQ(::pipe(input), 0);
        EXPECT_EQ(::pipe(output), 0);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(input[0], 0);
            ::dup2(output[1], 1);
            ::close(input[0]);
            ::close(input[1]);
            ::close(output[0]);
            ::close(output[1]);
            // Default dispositions and no blocked signal, as an agent would start the tool.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (const int stop : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
                ::signal(stop, SIG_DFL);
            }
            const std::string scenarioPath = (folder_ / "scenario.json").string();
            const std::string journalPath = (folder_ / "journal.jsonl").string();
            ::execl(CPI_HARNESS, CPI_HARNESS, "--scenario", scenarioPath.c_str(), "--journal",
                    journalPath.c_str(), "--", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(input[0]);
        ::close(output[1]);
        input_ = input[1];
        output_ = output[0];
    }

    ~Delivery() {
        if (input_ >= 0) {
            ::close(input_);
        }
        if (output_ >= 0) {
            ::close(output_);
        }
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove_all(folder_);
    }

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(input_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // The next line of standard output, "" at its end.
    std::string readLine() const {
        std::string line;
        char byte = 0;
        while (::read(output_, &byte, 1) == 1) {
            line.push_back(byte);
            if (byte == '\n') {
                break;
            }
        }
        return line;
    }

    void signal(int number) const { ::kill(pid_, number); }

    // The exit status (-1 after death by a signal).
    int wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<json> journal() const {
        std::vector<json> lines;
        std::ifstream file(folder_ / "journal.jsonl");
        std::string line;
        while (std::getline(file, line)) {
            lines.push_back(json::parse(line));
        }
        return lines;
    }

private:
    static inline int counter_ = 0;
    std::filesystem::path folder_;
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool waited_ = false;
};

// The "set" lines of a journal as (element, attribute, value).
std::vector<std::string> setsOf(const std::vector<json>& journal) {
    std::vector<std::string> sets;
    for (const json& line : journal) {
        if (line.value("op", "") == "set") {
            sets.push_back(line["element"].get<std::string>() + " " + line["attribute"].get<std::string>() +
                           "=" + line["value"].dump());
        }
    }
    return sets;
}

class StopSignalWhileWaitingForTheSecret : public testing::TestWithParam<int> {};

TEST_P(StopSignalWhileWaitingForTheSecret, RestoresTheSwitchAndEndsWithStatusOneAndNoFurtherLine) {
    Delivery delivery(pagelessChrome());
    delivery.send(requestFrame);
    ASSERT_EQ(delivery.readLine(), "{\"ok\":true}\n"); // settled with the switch on; now it reads

    delivery.signal(GetParam());

    EXPECT_EQ(delivery.wait(), 1);
    EXPECT_EQ(delivery.readLine(), "");
    const std::vector<json> journal = delivery.journal();
    EXPECT_EQ(setsOf(journal), (std::vector<std::string>{"chrome AXManualAccessibility=true",
                                                         "chrome AXManualAccessibility=false"}));
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.back().value("op", ""), "exit");
    EXPECT_EQ(journal.back().value("status", -1), 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalWhileWaitingForTheSecret,
                         testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const testing::TestParamInfo<int>& signal) {
                             return signal.param == SIGTERM  ? "SIGTERM"
                                    : signal.param == SIGINT ? "SIGINT"
                                                             : "SIGHUP";
                         });

} // namespace
} // namespace cpi::test
