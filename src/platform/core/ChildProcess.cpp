#include "platform/core/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

extern char** environ;

namespace fw {

namespace {

constexpr std::size_t kErrorTailBytes = 4096;
// Polls are cut into slices this long so that kill() is seen promptly.
constexpr std::chrono::milliseconds kPollSlice{50};

void closeDescriptor(int& descriptor) {
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
}

// RAII for the spawn attribute and file-action objects.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments, Clock clock)
    : clock_(std::move(clock)) {
    int outputPipe[2];
    int errorPipe[2];
    if (::pipe2(outputPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(outputPipe[0]);
        ::close(outputPipe[1]);
        throw std::system_error(error, std::generic_category(), "pipe");
    }
    // Whole frames are several megabytes: a larger pipe means fewer wake-ups.
    ::fcntl(outputPipe[1], F_SETPIPE_SZ, 1 << 20);

    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, outputPipe[1], 1);
    posix_spawn_file_actions_adddup2(&setup.actions, errorPipe[1], 2);
    sigset_t noSignals;
    sigemptyset(&noSignals);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&setup.attributes, &noSignals);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setpgroup(&setup.attributes, 0);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

    std::vector<std::string> argv;
    argv.push_back(program.string());
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    const int status =
        ::posix_spawn(&pid_, argv.front().c_str(), &setup.actions, &setup.attributes, pointers.data(), environ);
    ::close(outputPipe[1]);
    ::close(errorPipe[1]);
    if (status != 0) {
        ::close(outputPipe[0]);
        ::close(errorPipe[0]);
        throw std::system_error(status, std::generic_category(), "could not start " + program.string());
    }
    output_ = outputPipe[0];
    errors_ = errorPipe[0];
    ::fcntl(errors_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    bool running;
    {
        std::lock_guard lock(mutex_);
        running = !reaped_;
    }
    if (running) {
        kill();
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    }
    closeDescriptor(output_);
    closeDescriptor(errors_);
}

void ChildProcess::kill() noexcept {
    std::lock_guard lock(mutex_);
    if (reaped_ || pid_ <= 0) return;
    killed_ = true;
    ::kill(-pid_, SIGKILL);
}

bool ChildProcess::killed() const noexcept {
    std::lock_guard lock(mutex_);
    return killed_;
}

void ChildProcess::drainErrors() {
    if (errors_ < 0) return;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(errors_, chunk, sizeof chunk);
        if (count > 0) {
            errorTail_.append(chunk, static_cast<std::size_t>(count));
            if (errorTail_.size() > kErrorTailBytes) errorTail_.erase(0, errorTail_.size() - kErrorTailBytes);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count == 0) closeDescriptor(errors_);  // the child and its group closed it
        return;
    }
}

std::size_t ChildProcess::read(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) {
    if (buffer.empty() || output_ < 0) return 0;
    const auto deadline = now() + timeout;
    for (;;) {
        if (killed()) return 0;
        pollfd watched[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now());
        if (left.count() <= 0) throw Timeout("no answer");
        const int ready = ::poll(watched, errors_ >= 0 ? 2 : 1, static_cast<int>(std::min(left, kPollSlice).count()));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (errors_ >= 0 && watched[1].revents != 0) drainErrors();
        if (watched[0].revents == 0) continue;
        const ssize_t count = ::read(output_, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return 0;
        return static_cast<std::size_t>(count);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (reaped_) return std::nullopt;
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                reaped_ = true;
                drainErrors();
                if (WIFEXITED(status)) return WEXITSTATUS(status);
                if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
                return -1;
            }
            if (done < 0 && errno != EINTR) {
                reaped_ = true;
                return -1;
            }
        }
        drainErrors();
        if (now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string ChildProcess::lastErrorLine() const {
    std::string_view text = errorTail_;
    while (!text.empty()) {
        while (!text.empty() &&
               (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
            text.remove_suffix(1);
        const std::size_t start = text.find_last_of('\n');
        std::string_view line = start == std::string_view::npos ? text : text.substr(start + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
        if (!line.empty()) return std::string(line);
        text = start == std::string_view::npos ? std::string_view() : text.substr(0, start);
    }
    return {};
}

}  // namespace fw
