#include "HarnessRun.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace cpi::cases {
namespace {

std::string readFile(const std::filesystem::path& file) {
    std::ifstream input(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
}

void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream output(file, std::ios::binary | std::ios::trunc);
    output.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!output) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

void check(int result, const char* what) {
    if (result != 0) {
        throw std::runtime_error(std::string(what) + ": " + std::strerror(result));
    }
}

} // namespace

std::filesystem::path makeWorkFolder() {
    std::filesystem::path base = std::filesystem::temp_directory_path() / "cpi-case-XXXXXX";
    std::string pattern = base.string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    return pattern;
}

HarnessRun runHarness(const std::filesystem::path& harness, const std::filesystem::path& scenario,
                      const std::vector<std::string>& arguments, const std::string& standardInput,
                      const std::filesystem::path& workFolder, std::chrono::milliseconds timeout,
                      bool standardOutputClosed) {
    const auto journalFile = workFolder / "journal.jsonl";
    std::vector<std::string> commandLine = {harness.string(), "--scenario",         scenario.string(),
                                            "--journal",      journalFile.string(), "--"};
    commandLine.insert(commandLine.end(), arguments.begin(), arguments.end());
    HarnessRun run =
        runProcess(std::move(commandLine), standardInput, workFolder, timeout, standardOutputClosed);
    run.journal = readFile(journalFile);
    return run;
}

HarnessRun runProcess(std::vector<std::string> commandLine, const std::string& standardInput,
                      const std::filesystem::path& workFolder, std::chrono::milliseconds timeout,
                      bool standardOutputClosed) {
    const auto inputFile = workFolder / "stdin.bin";
    const auto outputFile = workFolder / "stdout.bin";
    const auto errorFile = workFolder / "stderr.txt";
    writeFile(inputFile, standardInput);

    HarnessRun run;
    run.commandLine = std::move(commandLine);
    std::vector<char*> argv;
    for (std::string& word : run.commandLine) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    check(posix_spawn_file_actions_addopen(&actions, 0, inputFile.c_str(), O_RDONLY, 0), "addopen stdin");
    int outputPipe[2] = {-1, -1};
    if (standardOutputClosed) {
        if (::pipe(outputPipe) != 0) {
            throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
        }
        // The reading end is closed before the child exists, so that no write of the child can
        // find a reader, however early it comes.
        ::close(outputPipe[0]);
        ::fcntl(outputPipe[1], F_SETFD, FD_CLOEXEC);
        check(posix_spawn_file_actions_adddup2(&actions, outputPipe[1], 1), "adddup2 stdout");
    } else {
        check(posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                               0600),
              "addopen stdout");
    }
    check(
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
        "addopen stderr");
    posix_spawnattr_t attributes;
    check(posix_spawnattr_init(&attributes), "posix_spawnattr_init");
    sigset_t none;
    sigemptyset(&none);
    sigset_t every;
    sigfillset(&every);
    sigdelset(&every, SIGKILL);
    sigdelset(&every, SIGSTOP);
    check(posix_spawnattr_setsigmask(&attributes, &none), "setsigmask");
    check(posix_spawnattr_setsigdefault(&attributes, &every), "setsigdefault");
    check(posix_spawnattr_setpgroup(&attributes, 0), "setpgroup");
    check(posix_spawnattr_setflags(&attributes,
                                   POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP),
          "setflags");
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, run.commandLine[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (standardOutputClosed) {
        ::close(outputPipe[1]);
    }
    check(spawned, ("posix_spawn " + run.commandLine[0]).c_str());

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int waitStatus = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &waitStatus, WNOHANG);
        if (done == child) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            throw std::runtime_error("waitpid: " + std::string(std::strerror(errno)));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            run.timedOut = true;
            ::kill(-child, SIGKILL);
            while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(waitStatus)) {
        run.status = WEXITSTATUS(waitStatus);
    } else if (WIFSIGNALED(waitStatus)) {
        run.signal = WTERMSIG(waitStatus);
    }
    run.standardOutput = readFile(outputFile);
    run.standardError = readFile(errorFile);
    return run;
}

} // namespace cpi::cases
