// Runs chrome-private-input-sim as a child process for one case.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cpi::cases {

struct HarnessRun {
    std::vector<std::string> commandLine;
    bool timedOut = false;
    std::optional<int> status; // exit status of a normal end
    std::optional<int> signal; // signal that ended the process
    std::string standardOutput;
    std::string standardError;
    std::string journal; // the journal file's bytes ("" when none was written)
};

// Starts `harness --scenario SCENARIO --journal JOURNAL -- ARGUMENTS...` in its own process group
// with default signal dispositions and no blocked signal, standard input read from a file holding
// `standardInput` (so that large inputs cannot block), standard output and error captured, and
// kills the group when it has not ended after `timeout`. Temporary files live in `workFolder`.
// With `standardOutputClosed`, standard output is instead a pipe whose reading end is closed before
// the harness runs, so that every write to it fails (EPIPE, or SIGPIPE where not ignored).
HarnessRun runHarness(const std::filesystem::path& harness, const std::filesystem::path& scenario,
                      const std::vector<std::string>& arguments, const std::string& standardInput,
                      const std::filesystem::path& workFolder, std::chrono::milliseconds timeout,
                      bool standardOutputClosed = false);

// Runs `commandLine` (the program first) the same way, without a journal.
HarnessRun runProcess(std::vector<std::string> commandLine, const std::string& standardInput,
                      const std::filesystem::path& workFolder, std::chrono::milliseconds timeout,
                      bool standardOutputClosed = false);

// A fresh, empty folder for one case's files.
std::filesystem::path makeWorkFolder();

} // namespace cpi::cases
