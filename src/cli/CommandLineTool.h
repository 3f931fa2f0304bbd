#pragma once
// The headless "--encode" run: parses the command line, encodes each input in
// turn with the encoder that the codec selects, and prints one line per input:
//   "✓ <input name> → <output name>" on standard output for a success,
//     followed by " (12 damaged pictures left out)" when some of the
//     source's pictures were, " (3.2 s of damaged sound replaced by silence)"
//     when some of its sound could not be decoded, or both
//     (" (12 damaged pictures left out; 3.2 s of damaged sound replaced by silence)"),
//   "✗ <input name>: <message>" on standard error for a failure.
// Nothing else is printed; there is no progress display.

#include <string>
#include <vector>

namespace fw::CommandLineTool {

// Exit statuses of a run.
inline constexpr int kAllSucceeded = 0;
inline constexpr int kSomeInputFailed = 1;
inline constexpr int kCommandLineRejected = 2;
inline constexpr int kInterruptedBySignal = 128;  // plus the signal's number

// Takes the whole process argument list (program path first). A rejected
// command line prints "Framewright: <message>" on standard error and returns 2
// without touching any input. Otherwise the inputs are encoded strictly one
// after another on a thread of their own while the caller blocks; returns 0
// when every input succeeded, else 1. SIGINT, SIGTERM or SIGHUP cancels the running
// encode at once, its encoder abandoned undrained (its staged output is
// removed, its line says it was cancelled), starts no further input and makes
// the status 128 + the signal's number. A second such signal ends the process
// on the spot, status 128 + its number, after removing the staged output.
// REQUIRES: one call per process at a time (it writes the process's standard streams).
int runBlocking(const std::vector<std::string>& arguments);

}  // namespace fw::CommandLineTool
