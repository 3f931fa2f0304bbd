#include "cli/CommandLineTool.h"

#include "cli/CLIParser.h"
#include "cli/CommandLineTool_internal.h"
#include "jobs/PlanExecutor.h"
#include "jobs/SettingsBounds.h"
#include "platform/core/PathIdentity.h"
#include "platform/core/StagedFile.h"
#include "platform/core/ThreadName.h"
#include "platform/media/LibraryLogs.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <stop_token>
#include <thread>

namespace fw::CommandLineTool {

namespace {

namespace fs = std::filesystem;
using namespace detail;

// ---------------------------------------------------------------- output lines

// One whole line per call, flushed at once, so that lines of the two streams
// reach a shared terminal in the order they were made. Control characters of
// a name, or of a reason that quotes one, are written out: one input, one line.
void writeLine(std::FILE* stream, const std::string& line) {
    std::string text = escapedControls(line);
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// --------------------------------------------------------------------- one input

// Encodes the inputs in turn until they are done or a stop is requested; the
// input being encoded then fails as cancelled and the rest are not started.
int run(const CLIOptions& options, std::stop_token stop) {
    bool anyFailed = false;
    // Outputs already written in this run, with the input that made each, so
    // that two inputs mapping to one name (clip.mov, clip.mp4) never overwrite
    // each other; and the inputs themselves, which no output may replace.
    std::map<fs::path, std::string> written;
    std::map<fs::path, std::string> inputs;
    for (const auto& input : options.inputs) inputs.emplace(pathIdentity(input), lastPathComponent(input));
    const jobs::OutputPlace place{options.outputDirectory, std::chrono::system_clock::now()};

    for (const auto& input : options.inputs) {
        if (stop.stop_requested()) break;
        const std::string inputName = lastPathComponent(input);
        try {
            // Names are never numbered here: a second output of one name is refused.
            const auto refuseTaken = [&](const fs::path&, const fs::path& output, OutputReservations::Kind) {
                const std::string outputName = lastPathComponent(output);
                const fs::path key = pathIdentity(output);
                if (auto earlier = written.find(key); earlier != written.end())
                    throw std::runtime_error(outputName + " was already written from " + earlier->second +
                                             " in this run; not overwriting it.");
                if (auto source = inputs.find(key); source != inputs.end())
                    throw std::runtime_error(outputName + " is an input of this run; not overwriting it.");
                return output;
            };
            const ExportConfiguration settings = exportConfiguration(options);
            const jobs::OutputPlan plan =
                jobs::planOutput(jobs::probeSource(input, SettingsBounds::bounded(settings).resolvingAlpha()), settings,
                                 SourceEncodeOptions{}, place, refuseTaken);
            const fs::path& output = plan.destination;
            const std::string outputName = lastPathComponent(output);
            const EncodeResult result = jobs::encodePlan(plan, /*progress=*/{}, /*preview=*/{}, stop);
            written.emplace(pathIdentity(output), inputName);
            const std::string note = damageNote(result);
            writeLine(stdout,
                      "\u2713 " + inputName + " \u2192 " + outputName + (note.empty() ? "" : " (" + note + ")"));
        } catch (const std::exception& error) {
            anyFailed = true;
            writeLine(stderr, "\u2717 " + inputName + ": " + error.what());
        } catch (...) {
            anyFailed = true;
            writeLine(stderr, "\u2717 " + inputName + ": unknown error");
        }
    }
    return anyFailed ? kSomeInputFailed : kAllSucceeded;
}

// ------------------------------------------------------------- stop signals

// A file descriptor closed on destruction.
class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

// SIGINT, SIGTERM and SIGHUP (a closed terminal) become a stop request instead of ending the process at
// once, so that the running encode removes its staged file. The signals are
// blocked in the calling thread before any worker starts (threads inherit
// the mask) and read from a signal descriptor; the previous mask is restored
// on destruction.
class StopSignals {
public:
    StopSignals()
        : signals_(stopSignalSet()),
          previousMask_(blocking(signals_)),
          signalDescriptor_(::signalfd(-1, &signals_, SFD_CLOEXEC | SFD_NONBLOCK)) {}
    ~StopSignals() { ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr); }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Waits until `finished` becomes readable, requesting `stop` at the first
    // signal; returns that signal's number, or 0 when none came. A second
    // signal ends the process at once, its staged files removed first.
    int waitUntil(const Descriptor& finished, std::stop_source& stop) {
        int received = 0;
        const nfds_t watchedCount = signalDescriptor_.get() >= 0 ? 2 : 1;
        while (true) {
            pollfd watched[2] = {{finished.get(), POLLIN, 0}, {signalDescriptor_.get(), POLLIN, 0}};
            const int ready = ::poll(watched, watchedCount, -1);
            if (ready < 0 && errno != EINTR) return received;
            // A signal that came with the end still counts: a second one ends the process here.
            signalfd_siginfo info{};
            if (ready > 0 && watchedCount > 1 && watched[1].revents != 0 &&
                ::read(signalDescriptor_.get(), &info, sizeof info) == sizeof info) {
                const int signal = static_cast<int>(info.ssi_signo);
                if (received != 0) {
                    StagedFile::removeAllNow();
                    ::_exit(kInterruptedBySignal + signal);
                }
                received = signal;
                stop.request_stop();
                continue;
            }
            if (ready > 0 && watched[0].revents != 0) return received;
        }
    }

private:
    static sigset_t stopSignalSet() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        return set;
    }
    // Blocks `set` in the calling thread; returns the mask before.
    static sigset_t blocking(const sigset_t& set) {
        sigset_t previous;
        ::pthread_sigmask(SIG_BLOCK, &set, &previous);
        return previous;
    }

    sigset_t signals_;
    sigset_t previousMask_;
    Descriptor signalDescriptor_;
};

}  // namespace

int runBlocking(const std::vector<std::string>& arguments) {
    auto parsed = CLIParser::parse(arguments);
    if (auto* error = std::get_if<CLIError>(&parsed)) {
        writeLine(stderr, "Framewright: " + error->message);
        return kCommandLineRejected;
    }
    const CLIOptions options = std::get<CLIOptions>(std::move(parsed));
    // The result lines are all the run prints: a decoder's complaints about a
    // damaged source would mix into the failure stream.
    media::silenceLibraryLogs();

    // The encodes run on a thread of their own; the caller waits for them and
    // for a stop signal. The join orders the status write before the read.
    StopSignals stopSignals;
    std::stop_source stop;
    const Descriptor finished(::eventfd(0, EFD_CLOEXEC));
    int status = kSomeInputFailed;
    std::thread worker([&] {
        nameThisThread("cli.encode");
        status = run(options, stop.get_token());
        ::eventfd_write(finished.get(), 1);
    });
    const int signal = finished.get() >= 0 ? stopSignals.waitUntil(finished, stop) : 0;
    worker.join();
    return signal != 0 ? kInterruptedBySignal + signal : status;
}

}  // namespace fw::CommandLineTool
