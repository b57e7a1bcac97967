// Standard input and output of the test process redirected to pipes, so that the frame reader and
// the line writer run on real file descriptors 0 and 1.
#pragma once

#include "platform/Process.h"

#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace cpi::testing {

// How the bytes reach the reader.
enum class Pace {
    whole,      // as fast as the pipe takes them
    byteByByte, // one byte at a time, each only once the reader has taken the one before
};

// File descriptor 0 reads `bytes` from a pipe fed by a writer thread, then sees the end of input.
// The original standard input comes back when the object goes.
class FedStandardInput {
public:
    explicit FedStandardInput(std::string bytes, Pace pace = Pace::whole) : bytes_(std::move(bytes)) {
        process::ignoreBrokenPipe(); // the reader may stop before the writer is done
        int ends[2];
        if (::pipe(ends) != 0) {
            throw std::runtime_error("pipe");
        }
        saved_ = ::dup(0);
        ::dup2(ends[0], 0);
        ::close(ends[0]);
        writer_ = std::thread([this, end = ends[1], pace] { feed(end, pace); });
    }
    ~FedStandardInput() {
        ::dup2(saved_, 0); // closes the pipe's reading end: a blocked writer gives up
        ::close(saved_);
        writer_.join();
    }
    FedStandardInput(const FedStandardInput&) = delete;
    FedStandardInput& operator=(const FedStandardInput&) = delete;

private:
    void feed(int end, Pace pace) {
        std::size_t offset = 0;
        while (offset < bytes_.size()) {
            if (pace == Pace::byteByByte) {
                int pending = 1;
                while (::ioctl(end, FIONREAD, &pending) == 0 && pending > 0) {
                    std::this_thread::yield();
                }
            }
            const std::size_t piece = pace == Pace::byteByByte ? 1 : bytes_.size() - offset;
            const ssize_t written = ::write(end, bytes_.data() + offset, piece);
            if (written <= 0) {
                break;
            }
            offset += static_cast<std::size_t>(written);
        }
        ::close(end);
    }

    std::string bytes_;
    int saved_ = -1;
    std::thread writer_;
};

// Everything written to file descriptor 1 while `action` runs.
template <typename Action>
std::string capturedStandardOutput(Action action) {
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("pipe");
    }
    const int saved = ::dup(1);
    ::dup2(ends[1], 1);
    ::close(ends[1]);
    action();
    ::dup2(saved, 1);
    ::close(saved);
    std::string captured;
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;) {
        captured.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(ends[0]);
    return captured;
}

// A frame: the payload's length in four big-endian bytes, then the payload.
inline std::string framed(const std::string& payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    std::string frame{static_cast<char>(length >> 24), static_cast<char>(length >> 16),
                      static_cast<char>(length >> 8), static_cast<char>(length)};
    return frame + payload;
}

} // namespace cpi::testing
