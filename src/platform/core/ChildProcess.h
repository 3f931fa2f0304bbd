#pragma once
// A helper program run as a child process: started with posix_spawn (never
// through a shell) with its standard input on /dev/null and its standard
// output and standard error on pipes of its own. The child leads a process
// group of its own, so that stopping it also stops whatever it started, and it
// starts with no signal blocked whatever the spawning thread blocks.
//
// Standard error is drained whenever standard output is read or the child is
// waited for, so a chatty child never stalls; its last few kilobytes are kept
// for the failure message.
//
// Thread-safety: read(), wait() and the destructor from one thread at a time;
// kill() from any thread at any time (it never reaps, so the process id cannot
// have been reused by then).

#include <sys/types.h>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace fw {

class ChildProcess {
public:
    // Thrown by read() when nothing came within its time limit.
    class Timeout : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // What the time limits of read() and wait() are measured against: empty
    // for the steady clock; a test may run a clock of its own, so that a
    // limit passes by its clock however loaded the machine is.
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Starts `program` with `arguments` (argv[1...]), the environment inherited.
    // Throws std::system_error when it cannot be started.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments, Clock clock = {});
    // Kills the process group unless the child has been reaped, then reaps it.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The time by the process's clock.
    std::chrono::steady_clock::time_point now() const { return clock_ ? clock_() : std::chrono::steady_clock::now(); }

    // Reads what standard output has, up to buffer.size() bytes, waiting at
    // most `timeout` for the first byte. Returns 0 at the end of the output
    // and once kill() was called. Throws Timeout when nothing came in time.
    std::size_t read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);

    // Waits at most `timeout` for the child to exit and reaps it. Returns its
    // exit code (128 + the signal number when a signal ended it), or nothing
    // when it is still running.
    std::optional<int> wait(std::chrono::milliseconds timeout);

    // Sends SIGKILL to the child's process group; idempotent, safe from any thread.
    void kill() noexcept;
    bool killed() const noexcept;

    // The last non-empty line the child wrote to standard error, trimmed;
    // empty when it wrote none.
    std::string lastErrorLine() const;

private:
    // Drains standard error without waiting.
    void drainErrors();

    Clock clock_;
    pid_t pid_ = -1;
    int output_ = -1;
    int errors_ = -1;
    std::string errorTail_;
    mutable std::mutex mutex_;  // guards reaped_ and killed_ against kill() from other threads
    bool reaped_ = false;
    bool killed_ = false;
};

}  // namespace fw
