#include "cli/CommandLineTool.h"

#include "cli/CLIParser.h"
#include "cli/CommandLineTool_internal.h"
#include "encoders/EncodeRoute.h"
#include "pipeline/DisplayedSize.h"
#include "platform/core/ThreadName.h"
#include "platform/media/Asset.h"
#include "platform/media/LibraryLogs.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

namespace fw::CommandLineTool {

namespace {

namespace fs = std::filesystem;
using namespace detail;

// ---------------------------------------------------------------- output lines

// One whole line per call, flushed at once, so that lines of the two streams
// reach a shared terminal in the order they were made.
void writeLine(std::FILE* stream, const std::string& line) {
    std::string text = line;
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

// ---------------------------------------------------------------------- routes
// Encoders not part of this build yet fail the input with a plain message.

[[noreturn]] void notAvailable(OutputCodec codec) {
    throw std::runtime_error(std::string(rawValue(codec)) + " output is not available in this build yet.");
}

// --------------------------------------------------------------------- one input

void encodeOne(const fs::path& input, const fs::path& output, const CLIOptions& options) {
    const ExportConfiguration configuration = exportConfiguration(options).resolvingAlpha();
    // Movie routes size the picture from the source as it is displayed; the
    // still routes leave the source to their encoder.
    media::AssetRef asset;
    std::optional<IntSize> sourceSize;
    if (needsSourceSize(configuration)) {
        asset = media::Asset::open(input);
        sourceSize = displayedPixelSize(*asset);
    }
    const EncodeRoute route = encodeRoute(configuration, sourceSize);
    if (const auto* movie = std::get_if<MovieEncoder>(&route.encoder))
        return movie->encode(asset, output, /*progress=*/{}, /*preview=*/{});
    notAvailable(configuration.codec);
}

// The same file however it was spelled (relative parts, links to folders).
fs::path identity(const fs::path& path) {
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : canonical;
}

int run(const CLIOptions& options) {
    bool anyFailed = false;
    // Outputs already written in this run, with the input that made each, so
    // that two inputs mapping to one name (clip.mov, clip.mp4) never overwrite
    // each other; and the inputs themselves, which no output may replace.
    std::map<fs::path, std::string> written;
    std::map<fs::path, std::string> inputs;
    for (const auto& input : options.inputs) inputs.emplace(identity(input), lastPathComponent(input));

    for (const auto& input : options.inputs) {
        const std::string inputName = lastPathComponent(input);
        try {
            const fs::path output = outputLocation(input, options);
            const std::string outputName = lastPathComponent(output);
            const fs::path key = identity(output);
            if (auto earlier = written.find(key); earlier != written.end())
                throw std::runtime_error(outputName + " was already written from " + earlier->second +
                                         " in this run; not overwriting it.");
            if (auto source = inputs.find(key); source != inputs.end())
                throw std::runtime_error(outputName + " is an input of this run; not overwriting it.");
            encodeOne(input, output, options);
            written.emplace(key, inputName);
            writeLine(stdout, "\u2713 " + inputName + " \u2192 " + outputName);
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

    // The encodes run on a thread of their own; the caller only waits. The
    // join orders the status write before the read.
    int status = kSomeInputFailed;
    std::thread worker([&] {
        nameThisThread("cli.encode");
        status = run(options);
    });
    worker.join();
    return status;
}

}  // namespace fw::CommandLineTool
